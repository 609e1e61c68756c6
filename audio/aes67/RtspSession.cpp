#include "audio/aes67/RtspSession.h"
#include "audio/aes67/RtspCodec.h"
#include "common/Log.h"

#include <QTcpSocket>
#include <QTimer>

namespace audio::aes67 {

namespace {

constexpr char tag[] = "[RtspSession]";
// Bytes that never make a response are thrown away beyond this.
constexpr qsizetype maxBuffer = 1048576;

bool succeeded(const rtsp::Response &response)
{
    return response.statusCode >= 200 && response.statusCode <= 299;
}

} // namespace

RtspSession::RtspSession(QObject *parent)
    : QObject(parent)
    , socket_(new QTcpSocket(this))
    , requestTimer_(new QTimer(this))
    , connectTimer_(new QTimer(this))
{
    registerMetaTypes();
    requestTimer_->setSingleShot(true);
    connectTimer_->setSingleShot(true);
    connect(socket_, &QTcpSocket::connected, this, &RtspSession::onConnected);
    connect(socket_, &QTcpSocket::disconnected, this, &RtspSession::onDisconnected);
    connect(socket_, &QTcpSocket::readyRead, this, &RtspSession::onReadyRead);
    connect(socket_, &QTcpSocket::errorOccurred, this, &RtspSession::onSocketError);
    connect(connectTimer_, &QTimer::timeout, this, &RtspSession::onConnectTimeout);
    connect(requestTimer_, &QTimer::timeout, this, &RtspSession::onRequestTimeout);
}

void RtspSession::connectToPeer(const QString &host, quint16 port)
{
    close();
    socket_->abort();
    connecting_ = true;
    connectTimer_->start(connectTimeoutMs);
    socket_->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void RtspSession::close()
{
    connecting_ = false;
    connectTimer_->stop();
    buffer_.clear();
    // Before the disconnect, whose signal may come at once and would name another cause.
    failAll(QStringLiteral("连接关闭"));
    if (socket_->state() != QAbstractSocket::UnconnectedState)
        socket_->disconnectFromHost();
}

void RtspSession::enqueue(const QString &id, rtsp::Request request)
{
    request.cseq = nextCseq_++;
    queue_.append({id, request});
    sendNext();
}

void RtspSession::sendNext()
{
    if (inFlight_ || queue_.isEmpty() || !connected_)
        return;
    inFlight_ = true;
    socket_->write(rtsp::serializeRequest(queue_.first().request));
    requestTimer_->start(requestTimeoutMs);
}

void RtspSession::failAll(const QString &error)
{
    stopRequest();
    while (!queue_.isEmpty()) {
        const PendingRequest failed = queue_.takeFirst();
        emit errorOccurred(failed.id, error);
    }
}

void RtspSession::stopRequest()
{
    inFlight_ = false;
    requestTimer_->stop();
}

void RtspSession::onConnected()
{
    connecting_ = false;
    connectTimer_->stop();
    connected_ = true;
    emit connectedChanged(true);
    sendNext();
}

void RtspSession::onReadyRead()
{
    buffer_.append(socket_->readAll());
    for (;;) {
        rtsp::Response response;
        qsizetype consumed = 0;
        const rtsp::Parse parsed
                = rtsp::parseResponse(buffer_, rtsp::maxResponseBody, response, consumed);
        if (parsed == rtsp::Parse::TooLarge) {
            // The stream's framing is lost with the refused body: fail and start afresh.
            const QString length = rtsp::findHeader(response.headers, "Content-Length");
            sntWarning(lcAes67, tag) << "response body too large, Content-Length" << length;
            failAll(QStringLiteral("RTSP 响应过长（Content-Length %1）").arg(length));
            close();
            return;
        }
        if (parsed != rtsp::Parse::Complete)
            break;
        buffer_.remove(0, consumed);
        if (inFlight_ && !queue_.isEmpty())
            finishFirst(response);
        else
            sntWarning(lcAes67, tag) << "unexpected response, ignored:" << response.statusCode;
    }
    if (buffer_.size() > maxBuffer) {
        sntWarning(lcAes67, tag) << "response buffer overflow, resetting";
        buffer_.clear();
    }
}

void RtspSession::finishFirst(const rtsp::Response &response)
{
    const PendingRequest done = queue_.takeFirst();
    stopRequest();
    const qint32 cseq = rtsp::findHeader(response.headers, "CSeq").toInt();
    if (cseq != done.request.cseq)
        sntWarning(lcAes67, tag) << "CSeq mismatch: sent" << done.request.cseq << "got" << cseq;
    if (!succeeded(response))
        sntWarning(lcAes67, tag) << "non-2xx response to" << done.request.method << done.request.url
                                 << "status" << response.statusCode << response.reason
                                 << "body:" << response.body.left(512);
    emit requestFinished(done.id, response);
    sendNext();
}

void RtspSession::onDisconnected()
{
    if (connecting_) {
        connecting_ = false;
        connectTimer_->stop();
        emit connectFailed(QStringLiteral("TCP 连接被对端关闭"));
    }
    const bool wasConnected = connected_;
    connected_ = false;
    if (!queue_.isEmpty() || inFlight_)
        failAll(QStringLiteral("连接断开"));
    stopRequest();
    buffer_.clear();
    if (wasConnected)
        emit connectedChanged(false);
}

void RtspSession::onSocketError()
{
    // A peer that closes the connection is reported by the disconnection that follows.
    if (socket_->error() == QAbstractSocket::RemoteHostClosedError && !connecting_)
        return;
    const QString text = socket_->errorString();
    if (connecting_) {
        connecting_ = false;
        connectTimer_->stop();
        emit connectFailed(QStringLiteral("TCP 连接失败: %1").arg(text));
    }
    failAll(QStringLiteral("Socket 错误: %1").arg(text));
    if (connected_) {
        connected_ = false;
        emit connectedChanged(false);
    }
}

void RtspSession::onConnectTimeout()
{
    if (!connecting_)
        return;
    connecting_ = false;
    emit connectFailed(QStringLiteral("TCP 连接超时（%1ms）").arg(connectTimeoutMs));
    socket_->abort();
}

void RtspSession::onRequestTimeout()
{
    if (!inFlight_ || queue_.isEmpty())
        return;
    emit errorOccurred(queue_.first().id,
                       QStringLiteral("RTSP 请求超时（%1ms 无响应）").arg(requestTimeoutMs));
    // The answer may still come and would be taken for the next request's: start afresh.
    failAll(QStringLiteral("请求超时后连接复位"));
    close();
}

} // namespace audio::aes67
