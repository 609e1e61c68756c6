#include "audio/phone/AudioStreamServer.h"

#include "audio/phone/PhoneMessages.h"
#include "common/Log.h"
#include "common/MainThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QSslKey>
#include <QSslSocket>
#include <QThread>
#include <QUdpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

namespace audio {
namespace {

const char *const kTag = "[PhoneAudio]";

constexpr int kStatsIntervalMs = 5000;

void stopAtExit()
{
    // Sockets and timers must not outlive the event dispatcher they were created with.
    AudioStreamServer::instance()->stop();
}

QString peerOf(const QWebSocket *socket)
{
    return socket->peerAddress().toString();
}

// Qt closes a connection whose message grows beyond `bytes`, with close code 1009, as soon as a
// frame header or the message so far says so: before the message is held whole.
void limitMessages(QWebSocket *socket, quint64 bytes)
{
    socket->setMaxAllowedIncomingFrameSize(bytes);
    socket->setMaxAllowedIncomingMessageSize(bytes);
}

// The host name as a JSON string literal, quotes and escapes included.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

AudioStreamServer *AudioStreamServer::instance()
{
    static AudioStreamServer server;
    return &server;
}

AudioStreamServer::AudioStreamServer()
    : plainServer_(new QWebSocketServer("PelmarAudioStream", QWebSocketServer::NonSecureMode, this))
    , tlsServer_(new QWebSocketServer("PelmarAudioStreamWss", QWebSocketServer::SecureMode, this))
    , discoverySocket_(new QUdpSocket(this))
    , statsTimer_(this)
{
    for (QWebSocketServer *server : {plainServer_, tlsServer_}) {
        connect(server, &QWebSocketServer::newConnection, this,
                [this, server] { onNewConnection(server); });
    }
    connect(tlsServer_, &QWebSocketServer::sslErrors, this, [](const QList<QSslError> &errors) {
        for (const QSslError &error : errors)
            sntWarning(lcPhone, kTag) << "TLS error:" << error.errorString();
    });
    statsTimer_.setInterval(kStatsIntervalMs);
    connect(&statsTimer_, &QTimer::timeout, this, &AudioStreamServer::logStats);
    connect(discoverySocket_, &QUdpSocket::readyRead, this,
            &AudioStreamServer::onDiscoveryReadyRead);

    // The sockets' handlers run in the GUI thread, whichever thread asked first.
    snt::moveToMainThread(this);
    qAddPostRoutine(&stopAtExit);
}

AudioStreamServer::~AudioStreamServer()
{
    stop();
}

bool AudioStreamServer::listen(const QHostAddress &address, quint16 wsPort, quint16 wssPort,
                               quint16 discoveryPort, const QSslConfiguration &tls)
{
    if (isListening()) {
        sntWarning(lcPhone, kTag) << "already listening on ws port" << this->wsPort();
        return false;
    }
    if (!plainServer_->listen(address, wsPort)) {
        sntWarning(lcPhone, kTag) << "cannot listen on" << address.toString() << wsPort << ":"
                                  << plainServer_->errorString();
        return false;
    }
    if (!discoverySocket_->bind(address, discoveryPort)) {
        sntWarning(lcPhone, kTag) << "cannot bind discovery socket on" << address.toString()
                                  << discoveryPort << ":" << discoverySocket_->errorString();
        plainServer_->close();
        return false;
    }
    if (!startTls(address, wssPort, tls)) {
        discoverySocket_->close();
        plainServer_->close();
        return false;
    }
    statsTimer_.start();
    sntInfo(lcPhone, kTag) << "audio stream server listening on" << address.toString()
                           << "ws:" << this->wsPort() << "wss:" << this->wssPort()
                           << "discovery:" << this->discoveryPort();
    return true;
}

bool AudioStreamServer::startTls(const QHostAddress &address, quint16 port,
                                 const QSslConfiguration &tls)
{
    if (tls.localCertificate().isNull() || tls.privateKey().isNull()) {
        sntInfo(lcPhone, kTag) << "no TLS certificate, secure server stays off";
        return true;
    }
    if (!QSslSocket::supportsSsl()) {
        sntWarning(lcPhone, kTag) << "TLS is not available here, secure server stays off";
        return true;
    }
    tlsServer_->setSslConfiguration(tls);
    if (!tlsServer_->listen(address, port)) {
        sntWarning(lcPhone, kTag) << "cannot listen (TLS) on" << address.toString() << port << ":"
                                  << tlsServer_->errorString();
        return false;
    }
    return true;
}

bool AudioStreamServer::isListening() const
{
    return plainServer_->isListening() || tlsServer_->isListening();
}

quint16 AudioStreamServer::wsPort() const
{
    return plainServer_->isListening() ? plainServer_->serverPort() : 0;
}

quint16 AudioStreamServer::wssPort() const
{
    return tlsServer_->isListening() ? tlsServer_->serverPort() : 0;
}

quint16 AudioStreamServer::discoveryPort() const
{
    return discoverySocket_->state() == QAbstractSocket::BoundState ? discoverySocket_->localPort()
                                                                    : 0;
}

void AudioStreamServer::stop()
{
    if (!isListening())
        return;
    statsTimer_.stop();
    while (!sessions_.empty())
        closeSession(sessions_.begin()->first, QStringLiteral("server stop"));
    const QList<QWebSocket *> pending = std::exchange(pendingSockets_, {});
    for (QWebSocket *socket : pending)
        closeSocket(socket);
    plainServer_->close();
    tlsServer_->close();
    if (discoverySocket_->state() == QAbstractSocket::BoundState)
        discoverySocket_->close();
    sntInfo(lcPhone, kTag) << "audio stream server stopped";
}

void AudioStreamServer::onDiscoveryReadyRead()
{
    while (discoverySocket_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = discoverySocket_->receiveDatagram();
        if (!datagram.data().contains("PELMAR_DISCOVER"))
            continue;
        discoverySocket_->writeDatagram(announce(), datagram.senderAddress(),
                                        quint16(datagram.senderPort()));
        sntInfo(lcPhone, kTag) << "discovery reply ->" << datagram.senderAddress().toString();
    }
}

QByteArray AudioStreamServer::announce() const
{
    // Written by hand to keep the key order the phone application was built against.
    return QByteArray("{\"type\":\"pelmar-here\",\"name\":")
           + jsonString(QHostInfo::localHostName()) + ",\"ws\":" + QByteArray::number(wsPort())
           + ",\"wss\":" + QByteArray::number(wssPort()) + "}";
}

void AudioStreamServer::onNewConnection(QWebSocketServer *server)
{
    while (server->hasPendingConnections()) {
        QWebSocket *socket = server->nextPendingConnection();
        limitMessages(socket, phoneHelloLimitBytes);
        if (pendingSockets_.size() >= maxPendingSockets)
            closeLongestPending();
        pendingSockets_.append(socket);
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString &message) { onTextMessage(socket, message); });
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, socket](const QByteArray &message) { onBinaryMessage(socket, message); });
        connect(socket, &QWebSocket::disconnected, this,
                [this, socket] { onDisconnected(socket); });
    }
}

void AudioStreamServer::closeLongestPending()
{
    QWebSocket *socket = pendingSockets_.takeFirst();
    sntWarning(lcPhone, kTag) << maxPendingSockets
                              << "connections wait for a hello, closing the oldest from"
                              << peerOf(socket);
    closeSocket(socket);
}

bool AudioStreamServer::isTracked(QWebSocket *socket) const
{
    return socketIds_.contains(socket) || pendingSockets_.contains(socket);
}

PhoneSession *AudioStreamServer::sessionOf(QWebSocket *socket) const
{
    const auto id = socketIds_.constFind(socket);
    if (id == socketIds_.cend())
        return nullptr;
    const auto it = sessions_.find(*id);
    return it == sessions_.end() ? nullptr : it->second.get();
}

void AudioStreamServer::onTextMessage(QWebSocket *socket, const QString &message)
{
    if (!isTracked(socket) || sessionOf(socket))
        return;
    PhoneHello hello;
    if (!parsePhoneHello(message, hello)) {
        sntWarning(lcPhone, kTag) << "invalid handshake from" << peerOf(socket) + ", closing";
        socket->close(QWebSocketProtocol::CloseCodeNormal);
        return;
    }

    const QString id = hello.id;
    if (refusesNewSession(id)) {
        sntWarning(lcPhone, kTag) << maxSessions << "phones connected, refusing" << hello.name
                                  << "from" << peerOf(socket) + ", closing";
        socket->close(QWebSocketProtocol::CloseCodeNormal);
        return;
    }
    if (sessions_.count(id)) {
        sntInfo(lcPhone, kTag) << "duplicate id reconnect, replacing old session:" << hello.name;
        closeSession(id, QStringLiteral("replaced by reconnect"));
    }

    auto session = std::make_unique<PhoneSession>();
    session->socket = socket;
    session->id = id;
    session->name = hello.name;
    session->sampleRate = hello.sampleRate;
    session->ring.setCapacity(qint64(hello.sampleRate) * ringSeconds);
    sessions_[id] = std::move(session);
    socketIds_.insert(socket, id);
    pendingSockets_.removeAll(socket);
    limitMessages(socket, phoneFrameLimitBytes);

    sntInfo(lcPhone, kTag) << "phone connected:" << hello.name << "id:" << id.left(8) + "..."
                           << "sampleRate:" << hello.sampleRate << "from" << peerOf(socket);
    emit clientConnected(id);
}

// A phone that reconnects under its id takes its own place; only a new one can be one too many.
bool AudioStreamServer::refusesNewSession(const QString &id) const
{
    return !sessions_.count(id) && sessions_.size() >= size_t(maxSessions);
}

void AudioStreamServer::onBinaryMessage(QWebSocket *socket, const QByteArray &message)
{
    if (!isTracked(socket))
        return;
    PhoneSession *session = sessionOf(socket);
    if (!session) {
        sntWarning(lcPhone, kTag) << "binary frame before handshake from"
                                  << peerOf(socket) + ", closing";
        socket->close(QWebSocketProtocol::CloseCodeNormal);
        return;
    }
    PhoneFrame frame;
    switch (parsePhoneFrame(message, frame)) {
    case PhoneFrameCheck::BadMagic:
        sntWarning(lcPhone, kTag) << "bad magic from" << session->name + ", closing";
        socket->close(QWebSocketProtocol::CloseCodeNormal);
        return;
    case PhoneFrameCheck::Malformed:
        sntWarning(lcPhone, kTag) << "malformed frame from" << session->name
                                  << QStringLiteral("(sampleCount: %1, size: %2), closing")
                                             .arg(frame.sampleCount)
                                             .arg(message.size());
        socket->close(QWebSocketProtocol::CloseCodeNormal);
        return;
    case PhoneFrameCheck::Ok:
        acceptFrame(*session, frame);
        return;
    }
}

void AudioStreamServer::countSequence(PhoneSession &session, quint32 seq)
{
    if (session.hasSeq && seq != quint32(session.lastSeq + 1))
        session.seqGaps += seq > session.lastSeq ? seq - session.lastSeq - 1 : 1;
    session.lastSeq = seq;
    session.hasSeq = true;
}

void AudioStreamServer::countSampleIndex(PhoneSession &session, quint64 sampleIndex,
                                         quint32 sampleCount)
{
    if (session.hasExpectedSampleIndex && sampleIndex != session.expectedSampleIndex) {
        if (sampleIndex > session.expectedSampleIndex) {
            session.sampleGaps += sampleIndex - session.expectedSampleIndex;
        } else {
            session.sampleGaps += 1;
            sntInfo(lcPhone, kTag) << session.name << "sampleIndex regressed (capture restarted)";
        }
    }
    session.expectedSampleIndex = sampleIndex + sampleCount;
    session.hasExpectedSampleIndex = true;
}

void AudioStreamServer::acceptFrame(PhoneSession &session, const PhoneFrame &frame)
{
    countSequence(session, frame.seq);
    countSampleIndex(session, frame.sampleIndex, frame.sampleCount);

    frameSamples_.resize(frame.sampleCount);
    for (quint32 i = 0; i < frame.sampleCount; ++i)
        frameSamples_[i] = phoneSample(frame, i);
    session.ring.append(frameSamples_.constData(), frame.sampleCount, frame.sampleIndex);

    session.lastFrameTimeMs = QDateTime::currentMSecsSinceEpoch();
    session.frames += 1;
    session.samples += frame.sampleCount;
    session.bufferDropped = session.ring.dropped();
    // Counted before the emission: a receiver may close the session while it runs.
    const QString id = session.id;
    emit samplesAppended(id, frameSamples_.constData(), frame.sampleCount);
}

void AudioStreamServer::onDisconnected(QWebSocket *socket)
{
    pendingSockets_.removeAll(socket);
    const QString reason = QStringLiteral("closeCode=%1 (%2)")
                                   .arg(int(socket->closeCode()))
                                   .arg(socket->closeReason());
    // Forgotten here in every case: a later socket may be allocated at the same address.
    const QString id = socketIds_.take(socket);
    const auto it = sessions_.find(id);
    const bool ownsSession = !id.isEmpty() && it != sessions_.end() && it->second->socket == socket;
    if (socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData) {
        sntWarning(lcPhone, kTag) << "message over the size limit from"
                                  << (ownsSession ? it->second->name : peerOf(socket)) + ", closed";
    }
    if (ownsSession) {
        it->second->socket = nullptr;
        closeSession(id, QStringLiteral("socket disconnected ") + reason);
    } else {
        sntInfo(lcPhone, kTag) << "pending socket closed before handshake:" << reason;
    }
    socket->deleteLater();
}

void AudioStreamServer::closeSession(QString id, const QString &reason)
{
    const auto it = sessions_.find(id);
    if (it == sessions_.end())
        return;
    const std::unique_ptr<PhoneSession> session = std::move(it->second);
    sessions_.erase(it);
    if (session->socket) {
        socketIds_.remove(session->socket);
        pendingSockets_.removeAll(session->socket);
        closeSocket(session->socket);
    }
    sntInfo(lcPhone, kTag) << "phone disconnected:" << session->name << "(" + reason + ")"
                           << "frames:" << session->frames << "seqGaps:" << session->seqGaps
                           << "sampleGaps:" << session->sampleGaps;
    emit clientDisconnected(id);
}

void AudioStreamServer::closeSocket(QWebSocket *socket)
{
    // The server has already forgotten this socket; its late disconnection is of no interest.
    socket->disconnect(this);
    socket->close(QWebSocketProtocol::CloseCodeNormal);
    socket->deleteLater();
}

void AudioStreamServer::logStats()
{
    for (const auto &[id, session] : sessions_) {
        const PhoneSampleRing &ring = session->ring;
        const qint64 bufferedMs
                = session->sampleRate ? ring.available() * 1000 / qint64(session->sampleRate) : 0;
        sntInfo(lcPhone, kTag) << session->name << "frames:" << session->frames
                               << "samples:" << session->samples << "seqGaps:" << session->seqGaps
                               << "sampleGaps:" << session->sampleGaps
                               << "bufferDropped:" << session->bufferDropped
                               << "buffered:" << bufferedMs << "ms";
    }
}

const PhoneSession *AudioStreamServer::session(const QString &id) const
{
    const auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second.get();
}

qsizetype AudioStreamServer::trackedSocketCount() const
{
    return socketIds_.size() + pendingSockets_.size();
}

bool AudioStreamServer::hasClient(const QString &id) const
{
    return session(id) != nullptr;
}

quint32 AudioStreamServer::sampleRate(const QString &id) const
{
    const PhoneSession *phone = session(id);
    return phone ? phone->sampleRate : phoneDefaultSampleRate;
}

qint64 AudioStreamServer::lastPacketTime(const QString &id) const
{
    const PhoneSession *phone = session(id);
    return phone ? phone->lastFrameTimeMs : 0;
}

quint64 AudioStreamServer::writeIndex(const QString &id) const
{
    const PhoneSession *phone = session(id);
    return phone && phone->ring.started() ? phone->ring.end() : 0;
}

int AudioStreamServer::read(const QString &id, quint64 start, qint64 count, float *out) const
{
    const PhoneSession *phone = session(id);
    return phone ? phone->ring.read(start, count, out) : PhoneSampleRing::Overwritten;
}

qint64 AudioStreamServer::available(const QString &id) const
{
    const PhoneSession *phone = session(id);
    return phone ? phone->ring.available() : 0;
}

void AudioStreamServer::consume(const QString &id, qint64 keep)
{
    const auto it = sessions_.find(id);
    if (it != sessions_.end())
        it->second->ring.consume(keep);
}

qint64 AudioStreamServer::readResampled(const QString &id, float *out, qint64 maxOut, double ratio,
                                        double *phase)
{
    const auto it = sessions_.find(id);
    return it == sessions_.end() ? 0 : it->second->ring.readResampled(out, maxOut, ratio, phase);
}

QList<PhoneClientInfo> AudioStreamServer::clients() const
{
    QList<PhoneClientInfo> list;
    for (const auto &[id, session] : sessions_)
        list.append({id, session->name, session->sampleRate});
    return list;
}

} // namespace audio
