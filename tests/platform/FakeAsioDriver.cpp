#include "tests/platform/FakeAsioDriver.h"

#include <QMutexLocker>
#include <QThread>
#include <cstring>

namespace snt::test {

using namespace platform::asio;

void FakeAsioBoard::addDriver(const DriverSpec &spec)
{
    QMutexLocker lock(&mutex_);
    drivers_.append(spec);
}

void FakeAsioBoard::clearDrivers()
{
    QMutexLocker lock(&mutex_);
    drivers_.clear();
}

std::shared_ptr<Host> FakeAsioBoard::makeHost()
{
    return std::make_shared<Host>([this] {
        QList<DriverEntry> entries;
        QMutexLocker lock(&mutex_);
        for (const DriverSpec &spec : drivers_) {
            DriverEntry entry{spec.key, spec.description, nullptr};
            if (spec.registered)
                entry.load = [this, spec]() -> std::unique_ptr<Driver> {
                    if (hit(spec, "load") != error::Ok)
                        return nullptr;
                    return std::make_unique<FakeAsioDriver>(this, spec);
                };
            entries.append(entry);
        }
        return entries;
    });
}

void FakeAsioBoard::failCall(const QString &call, Error code, int occurrence)
{
    QMutexLocker lock(&mutex_);
    faults_.insert({call, counts_.value(call) + occurrence}, code);
}

QStringList FakeAsioBoard::calls() const
{
    QMutexLocker lock(&mutex_);
    return calls_;
}

int FakeAsioBoard::callCount(const QString &call) const
{
    QMutexLocker lock(&mutex_);
    return counts_.value(call);
}

FakeAsioDriver *FakeAsioBoard::current() const
{
    QMutexLocker lock(&mutex_);
    return current_;
}

void FakeAsioBoard::delayCall(const QString &call, int milliseconds)
{
    QMutexLocker lock(&mutex_);
    delays_.insert(call, milliseconds);
}

Error FakeAsioBoard::hit(const DriverSpec &spec, const QString &call)
{
    QMutexLocker lock(&mutex_);
    calls_.append(call);
    const Error injected = faults_.value({call, ++counts_[call]}, error::Ok);
    const int delay = delays_.value(call);
    lock.unlock();
    QThread::msleep(ulong(delay));
    return injected != error::Ok ? injected : spec.failures.value(call, error::Ok);
}

void FakeAsioBoard::setCurrent(FakeAsioDriver *driver)
{
    QMutexLocker lock(&mutex_);
    current_ = driver;
}

FakeAsioDriver::FakeAsioDriver(FakeAsioBoard *board, FakeAsioBoard::DriverSpec spec)
    : board_(board)
    , spec_(std::move(spec))
{
    board_->setCurrent(this);
}

FakeAsioDriver::~FakeAsioDriver()
{
    board_->setCurrent(nullptr);
}

FakeAsioBoard::Channel FakeAsioDriver::channel(bool isInput, int index) const
{
    return (isInput ? spec_.inputs : spec_.outputs).value(index);
}

Error FakeAsioDriver::exit()
{
    releaseBuffers();
    return hit("exit");
}

Error FakeAsioDriver::start()
{
    std::lock_guard lock(engine_);
    const Error e = hit("start");
    started_ = e == error::Ok;
    return e;
}

Error FakeAsioDriver::stop()
{
    std::lock_guard lock(engine_);
    started_ = false;
    return hit("stop");
}

bool FakeAsioDriver::isStarted() const
{
    std::lock_guard lock(engine_);
    return started_;
}

Error FakeAsioDriver::channels(int *inputs, int *outputs)
{
    *inputs = spec_.reportedInputs >= 0 ? spec_.reportedInputs : int(spec_.inputs.size());
    *outputs = spec_.reportedOutputs >= 0 ? spec_.reportedOutputs : int(spec_.outputs.size());
    return hit("channels");
}

Error FakeAsioDriver::bufferSize(int *minimum, int *maximum, int *preferred, int *granularity)
{
    *minimum = *maximum = *preferred = spec_.bufferSize;
    *granularity = 0;
    return hit("bufferSize");
}

Error FakeAsioDriver::sampleRate(double *rate)
{
    *rate = spec_.rate;
    return hit("sampleRate");
}

Error FakeAsioDriver::setSampleRate(double rate)
{
    return hit(QStringLiteral("setSampleRate %1").arg(rate));
}

Error FakeAsioDriver::channelInfo(ChannelInfo *info)
{
    const FakeAsioBoard::Channel c = channel(info->isInput, info->channel);
    info->type = c.type;
    info->name = c.name;
    return hit("channelInfo");
}

Error FakeAsioDriver::createBuffers(BufferInfo *infos, int count, int frames,
                                    HostCallbacks *callbacks)
{
    std::lock_guard lock(engine_);
    const Error e = hit("createBuffers");
    if (e != error::Ok)
        return e;
    for (int i = 0; i < count; ++i) {
        const SampleType type = channel(infos[i].isInput, infos[i].channel).type;
        halves_.assign(&infos[i], type, frames);
        ports_.append({infos[i], type, QByteArray(frames * bytesPerSample(type), '\0')});
    }
    callbacks_ = callbacks;
    index_ = 0;
    return e;
}

Error FakeAsioDriver::disposeBuffers()
{
    releaseBuffers();
    return hit("disposeBuffers");
}

void FakeAsioDriver::releaseBuffers()
{
    std::lock_guard lock(engine_);
    started_ = false;
    callbacks_ = nullptr;
    ports_.clear();
    halves_.clear();
}

Error FakeAsioDriver::samplePosition(int64_t *position, int64_t *systemTimeNs)
{
    std::lock_guard lock(engine_);
    *position = position_;
    *systemTimeNs = 0;
    const Error e = hit("samplePosition");
    return e == error::Ok && !started_ ? error::NotRunning : e;
}

void FakeAsioDriver::setInputPort(int channel, const QByteArray &bytes)
{
    std::lock_guard lock(engine_);
    for (Port &port : ports_)
        if (port.buffer.isInput && port.buffer.channel == channel)
            port.bytes = bytes.left(port.bytes.size());
}

QByteArray FakeAsioDriver::outputPort(int channel) const
{
    std::lock_guard lock(engine_);
    for (const Port &port : ports_)
        if (!port.buffer.isInput && port.buffer.channel == channel)
            return port.bytes;
    return QByteArray();
}

bool FakeAsioDriver::runPeriod(uint32_t flags, bool directProcess)
{
    std::lock_guard lock(engine_);
    if (!started_ || !callbacks_)
        return false;
    for (const Port &port : ports_)
        if (port.buffer.isInput)
            std::memcpy(port.buffer.halves[index_], port.bytes.constData(), port.bytes.size());
    if (spec_.plainSwitch) {
        callbacks_->bufferSwitch(index_, directProcess);
    } else {
        TimeInfo time;
        time.flags = flags;
        time.samplePosition = position_;
        callbacks_->bufferSwitchTimeInfo(time, index_, directProcess);
    }
    for (Port &port : ports_)
        if (!port.buffer.isInput)
            std::memcpy(port.bytes.data(), port.buffer.halves[index_], port.bytes.size());
    position_ += spec_.bufferSize;
    index_ ^= 1;
    return true;
}

int FakeAsioDriver::sendMessage(int selector, int value)
{
    HostCallbacks *callbacks = nullptr;
    {
        std::lock_guard lock(engine_);
        callbacks = callbacks_;
    }
    return callbacks ? callbacks->message(selector, value) : 0;
}

void FakeAsioDriver::changeRate(double rate)
{
    std::lock_guard lock(engine_);
    if (callbacks_)
        callbacks_->sampleRateChanged(rate);
}

} // namespace snt::test
