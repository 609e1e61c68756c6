#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// What the network tests share: the namespace scripts/netns-run.sh made for them, and peer
// programs (ptp4l, ffmpeg, tshark, python3-zeroconf, the scripted RTSP device) run here or in the
// child namespace.
namespace netns {

inline bool inside()
{
    return !qEnvironmentVariableIsEmpty("SNT_NETNS_CHILD");
}

// Ends the test run unless it is inside its namespace: a skip on a developer's machine that
// refuses namespaces, a failure under CI.
#define SNT_REQUIRE_NETNS() \
    do { \
        if (!netns::inside()) { \
            if (qgetenv("CI") == "true") \
                QFAIL("network tests must run through scripts/netns-run.sh"); \
            QSKIP("not inside a network namespace of the tests' own"); \
        } \
    } while (false)

inline QNetworkInterface interface()
{
    return QNetworkInterface::interfaceFromName(qEnvironmentVariable("SNT_NETNS_IF"));
}
inline QHostAddress address()
{
    return QHostAddress(qEnvironmentVariable("SNT_NETNS_ADDR"));
}
inline QString peerAddress()
{
    return qEnvironmentVariable("SNT_NETNS_PEER");
}

// One peer process; its output is collected as it comes, and it is ended (by its own pid) when
// the peer goes away.
class Peer
{
public:
    Peer() { process_.setProcessChannelMode(QProcess::MergedChannels); }
    ~Peer() { stop(); }

    void start(const QString &program, const QStringList &args, bool inChild)
    {
        if (inChild) {
            const QString ns = "--net=/proc/" + qEnvironmentVariable("SNT_NETNS_CHILD") + "/ns/net";
            process_.start("nsenter", QStringList{ns, program} + args);
        } else {
            process_.start(program, args);
        }
        process_.waitForStarted(5000);
    }

    // Waits (running the event loop) until the output holds a match.
    bool waitFor(const QString &pattern, int ms)
    {
        const QRegularExpression re(pattern);
        return QTest::qWaitFor([&] { return re.match(output()).hasMatch(); }, ms);
    }

    bool waitForExit(int ms)
    {
        return QTest::qWaitFor([&] { return process_.state() == QProcess::NotRunning; }, ms);
    }

    // Asks the peer to finish (SIGTERM), then makes sure it has.
    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }

    QString output()
    {
        text_ += QString::fromUtf8(process_.readAll());
        return text_;
    }
    int exitCode() const { return process_.exitCode(); }
    // For a peer started here (not in the child namespace): its own process id.
    qint64 processId() const { return process_.processId(); }

private:
    QProcess process_;
    QString text_;
};

// A tshark capture on this side's interface into `file`, ready once tshark says so: "Capturing
// on" comes before the capture runs, "Capture started" once it does.
inline bool startCapture(Peer &tshark, const QString &file, const QString &filter)
{
    tshark.start("tshark",
                 {"-q", "-i", qEnvironmentVariable("SNT_NETNS_IF"), "-f", filter, "-w", file},
                 false);
    return tshark.waitFor("Capture started", 10000);
}

// Ends a capture once what was sent last has had time to reach the file.
inline void stopCapture(Peer &tshark)
{
    QTest::qWait(500);
    tshark.stop();
}

// tshark's fields of every packet of a capture that matches `display`, one list per packet.
inline QList<QStringList> dissect(const QString &file, const QString &display,
                                  const QStringList &fields, const QStringList &extra = {})
{
    QStringList args = QStringList{"-r",     file, "-Y",           display, "-T",
                                   "fields", "-E", "separator=/t", "-E",    "occurrence=f"}
                       + extra;
    for (const QString &field : fields)
        args << "-e" << field;
    QProcess tshark;
    tshark.start("tshark", args);
    tshark.waitForFinished(60000);
    QList<QStringList> rows;
    for (const QByteArray &line : tshark.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            rows.append(QString::fromUtf8(line).split('\t'));
    }
    return rows;
}

} // namespace netns
