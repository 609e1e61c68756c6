#pragma once

#include <QList>
#include <QtGlobal>
#include <atomic>
#include <mutex>
#include <vector>

class QIODevice;

namespace audio {

class Stream;

namespace asio {

// The open streams of the ASIO backend, render and capture apart, each with its QIODevice.
//
// Render streams are read by the driver's real-time thread, capture streams are written by the
// ASIO thread; each table has a mutex of its own, held while its streams' devices are used, so
// a slow sink never holds up the real-time thread. The real-time side only ever tries the lock:
// when an open or close holds it, that period plays silence instead of waiting.
//
// A stream leaves its table only when its owner closes it: remove() waits for a fill or dispatch
// in progress, so once close() returns the owner may delete its device. The mutexes are
// recursive, so a device that closes its own stream from inside a fill or dispatch (or opens
// another driver from there) does not deadlock; such a removal is deferred to the end of the
// loop over the table. Streams the backend ends by itself (stopAll) only stop running and lose
// their device; their objects live until the owner's close().
class StreamTable
{
public:
    void addRender(Stream *stream, QIODevice *source);
    void addCapture(Stream *stream, QIODevice *sink);
    // The owner's close: waits for a fill or dispatch in progress, removes the stream and
    // closes its device.
    void remove(Stream *stream);

    // Driver thread: zeroes `out`, then lets every running render stream read `floats` samples
    // into it, each overwriting the last (a short read leaves zeros). False when an open or a
    // close held the table: the output then stays silent for this period.
    bool fill(float *out, qsizetype floats);
    // ASIO thread: writes the block into every running capture stream's device.
    void dispatch(const float *block, qsizetype floats);
    // Tells every capture stream that `frames` frames were lost before the next block.
    void reportCaptureGap(qint64 frames);
    bool hasCapture() const { return captureCount_.load(std::memory_order_relaxed) > 0; }

    // Every stream stops running and its device is closed.
    void stopAll();
    void setSampleRate(unsigned rate);
    // The streams not yet closed by their owners.
    QList<Stream *> streams() const;

private:
    struct Entry
    {
        Stream *stream = nullptr; // null: removed while the table was being walked
        QIODevice *device = nullptr;
    };
    struct Table
    {
        mutable std::recursive_mutex mutex;
        std::vector<Entry> entries;
        int walking = 0;
    };
    // Calls `use` for every running entry of `table`, with its mutex held.
    template<typename Use>
    static void walk(Table &table, Use use);
    static void compact(Table &table);
    static bool removeFrom(Table &table, Stream *stream);
    void updateCaptureCount();

    Table render_;
    Table capture_;
    std::atomic<int> captureCount_{0};
};

} // namespace asio
} // namespace audio
