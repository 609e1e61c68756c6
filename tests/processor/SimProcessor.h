#pragma once

#include "processor/ProcessorClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace snt::test {

// Generous: the machine running the tests may be slow and busy.
constexpr int kPeerTimeoutMs = 60000;

// The simulated processor (tools/processor_sim.py), a Python program written from the protocol
// alone. It is driven through JSON lines on its stdin and stdout; while an answer is awaited
// the event loop runs, because the client under test lives in this thread.
class SimProcessor
{
public:
    // `prefix` runs the simulator through another program (for example into a network
    // namespace); `arguments` go to the simulator.
    bool start(const QStringList &arguments = {}, const QStringList &prefix = {})
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList command = prefix;
        command << QStringLiteral("/usr/bin/python3") << QStringLiteral(PROCESSOR_SIM_SCRIPT)
                << QStringLiteral("--control") << arguments;
        process_.start(command.takeFirst(), command);
        if (!process_.waitForStarted(kPeerTimeoutMs))
            return false;
        const QJsonObject ready = readAnswer();
        port_ = ready.value("port").toInt();
        return ready.value("event").toString() == "ready";
    }

    ~SimProcessor()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished();
    }

    int port() const { return port_; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

    QJsonObject command(const QString &op, QJsonObject fields = {})
    {
        fields["op"] = op;
        process_.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + "\n");
        const QJsonObject answer = readAnswer();
        if (!answer.value("ok").toBool())
            qWarning() << "simulated processor:" << answer.value("error").toString();
        return answer;
    }

    void set(const QJsonObject &knobs) { command("set", {{"knobs", knobs}}); }
    void seed(const QJsonObject &params) { command("seed", {{"params", params}}); }
    void fault(const QString &match, const QString &kind, QJsonObject fields = {})
    {
        fields["match"] = match;
        fields["kind"] = kind;
        command("fault", fields);
    }
    void push(const QJsonObject &message) { command("push", {{"message", message}}); }
    // From now on requests that `match` are answered with `status` and a Location header.
    void redirect(const QString &match, int status, const QString &location)
    {
        fault(match, "status",
              {{"status", status}, {"headers", QJsonObject{{"Location", location}}}});
    }

    // Every logged event of `kind` ("http", "ws_text", "ws_ping", "ws_open", "udp", "import").
    QList<QJsonObject> log(const QString &kind)
    {
        QList<QJsonObject> entries;
        const QJsonArray all = command("log").value("log").toArray();
        for (const QJsonValue &entry : all) {
            if (entry.toObject().value("kind").toString() == kind)
                entries.append(entry.toObject());
        }
        return entries;
    }
    // The JSON bodies of the HTTP requests to `path`, in order.
    QList<QJsonObject> bodies(const QString &path = QStringLiteral("/test.fcgi"))
    {
        QList<QJsonObject> result;
        for (const QJsonObject &entry : log("http")) {
            if (entry.value("path").toString() == path)
                result.append(
                        QJsonDocument::fromJson(entry.value("body").toString().toUtf8()).object());
        }
        return result;
    }
    QJsonObject state() { return command("state"); }

private:
    QJsonObject readAnswer()
    {
        if (!QTest::qWaitFor([this] { return process_.canReadLine(); }, kPeerTimeoutMs))
            return {{"error", "no answer from the simulated processor"}};
        return QJsonDocument::fromJson(process_.readLine()).object();
    }

    QProcess process_;
    int port_ = 0;
};

// The message signals a client sent, as "text|warning" lines, for comparing whole sequences.
inline QStringList messages(const QSignalSpy &spy)
{
    QStringList lines;
    for (const QList<QVariant> &args : spy)
        lines << args[0].toString() + (args[1].toBool() ? "|warning" : "");
    return lines;
}

// The redirect statuses, as rows of an int column "status".
inline void addRedirectRows()
{
    QTest::addColumn<int>("status");
    QTest::newRow("301 Moved Permanently") << 301;
    QTest::newRow("302 Found") << 302;
    QTest::newRow("303 See Other") << 303;
    QTest::newRow("307 Temporary Redirect") << 307;
    QTest::newRow("308 Permanent Redirect") << 308;
}

// Connects `client` to `sim` and waits until its level socket is open.
inline bool connectTo(ProcessorClient &client, SimProcessor &sim)
{
    client.setIp(sim.address());
    client.connectToDevice();
    return client.isConnected()
           && QTest::qWaitFor([&] { return sim.state().value("sockets").toInt() == 1; },
                              kPeerTimeoutMs);
}

} // namespace snt::test
