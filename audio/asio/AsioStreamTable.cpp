#include "audio/asio/AsioStreamTable.h"

#include "audio/Stream.h"
#include "common/RealTime.h"

#include <QIODevice>
#include <algorithm>
#include <cstring>

namespace audio::asio {
namespace {

// `floats` interleaved samples of the stream's channels went through it.
void countFrames(Stream &stream, qsizetype floats)
{
    if (const uint32_t channels = stream.format().channelCount)
        stream.countFrames(uint64_t(floats) / channels);
}

} // namespace

template<typename Use>
void StreamTable::walk(Table &table, Use use)
{
    ++table.walking;
    // By index: a device may add or remove streams of this very table from inside `use`.
    for (std::size_t i = 0; i < table.entries.size(); ++i) {
        const Entry entry = table.entries[i];
        if (entry.stream && entry.stream->isRunning())
            use(entry);
    }
    --table.walking;
    compact(table);
}

void StreamTable::compact(Table &table)
{
    if (table.walking == 0)
        std::erase_if(table.entries, [](const Entry &e) { return e.stream == nullptr; });
}

void StreamTable::addRender(Stream *stream, QIODevice *source)
{
    std::lock_guard lock(render_.mutex);
    render_.entries.push_back({stream, source});
}

void StreamTable::addCapture(Stream *stream, QIODevice *sink)
{
    std::lock_guard lock(capture_.mutex);
    capture_.entries.push_back({stream, sink});
    updateCaptureCount();
}

void StreamTable::remove(Stream *stream)
{
    // Render first: a source that closes its own stream from inside a fill must not wait for
    // the capture table on the real-time thread.
    if (removeFrom(render_, stream))
        return;
    std::lock_guard lock(capture_.mutex);
    if (removeFrom(capture_, stream))
        updateCaptureCount();
}

bool StreamTable::removeFrom(Table &table, Stream *stream)
{
    std::lock_guard lock(table.mutex);
    const auto at = std::find_if(table.entries.begin(), table.entries.end(),
                                 [stream](const Entry &e) { return e.stream == stream; });
    if (at == table.entries.end())
        return false;
    if (at->device->isOpen())
        at->device->close();
    at->stream = nullptr;
    compact(table);
    return true;
}

void StreamTable::updateCaptureCount()
{
    captureCount_.store(int(std::count_if(capture_.entries.cbegin(), capture_.entries.cend(),
                                          [](const Entry &e) { return e.stream != nullptr; })));
}

bool StreamTable::fill(float *out, qsizetype floats)
{
    std::memset(out, 0, std::size_t(floats) * sizeof(float));
    std::unique_lock lock(render_.mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    const qint64 bytes = floats * qint64(sizeof(float));
    walk(render_, [&](const Entry &entry) {
        if (!entry.device->isReadable())
            return;
        const qint64 got
                = std::max<qint64>(0, entry.device->read(reinterpret_cast<char *>(out), bytes));
        // What the source did not deliver is silence, never the previous period again.
        std::memset(reinterpret_cast<char *>(out) + got, 0, std::size_t(bytes - got));
        countFrames(*entry.stream, floats);
    });
    return true;
}

void StreamTable::dispatch(const float *block, qsizetype floats)
{
    const realtime::Lock lock(capture_.mutex);
    walk(capture_, [&](const Entry &entry) {
        if (entry.device->isWritable())
            entry.device->write(reinterpret_cast<const char *>(block),
                                floats * qint64(sizeof(float)));
        countFrames(*entry.stream, floats);
    });
}

void StreamTable::reportCaptureGap(qint64 frames)
{
    std::lock_guard lock(capture_.mutex);
    for (const Entry &entry : capture_.entries)
        if (entry.stream)
            entry.stream->reportDiscontinuity(frames);
}

void StreamTable::stopAll()
{
    for (Table *table : {&render_, &capture_}) {
        std::lock_guard lock(table->mutex);
        for (const Entry &entry : table->entries) {
            if (!entry.stream)
                continue;
            entry.stream->markStopped();
            if (entry.device->isOpen())
                entry.device->close();
        }
    }
}

void StreamTable::setSampleRate(unsigned rate)
{
    for (Table *table : {&capture_, &render_}) {
        std::lock_guard lock(table->mutex);
        for (const Entry &entry : table->entries)
            if (entry.stream)
                entry.stream->setSampleRate(rate);
    }
}

QList<Stream *> StreamTable::streams() const
{
    QList<Stream *> all;
    for (const Table *table : {&render_, &capture_}) {
        std::lock_guard lock(table->mutex);
        for (const Entry &entry : table->entries)
            if (entry.stream)
                all.append(entry.stream);
    }
    return all;
}

} // namespace audio::asio
