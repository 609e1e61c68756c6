#pragma once

#include "audio/aes67/Types.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>

class QTcpServer;
class QTcpSocket;

namespace audio::aes67 {

// The process-wide RTSP responder through which devices fetch the own stream's SDP: OPTIONS and
// DESCRIBE are answered, every other method gets 405. The sender starts it with the stream and
// stops it with the stream; a DESCRIBE while the sender is stopped gets 404.
//
// Every complete request in a connection's buffer is answered in turn, so pipelined requests
// never wait for more data. A complete head that is not a request is answered 400 and dropped;
// a body announced beyond 64 KiB is answered 400 and the connection closed.
//
// A client that sends requests without reading the answers cannot make the responder hold their
// output without bound: once more than 64 KiB of answers wait to be sent, its requests are no
// longer read (its own sending then stalls) until they drain; a client that does not drain them
// within 5 s is disconnected.
class RtspMiniServer : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 maxUnsentBytes = 64 * 1024;
    static constexpr int drainTimeoutMs = 5000;

    static RtspMiniServer *instance();
    ~RtspMiniServer() override;

    // Listens on `address`:`port`, 0 for a free port the system picks; port() then tells which.
    // False, with errorOccurred, when the port cannot be had.
    bool listen(const QHostAddress &address, quint16 port);
    // Closes every connection and the listening socket.
    void stop();
    bool isListening() const { return server_ != nullptr; }
    // The port listened on, or the one the next start of the sender listens on.
    quint16 port() const { return port_; }

    // Writes one response in a single write.
    void sendResponse(QTcpSocket *socket, qint32 cseq, int code, const rtsp::Headers &headers,
                      const QByteArray &body);

public slots:
    void onNewConnection();
    void onReadyRead();
    void onBytesWritten();
    void onClientDisconnected();

signals:
    void errorOccurred(QString message);

private:
    // One connection: the bytes read and not yet taken as requests, whether its requests wait
    // for its answers to drain, and how many times they have.
    struct Client
    {
        QByteArray buffer;
        bool stalled = false;
        quint64 stalls = 0;
    };

    RtspMiniServer();
    // Reads what the socket holds and answers the complete requests, as long as their answers
    // are not piling up unsent.
    void serve(QTcpSocket *socket);
    // Answers the request at the front of the socket's buffer; false when none is complete or
    // the connection is being closed.
    bool handleRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const rtsp::Request &request);
    void stall(QTcpSocket *socket);

    QTcpServer *server_ = nullptr;
    quint16 port_ = rtspDefaultPort;
    QHash<QTcpSocket *, Client> clients_;
};

} // namespace audio::aes67
