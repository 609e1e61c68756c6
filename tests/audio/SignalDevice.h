#pragma once

#include <QIODevice>
#include <QMutex>
#include <QMutexLocker>
#include <cstdint>
#include <vector>

// Reads give the known signal: a fixed pseudo-random sequence of 24-bit values, exact in float.
// Writes (from a capture stream's thread) are kept.
class SignalDevice : public QIODevice
{
public:
    static float sample(uint64_t index)
    {
        uint64_t x = index * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        x ^= x >> 32;
        return float(int32_t(x & 0xFFFFFF) - 0x800000) / float(1 << 24);
    }
    // The frame of the played signal that recorded frame `at` (and the two after it) holds, or
    // -1 when no frame before `searchEnd` does.
    static qint64 findPlayedFrame(const std::vector<float> &got, qint64 at, qint64 searchEnd,
                                  int channels)
    {
        for (qint64 frame = 0; frame < searchEnd; ++frame) {
            bool same = true;
            for (int k = 0; k < 3 * channels && same; ++k)
                same = got[size_t(at * channels + k)] == sample(uint64_t(frame * channels + k));
            if (same)
                return frame;
        }
        return -1;
    }
    std::vector<float> recorded() const
    {
        QMutexLocker lock(&mutex_);
        return recorded_;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = maxSize / qint64(sizeof(float));
        auto *out = reinterpret_cast<float *>(data);
        for (qint64 i = 0; i < count; ++i)
            out[i] = sample(next_++);
        return count * qint64(sizeof(float));
    }
    qint64 writeData(const char *data, qint64 size) override
    {
        QMutexLocker lock(&mutex_);
        const auto *f = reinterpret_cast<const float *>(data);
        recorded_.insert(recorded_.end(), f, f + size / qint64(sizeof(float)));
        return size;
    }

private:
    uint64_t next_ = 0;
    mutable QMutex mutex_;
    std::vector<float> recorded_;
};
