#pragma once

#include "audio/aes67/Types.h"

#include <QObject>

class QTcpSocket;
class QTimer;

namespace audio::aes67 {

// An RTSP client over one TCP connection. Requests are queued under their caller's id and sent
// one at a time, each with the next CSeq; every request ends in requestFinished or errorOccurred.
// The connection and each request get 5 s; trouble on the socket fails whatever is queued with a
// fixed text. A request that times out is reported with the time-out, and once more with the
// reset of the connection that follows it.
class RtspSession : public QObject
{
    Q_OBJECT
public:
    static constexpr int connectTimeoutMs = 5000;
    static constexpr int requestTimeoutMs = 5000;

    explicit RtspSession(QObject *parent = nullptr);

    // Closes any earlier connection and connects to `host`:`port`.
    void connectToPeer(const QString &host, quint16 port);
    // Disconnects and fails every queued request with "连接关闭".
    void close();
    // Queues `request` with the next CSeq; it is sent once the connection is up and the requests
    // before it are answered.
    void enqueue(const QString &id, rtsp::Request request);
    // Fails every queued request, the one in flight first, with `error`.
    void failAll(const QString &error);
    bool isConnected() const { return connected_; }

public slots:
    void onConnected();
    void onDisconnected();
    void onReadyRead();
    void onSocketError();

signals:
    void connectedChanged(bool connected);
    void connectFailed(QString error);
    void requestFinished(QString id, audio::aes67::rtsp::Response response);
    void errorOccurred(QString id, QString error);

private:
    struct PendingRequest
    {
        QString id;
        rtsp::Request request;
    };

    void sendNext();
    void finishFirst(const rtsp::Response &response);
    void onConnectTimeout();
    void onRequestTimeout();
    void stopRequest();

    QTcpSocket *socket_;
    QTimer *requestTimer_;
    QTimer *connectTimer_;
    QByteArray buffer_;
    QList<PendingRequest> queue_;
    bool inFlight_ = false;
    qint32 nextCseq_ = 1;
    bool connected_ = false;
    bool connecting_ = false;
};

} // namespace audio::aes67
