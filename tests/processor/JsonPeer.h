#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

namespace snt::test {

// A plain HTTP/1.1 peer on 127.0.0.1, written from the protocol's text: whatever it is asked,
// with whatever method, it answers 200 with one JSON object and closes the connection. It keeps
// every connection it accepted and every whole request (head and body) it read. It lives in the
// test's thread, so it answers while the client under test waits in its event loops.
class JsonPeer : public QObject
{
public:
    explicit JsonPeer(QByteArray answer)
        : answer_(std::move(answer))
    {
        connect(&server_, &QTcpServer::newConnection, this, &JsonPeer::accept);
    }

    bool listen() { return server_.listen(QHostAddress::LocalHost); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server_.serverPort()); }

    int connections() const { return connections_ + (server_.hasPendingConnections() ? 1 : 0); }
    const QList<QByteArray> &requests() const { return requests_; }
    void clear()
    {
        connections_ = 0;
        requests_.clear();
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = server_.nextPendingConnection()) {
            ++connections_;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                pending_.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void read(QTcpSocket *socket)
    {
        QByteArray &received = pending_[socket];
        received += socket->readAll();
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd < 0 || received.size() < headEnd + 4 + contentLength(received.left(headEnd)))
            return;
        requests_.append(received);
        pending_.remove(socket);
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                      + QByteArray::number(answer_.size()) + "\r\nConnection: close\r\n\r\n"
                      + answer_);
        socket->disconnectFromHost();
    }

    // The length the head announces for the body; none announced: no body.
    static qsizetype contentLength(const QByteArray &head)
    {
        for (const QByteArray &line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
                return line.mid(colon + 1).trimmed().toLongLong();
        }
        return 0;
    }

    QTcpServer server_;
    QByteArray answer_;
    int connections_ = 0;
    QList<QByteArray> requests_;
    QHash<QTcpSocket *, QByteArray> pending_;
};

} // namespace snt::test
