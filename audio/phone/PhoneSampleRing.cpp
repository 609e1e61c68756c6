#include "audio/phone/PhoneSampleRing.h"

#include <algorithm>
#include <cmath>

namespace audio {

PhoneSampleRing::PhoneSampleRing(qint64 capacity)
{
    setCapacity(capacity);
}

void PhoneSampleRing::setCapacity(qint64 capacity)
{
    capacity_ = std::max<qint64>(capacity, 1);
    storage_.fill(0.0f, capacity_);
    head_ = 0;
    base_ = end_ = read_ = 0;
    started_ = false;
    dropped_ = 0;
    gaps_.clear();
}

void PhoneSampleRing::append(const float *samples, qint64 count, quint64 startIndex)
{
    if (!samples || count < 1)
        return;
    if (!started_ || startIndex < end_) {
        restart(startIndex);
    } else if (startIndex > end_) {
        const quint64 hole = startIndex - end_;
        if (hole >= quint64(capacity_)) {
            restart(startIndex);
        } else {
            gaps_.append({end_, startIndex});
            pushZeros(hole);
        }
    }
    for (qint64 i = 0; i < count; ++i)
        push(samples[i]);
    pruneGaps();
}

void PhoneSampleRing::restart(quint64 index)
{
    // The old storage is left as it is: nothing outside [base, end) is ever read, and clearing
    // up to 7.7 MB on every restart would stall a phone that keeps restarting its capture.
    head_ = 0;
    base_ = end_ = read_ = index;
    started_ = true;
    gaps_.clear();
}

void PhoneSampleRing::push(float value)
{
    // A broken sample must not poison every spectrum computed over it later.
    if (!std::isfinite(value))
        value = 0.0f;
    if (end_ - base_ >= quint64(capacity_)) {
        ++base_;
        head_ = (head_ + 1) % capacity_;
        if (read_ < base_) {
            dropped_ += base_ - read_;
            read_ = base_;
        }
    }
    storage_[storagePosition(end_)] = value;
    ++end_;
}

void PhoneSampleRing::pushZeros(quint64 count)
{
    for (quint64 i = 0; i < count; ++i)
        push(0.0f);
}

void PhoneSampleRing::pruneGaps()
{
    while (!gaps_.isEmpty() && gaps_.first().to <= base_)
        gaps_.removeFirst();
}

qint64 PhoneSampleRing::storagePosition(quint64 index) const
{
    return qint64((quint64(head_) + (index - base_)) % quint64(capacity_));
}

float PhoneSampleRing::sampleAt(quint64 index) const
{
    return storage_[storagePosition(index)];
}

PhoneSampleRing::ReadStatus PhoneSampleRing::read(quint64 start, qint64 count, float *out) const
{
    if (!started_ || count < 1)
        return NotYetWritten;
    if (start > end_ || quint64(count) > end_ - start)
        return NotYetWritten;
    if (start < base_)
        return Overwritten;
    const quint64 stop = start + quint64(count);
    for (const Gap &gap : gaps_) {
        if (gap.from < stop && gap.to > start)
            return CrossesGap;
    }
    if (out) {
        for (qint64 i = 0; i < count; ++i)
            out[i] = sampleAt(start + quint64(i));
    }
    return Copied;
}

void PhoneSampleRing::consume(qint64 keep)
{
    const qint64 unread = available();
    const qint64 discard = unread - std::max<qint64>(keep, 0);
    if (discard <= 0)
        return;
    read_ += quint64(discard);
    dropped_ += quint64(discard);
}

qint64 PhoneSampleRing::readResampled(float *out, qint64 maxOut, double ratio, double *phase)
{
    if (!out || maxOut < 1)
        return 0;
    if (!std::isfinite(ratio) || ratio < 0.5 || ratio > 2.0)
        ratio = 1.0;
    double start = phase ? *phase : 0.0;
    if (!std::isfinite(start) || start < 0.0)
        start = 0.0;

    // Signed throughout: with fewer than two unread samples nothing can be interpolated.
    const qint64 unread = available();
    qint64 produced = 0;
    for (; produced < maxOut; ++produced) {
        const double position = double(produced) * ratio + start;
        if (!(position < double(unread)))
            break;
        const qint64 k = qint64(position);
        if (k + 1 > unread - 1)
            break;
        const float a = sampleAt(read_ + quint64(k));
        const float b = sampleAt(read_ + quint64(k) + 1);
        out[produced] = float(a + (position - double(k)) * (b - a));
    }
    if (produced < 1)
        return 0;

    const double consumed = double(produced) * ratio + start;
    const double whole = std::floor(consumed);
    read_ += quint64(std::min(qint64(whole), unread));
    if (phase)
        *phase = consumed - whole;
    return produced;
}

} // namespace audio
