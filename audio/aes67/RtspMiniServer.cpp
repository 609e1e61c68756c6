#include "audio/aes67/RtspMiniServer.h"
#include "audio/aes67/Lifetime.h"
#include "audio/aes67/RtspCodec.h"
#include "audio/aes67/Sdp.h"
#include "audio/aes67/Sender.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace audio::aes67 {

namespace {

// A head that has not ended within this many bytes is thrown away.
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
    for (QTcpSocket *socket : buffers_.keys()) {
        disconnect(socket, nullptr, this, nullptr);
        socket->disconnectFromHost();
    }
    buffers_.clear();
    server_->close();
    delete server_; // and with it the client sockets, its children
    server_ = nullptr;
}

void RtspMiniServer::onNewConnection()
{
    while (QTcpSocket *socket = server_->nextPendingConnection()) {
        buffers_.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, &RtspMiniServer::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, &RtspMiniServer::onClientDisconnected);
    }
}

void RtspMiniServer::onReadyRead()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    const auto buffer = buffers_.find(socket);
    if (buffer == buffers_.end())
        return;
    buffer->append(socket->readAll());
    while (handleRequest(socket)) { }
}

void RtspMiniServer::onClientDisconnected()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    buffers_.remove(socket);
    socket->deleteLater();
}

bool RtspMiniServer::handleRequest(QTcpSocket *socket)
{
    const auto buffer = buffers_.find(socket);
    if (buffer == buffers_.end())
        return false;
    rtsp::Request request;
    qsizetype consumed = 0;
    switch (rtsp::parseRequest(*buffer, rtsp::maxRequestBody, request, consumed)) {
    case rtsp::Parse::Incomplete:
        if (buffer->size() > maxBuffer)
            buffer->clear();
        return false;
    case rtsp::Parse::Malformed:
        buffer->remove(0, consumed);
        sendResponse(socket, request.cseq, 400, {}, {});
        return true;
    case rtsp::Parse::TooLarge:
        // The body cannot be skipped safely, so the connection goes.
        buffer->clear();
        sendResponse(socket, request.cseq, 400, {}, {});
        socket->disconnectFromHost();
        return false;
    case rtsp::Parse::Complete:
        buffer->remove(0, consumed);
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
