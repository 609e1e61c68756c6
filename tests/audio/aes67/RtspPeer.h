#pragma once

#include "NetnsPeers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// The scripted RTSP device of rtsp_peer.py (the system's Python, sharing nothing with the
// program), here or in the child namespace, with the requests it read.
class RtspPeer
{
public:
    bool start(const QString &address, const QJsonObject &script = {}, quint16 port = 0,
               bool inChild = false)
    {
        peer_.start("/usr/bin/python3",
                    {QFINDTESTDATA("rtsp_peer.py"), address, QString::number(port),
                     QString::fromUtf8(QJsonDocument(script).toJson(QJsonDocument::Compact))},
                    inChild);
        if (!peer_.waitFor("listening \\d+", 10000))
            return false;
        port_ = quint16(
                QRegularExpression("listening (\\d+)").match(peer_.output()).captured(1).toUInt());
        return true;
    }

    quint16 port() const { return port_; }
    QString output() { return peer_.output(); }
    // Ends the device, and with it every connection to it.
    void stop() { peer_.stop(); }

    QList<QJsonObject> requests()
    {
        QList<QJsonObject> list;
        for (const QString &line : peer_.output().split('\n')) {
            if (line.startsWith('{'))
                list.append(QJsonDocument::fromJson(line.toUtf8()).object());
        }
        return list;
    }

    QStringList methods()
    {
        QStringList list;
        for (const QJsonObject &request : requests())
            list.append(request.value("method").toString());
        return list;
    }

    bool waitForRequests(int count, int ms)
    {
        return QTest::qWaitFor([&] { return requests().size() >= count; }, ms);
    }

    // A request's header value, "-" when it has none of that name.
    static QString header(const QJsonObject &request, const QString &name)
    {
        for (const QJsonValue &pair : request.value("headers").toArray()) {
            if (pair.toArray().at(0).toString().compare(name, Qt::CaseInsensitive) == 0)
                return pair.toArray().at(1).toString();
        }
        return QStringLiteral("-");
    }

private:
    netns::Peer peer_;
    quint16 port_ = 0;
};
