#pragma once

#include "audio/aes67/Types.h"

#include <QMap>
#include <QNetworkInterface>
#include <QObject>
#include <memory>

namespace audio::aes67 {

namespace dns {
struct Message;
}

// The process-wide holder of the RTSP devices ("_rtsp._tcp") that mDNS reports on one network
// interface. A device is listed once its service instance is resolved to an IPv4 address and a
// port; it goes away with its goodbye or when its pointer record's time to live runs out. Host
// addresses are kept for their records' time to live too. At most 1024 service instances and
// 1024 host addresses are kept: spoofed answers beyond that push out the least recently heard.
class MdnsBrowser : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype maxInstances = 1024;
    static constexpr qsizetype maxHosts = 1024;

    static MdnsBrowser *instance();
    ~MdnsBrowser() override;

    // Queries for RTSP services on `interface` (the mDNS port stays shared with any other
    // responder on the machine) and keeps asking, at growing intervals up to a minute. False,
    // with errorOccurred, when the port cannot be bound or the group not joined.
    bool start(const QNetworkInterface &interface);
    void stop();
    bool isRunning() const { return running_; }

    QList<MdnsDevice> devices() const { return devices_.values(); }

    // One received mDNS message at local time `nowMs` (for time-to-live bookkeeping).
    void handleMessage(const dns::Message &message, qint64 nowMs);
    // Drops instances and host addresses whose time to live has run out by `nowMs`.
    void expire(qint64 nowMs);
    // How many service instances and host addresses are kept, resolved or not.
    qsizetype instanceCount() const;
    qsizetype hostCount() const;

signals:
    void deviceAppeared(audio::aes67::MdnsDevice device);
    void deviceRemoved(QString key);
    void errorOccurred(QString message);

private:
    struct Impl;

    MdnsBrowser();
    void heardInstance(const QString &instance, quint32 ttl, qint64 nowMs);
    void heardHost(const QString &hostKey, const QHostAddress &address, quint32 ttl, qint64 nowMs);
    void resolve(const QString &instance);
    void forget(const QString &instance);
    void query();

    std::unique_ptr<Impl> impl_;
    bool running_ = false;
    QMap<QString, MdnsDevice> devices_;
};

} // namespace audio::aes67
