#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QTimer>

namespace snt::test {

// Runs the event loop until `done` holds, for at most `timeoutMs`. Unlike QTest::qWaitFor it
// sleeps only while no event is due, so a test can take thousands of short steps.
template<typename Predicate>
bool waitUntil(Predicate done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wakeUp; // bounds each wait, so the deadline is seen without events
    wakeUp.start(50);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The phone emulator (phone_emulator.py, on Debian's python3-websockets): a phone that streams a
// synthesised signal at a chosen clock offset, knowing nothing of our code but the wire format.
// Each command waits for the emulator's answer while the event loop runs, because the phone
// server under test lives in the test's thread.
class PhoneEmulator
{
public:
    static constexpr int timeoutMs = 120000;

    explicit PhoneEmulator(const QString &script)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start("/usr/bin/python3", {script});
    }

    ~PhoneEmulator()
    {
        process_.closeWriteChannel(); // the emulator closes its connection and ends
        if (!QTest::qWaitFor([this] { return process_.state() == QProcess::NotRunning; },
                             timeoutMs))
            process_.kill();
        process_.waitForFinished();
    }

    // The answer, or an answer with "ok" false and the "error".
    QJsonObject command(const QString &op, QJsonObject fields = {})
    {
        fields["op"] = op;
        process_.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + "\n");
        if (!waitUntil([this] { return process_.canReadLine(); }, timeoutMs))
            return {{"ok", false}, {"error", "no answer from the phone emulator"}};
        const QJsonObject answer = QJsonDocument::fromJson(process_.readLine()).object();
        if (!answer.value("ok").toBool())
            qWarning() << "phone emulator:" << answer.value("error").toString();
        return answer;
    }

    bool open(quint16 port, const QString &id, int rate = 48000)
    {
        return ok(command(
                "open",
                {{"url", QString("ws://127.0.0.1:%1").arg(port)}, {"id", id}, {"rate", rate}}));
    }
    bool signal(const QJsonObject &settings) { return ok(command("signal", settings)); }
    // The next sample index the phone will send, or -1 on failure.
    qint64 advance(qint64 untilMs) { return end(command("advance", {{"until_ms", untilMs}})); }
    qint64 stream(double seconds, const QJsonArray &events = {}, double speed = 1.0)
    {
        return end(command("stream", {{"seconds", seconds}, {"speed", speed}, {"events", events}}));
    }

private:
    static bool ok(const QJsonObject &answer) { return answer.value("ok").toBool(); }
    static qint64 end(const QJsonObject &answer)
    {
        return ok(answer) ? answer.value("end").toInteger(-1) : -1;
    }

    QProcess process_;
};

} // namespace snt::test
