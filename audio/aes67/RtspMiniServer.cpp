#include "audio/aes67/RtspMiniServer.h"
#include "audio/aes67/Lifetime.h"
#include "audio/aes67/RtspCodec.h"
#include "audio/aes67/Sdp.h"
#include "audio/aes67/Sender.h"
#include "common/Log.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace audio::aes67 {

namespace {

constexpr char tag[] = "[RtspMiniServer]";
// A head that has not ended within this many bytes is thrown away; beyond as many bytes read and
// not yet taken, a client's requests wait in the kernel.
constexpr qsizetype maxBuffer = 65536;

const rtsp::Headers publicMethods
        = {{QStringLiteral("Public"), QStringLiteral("OPTIONS, DESCRIBE")}};

} // namespace

RtspMiniServer *RtspMiniServer::instance()
{
    static const std::unique_ptr<RtspMiniServer> server
            = makeProcessWide(new RtspMiniServer, [] { RtspMiniServer::instance()->stop(); });
    return server.get();
}

RtspMiniServer::RtspMiniServer() = default;

RtspMiniServer::~RtspMiniServer()
{
    stop();
}

bool RtspMiniServer::listen(const QHostAddress &address, quint16 port)
{
    stop();
    auto *server = new QTcpServer(this);
    if (!server->listen(address, port)) {
        const QString error = QStringLiteral("RTSP %1:%2: %3")
                                      .arg(address.toString())
                                      .arg(port)
                                      .arg(server->errorString());
        delete server;
        emit errorOccurred(error);
        return false;
    }
    server_ = server;
    port_ = server->serverPort();
    connect(server_, &QTcpServer::newConnection, this, &RtspMiniServer::onNewConnection);
    return true;
}

void RtspMiniServer::stop()
{
    if (!server_)
        return;
    for (QTcpSocket *socket : clients_.keys()) {
        disconnect(socket, nullptr, this, nullptr);
        socket->disconnectFromHost();
    }
    clients_.clear();
    server_->close();
    delete server_; // and with it the client sockets, its children
    server_ = nullptr;
}

void RtspMiniServer::onNewConnection()
{
    while (QTcpSocket *socket = server_->nextPendingConnection()) {
        clients_.insert(socket, Client());
        socket->setReadBufferSize(maxBuffer);
        connect(socket, &QTcpSocket::readyRead, this, &RtspMiniServer::onReadyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, &RtspMiniServer::onBytesWritten);
        connect(socket, &QTcpSocket::disconnected, this, &RtspMiniServer::onClientDisconnected);
    }
}

void RtspMiniServer::onReadyRead()
{
    serve(qobject_cast<QTcpSocket *>(sender()));
}

void RtspMiniServer::onBytesWritten()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    const auto client = clients_.find(socket);
    if (client == clients_.end() || !client->stalled || socket->bytesToWrite() > maxUnsentBytes)
        return;
    client->stalled = false;
    serve(socket);
}

void RtspMiniServer::onClientDisconnected()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    clients_.remove(socket);
    socket->deleteLater();
}

void RtspMiniServer::serve(QTcpSocket *socket)
{
    const auto client = clients_.find(socket);
    if (client == clients_.end() || client->stalled)
        return;
    client->buffer.append(socket->readAll());
    while (handleRequest(socket)) {
        if (socket->bytesToWrite() > maxUnsentBytes) {
            stall(socket);
            return;
        }
    }
}

void RtspMiniServer::stall(QTcpSocket *socket)
{
    const auto client = clients_.find(socket);
    if (client == clients_.end())
        return;
    client->stalled = true;
    const quint64 stall = ++client->stalls;
    QTimer::singleShot(drainTimeoutMs, socket, [this, socket, stall] {
        const auto stalled = clients_.constFind(socket);
        if (stalled == clients_.cend() || !stalled->stalled || stalled->stalls != stall)
            return;
        sntWarning(lcAes67, tag) << "client" << socket->peerAddress().toString()
                                 << "does not read its answers, disconnecting";
        socket->abort();
    });
}

bool RtspMiniServer::handleRequest(QTcpSocket *socket)
{
    const auto client = clients_.find(socket);
    if (client == clients_.end())
        return false;
    QByteArray &buffer = client->buffer;
    rtsp::Request request;
    qsizetype consumed = 0;
    switch (rtsp::parseRequest(buffer, rtsp::maxRequestBody, request, consumed)) {
    case rtsp::Parse::Incomplete:
        if (buffer.size() > maxBuffer)
            buffer.clear();
        return false;
    case rtsp::Parse::Malformed:
        buffer.remove(0, consumed);
        sendResponse(socket, request.cseq, 400, {}, {});
        return true;
    case rtsp::Parse::TooLarge:
        // The body cannot be skipped safely, so the connection goes.
        buffer.clear();
        sendResponse(socket, request.cseq, 400, {}, {});
        socket->disconnectFromHost();
        return false;
    case rtsp::Parse::Complete:
        buffer.remove(0, consumed);
        answer(socket, request);
        return true;
    }
    return false;
}

void RtspMiniServer::answer(QTcpSocket *socket, const rtsp::Request &request)
{
    const QString method = request.method.toUpper();
    if (method == QLatin1String("OPTIONS")) {
        sendResponse(socket, request.cseq, 200, publicMethods, {});
    } else if (method == QLatin1String("DESCRIBE")) {
        Sender *sender = Sender::instance();
        if (!sender->isRunning()) {
            sendResponse(socket, request.cseq, 404, {}, {});
            return;
        }
        const QByteArray sdp = buildSdp(sender->describe(socket->localAddress())).toUtf8();
        sendResponse(socket, request.cseq, 200,
                     {{QStringLiteral("Content-Type"), QStringLiteral("application/sdp")}}, sdp);
    } else {
        sendResponse(socket, request.cseq, 405, publicMethods, {});
    }
}

void RtspMiniServer::sendResponse(QTcpSocket *socket, qint32 cseq, int code,
                                  const rtsp::Headers &headers, const QByteArray &body)
{
    socket->write(rtsp::serializeResponse(code, cseq, headers, body));
}

} // namespace audio::aes67
