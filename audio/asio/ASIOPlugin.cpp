#include "audio/asio/ASIOPlugin.h"

#include "audio/Stream.h"
#include "audio/asio/AsioOpenRequest.h"
#include "audio/asio/AsioResultCheck.h"
#include "audio/asio/AsioSampleConversion.h"
#include "audio/asio/AsioStreamTable.h"
#include "common/Log.h"
#include "common/RealTime.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace audio {
namespace {

using namespace platform::asio;
using asio::check;

const QString pluginNameText = QStringLiteral("ASIO");
// Captured blocks may wait this long for the ASIO thread before they are dropped.
constexpr double handOffSeconds = 0.5;
constexpr int minHandOffBlocks = 8;
// How long an open from another thread waits while the ASIO thread lets a driver go.
constexpr std::chrono::milliseconds openPatience{100};

// The selectors a driver may ask about and gets a yes for.
constexpr int answeredSelectors[] = {2, 3, 5, 6, 7, 8, 10};

std::atomic<ASIOPlugin *> instance{nullptr};

QString label(const char *text, int number)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(text)).arg(number);
}

QString initLabel(const QString &driver)
{
    return QStringLiteral("ASIOInit %1 404").arg(driver);
}

uint32_t wholeHz(double rate)
{
    return rate > 0 && rate < 4.0e9 ? uint32_t(std::lround(rate)) : 0;
}

// The output side names the type, the input side does not.
QString unknownSampleTypeLine(int type, bool inputSide)
{
    return inputSide ? QStringLiteral("unknown sample type")
                     : QStringLiteral("unknown sample type %1").arg(type);
}

bool sameRows(const DeviceList &a, const DeviceList &b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(),
                      [](const DeviceInfo &x, const DeviceInfo &y) {
                          return x.id == y.id && x.pluginName == y.pluginName;
                      });
}

} // namespace

ASIOPlugin::ASIOPlugin(std::shared_ptr<Host> host)
    : host_(std::move(host))
    , streams_(std::make_shared<asio::StreamTable>())
{
    if (instance.exchange(this) != nullptr)
        qFatal("ASIO plugin can't be created more than once");
    connect(this, &ASIOPlugin::runInputProcessing, this, &ASIOPlugin::captureDispatch);
    moveToThread(&thread_);
    connect(&thread_, &QThread::started, this, &ASIOPlugin::startupProbe, Qt::DirectConnection);
    connect(&thread_, &QThread::finished, this, &ASIOPlugin::leaveThread, Qt::DirectConnection);
    thread_.setObjectName(QStringLiteral("ASIO thread"));
    thread_.start();
    thread_.setPriority(QThread::TimeCriticalPriority);
}

ASIOPlugin::~ASIOPlugin()
{
    thread_.quit();
    thread_.wait();
    {
        QMutexLocker lock(&driverMutex_);
        haltDriver();
        host_->removeCurrentDriver();
    }
    instance.store(nullptr);
}

QString ASIOPlugin::name() const
{
    return pluginNameText;
}

DeviceList ASIOPlugin::devices()
{
    QMutexLocker lock(&devicesMutex_);
    return devices_;
}

DeviceInfo::Id ASIOPlugin::defaultDevice(const Direction &)
{
    return DeviceInfo::Id();
}

std::optional<DeviceInfo> ASIOPlugin::deviceRow(const QString &id) const
{
    QMutexLocker lock(&devicesMutex_);
    for (const DeviceInfo &row : devices_)
        if (row.id == id)
            return row;
    return std::nullopt;
}

Format ASIOPlugin::preferredFormat(const DeviceInfo::Id &id, const Direction &direction)
{
    const std::optional<DeviceInfo> row = deviceRow(id);
    if (!row)
        return Format{48000, 0};
    const QStringList &channels = direction == Output ? row->outputChannels : row->inputChannels;
    return Format{row->sampleRate, uint32_t(channels.size())};
}

// ---- probing -------------------------------------------------------------------------------

void ASIOPlugin::startupProbe()
{
    wakeNotifier_ = new QSocketNotifier(handOff_.wakeDescriptor(), QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, &ASIOPlugin::takeHandOff);
    QMutexLocker lock(&driverMutex_);
    // Announced once the thread's event loop runs, like a zero-delay single shot.
    if (currentDriver_.isEmpty() && replaceDevices(probe()))
        QMetaObject::invokeMethod(this, &ASIOPlugin::deviceListChanged, Qt::QueuedConnection);
}

void ASIOPlugin::leaveThread()
{
    delete wakeNotifier_;
    wakeNotifier_ = nullptr;
    // Streams not yet closed by their owners, and the backend itself, go on in the main thread,
    // whose event loop still runs to delete them.
    QThread *main = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : nullptr;
    for (Stream *stream : streams_->streams())
        stream->moveToThread(main);
    moveToThread(main);
}

void ASIOPlugin::reloadDeviceList()
{
    if (QThread::currentThread() != &thread_) {
        QMetaObject::invokeMethod(this, &ASIOPlugin::reloadDeviceList, Qt::QueuedConnection);
        return;
    }
    if (!driverMutex_.tryLock())
        return;
    const auto unlock = qScopeGuard([this] { driverMutex_.unlock(); });
    if (currentDriver_.isEmpty() && replaceDevices(probe()))
        emit deviceListChanged();
}

DeviceList ASIOPlugin::probe()
{
    DeviceList rows;
    for (const QString &name : host_->driverNames(maxDrivers))
        if (const std::optional<DeviceInfo> row = probeDriver(name))
            rows.append(*row);
    return rows;
}

std::optional<DeviceInfo> ASIOPlugin::probeDriver(const QString &name)
{
    if (!host_->loadDriver(name))
        return std::nullopt;
    const auto unload = qScopeGuard([this] { host_->removeCurrentDriver(); });
    if (!check(host_->init(), initLabel(name)))
        return std::nullopt;
    const auto exit = qScopeGuard([this] { host_->exit(); });
    double rate = 0;
    int inputs = 0;
    int outputs = 0;
    if (host_->sampleRate(&rate) != error::Ok || host_->channels(&inputs, &outputs) != error::Ok)
        return std::nullopt;
    if (inputs > maxChannels || inputs < 0)
        inputs = 0;
    if (outputs > maxChannels || outputs < 0)
        outputs = 0;
    if (inputs == 0 && outputs == 0)
        return std::nullopt;
    return DeviceInfo{name,
                      name,
                      wholeHz(rate),
                      pluginNameText,
                      channelNames(inputs, true),
                      channelNames(outputs, false)};
}

QStringList ASIOPlugin::channelNames(int count, bool isInput)
{
    QStringList names;
    for (int i = 0; i < count; ++i) {
        ChannelInfo info;
        info.channel = i;
        info.isInput = isInput;
        const bool named = host_->channelInfo(&info) == error::Ok && !info.name.isEmpty();
        names.append(named ? info.name : QString::number(i));
    }
    return names;
}

bool ASIOPlugin::replaceDevices(const DeviceList &rows)
{
    QMutexLocker lock(&devicesMutex_);
    if (sameRows(rows, devices_))
        return false;
    devices_ = rows;
    return true;
}

// ---- opening and the driver's life ---------------------------------------------------------

Stream *ASIOPlugin::open(const QString &id, const Direction &direction, const Format &,
                         QIODevice *device)
{
    if (QThread::currentThread() == &thread_)
        return openHere(id, direction, device);
    if (!thread_.isRunning())
        return nullptr;
    const auto request = std::make_shared<asio::OpenRequest>();
    QMetaObject::invokeMethod(
            this,
            [this, request, id, direction, device] {
                // A reset the driver asked for is carried out before the request is taken, so
                // that the asker may give up while it lasts.
                applyStopRequest();
                if (request->take())
                    request->finish(openHere(id, direction, device));
            },
            Qt::QueuedConnection);
    Stream *stream = nullptr;
    if (!request->await([this] { return lettingDriverGo_.load(); }, openPatience, &stream))
        sntWarning(lcAsio, "[ASIO]") << "busy: the ASIO thread is letting a driver go and did not "
                                        "take up opening"
                                     << id << "within" << openPatience.count() << "ms";
    return stream;
}

Stream *ASIOPlugin::openHere(const QString &id, const Direction &direction, QIODevice *device)
{
    if (!isValidDirection(direction) || !device)
        return nullptr;
    // A reset the driver asked for before this open comes first.
    applyStopRequest();
    if (!startDriver(id)) {
        stopDriver();
        return nullptr;
    }
    auto *stream = new Stream(preferredFormat(id, direction));
    const bool render = direction == Output;
    if (!device->isOpen())
        device->open((render ? QIODevice::ReadOnly : QIODevice::WriteOnly) | QIODevice::Unbuffered);
    if (render)
        streams_->addRender(stream, device);
    else
        streams_->addCapture(stream, device);
    // Runs in the thread of the owner's close(): once it returns no fill or dispatch uses the
    // device any more, and the stream object goes.
    connect(
            stream, &Stream::closeMe, stream,
            [table = streams_, stream] {
                table->remove(stream);
                stream->deleteLater();
            },
            Qt::DirectConnection);
    return stream;
}

bool ASIOPlugin::startDriver(const QString &name)
{
    if (!currentDriver_.isEmpty() && name == currentDriver_)
        return true;
    QMutexLocker lock(&driverMutex_);
    haltDriver();
    currentDriver_ = name;
    const std::optional<DeviceInfo> row = deviceRow(name);
    if (!row || !host_->loadDriver(name)) {
        currentDriver_.clear();
        sntCritical(lcAsio, "ASIO: can't load driver") << name;
        return false;
    }
    int minimum = 0;
    int maximum = 0;
    int preferred = 0;
    int granularity = 0;
    if (!check(host_->init(), initLabel(name))
        || !check(host_->bufferSize(&minimum, &maximum, &preferred, &granularity),
                  label("ASIOGetBufferSize", 413)))
        return false;
    bufferSize_ = std::max(preferred, 0);
    if (!check(host_->setSampleRate(row->sampleRate), label("ASIOSetSampleRate", 416))
        || !prepareChannels(*row)
        || !check(host_->createBuffers(bufferInfos_.data(), int(bufferInfos_.size()), bufferSize_,
                                       this),
                  label("ASIOCreateBuffers", 451)))
        return false;
    lastOutputReady_ = error::Ok;
    logOutputReady(host_->outputReady());
    return check(host_->start(), label("ASIOStart", 457));
}

bool ASIOPlugin::prepareChannels(const DeviceInfo &row)
{
    inputs_ = int(row.inputChannels.size());
    outputs_ = int(row.outputChannels.size());
    bufferInfos_.assign(std::size_t(inputs_ + outputs_), BufferInfo{});
    channelInfos_.assign(bufferInfos_.size(), ChannelInfo{});
    for (int i = 0; i < inputs_ + outputs_; ++i) {
        const bool isInput = i < inputs_;
        const int channel = isInput ? i : i - inputs_;
        bufferInfos_[i].isInput = channelInfos_[i].isInput = isInput;
        bufferInfos_[i].channel = channelInfos_[i].channel = channel;
        host_->channelInfo(&channelInfos_[i]);
        // A driver with a format we cannot convert would start and then never deliver.
        if (!asio::isKnownSampleType(channelInfos_[i].type)) {
            sntCritical(lcAsio, unknownSampleTypeLine(int(channelInfos_[i].type), isInput));
            return false;
        }
    }
    inputBuffer_.assign(std::size_t(bufferSize_) * std::size_t(inputs_), 0.0f);
    outputBuffer_.assign(std::size_t(bufferSize_) * std::size_t(outputs_), 0.0f);
    const int blocks
            = bufferSize_ > 0 ? int(std::ceil(handOffSeconds * row.sampleRate / bufferSize_)) : 0;
    handOff_.resize(qsizetype(inputBuffer_.size()), std::max(blocks, minHandOffBlocks));
    return true;
}

void ASIOPlugin::haltDriver()
{
    host_->stop();
    host_->disposeBuffers();
    host_->exit();
    streams_->stopAll();
    currentDriver_.clear();
    // Whatever the old driver asked for died with it.
    handOff_.takeStopRequest();
}

void ASIOPlugin::stopDriver()
{
    QMutexLocker lock(&driverMutex_);
    haltDriver();
}

void ASIOPlugin::logOutputReady(Error error)
{
    // Logged once per start and again only when the answer changes, not every period.
    if (error == lastOutputReady_)
        return;
    lastOutputReady_ = error;
    if (error != error::Ok)
        sntDebug(lcAsio, "ASIOOutputReady not supported by this driver (result:") << error << ")";
}

// ---- what the driver's threads hand over ---------------------------------------------------

void ASIOPlugin::takeHandOff()
{
    handOff_.clearWake();
    if (const Error e = handOff_.takeFailure(asio::HandOff::Notice::SamplePosition))
        check(e, QStringLiteral("ASIOGetSamplePosition"));
    if (const Error e = handOff_.takeFailure(asio::HandOff::Notice::OutputReady))
        logOutputReady(e);
    dispatchBlocks();
    if (const uint32_t rate = handOff_.takeSampleRate())
        streams_->setSampleRate(rate);
    applyStopRequest();
}

void ASIOPlugin::dispatchBlocks()
{
    {
        // The capture streams' sinks (a measurement's input) run here: a real-time section
        // like the period itself.
        const realtime::Section section;
        while (const float *block = handOff_.frontBlock()) {
            block_.resize(handOff_.blockFloats());
            std::memcpy(block_.data(), block, std::size_t(block_.size()) * sizeof(float));
            handOff_.popBlock();
            emit runInputProcessing(block_);
        }
    }
    if (const qint64 dropped = handOff_.takeDroppedBlocks()) {
        sntWarning(lcAsio, "[ASIO]") << dropped << "captured blocks dropped: the sinks fell behind";
        // The lost blocks lie between the ones just dispatched and the next: every capture
        // stream learns how many frames are missing there, so a measurement can realign.
        streams_->reportCaptureGap(dropped * qint64(bufferSize_));
    }
}

void ASIOPlugin::captureDispatch(const QList<float> &buffer)
{
    streams_->dispatch(buffer.constData(), buffer.size());
}

void ASIOPlugin::applyStopRequest()
{
    const std::optional<asio::HandOff::StopRequest> request = handOff_.takeStopRequest();
    if (!request)
        return;
    if (request->unknownSampleType != 0)
        sntCritical(lcAsio, unknownSampleTypeLine(request->unknownSampleType, request->inputSide));
    lettingDriverGo_.store(true);
    const auto done = qScopeGuard([this] { lettingDriverGo_.store(false); });
    streams_->stopAll();
    stopDriver();
}

// ---- driver callbacks (the driver's threads) -----------------------------------------------

void ASIOPlugin::bufferSwitch(int index, bool directProcess)
{
    TimeInfo time;
    const Error e = host_->samplePosition(&time.samplePosition, &time.systemTimeNs);
    if (e == error::Ok)
        time.flags = timeflags::SamplePositionValid | timeflags::SystemTimeValid;
    else
        handOff_.noteFailure(asio::HandOff::Notice::SamplePosition, e);
    bufferSwitchTimeInfo(time, index, directProcess);
}

void ASIOPlugin::bufferSwitchTimeInfo(const TimeInfo &time, int index, bool directProcess)
{
    if (!directProcess || (time.flags & timeflags::Any) == 0 || (index != 0 && index != 1))
        return;
    processPeriod(index);
}

void ASIOPlugin::processPeriod(int index)
{
    const realtime::Section section;
    streams_->fill(outputBuffer_.data(), qsizetype(outputBuffer_.size()));
    for (std::size_t c = 0; c < bufferInfos_.size(); ++c) {
        const BufferInfo &buffer = bufferInfos_[c];
        const SampleType type = channelInfos_[c].type;
        const bool converted
                = buffer.isInput ? asio::toFloat(type, buffer.halves[index], bufferSize_,
                                                 inputBuffer_.data() + buffer.channel, inputs_)
                                 : asio::fromFloat(type, outputBuffer_.data() + buffer.channel,
                                                   outputs_, bufferSize_, buffer.halves[index]);
        if (!converted) {
            handOff_.requestStop(int(type), buffer.isInput);
            host_->stop();
            return;
        }
    }
    if (const Error e = host_->outputReady(); e != error::Ok)
        handOff_.noteFailure(asio::HandOff::Notice::OutputReady, e);
    if (streams_->hasCapture())
        handOff_.pushBlock(inputBuffer_.data());
}

void ASIOPlugin::sampleRateChanged(double rate)
{
    handOff_.noteSampleRate(wholeHz(rate));
}

int ASIOPlugin::message(int selector, int value)
{
    switch (selector) {
    case message::SelectorSupported:
        return std::find(std::cbegin(answeredSelectors), std::cend(answeredSelectors), value)
                               != std::cend(answeredSelectors)
                       ? 1
                       : 0;
    case message::EngineVersion:
        return 2;
    case message::ResetRequest:
        // Streams end and the driver stops in the ASIO thread, never inside a callback.
        handOff_.requestStop();
        return 1;
    case message::ResyncRequest:
    case message::LatenciesChanged:
    case message::SupportsTimeInfo:
        return 1;
    default:
        return 0;
    }
}

} // namespace audio
