#pragma once

#include <QList>
#include <QtGlobal>

namespace audio {

// One phone's recent samples, addressed by the phone's absolute sample index. The ring keeps the
// newest `capacity` samples; holes in the phone's index sequence are filled with zeros and
// remembered as gaps, so a reader can tell real silence from lost audio. Besides random access
// by index, the ring has a read position for readers that consume it as a stream.
//
// Invariant: base <= read <= end and end - base <= capacity.
class PhoneSampleRing
{
public:
    // A stretch [from, to) of absolute indices that was filled with zeros.
    struct Gap
    {
        quint64 from = 0;
        quint64 to = 0;
    };

    // Status of read(): the samples were copied, or why not.
    enum ReadStatus { Copied = 0, NotYetWritten = 1, Overwritten = 2, CrossesGap = 3 };

    explicit PhoneSampleRing(qint64 capacity = 1);

    // Resizes the storage (at least one sample) and forgets everything, counters included.
    void setCapacity(qint64 capacity);
    qint64 capacity() const { return capacity_; }

    // Stores `count` samples whose first one has the absolute index `startIndex`. An index below
    // the newest one, or a hole of a whole ring or more, starts the ring afresh there; a smaller
    // hole is zero-filled and recorded as a gap. Non-finite samples are stored as 0.
    void append(const float *samples, qint64 count, quint64 startIndex);

    bool started() const { return started_; }
    quint64 base() const { return base_; }
    quint64 end() const { return end_; }
    quint64 readIndex() const { return read_; }
    quint64 dropped() const { return dropped_; }
    const QList<Gap> &gaps() const { return gaps_; }

    // Copies [start, start + count) into `out` (which may be null to only check the range).
    ReadStatus read(quint64 start, qint64 count, float *out) const;

    // Unread samples: end - read.
    qint64 available() const { return qint64(end_ - read_); }
    // Skips unread samples so that at most max(keep, 0) of the newest stay unread; the skipped
    // ones count as dropped.
    void consume(qint64 keep);
    // Reads the unread samples at `ratio` input samples per output sample (0.5 .. 2, anything
    // else reads at 1) with linear interpolation, continuing from the fractional `phase`.
    // Writes at most `maxOut` samples, advances the read position by the whole input samples
    // used and leaves the fraction in `phase`. Returns the number of samples written.
    qint64 readResampled(float *out, qint64 maxOut, double ratio, double *phase);

private:
    void restart(quint64 index);
    void push(float value);
    void pushZeros(quint64 count);
    float sampleAt(quint64 index) const;
    qint64 storagePosition(quint64 index) const;
    void pruneGaps();

    QList<float> storage_;
    qint64 capacity_ = 1;
    qint64 head_ = 0;
    quint64 base_ = 0;
    quint64 end_ = 0;
    quint64 read_ = 0;
    bool started_ = false;
    quint64 dropped_ = 0;
    QList<Gap> gaps_;
};

} // namespace audio
