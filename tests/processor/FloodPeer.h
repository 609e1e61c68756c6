#pragma once

#include "tests/processor/MemoryWatch.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace snt::test {

// tests/processor/flood_peer.py: a peer posing as a processor that floods one kind of message
// ("probe", "read", "export", "page" or "socket") and tells how much of it got out.
class FloodPeer
{
public:
    static constexpr qint64 kFloodBytes = 256 * 1024 * 1024;
    // What the client may hold of a flood: its largest limit with the buffers around it, and
    // still a fifth of the flood.
    static constexpr qint64 kMemoryRiseBoundKb = 48 * 1024;

    bool start(const QString &target, const QStringList &options = {})
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/python3"),
                       QStringList{QStringLiteral(FLOOD_PEER_SCRIPT), QStringLiteral("--flood"),
                                   target, QStringLiteral("--bytes"), QString::number(kFloodBytes)}
                               + options);
        port_ = nextLine(30000).value("port").toInt();
        return port_ > 0;
    }

    ~FloodPeer()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished();
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

    // The report of the next flood: {"flood", "sent", "closed"}; empty when none comes in time.
    // The event loop runs meanwhile, for the client under test lives in this thread.
    QJsonObject nextLine(int timeoutMs = 60000)
    {
        if (!QTest::qWaitFor([this] { return process_.canReadLine(); }, timeoutMs))
            return {};
        return QJsonDocument::fromJson(process_.readLine()).object();
    }

private:
    QProcess process_;
    int port_ = 0;
};

// The next flood was cut: the client closed the connection before the peer got it all out, and
// the memory rose by less than a fifth of it since `memory` began.
inline void verifyFloodCut(FloodPeer &peer, const MemoryWatch &memory)
{
    const QJsonObject flood = peer.nextLine();
    QVERIFY2(flood.value("closed").toBool(), qPrintable(QJsonDocument(flood).toJson()));
    QVERIFY(flood.value("sent").toDouble() < FloodPeer::kFloodBytes);
    QVERIFY2(memory.riseKb() < FloodPeer::kMemoryRiseBoundKb,
             qPrintable(QStringLiteral("resident %1 kB, peak %2 kB")
                                .arg(memory.startKb())
                                .arg(memory.peakKb())));
}

} // namespace snt::test
