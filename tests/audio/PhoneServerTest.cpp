#include "audio/AudioStreamServer.h"
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

namespace {

// Generous: the machine running the tests may be slow and busy.
constexpr int kTimeoutMs = 60000;

// The phone stand-in: a Python script on the websockets library, which knows nothing of our
// code. Commands and answers are JSON lines; while waiting for an answer the event loop runs,
// because the server under test lives in this thread.
class PhonePeer {
public:
    bool start()
    {
        QString python = "/usr/bin/python3";  // the system interpreter carries python3-websockets
        if (!QFile::exists(python))
            python = QStandardPaths::findExecutable("python3");
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(python, {PHONE_PEER_SCRIPT});
        return process_.waitForStarted(kTimeoutMs);
    }

    ~PhonePeer()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.write("{\"op\":\"quit\"}\n");
        process_.closeWriteChannel();
        if (!QTest::qWaitFor([this] { return process_.state() == QProcess::NotRunning; },
                             kTimeoutMs))
            process_.kill();
        process_.waitForFinished();
    }

    QJsonObject command(const QJsonObject& command)
    {
        process_.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + "\n");
        if (!QTest::qWaitFor([this] { return process_.canReadLine(); }, kTimeoutMs))
            return {{"ok", false}, {"error", "no answer from the phone peer"}};
        return QJsonDocument::fromJson(process_.readLine()).object();
    }

    bool open(const QString& conn, const QString& url)
    {
        return ok(command({{"op", "open"}, {"conn", conn}, {"url", url}}));
    }

    bool text(const QString& conn, const QString& text)
    {
        return ok(command({{"op", "text"}, {"conn", conn}, {"text", text}}));
    }

    bool hello(const QString& conn, const QString& id, const QString& name = "Test phone",
               int rate = 48000)
    {
        const QJsonObject message{
            {"type", "audio-hello"}, {"id", id}, {"name", name}, {"sampleRate", rate}};
        return text(conn, QJsonDocument(message).toJson(QJsonDocument::Compact));
    }

    // Sends one audio frame; `extra` may override header fields or add trailing bytes.
    bool frame(const QString& conn, quint32 seq, quint64 index, const QList<int>& samples,
               const QJsonObject& extra = {})
    {
        QJsonObject cmd = extra;
        cmd["op"] = "frame";
        cmd["conn"] = conn;
        cmd["seq"] = qint64(seq);
        cmd["index"] = qint64(index);
        QJsonArray values;
        for (int s : samples)
            values.append(s);
        cmd["samples"] = values;
        return ok(command(cmd));
    }

    // The close code the server sent, or -1 when the connection did not close.
    int waitClosed(const QString& conn)
    {
        const QJsonObject answer =
            command({{"op", "wait_closed"}, {"conn", conn}, {"timeout", kTimeoutMs / 1000}});
        return ok(answer) ? answer.value("code").toInt(-1) : -1;
    }

    bool close(const QString& conn) { return ok(command({{"op", "close"}, {"conn", conn}})); }

private:
    static bool ok(const QJsonObject& answer)
    {
        if (!answer.value("ok").toBool())
            qWarning() << "phone peer:" << answer.value("error").toString();
        return answer.value("ok").toBool();
    }

    QProcess process_;
};

QList<int> ramp(int count, int first = 0)
{
    QList<int> values;
    for (int i = 0; i < count; ++i)
        values.append(first + i);
    return values;
}

}  // namespace

class PhoneServerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void discoveryAnswersOnlyTheKeyword();
    void handshakeFields_data();
    void handshakeFields();
    void invalidStartIsClosed_data();
    void invalidStartIsClosed();
    void framesAreDecoded();
    void malformedFrameEndsSession_data();
    void malformedFrameEndsSession();
    void sequenceAndIndexGaps();
    void overwrittenSamplesAreCountedAsDropped();
    void reconnectReplacesSession();
    void disconnectsForgetTheirSockets();
    void stopClosesEverything();
    void secureServer();
    void listenFailsWithoutLeavingAnythingOpen();
    void readersWithoutSession();

private:
    QString url() const { return QString("ws://127.0.0.1:%1").arg(server_->wsPort()); }
    bool listenPlain() { return server_->listen(QHostAddress::LocalHost, 0, 0, 0); }
    QByteArray discover(const QByteArray& payload);

    AudioStreamServer* server_ = nullptr;
    std::unique_ptr<PhonePeer> peer_;
    QStringList events_;
};

void PhoneServerTest::initTestCase()
{
    server_ = AudioStreamServer::instance();
    QVERIFY(!server_->isListening());  // creating it starts nothing
    connect(server_, &AudioStreamServer::clientConnected, this,
            [this](const QString& id) { events_.append("+" + id); });
    connect(server_, &AudioStreamServer::clientDisconnected, this,
            [this](const QString& id) { events_.append("-" + id); });
}

void PhoneServerTest::init()
{
    events_.clear();
    QVERIFY(listenPlain());
    peer_ = std::make_unique<PhonePeer>();
    QVERIFY(peer_->start());
}

void PhoneServerTest::cleanup()
{
    server_->stop();
    peer_.reset();
    QTRY_COMPARE_WITH_TIMEOUT(server_->trackedSocketCount(), 0, kTimeoutMs);
}

QByteArray PhoneServerTest::discover(const QByteArray& payload)
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost, 0))
        return {};
    socket.writeDatagram(payload, QHostAddress::LocalHost, server_->discoveryPort());
    if (!QTest::qWaitFor([&socket] { return socket.hasPendingDatagrams(); }, kTimeoutMs))
        return {};
    return socket.receiveDatagram().data();
}

void PhoneServerTest::discoveryAnswersOnlyTheKeyword()
{
    QVERIFY(server_->discoveryPort() != 0);
    QUdpSocket silent;
    QVERIFY(silent.bind(QHostAddress::LocalHost, 0));
    silent.writeDatagram("who is there?", QHostAddress::LocalHost, server_->discoveryPort());

    const QByteArray reply = discover("\x01xxPELMAR_DISCOVERyy\n");
    // The phone application reads the keys in this order.
    QVERIFY2(reply.startsWith("{\"type\":\"pelmar-here\",\"name\":"), reply.constData());
    QJsonParseError error;
    const QJsonObject announce = QJsonDocument::fromJson(reply, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(announce.value("type").toString(), QString("pelmar-here"));
    QCOMPARE(announce.value("name").toString(), QHostInfo::localHostName());
    QCOMPARE(announce.value("ws").toInt(), int(server_->wsPort()));
    QCOMPARE(announce.value("wss").toInt(), 0);  // no certificate, no secure server
    QCOMPARE(announce.size(), 4);

    // The reply to the later datagram has arrived, so the earlier one was handled and dropped.
    QVERIFY(!silent.hasPendingDatagrams());
}

void PhoneServerTest::handshakeFields_data()
{
    QTest::addColumn<QString>("hello");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("rate");

    const QString longName(100, QChar('x'));
    QTest::newRow("plain") << R"({"type":"audio-hello","id":"phone-1","name":"Pixel","sampleRate":44100})"
                           << "Pixel" << 44100;
    QTest::newRow("rate below range")
        << R"({"type":"audio-hello","id":"phone-1","name":"A","sampleRate":4000})" << "A" << 8000;
    QTest::newRow("rate above range")
        << R"({"type":"audio-hello","id":"phone-1","name":"A","sampleRate":500000})" << "A"
        << 192000;
    QTest::newRow("negative rate wraps high")
        << R"({"type":"audio-hello","id":"phone-1","name":"A","sampleRate":-1})" << "A" << 192000;
    QTest::newRow("missing rate") << R"({"type":"audio-hello","id":"phone-1","name":"A"})" << "A"
                                  << 48000;
    QTest::newRow("name of spaces") << R"({"type":"audio-hello","id":"phone-1","name":"   "})"
                                    << "Phone" << 48000;
    QTest::newRow("missing name") << R"({"type":"audio-hello","id":"phone-1"})" << "Phone"
                                  << 48000;
    QTest::newRow("name trimmed") << R"({"type":"audio-hello","id":"phone-1","name":"  话筒 1 "})"
                                  << "话筒 1" << 48000;
    QTest::newRow("long name cut")
        << QString(R"({"type":"audio-hello","id":"phone-1","name":"%1"})").arg(longName)
        << longName.left(64) << 48000;
}

void PhoneServerTest::handshakeFields()
{
    QFETCH(QString, hello);
    QFETCH(QString, name);
    QFETCH(int, rate);

    QVERIFY(peer_->open("a", url()));
    QVERIFY(peer_->text("a", hello));
    QTRY_VERIFY_WITH_TIMEOUT(server_->hasClient("phone-1"), kTimeoutMs);

    const QList<audio::PhoneClientInfo> clients = server_->clients();
    QCOMPARE(clients.size(), 1);
    QCOMPARE(clients.first().id, QString("phone-1"));
    QCOMPARE(clients.first().name, name);
    QCOMPARE(clients.first().sampleRate, quint32(rate));
    QCOMPARE(server_->sampleRate("phone-1"), quint32(rate));
    QCOMPARE(server_->session("phone-1")->ring.capacity(), qint64(rate) * 10);  // 10 s of audio
    QCOMPARE(events_, QStringList{"+phone-1"});
    QCOMPARE(server_->writeIndex("phone-1"), quint64(0));  // nothing streamed yet
}

void PhoneServerTest::invalidStartIsClosed_data()
{
    QTest::addColumn<QString>("message");  // empty: a binary frame before any handshake
    QTest::addColumn<QString>("warning");

    const QString invalid = "[PhoneAudio] invalid handshake from 127.0.0.1, closing";
    QTest::newRow("not JSON") << "hello there" << invalid;
    QTest::newRow("JSON array") << R"(["audio-hello","x"])" << invalid;
    QTest::newRow("wrong type") << R"({"type":"video-hello","id":"x"})" << invalid;
    QTest::newRow("empty id") << R"({"type":"audio-hello","id":""})" << invalid;
    QTest::newRow("missing id") << R"({"type":"audio-hello","name":"A"})" << invalid;
    QTest::newRow("numeric id") << R"({"type":"audio-hello","id":42})" << invalid;
    QTest::newRow("frame before handshake")
        << QString() << "[PhoneAudio] binary frame before handshake from 127.0.0.1, closing";
}

void PhoneServerTest::invalidStartIsClosed()
{
    QFETCH(QString, message);
    QFETCH(QString, warning);
    QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());
    QVERIFY(peer_->open("a", url()));
    if (message.isEmpty())
        QVERIFY(peer_->frame("a", 0, 0, ramp(4)));
    else
        QVERIFY(peer_->text("a", message));
    QCOMPARE(peer_->waitClosed("a"), 1000);
    QTRY_COMPARE_WITH_TIMEOUT(server_->trackedSocketCount(), 0, kTimeoutMs);
    QVERIFY(server_->clients().isEmpty());
    QVERIFY(events_.isEmpty());
}

void PhoneServerTest::framesAreDecoded()
{
    QList<float> announced;
    const auto connection = connect(server_, &AudioStreamServer::samplesAppended, this,
                                    [&announced](const QString&, const float* data, qlonglong n) {
                                        announced += QList<float>(data, data + n);
                                    });
    QVERIFY(peer_->open("a", url()));
    QVERIFY(peer_->hello("a", "phone-1"));
    QTRY_VERIFY_WITH_TIMEOUT(server_->hasClient("phone-1"), kTimeoutMs);
    const audio::PhoneSession* session = server_->session("phone-1");

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    // Trailing bytes after the samples are no part of the frame.
    QVERIFY(peer_->frame("a", 0, 0, {0, 16384, -16384, 32767, -32768, 1}, {{"extra", 5}}));
    QTRY_COMPARE_WITH_TIMEOUT(session->frames, quint64(1), kTimeoutMs);
    // An empty frame is a frame too.
    QVERIFY(peer_->frame("a", 1, 6, {}));
    QTRY_COMPARE_WITH_TIMEOUT(session->frames, quint64(2), kTimeoutMs);
    disconnect(connection);

    const QList<float> expected{0.0f, 0.5f, -0.5f, 32767.0f / 32768.0f, -1.0f, 1.0f / 32768.0f};
    QList<float> stored(6);
    QCOMPARE(server_->read("phone-1", 0, 6, stored.data()), 0);
    QCOMPARE(stored, expected);
    QCOMPARE(announced, expected);
    QCOMPARE(session->samples, quint64(6));
    QCOMPARE(session->seqGaps, quint64(0));
    QCOMPARE(session->sampleGaps, quint64(0));
    QCOMPARE(server_->writeIndex("phone-1"), quint64(6));
    QVERIFY(server_->lastPacketTime("phone-1") >= before);
    QVERIFY(server_->lastPacketTime("phone-1") <= QDateTime::currentMSecsSinceEpoch());

    // The stream reader sees the same samples (ratio 1 needs one sample ahead).
    QCOMPARE(server_->available("phone-1"), qint64(6));
    double phase = 0.0;
    QList<float> streamed(10);
    QCOMPARE(server_->readResampled("phone-1", streamed.data(), 10, 1.0, &phase), qint64(5));
    QCOMPARE(streamed.first(5), expected.first(5));
    QCOMPARE(server_->available("phone-1"), qint64(1));
}

void PhoneServerTest::malformedFrameEndsSession_data()
{
    QTest::addColumn<QJsonObject>("command");
    QTest::addColumn<QString>("warning");

    QTest::newRow("bad magic") << QJsonObject{{"op", "frame"}, {"magic", "KQ"}, {"seq", 1},
                                              {"index", 4}, {"samples", QJsonArray{1, 2}}}
                               << "[PhoneAudio] bad magic from Test phone, closing";
    QTest::newRow("shorter than a header")
        << QJsonObject{{"op", "bytes"}, {"hex", "514b0100000004000000000000"}}
        << "[PhoneAudio] bad magic from Test phone, closing";
    QTest::newRow("too many samples")
        << QJsonObject{{"op", "frame"}, {"seq", 1}, {"index", 4}, {"count", 0x100001}}
        << "[PhoneAudio] malformed frame from Test phone (sampleCount: 1048577, size: 18), closing";
    QTest::newRow("samples missing")
        << QJsonObject{{"op", "frame"}, {"seq", 1}, {"index", 4}, {"count", 10},
                       {"samples", QJsonArray{1, 2}}}
        << "[PhoneAudio] malformed frame from Test phone (sampleCount: 10, size: 22), closing";
    // Index 2^63 - 5 with 10 samples: the end would leave the signed 64-bit range.
    QTest::newRow("index beyond signed range")
        << QJsonObject{{"op", "bytes"},
                       {"hex", "514b" "01000000" "fbffffffffffff7f" "0a000000"
                                   + QString(40, QChar('0'))}}
        << "[PhoneAudio] malformed frame from Test phone (sampleCount: 10, size: 38), closing";
}

void PhoneServerTest::malformedFrameEndsSession()
{
    QFETCH(QJsonObject, command);
    QFETCH(QString, warning);
    QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());
    QVERIFY(peer_->open("a", url()));
    QVERIFY(peer_->hello("a", "phone-1"));
    QVERIFY(peer_->frame("a", 0, 0, ramp(4)));
    QTRY_VERIFY_WITH_TIMEOUT(server_->writeIndex("phone-1") == 4, kTimeoutMs);

    command["conn"] = "a";
    QVERIFY(peer_->command(command).value("ok").toBool());
    QCOMPARE(peer_->waitClosed("a"), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!server_->hasClient("phone-1"), kTimeoutMs);
    QCOMPARE(events_, (QStringList{"+phone-1", "-phone-1"}));
    QTRY_COMPARE_WITH_TIMEOUT(server_->trackedSocketCount(), 0, kTimeoutMs);
}

void PhoneServerTest::sequenceAndIndexGaps()
{
    QVERIFY(peer_->open("a", url()));
    QVERIFY(peer_->hello("a", "phone-1", "Gappy", 8000));
    QTRY_VERIFY_WITH_TIMEOUT(server_->hasClient("phone-1"), kTimeoutMs);
    const audio::PhoneSession* session = server_->session("phone-1");

    QVERIFY(peer_->frame("a", 5, 0, ramp(100, 1)));
    QVERIFY(peer_->frame("a", 9, 150, ramp(100, 1001)));
    QTRY_COMPARE_WITH_TIMEOUT(session->frames, quint64(2), kTimeoutMs);
    QCOMPARE(session->seqGaps, quint64(3));     // 6, 7, 8 missing
    QCOMPARE(session->sampleGaps, quint64(50));  // [100, 150) missing
    QCOMPARE(server_->read("phone-1", 90, 20, nullptr), 3);
    QCOMPARE(server_->read("phone-1", 150, 100, nullptr), 0);
    QCOMPARE(server_->read("phone-1", 240, 20, nullptr), 1);
    QCOMPARE(server_->available("phone-1"), qint64(250));  // zeros stand in for the hole

    // The phone restarted its capture: sequence and index both go back.
    QVERIFY(peer_->frame("a", 2, 120, ramp(10, 7)));
    QTRY_COMPARE_WITH_TIMEOUT(session->frames, quint64(3), kTimeoutMs);
    QCOMPARE(session->seqGaps, quint64(4));
    QCOMPARE(session->sampleGaps, quint64(51));
    QCOMPARE(server_->writeIndex("phone-1"), quint64(130));
    QCOMPARE(server_->read("phone-1", 100, 10, nullptr), 2);
    QList<float> restarted(10);
    QCOMPARE(server_->read("phone-1", 120, 10, restarted.data()), 0);
    QCOMPARE(restarted.first(), 7.0f / 32768.0f);

    // A hole of 10 s or more also restarts the ring; no gap is recorded for it.
    QVERIFY(peer_->frame("a", 3, 130 + 80000, ramp(10)));
    QTRY_COMPARE_WITH_TIMEOUT(session->frames, quint64(4), kTimeoutMs);
    QCOMPARE(session->sampleGaps, quint64(51 + 80000));
    QCOMPARE(session->ring.base(), quint64(130 + 80000));
    QVERIFY(session->ring.gaps().isEmpty());
}

void PhoneServerTest::overwrittenSamplesAreCountedAsDropped()
{
    // At 8000 Hz the ring holds 80000 samples.
    QVERIFY(peer_->open("a", url()));
    QVERIFY(peer_->hello("a", "phone-1", "Slow reader", 8000));
    QTRY_VERIFY_WITH_TIMEOUT(server_->hasClient("phone-1"), kTimeoutMs);
    const audio::PhoneSession* session = server_->session("phone-1");

    QVERIFY(peer_->frame("a", 0, 0, ramp(30000)));
    QVERIFY(peer_->frame("a", 1, 30000, ramp(30000, -30000)));
    QVERIFY(peer_->frame("a", 2, 60000, ramp(30000)));
    QTRY_COMPARE_WITH_TIMEOUT(session->frames, quint64(3), kTimeoutMs);
    QCOMPARE(session->ring.base(), quint64(10000));
    QCOMPARE(session->bufferDropped, quint64(10000));  // nobody read them
    QCOMPARE(server_->available("phone-1"), qint64(80000));
    float oldest = 0.0f;
    QCOMPARE(server_->read("phone-1", 10000, 1, &oldest), 0);
    QCOMPARE(oldest, 10000.0f / 32768.0f);
    QCOMPARE(server_->read("phone-1", 9999, 1, &oldest), 2);

    // Skipped samples count too, from the next frame on.
    server_->consume("phone-1", 1000);
    QCOMPARE(server_->available("phone-1"), qint64(1000));
    QVERIFY(peer_->frame("a", 3, 90000, ramp(10)));
    QTRY_COMPARE_WITH_TIMEOUT(session->frames, quint64(4), kTimeoutMs);
    QCOMPARE(session->bufferDropped, quint64(10000 + 79000));
    QCOMPARE(session->seqGaps, quint64(0));
    QCOMPARE(session->sampleGaps, quint64(0));
}

void PhoneServerTest::reconnectReplacesSession()
{
    QVERIFY(peer_->open("old", url()));
    QVERIFY(peer_->hello("old", "phone-1", "First"));
    QTRY_VERIFY_WITH_TIMEOUT(server_->hasClient("phone-1"), kTimeoutMs);
    QVERIFY(peer_->frame("old", 0, 0, ramp(10)));
    QTRY_COMPARE_WITH_TIMEOUT(server_->writeIndex("phone-1"), quint64(10), kTimeoutMs);

    QVERIFY(peer_->open("new", url()));
    QVERIFY(peer_->hello("new", "phone-1", "Second"));
    QCOMPARE(peer_->waitClosed("old"), 1000);
    QTRY_COMPARE_WITH_TIMEOUT(events_, (QStringList{"+phone-1", "-phone-1", "+phone-1"}),
                              kTimeoutMs);
    QCOMPARE(server_->clients().size(), 1);
    QCOMPARE(server_->clients().first().name, QString("Second"));
    QCOMPARE(server_->writeIndex("phone-1"), quint64(0));  // a fresh ring

    // The old socket's late disconnection does not touch the new session.
    QVERIFY(peer_->frame("new", 0, 500, ramp(10)));
    QTRY_COMPARE_WITH_TIMEOUT(server_->writeIndex("phone-1"), quint64(510), kTimeoutMs);
    QCOMPARE(server_->session("phone-1")->frames, quint64(1));
    QCOMPARE(server_->trackedSocketCount(), 1);

    QVERIFY(peer_->close("new"));
    QTRY_VERIFY_WITH_TIMEOUT(!server_->hasClient("phone-1"), kTimeoutMs);
    QCOMPARE(events_.last(), QString("-phone-1"));
    QTRY_COMPARE_WITH_TIMEOUT(server_->trackedSocketCount(), 0, kTimeoutMs);
}

void PhoneServerTest::disconnectsForgetTheirSockets()
{
    // A socket that leaves before its handshake.
    QVERIFY(peer_->open("pending", url()));
    QTRY_COMPARE_WITH_TIMEOUT(server_->trackedSocketCount(), 1, kTimeoutMs);
    QVERIFY(peer_->close("pending"));
    QTRY_COMPARE_WITH_TIMEOUT(server_->trackedSocketCount(), 0, kTimeoutMs);

    // Phones that come and go: each new socket must be taken as new, never as a dead one's
    // session, and nothing of the old ones may stay behind.
    for (int round = 0; round < 8; ++round) {
        const QString conn = QString("c%1").arg(round);
        QVERIFY(peer_->open(conn, url()));
        QVERIFY(peer_->hello(conn, "cycling"));
        QTRY_VERIFY_WITH_TIMEOUT(server_->hasClient("cycling"), kTimeoutMs);
        QVERIFY(peer_->frame(conn, 0, quint64(round) * 100, ramp(10)));
        QTRY_COMPARE_WITH_TIMEOUT(server_->writeIndex("cycling"), quint64(round) * 100 + 10,
                                  kTimeoutMs);
        QVERIFY(peer_->close(conn));
        QTRY_VERIFY_WITH_TIMEOUT(!server_->hasClient("cycling"), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(server_->trackedSocketCount(), 0, kTimeoutMs);
    }
    QCOMPARE(events_.size(), 16);
}

void PhoneServerTest::stopClosesEverything()
{
    QVERIFY(peer_->open("phone", url()));
    QVERIFY(peer_->hello("phone", "phone-1"));
    QVERIFY(peer_->open("pending", url()));
    QTRY_COMPARE_WITH_TIMEOUT(server_->trackedSocketCount(), 2, kTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(server_->hasClient("phone-1"), kTimeoutMs);

    server_->stop();
    QVERIFY(!server_->isListening());
    QCOMPARE(server_->wsPort(), quint16(0));
    QCOMPARE(server_->discoveryPort(), quint16(0));
    QCOMPARE(server_->trackedSocketCount(), 0);
    QVERIFY(!server_->hasClient("phone-1"));
    QCOMPARE(events_, (QStringList{"+phone-1", "-phone-1"}));
    QCOMPARE(peer_->waitClosed("phone"), 1000);
    QCOMPARE(peer_->waitClosed("pending"), 1000);

    server_->stop();  // nothing listens: nothing happens
    QCOMPARE(events_.size(), 2);
    QVERIFY(listenPlain());  // and it can start again
}

void PhoneServerTest::secureServer()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS backend");
    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty())
        QSKIP("openssl is needed to make a test certificate");
    QTemporaryDir dir;
    QProcess make;
    make.start(openssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                         "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                         "/CN=127.0.0.1", "-keyout", dir.filePath("key.pem"), "-out",
                         dir.filePath("cert.pem")});
    QVERIFY(make.waitForFinished(kTimeoutMs));
    QCOMPARE(make.exitCode(), 0);
    QFile keyFile(dir.filePath("key.pem"));
    QVERIFY(keyFile.open(QIODevice::ReadOnly));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(QSslCertificate::fromPath(dir.filePath("cert.pem")));
    tls.setPrivateKey(QSslKey(&keyFile, QSsl::Ec));
    QVERIFY(!tls.localCertificate().isNull());
    QVERIFY(!tls.privateKey().isNull());

    server_->stop();
    QVERIFY(server_->listen(QHostAddress::LocalHost, 0, 0, 0, tls));
    QVERIFY(server_->wssPort() != 0);
    const QJsonObject announce = QJsonDocument::fromJson(discover("PELMAR_DISCOVER")).object();
    QCOMPARE(announce.value("wss").toInt(), int(server_->wssPort()));
    QCOMPARE(announce.value("ws").toInt(), int(server_->wsPort()));

    QVERIFY(peer_->open("secure", QString("wss://127.0.0.1:%1").arg(server_->wssPort())));
    QVERIFY(peer_->hello("secure", "phone-tls"));
    QVERIFY(peer_->frame("secure", 0, 0, {16384, 16384}));
    QTRY_COMPARE_WITH_TIMEOUT(server_->writeIndex("phone-tls"), quint64(2), kTimeoutMs);
    float first = 0.0f;
    QCOMPARE(server_->read("phone-tls", 1, 1, &first), 0);
    QCOMPARE(first, 0.5f);
}

void PhoneServerTest::listenFailsWithoutLeavingAnythingOpen()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^\\[PhoneAudio\\] already listening"));
    QVERIFY(!listenPlain());
    const quint16 port = server_->wsPort();
    QVERIFY(port != 0);

    server_->stop();
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^\\[PhoneAudio\\] cannot listen on"));
    QVERIFY(!server_->listen(QHostAddress::LocalHost, squatter.serverPort(), 0, 0));
    QVERIFY(!server_->isListening());
    QCOMPARE(server_->discoveryPort(), quint16(0));
    // The failure left the discovery port free as well: a fresh start gets everything.
    QVERIFY(listenPlain());
    QVERIFY(server_->discoveryPort() != 0);
}

void PhoneServerTest::readersWithoutSession()
{
    const QString id = "nobody";
    QVERIFY(!server_->hasClient(id));
    QCOMPARE(server_->sampleRate(id), quint32(48000));
    QCOMPARE(server_->lastPacketTime(id), qint64(0));
    QCOMPARE(server_->writeIndex(id), quint64(0));
    float out[4] = {};
    QCOMPARE(server_->read(id, 0, 4, out), 2);
    QCOMPARE(server_->available(id), qint64(0));
    server_->consume(id, 0);
    double phase = 0.0;
    QCOMPARE(server_->readResampled(id, out, 4, 1.0, &phase), qint64(0));
    QVERIFY(server_->clients().isEmpty());
    QVERIFY(server_->session(id) == nullptr);
}

SNT_TEST_MAIN(PhoneServerTest)
#include "PhoneServerTest.moc"
