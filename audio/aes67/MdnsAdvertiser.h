#pragma once

#include <QHostAddress>
#include <QNetworkInterface>
#include <QObject>
#include <memory>

namespace audio::aes67 {

namespace dns {
struct Message;
}

// The process-wide mDNS advertisement of the own RTSP responder ("_rtsp._tcp") while the
// sender runs: announced twice at the start, answered on every query for it, and withdrawn with a
// goodbye at the stop. The mDNS port stays shared with any other responder on the machine.
class MdnsAdvertiser : public QObject
{
    Q_OBJECT
public:
    static MdnsAdvertiser *instance();
    ~MdnsAdvertiser() override;

    // Advertises `instanceName` at `address`:`port` on `interface`, the host as
    // "<machine name>.local". False when the mDNS port cannot be used.
    bool start(const QNetworkInterface &interface, const QHostAddress &address,
               const QString &instanceName, quint16 port);
    // Says goodbye (the records again with a time to live of 0) and closes the socket.
    void stop();
    bool isRunning() const { return running_; }

    // The records that answer `query`; empty when none of its questions is about this service.
    dns::Message answer(const dns::Message &query) const;
    // Every record of the advertisement, with their times to live or, for a goodbye, with 0.
    dns::Message announcement(bool goodbye) const;

private:
    struct Impl;

    MdnsAdvertiser();
    void announce();
    void onReadyRead();

    std::unique_ptr<Impl> impl_;
    bool running_ = false;
};

} // namespace audio::aes67
