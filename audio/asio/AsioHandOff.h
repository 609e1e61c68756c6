#pragma once

#include "platform/asio/AsioTypes.h"

#include <QtGlobal>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace audio::asio {

// What the driver's threads hand to the ASIO thread: captured blocks, a request to stop the
// driver, a new sample rate, and the codes of failed calls that are to be logged. The driver
// side never locks, allocates or logs; it stores and then wakes the ASIO thread through a file
// descriptor the ASIO thread watches.
//
// Blocks go through a ring of whole blocks with one writer (the period callback) and one reader
// (the ASIO thread). A full ring drops the new block and counts it.
class HandOff
{
public:
    // Calls that fail in a period callback and are logged from the ASIO thread.
    enum class Notice { SamplePosition, OutputReady, Count };
    // Why the driver is to be stopped: a reset it asked for, or a channel whose samples it
    // changed to a type no conversion knows (the type, and which side).
    struct StopRequest
    {
        int unknownSampleType = 0;
        bool inputSide = false;
    };

    HandOff();
    ~HandOff();
    HandOff(const HandOff &) = delete;
    HandOff &operator=(const HandOff &) = delete;

    // The descriptor that turns readable after wake(); the ASIO thread watches it.
    int wakeDescriptor() const { return wakeFd_; }

    // ASIO thread, while no driver runs: room for `blocks` blocks of `floats` samples each.
    void resize(qsizetype floats, qsizetype blocks);

    // Driver side.
    void pushBlock(const float *block);
    void requestStop(int unknownSampleType = 0, bool inputSide = false);
    void noteSampleRate(uint32_t rate);
    void noteFailure(Notice notice, platform::asio::Error error);

    // ASIO thread.
    void clearWake();
    // The oldest block waiting, or null; popBlock() releases it.
    const float *frontBlock() const;
    void popBlock();
    qsizetype blockFloats() const { return floats_; }
    qint64 takeDroppedBlocks() { return dropped_.exchange(0); }
    std::optional<StopRequest> takeStopRequest();
    uint32_t takeSampleRate() { return rate_.exchange(0); }
    // The failure code noted since the last take, or 0.
    platform::asio::Error takeFailure(Notice notice);

private:
    void wake();

    int wakeFd_ = -1;
    std::vector<float> storage_;
    qsizetype floats_ = 0;
    qsizetype slots_ = 0;
    std::atomic<qint64> written_{0};
    std::atomic<qint64> read_{0};
    std::atomic<qint64> dropped_{0};
    std::atomic<bool> stopRequested_{false};
    std::atomic<int> unknownSampleType_{0};
    std::atomic<bool> unknownOnInputSide_{false};
    std::atomic<uint32_t> rate_{0};
    std::atomic<platform::asio::Error> failures_[int(Notice::Count)] = {};
};

} // namespace audio::asio
