#pragma once

#include "platform/asio/AsioHost.h"
#include "platform/asio/BufferHalves.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <memory>
#include <mutex>

namespace snt::test {

using platform::asio::Error;
using platform::asio::SampleType;
class FakeAsioDriver;

// The installed drivers of a test machine: scripted drivers listed in order, a log of every host
// call that reaches one of them, and failures on demand: failCall("start", code, n) makes the
// n-th start from now answer `code`; a driver's own `failures` make every such call of it fail;
// delayCall("exit", 1000) makes every exit from now take a second, as a driver busy with its
// hardware or its server does. Calls are named after the driver's methods, plus "load" for loading.
class FakeAsioBoard
{
public:
    struct Channel
    {
        SampleType type = SampleType::Float32;
        QString name;
    };
    struct DriverSpec
    {
        QString key;
        QString description;
        bool registered = true; // false: listed, but nothing to load it with
        double rate = 48000;
        int bufferSize = 64;
        QList<Channel> inputs;
        QList<Channel> outputs;
        // Channel counts the driver reports; -1: as many as listed above (channels beyond the
        // list are unnamed Float32 channels).
        int reportedInputs = -1;
        int reportedOutputs = -1;
        // Periods arrive through the plain buffer switch (asking the sample position) instead
        // of the one with time information.
        bool plainSwitch = false;
        QHash<QString, Error> failures;
    };

    void addDriver(const DriverSpec &spec);
    void clearDrivers();
    std::shared_ptr<platform::asio::Host> makeHost();

    void failCall(const QString &call, Error code, int occurrence = 1);
    void delayCall(const QString &call, int milliseconds);
    QStringList calls() const;
    int callCount(const QString &call) const;
    // The loaded driver, or null.
    FakeAsioDriver *current() const;

    // Used by the drivers.
    Error hit(const DriverSpec &spec, const QString &call);
    void setCurrent(FakeAsioDriver *driver);

private:
    mutable QMutex mutex_;
    QList<DriverSpec> drivers_;
    QHash<std::pair<QString, int>, Error> faults_;
    QHash<QString, int> counts_;
    QHash<QString, int> delays_;
    QStringList calls_;
    FakeAsioDriver *current_ = nullptr;
};

// One loaded fake driver. Its periods do not run by themselves: runPeriod() does what a real
// driver's thread does once (copy the input ports into the current half, call the host, copy
// the output half to the output ports), on the calling thread. Ports hold raw sample bytes.
class FakeAsioDriver : public platform::asio::Driver
{
public:
    FakeAsioDriver(FakeAsioBoard *board, FakeAsioBoard::DriverSpec spec);
    ~FakeAsioDriver() override;

    // Engine side, driven by the test. runPeriod() answers false when the driver is not
    // started. `flags` is the time information's validity (the plain switch ignores it).
    bool runPeriod(uint32_t flags = platform::asio::timeflags::SystemTimeValid
                                    | platform::asio::timeflags::SamplePositionValid,
                   bool directProcess = true);
    void setInputPort(int channel, const QByteArray &bytes);
    QByteArray outputPort(int channel) const;
    int sendMessage(int selector, int value);
    void changeRate(double rate);
    bool isStarted() const;
    int bufferFrames() const { return spec_.bufferSize; }

    Error init() override { return hit("init"); }
    Error exit() override;
    Error start() override;
    Error stop() override;
    Error channels(int *inputs, int *outputs) override;
    Error bufferSize(int *minimum, int *maximum, int *preferred, int *granularity) override;
    Error sampleRate(double *rate) override;
    Error setSampleRate(double rate) override;
    Error channelInfo(platform::asio::ChannelInfo *info) override;
    Error createBuffers(platform::asio::BufferInfo *infos, int count, int frames,
                        platform::asio::HostCallbacks *callbacks) override;
    Error disposeBuffers() override;
    Error outputReady() override { return hit("outputReady"); }
    Error samplePosition(int64_t *position, int64_t *systemTimeNs) override;

private:
    struct Port
    {
        platform::asio::BufferInfo buffer;
        SampleType type = SampleType::Float32;
        QByteArray bytes;
    };
    Error hit(const QString &call) { return board_->hit(spec_, call); }
    FakeAsioBoard::Channel channel(bool isInput, int index) const;
    void releaseBuffers();

    FakeAsioBoard *const board_;
    const FakeAsioBoard::DriverSpec spec_;
    // Held by a period and by everything that changes the buffers; a period may stop the
    // driver from inside, hence recursive.
    mutable std::recursive_mutex engine_;
    platform::asio::BufferHalves halves_;
    QList<Port> ports_;
    platform::asio::HostCallbacks *callbacks_ = nullptr;
    int index_ = 0;
    int64_t position_ = 0;
    bool started_ = false;
};

} // namespace snt::test
