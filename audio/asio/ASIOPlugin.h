#pragma once

#include "audio/Plugin.h"
#include "audio/asio/AsioHandOff.h"
#include "platform/asio/AsioHost.h"

#include <QList>
#include <QMutex>
#include <QThread>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;

namespace audio {

namespace asio {
class StreamTable;
}

// The backend for pro-audio drivers: each installed driver is one device. The backend lives in
// a thread of its own, the "ASIO thread", where it probes the drivers, starts one driver at a
// time and hands captured blocks to the sinks. The running driver is shared by any number of
// capture and render streams; its real-time thread calls the backend once per period to fill
// the outputs from the render sources and to pass the inputs on. Every failed driver call is
// logged with the label of its step.
//
// At most one instance lives at a time: the driver calls back into it.
class ASIOPlugin
    : public Plugin
    , private platform::asio::HostCallbacks
{
    Q_OBJECT
public:
    static constexpr int maxDrivers = 256;
    static constexpr int maxChannels = 192;

    explicit ASIOPlugin(std::shared_ptr<platform::asio::Host> host = platform::asio::systemHost());
    ~ASIOPlugin() override;

    QString name() const override;
    DeviceList devices() override;
    DeviceInfo::Id defaultDevice(const Direction &direction) override;
    Format preferredFormat(const DeviceInfo::Id &id, const Direction &direction) override;
    // The format argument is not used: a stream always gets preferredFormat(id, direction).
    // From another thread the open runs in the ASIO thread, after the work queued there before
    // it. When that thread is letting a driver go that asked to be reset (a server shutting
    // down) for longer than a tenth of a second, the open is given up (logged as busy) and
    // answers null.
    Stream *open(const QString &id, const Direction &direction, const Format &format,
                 QIODevice *device) override;

public slots:
    // Probes again, unless a probe or a start is under way or a driver is loaded.
    void reloadDeviceList() override;

signals:
    // One captured block (interleaved, every input channel), in the ASIO thread.
    void runInputProcessing(QList<float> buffer);

private:
    // ASIO thread.
    void startupProbe();
    void leaveThread();
    DeviceList probe();
    std::optional<DeviceInfo> probeDriver(const QString &name);
    QStringList channelNames(int count, bool isInput);
    bool replaceDevices(const DeviceList &rows);
    std::optional<DeviceInfo> deviceRow(const QString &id) const;
    Stream *openHere(const QString &id, const Direction &direction, QIODevice *device);
    bool startDriver(const QString &name);
    bool prepareChannels(const DeviceInfo &row);
    void haltDriver();
    void stopDriver();
    void takeHandOff();
    void applyStopRequest();
    void dispatchBlocks();
    void captureDispatch(const QList<float> &buffer);
    void logOutputReady(platform::asio::Error error);

    // Driver threads.
    void bufferSwitch(int index, bool directProcess) override;
    void bufferSwitchTimeInfo(const platform::asio::TimeInfo &time, int index,
                              bool directProcess) override;
    void sampleRateChanged(double rate) override;
    int message(int selector, int value) override;
    void processPeriod(int index);

    const std::shared_ptr<platform::asio::Host> host_;
    const std::shared_ptr<asio::StreamTable> streams_;
    int bufferSize_ = 0;
    QThread thread_;
    QString currentDriver_;
    mutable QMutex devicesMutex_;
    DeviceList devices_;
    std::vector<platform::asio::BufferInfo> bufferInfos_;
    std::vector<platform::asio::ChannelInfo> channelInfos_;
    int inputs_ = 0;
    int outputs_ = 0;
    std::vector<float> inputBuffer_;
    std::vector<float> outputBuffer_;
    QMutex driverMutex_;
    // Set while the ASIO thread stops a driver that asked to be reset.
    std::atomic<bool> lettingDriverGo_{false};
    asio::HandOff handOff_;
    QSocketNotifier *wakeNotifier_ = nullptr;
    QList<float> block_;
    platform::asio::Error lastOutputReady_ = platform::asio::error::Ok;
};

} // namespace audio
