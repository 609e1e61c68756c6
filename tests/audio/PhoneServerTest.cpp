#include "audio/phone/AudioStreamServer.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <memory>

using audio::AudioStreamServer;
using audio::PhoneSession;

namespace {

// Generous: the machine running the tests may be slow and busy.
constexpr int kTimeoutMs = 60000;
#define WAIT_FOR(condition) QTRY_VERIFY_WITH_TIMEOUT(condition, kTimeoutMs)

// The phone stand-in: a Python script on the websockets library, which knows nothing of our
// code. Commands and answers are JSON lines; while waiting for an answer the event loop runs,
// because the server under test lives in this thread.
class PhonePeer
{
public:
    bool start()
    {
        // The system interpreter, which carries python3-websockets.
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start("/usr/bin/python3", {PHONE_PEER_SCRIPT});
        return process_.waitForStarted(kTimeoutMs);
    }

    ~PhonePeer()
    {
        process_.closeWriteChannel(); // the script closes its connections and ends
        if (!QTest::qWaitFor([this] { return process_.state() == QProcess::NotRunning; },
                             kTimeoutMs))
            process_.kill();
        process_.waitForFinished();
    }

    // Runs one command on connection `conn`; the answer, or an error answer.
    QJsonObject command(const QString &op, const QString &conn, QJsonObject fields = {})
    {
        fields["op"] = op;
        fields["conn"] = conn;
        process_.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + "\n");
        if (!QTest::qWaitFor([this] { return process_.canReadLine(); }, kTimeoutMs))
            return {{"error", "no answer from the phone peer"}};
        const QJsonObject answer = QJsonDocument::fromJson(process_.readLine()).object();
        if (!answer.value("ok").toBool())
            qWarning() << "phone peer:" << answer.value("error").toString();
        return answer;
    }

    bool send(const QString &op, const QString &conn, const QJsonObject &fields = {})
    {
        return command(op, conn, fields).value("ok").toBool();
    }

    // Sends one audio frame of 16-bit samples, followed by `extra` bytes that are no part of it.
    bool frame(const QString &conn, qint64 seq, qint64 index, const QJsonArray &samples,
               int extra = 0)
    {
        return send("frame", conn,
                    {{"seq", seq}, {"index", index}, {"samples", samples}, {"extra", extra}});
    }

    // The close code the server sent, or -1 when the connection did not close.
    int waitClosed(const QString &conn)
    {
        return command("wait_closed", conn, {{"timeout", kTimeoutMs / 1000}})
                .value("code")
                .toInt(-1);
    }

private:
    QProcess process_;
};

// The process's resident memory in KiB, as the kernel counts it.
qint64 residentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

qsizetype countLines(const QStringList &lines, const QRegularExpression &pattern)
{
    return std::count_if(lines.cbegin(), lines.cend(), [&pattern](const QString &line) {
        return pattern.match(line).hasMatch();
    });
}

QJsonArray ramp(int count, int first = 0)
{
    QJsonArray values;
    for (int i = 0; i < count; ++i)
        values.append(first + i);
    return values;
}

} // namespace

class PhoneServerTest : public QObject
{
    Q_OBJECT

private:
    AudioStreamServer *server_ = AudioStreamServer::instance();
    std::unique_ptr<PhonePeer> peer_;
    QStringList events_;

    QString url() const { return QString("ws://127.0.0.1:%1").arg(server_->wsPort()); }
    bool listenPlain() { return server_->listen(QHostAddress::LocalHost, 0, 0, 0); }

    QByteArray discover(const QByteArray &payload)
    {
        QUdpSocket socket;
        if (!socket.bind(QHostAddress::LocalHost, 0))
            return {};
        socket.writeDatagram(payload, QHostAddress::LocalHost, server_->discoveryPort());
        if (!QTest::qWaitFor([&socket] { return socket.hasPendingDatagrams(); }, kTimeoutMs))
            return {};
        return socket.receiveDatagram().data();
    }

    // Opens `conn` (to `to`, by default the plain server), introduces it as phone `id` and
    // waits for its session.
    const PhoneSession *connectPhone(const QString &conn, const QString &id = "phone-1",
                                     const QString &name = "Test phone", int rate = 48000,
                                     const QString &to = {})
    {
        const QJsonObject hello{
                {"type", "audio-hello"}, {"id", id}, {"name", name}, {"sampleRate", rate}};
        const QString text = QJsonDocument(hello).toJson(QJsonDocument::Compact);
        if (!peer_->send("open", conn, {{"url", to.isEmpty() ? url() : to}})
            || !peer_->send("text", conn, {{"text", text}}))
            return nullptr;
        return QTest::qWaitFor([&] { return server_->hasClient(id); }, kTimeoutMs)
                       ? server_->session(id)
                       : nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!server_->isListening()); // creating it starts nothing
        connect(server_, &AudioStreamServer::clientConnected, this,
                [this](const QString &id) { events_.append("+" + id); });
        connect(server_, &AudioStreamServer::clientDisconnected, this,
                [this](const QString &id) { events_.append("-" + id); });
    }

    void init()
    {
        events_.clear();
        QVERIFY(listenPlain());
        peer_ = std::make_unique<PhonePeer>();
        QVERIFY(peer_->start());
    }

    void cleanup()
    {
        server_->stop();
        peer_.reset();
        WAIT_FOR(server_->trackedSocketCount() == 0);
    }

    void discoveryAnswersOnlyTheKeyword()
    {
        QUdpSocket silent;
        QVERIFY(silent.bind(QHostAddress::LocalHost, 0));
        silent.writeDatagram("who is there?", QHostAddress::LocalHost, server_->discoveryPort());
        const QByteArray reply = discover("\x01xxPELMAR_DISCOVERyy\n");
        // The phone application reads the keys in this order; no certificate: no "wss".
        const QByteArray expected
                = "{\"type\":\"pelmar-here\",\"name\":\"" + QHostInfo::localHostName().toUtf8()
                  + "\",\"ws\":" + QByteArray::number(server_->wsPort()) + ",\"wss\":0}";
        QCOMPARE(reply, expected);
        // The reply to the later datagram has arrived, so the earlier one was handled and dropped.
        QVERIFY(!silent.hasPendingDatagrams());
    }

    void handshakeFields_data()
    {
        QTest::addColumn<QString>("fields"); // besides "type" and "id"
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("rate");
        const QString longName(100, QChar('x'));
        QTest::newRow("plain") << R"("name":"Pixel","sampleRate":44100)"
                               << "Pixel" << 44100;
        QTest::newRow("rate below range") << R"("sampleRate":4000)"
                                          << "Phone" << 8000;
        QTest::newRow("rate above range") << R"("sampleRate":500000)"
                                          << "Phone" << 192000;
        QTest::newRow("negative rate wraps high") << R"("sampleRate":-1)"
                                                  << "Phone" << 192000;
        QTest::newRow("name of spaces") << R"("name":"   ")"
                                        << "Phone" << 48000;
        QTest::newRow("name trimmed") << R"("name":"  话筒 1 ")"
                                      << "话筒 1" << 48000;
        QTest::newRow("long name cut")
                << QString(R"("name":"%1")").arg(longName) << longName.left(64) << 48000;
    }

    void handshakeFields()
    {
        QFETCH(QString, fields);
        QFETCH(QString, name);
        QFETCH(int, rate);
        QVERIFY(peer_->send("open", "a", {{"url", url()}}));
        const QString hello = R"({"type":"audio-hello","id":"phone-1",)" + fields + "}";
        QVERIFY(peer_->send("text", "a", {{"text", hello}}));
        WAIT_FOR(server_->hasClient("phone-1"));
        const QList<audio::PhoneClientInfo> clients = server_->clients();
        QCOMPARE(clients.size(), 1);
        QCOMPARE(clients.first().name, name);
        QCOMPARE(clients.first().sampleRate, quint32(rate));
        QCOMPARE(server_->sampleRate("phone-1"), quint32(rate));
        QCOMPARE(server_->session("phone-1")->ring.capacity(), qint64(rate) * 10); // 10 s
        QCOMPARE(events_, QStringList{"+phone-1"});
    }

    // Every protocol error ends the connection with close code 1000 after a warning.
    void protocolErrorsCloseTheConnection_data()
    {
        QTest::addColumn<bool>("handshake"); // whether a valid one comes first
        QTest::addColumn<QString>("op"); // "text", or "bytes" given in hex
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("warning");
        const QString invalid = "invalid handshake from 127.0.0.1, closing";
        const QString badMagic = "bad magic from Test phone, closing";
        const QString malformed
                = "malformed frame from Test phone (sampleCount: %1, size: %2), closing";
        QTest::newRow("not JSON") << false << "text"
                                  << "hello there" << invalid;
        QTest::newRow("JSON array") << false << "text"
                                    << R"(["audio-hello","x"])" << invalid;
        QTest::newRow("wrong type") << false << "text"
                                    << R"({"type":"video-hello","id":"x"})" << invalid;
        QTest::newRow("empty id") << false << "text"
                                  << R"({"type":"audio-hello","id":""})" << invalid;
        QTest::newRow("numeric id") << false << "text"
                                    << R"({"type":"audio-hello","id":42})" << invalid;
        // Frames: magic, seq, sampleIndex, sampleCount, samples.
        QTest::newRow("frame before handshake")
                << false << "bytes"
                << "514b"
                   "00000000"
                   "0000000000000000"
                   "01000000"
                   "ff7f"
                << "binary frame before handshake from 127.0.0.1, closing";
        QTest::newRow("bad magic") << true << "bytes"
                                   << "4b51"
                                      "01000000"
                                      "0400000000000000"
                                      "00000000"
                                   << badMagic;
        QTest::newRow("shorter than a header") << true << "bytes"
                                               << "514b"
                                                  "01000000"
                                                  "0400000000000000"
                                               << badMagic;
        QTest::newRow("too many samples") << true << "bytes"
                                          << "514b"
                                             "01000000"
                                             "0400000000000000"
                                             "01001000"
                                          << malformed.arg(0x100001).arg(18);
        QTest::newRow("samples missing") << true << "bytes"
                                         << "514b"
                                            "01000000"
                                            "0400000000000000"
                                            "0a000000"
                                            "0100"
                                         << malformed.arg(10).arg(20);
        // Index 2^63 - 5 with 10 samples: the end would leave the signed 64-bit range.
        QTest::newRow("index beyond signed range") << true << "bytes"
                                                   << "514b"
                                                      "01000000"
                                                      "fbffffffffffff7f"
                                                      "0a000000"
                                                              + QString(40, '0')
                                                   << malformed.arg(10).arg(38);
    }

    void protocolErrorsCloseTheConnection()
    {
        QFETCH(bool, handshake);
        QFETCH(QString, op);
        QFETCH(QString, message);
        QFETCH(QString, warning);
        QTest::ignoreMessage(QtWarningMsg, ("[PhoneAudio] " + warning).toUtf8().constData());
        if (handshake)
            QVERIFY(connectPhone("a"));
        else
            QVERIFY(peer_->send("open", "a", {{"url", url()}}));
        QVERIFY(peer_->send(op, "a", {{op == "text" ? "text" : "hex", message}}));
        QCOMPARE(peer_->waitClosed("a"), 1000);
        WAIT_FOR(server_->trackedSocketCount() == 0);
        QVERIFY(server_->clients().isEmpty());
        QCOMPARE(events_, handshake ? QStringList({"+phone-1", "-phone-1"}) : QStringList());
    }

    void framesAreDecoded()
    {
        QList<float> announced;
        connect(server_, &AudioStreamServer::samplesAppended, this,
                [&announced](const QString &, const float *data, qlonglong n) {
                    announced += QList<float>(data, data + n);
                });
        const PhoneSession *session = connectPhone("a");
        QVERIFY(session);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        // Trailing bytes after the samples are no part of the frame; an empty frame is a frame.
        QVERIFY(peer_->frame("a", 0, 0, {0, 16384, -16384, 32767, -32768, 1}, 5));
        QVERIFY(peer_->frame("a", 1, 6, {}));
        WAIT_FOR(session->frames == 2);
        disconnect(server_, &AudioStreamServer::samplesAppended, this, nullptr);

        const QList<float> expected{0.0f, 0.5f, -0.5f, 32767.0f / 32768.0f, -1.0f, 1.0f / 32768.0f};
        QList<float> stored(6);
        QCOMPARE(server_->read("phone-1", 0, 6, stored.data()), 0);
        QCOMPARE(stored, expected);
        QCOMPARE(announced, expected);
        QCOMPARE((QList<quint64>{session->samples, session->seqGaps, session->sampleGaps}),
                 (QList<quint64>{6, 0, 0}));
        QVERIFY(server_->lastPacketTime("phone-1") >= before);
        // The stream reader sees the same samples (ratio 1 needs one sample ahead).
        double phase = 0.0;
        QCOMPARE(server_->readResampled("phone-1", stored.data(), 6, 1.0, &phase), qint64(5));
        QCOMPARE(stored.first(5), expected.first(5));
        QCOMPARE(server_->available("phone-1"), qint64(1));
    }

    // The largest frame the format allows, with bytes after its samples, is taken like any other.
    void theLargestFrameIsTaken()
    {
        const PhoneSession *session = connectPhone("a");
        QVERIFY(session);
        QVERIFY(peer_->send("frame", "a",
                            {{"seq", 0},
                             {"index", 0},
                             {"samples", QJsonArray{-16384}},
                             {"repeat", 0x100000},
                             {"extra", 1000}}));
        WAIT_FOR(session->frames == 1);
        QCOMPARE(session->samples, quint64(0x100000));
        float last = 0.0f;
        QCOMPARE(server_->read("phone-1", 0x100000 - 1, 1, &last), 0);
        QCOMPARE(last, -0.5f);
    }

    // A flood of phones is held to the session limit: the rest are closed with a warning each,
    // memory grows by no more than the limit's rings, the phone that streamed before goes on
    // and one that comes after the flood is taken.
    void aFloodOfPhonesIsHeldToTheLimit()
    {
        LogCapture log;
        const PhoneSession *real = connectPhone("real", "real-phone");
        QVERIFY(real);
        const qint64 before = residentKiB();
        constexpr int flood = 150;
        QVERIFY(peer_->send("flood", "flood",
                            {{"url", url()}, {"count", flood}, {"rate", 192000}}));
        // Every flood connection has been taken by now; settled once none waits for its hello.
        WAIT_FOR(server_->trackedSocketCount() == server_->clients().size());
        const qint64 grownKiB = residentKiB() - before;
        const int sessions = int(server_->clients().size());
        qInfo() << flood << "phones at 192 kHz flooding:" << sessions
                << "sessions, resident memory grew by" << grownKiB / 1024 << "MiB";
        QVERIFY(sessions <= AudioStreamServer::maxSessions && server_->hasClient("real-phone"));
        // The limit's rings of 10 s of floats at 192 kHz, and room for the connections.
        constexpr qint64 ringKiB = 192000 * 10 * sizeof(float) / 1024;
        QVERIFY(grownKiB < AudioStreamServer::maxSessions * ringKiB + 64 * 1024);
        const QJsonObject group = peer_->command("group", "flood", {{"open", sessions - 1}});
        QCOMPARE(group.value("open").toInt(), sessions - 1);
        QCOMPARE(group.value("codes").toObject(), (QJsonObject{{"1000", flood - sessions + 1}}));
        const QRegularExpression closed(
                QString("^\\[PhoneAudio\\] (%1 phones connected, refusing flood\\d+ from "
                        "127\\.0\\.0\\.1, closing|%2 connections wait for a hello, closing the "
                        "oldest from 127\\.0\\.0\\.1)$")
                        .arg(AudioStreamServer::maxSessions)
                        .arg(AudioStreamServer::maxPendingSockets));
        QCOMPARE(countLines(log.lines(), closed), flood - sessions + 1);

        QVERIFY(peer_->frame("real", 0, 0, ramp(100)));
        WAIT_FOR(real->frames == 1);
        QVERIFY(peer_->send("close_group", "flood"));
        WAIT_FOR(server_->trackedSocketCount() == 1);
        const PhoneSession *late = connectPhone("late", "late-phone");
        QVERIFY(late);
        QVERIFY(peer_->frame("late", 0, 0, ramp(10, 5)));
        WAIT_FOR(late->frames == 1);
        float first = 0.0f;
        QCOMPARE(server_->read("late-phone", 0, 1, &first), 0);
        QCOMPARE(first, 5.0f / 32768.0f);
    }

    // A message that never ends is cut, close code 1009 and a warning, once it outgrows what a
    // phone can send: before its hello that is a hello, after it the largest frame. Until then
    // the server holds only what has come.
    void endlessMessagesAreCut_data()
    {
        QTest::addColumn<bool>("hello"); // whether the connection introduced itself first
        QTest::addColumn<int>("opcode"); // 1 text, 2 binary
        QTest::addColumn<int>("fragment"); // bytes a fragment; 0: one frame of about 2 GB
        QTest::newRow("a frame that announces 2 GB") << true << 2 << 0;
        QTest::newRow("fragments without end") << true << 2 << 65536;
        QTest::newRow("a hello without end") << false << 1 << 4096;
    }

    void endlessMessagesAreCut()
    {
        QFETCH(bool, hello);
        QFETCH(int, opcode);
        QFETCH(int, fragment);
        LogCapture log;
        const PhoneSession *real = connectPhone("real", "real-phone");
        QVERIFY(real);
        const qint64 before = residentKiB();
        constexpr qint64 budget = 256 << 20;
        QJsonObject fields{{"url", url()},
                           {"opcode", opcode},
                           {"fragment", fragment},
                           {"declared", 0x7ffffff0},
                           {"budget", budget}};
        if (hello)
            fields["hello"] = R"({"type":"audio-hello","id":"endless","name":"Endless"})";
        const QJsonObject answer = peer_->command("unfinished", "raw", fields);
        const qint64 grownKiB = residentKiB() - before;
        qInfo() << "sent" << qint64(answer.value("sent").toDouble()) / 1024
                << "KiB, resident memory grew by" << grownKiB / 1024 << "MiB";
        QCOMPARE(answer.value("code").toInt(), 1009);
        QVERIFY(answer.value("sent").toDouble() < budget / 4);
        QVERIFY(grownKiB < 64 * 1024);
        const QString warning = QString("[PhoneAudio] message over the size limit from %1, closed")
                                        .arg(hello ? "Endless" : "127.0.0.1");
        WAIT_FOR(log.contains(warning));
        WAIT_FOR(server_->trackedSocketCount() == 1);
        QVERIFY(peer_->frame("real", 0, 0, ramp(100)));
        WAIT_FOR(real->frames == 1);
    }

    // Missing sequence numbers and sample indices are counted; a restarted capture counts one
    // of each. At 8000 Hz the ring holds 80000 samples; what nobody read counts as dropped.
    void gapsRestartsAndDrops()
    {
        const PhoneSession *session = connectPhone("a", "phone-1", "Gappy", 8000);
        QVERIFY(session);
        QVERIFY(peer_->frame("a", 5, 0, ramp(100, 1)));
        QVERIFY(peer_->frame("a", 9, 150, ramp(100, 1001)));
        WAIT_FOR(session->frames == 2);
        QCOMPARE(session->seqGaps, quint64(3)); // 6, 7, 8 missing
        QCOMPARE(session->sampleGaps, quint64(50)); // [100, 150) missing
        QCOMPARE(server_->read("phone-1", 90, 20, nullptr), 3);
        QVERIFY(peer_->frame("a", 2, 120, ramp(10, 7))); // sequence and index both go back
        WAIT_FOR(session->frames == 3);
        QCOMPARE(session->seqGaps, quint64(4));
        QCOMPARE(session->sampleGaps, quint64(51));
        float first = 0.0f;
        QCOMPARE(server_->read("phone-1", 120, 1, &first), 0);
        QCOMPARE(first, 7.0f / 32768.0f);

        // 90000 samples more overflow the ring; skipped samples count too, from the next frame on.
        for (int i = 0; i < 3; ++i)
            QVERIFY(peer_->frame("a", 3 + i, 130 + 30000 * i, ramp(30000, -15000)));
        WAIT_FOR(session->frames == 6);
        QCOMPARE(session->bufferDropped, quint64(10010));
        server_->consume("phone-1", 1000);
        QVERIFY(peer_->frame("a", 6, 90130, ramp(10)));
        WAIT_FOR(session->frames == 7);
        QCOMPARE(session->bufferDropped, quint64(10010 + 79000));
        QCOMPARE((QList<quint64>{session->seqGaps, session->sampleGaps}), (QList<quint64>{4, 51}));
    }

    // A reconnect under the same id replaces the session; the old socket's late disconnection
    // does not touch the new one. Every new socket is taken as new, never as a dead one's
    // session (a socket may be allocated where a closed one was), and none stays tracked.
    void reconnectsAndDisconnectsForgetOldSockets()
    {
        QVERIFY(connectPhone("old", "phone-1", "First"));
        QVERIFY(peer_->frame("old", 0, 0, ramp(10)));
        WAIT_FOR(server_->writeIndex("phone-1") == 10);
        QVERIFY(connectPhone("new", "phone-1", "Second"));
        QCOMPARE(peer_->waitClosed("old"), 1000);
        WAIT_FOR(events_ == (QStringList{"+phone-1", "-phone-1", "+phone-1"}));
        QCOMPARE(server_->clients().size(), 1);
        QCOMPARE(server_->clients().first().name, QString("Second"));
        QCOMPARE(server_->writeIndex("phone-1"), quint64(0)); // a fresh ring
        QVERIFY(peer_->frame("new", 0, 500, ramp(10)));
        WAIT_FOR(server_->writeIndex("phone-1") == 510);
        QCOMPARE(server_->trackedSocketCount(), 1);
        QVERIFY(peer_->send("close", "new"));
        QVERIFY(peer_->send("open", "pending", {{"url", url()}}));
        QVERIFY(peer_->send("close", "pending"));
        WAIT_FOR(server_->trackedSocketCount() == 0);

        for (int round = 0; round < 8; ++round) {
            const QString conn = QString("c%1").arg(round);
            QVERIFY(connectPhone(conn, "cycling"));
            QVERIFY(peer_->frame(conn, 0, round * 100, ramp(10)));
            WAIT_FOR(server_->writeIndex("cycling") == quint64(round) * 100 + 10);
            QVERIFY(peer_->send("close", conn));
            WAIT_FOR(!server_->hasClient("cycling"));
            WAIT_FOR(server_->trackedSocketCount() == 0);
        }
        QCOMPARE(events_.size(), 4 + 16);
    }

    void stopClosesEverything()
    {
        QVERIFY(connectPhone("phone"));
        QVERIFY(peer_->send("open", "pending", {{"url", url()}}));
        WAIT_FOR(server_->trackedSocketCount() == 2);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[PhoneAudio\\] already listening"));
        QVERIFY(!listenPlain());

        server_->stop();
        QVERIFY(!server_->isListening());
        QCOMPARE(server_->wsPort() + server_->discoveryPort(), 0);
        QCOMPARE(server_->trackedSocketCount(), 0);
        QCOMPARE(events_, (QStringList{"+phone-1", "-phone-1"}));
        QCOMPARE(peer_->waitClosed("phone"), 1000);
        QCOMPARE(peer_->waitClosed("pending"), 1000);
        server_->stop(); // nothing listens: nothing happens
        QCOMPARE(events_.size(), 2);

        // Readers asking for a phone that is gone get the neutral answers.
        float out[4] = {};
        double phase = 0.0;
        QCOMPARE(server_->read("phone-1", 0, 4, out), 2);
        QCOMPARE(server_->sampleRate("phone-1"), quint32(48000));
        QCOMPARE(server_->lastPacketTime("phone-1") + server_->available("phone-1"), qint64(0));
        QCOMPARE(server_->writeIndex("phone-1"), quint64(0));
        QCOMPARE(server_->readResampled("phone-1", out, 4, 1.0, &phase), qint64(0));

        // A port taken elsewhere fails the start and leaves nothing open.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[PhoneAudio\\] cannot listen on"));
        QVERIFY(!server_->listen(QHostAddress::LocalHost, squatter.serverPort(), 0, 0));
        QVERIFY(!server_->isListening());
        QCOMPARE(server_->discoveryPort(), quint16(0));
        QVERIFY(listenPlain());
    }

    void secureServer()
    {
        const QString openssl = QStandardPaths::findExecutable("openssl");
        if (!QSslSocket::supportsSsl() || openssl.isEmpty())
            SNT_SKIP("a TLS backend and openssl are needed");
        QTemporaryDir dir;
        QProcess make;
        make.start(openssl,
                   {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-keyout",
                    dir.filePath("key.pem"), "-out", dir.filePath("cert.pem")});
        QVERIFY(make.waitForFinished(kTimeoutMs) && make.exitCode() == 0);
        QFile keyFile(dir.filePath("key.pem"));
        QVERIFY(keyFile.open(QIODevice::ReadOnly));
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(QSslCertificate::fromPath(dir.filePath("cert.pem")));
        tls.setPrivateKey(QSslKey(&keyFile, QSsl::Ec));

        server_->stop();
        QVERIFY(server_->listen(QHostAddress::LocalHost, 0, 0, 0, tls));
        QVERIFY(server_->wssPort() != 0);
        const QJsonObject announce = QJsonDocument::fromJson(discover("PELMAR_DISCOVER")).object();
        QCOMPARE(announce.value("wss").toInt(), int(server_->wssPort()));
        const QString secure = QString("wss://127.0.0.1:%1").arg(server_->wssPort());
        QVERIFY(connectPhone("secure", "phone-tls", "TLS", 48000, secure));
        QVERIFY(peer_->frame("secure", 0, 0, {16384, 16384}));
        WAIT_FOR(server_->writeIndex("phone-tls") == 2);
        float first = 0.0f;
        QCOMPARE(server_->read("phone-tls", 1, 1, &first), 0);
        QCOMPARE(first, 0.5f);
    }
};

SNT_TEST_MAIN(PhoneServerTest)
#include "PhoneServerTest.moc"
