#include "audio/aes67/RtspCodec.h"
#include "audio/aes67/RtspMiniServer.h"
#include "audio/aes67/RtspRouteBackend.h"
#include "audio/aes67/Sender.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <memory>

using namespace audio::aes67;

namespace {

const QByteArray publicLine = "Public: OPTIONS, DESCRIBE\r\n";

// Writes `parts` one after another (a pause between them) and reads until `expected` bytes came
// back, the peer closed, or three seconds passed.
QByteArray exchange(quint16 port, const QList<QByteArray> &parts, qsizetype expected,
                    bool *closed = nullptr)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return "no connection";
    QByteArray reply;
    for (const QByteArray &part : parts) {
        socket.write(part);
        QTest::qWait(100);
    }
    (void)QTest::qWaitFor(
            [&] {
                reply += socket.readAll();
                return reply.size() >= expected || socket.state() != QTcpSocket::ConnectedState;
            },
            3000);
    QTest::qWait(100); // anything beyond the expected reply would show now
    reply += socket.readAll();
    if (closed)
        *closed = socket.state() != QTcpSocket::ConnectedState;
    return reply;
}

QProcess *runTool(const QString &program, const QStringList &args)
{
    auto *process = new QProcess;
    process->start(program, args);
    // The responder runs in this thread: wait with the event loop going.
    if (!QTest::qWaitFor([process] { return process->state() == QProcess::NotRunning; }, 20000))
        process->kill();
    return process;
}

} // namespace

// The RTSP codec against the message grammar, and the responder on an ephemeral port of
// 127.0.0.1 against real clients: curl, ffprobe, raw sockets and the program's own client.
class RtspTest : public QObject
{
    Q_OBJECT

    RtspMiniServer *responder = RtspMiniServer::instance();
    QString url;

private slots:
    void initTestCase()
    {
        QVERIFY(responder->listen(QHostAddress::LocalHost, 0));
        QVERIFY(responder->port() != 0);
        url = QStringLiteral("rtsp://127.0.0.1:%1/by-name/Pelmar").arg(responder->port());
    }

    void cleanup() { Sender::instance()->setRunning(false); }

    void headerEnd_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qsizetype>("end");
        QTest::newRow("CR LF CR LF") << QByteArray("A\r\nB: 1\r\n\r\nbody") << qsizetype(11);
        QTest::newRow("LF LF") << QByteArray("A\nB: 1\n\nbody") << qsizetype(8);
        QTest::newRow("CR LF CR LF wins over an earlier LF LF")
                << QByteArray("A\n\nB\r\n\r\n") << qsizetype(8);
        QTest::newRow("CR LF LF") << QByteArray("A\r\n\nB") << qsizetype(4);
        QTest::newRow("none yet") << QByteArray("A\r\nB: 1\r\n") << qsizetype(-1);
    }

    void headerEnd()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qsizetype, end);
        QCOMPARE(rtsp::findHeaderEnd(bytes), end);
    }

    void headersAreOrderedAndCaseInsensitive()
    {
        rtsp::Headers headers;
        rtsp::parseHeaderLines({"CSeq: 4", "no colon here", ": no name", "session:  ab;timeout=60 ",
                                "X-Name: Bühne", "CSEQ: 9"},
                               headers);
        const rtsp::Headers read
                = {{"CSeq", "4"}, {"session", "ab;timeout=60"}, {"X-Name", "Bühne"}, {"CSEQ", "9"}};
        QCOMPARE(headers, read);
        QCOMPARE(rtsp::findHeader(headers, "cseq"), QStringLiteral("4"));
        QCOMPARE(rtsp::findHeader(headers, "Range"), QString());
        rtsp::setHeader(headers, "Cseq", "5");
        rtsp::setHeader(headers, "Range", "npt=0.000-");
        const rtsp::Headers set = {{"CSeq", "5"},
                                   {"session", "ab;timeout=60"},
                                   {"X-Name", "Bühne"},
                                   {"CSEQ", "9"},
                                   {"Range", "npt=0.000-"}};
        QCOMPARE(headers, set);
    }

    void requestFraming_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("method");
        QTest::addColumn<qint32>("cseq");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qsizetype>("consumed");
        using P = rtsp::Parse;
        const QByteArray next = "OPTIONS * RTSP/1.0\r\n\r\n";
        QTest::newRow("CR LF lines")
                << QByteArray("OPTIONS * RTSP/1.0\r\nCSeq: 2\r\n\r\n") + next << int(P::Complete)
                << "OPTIONS" << 2 << QByteArray() << qsizetype(31);
        QTest::newRow("LF-only lines")
                << QByteArray("DESCRIBE rtsp://a/b RTSP/1.0\nCSeq: 3\n\n") << int(P::Complete)
                << "DESCRIBE" << 3 << QByteArray() << qsizetype(38);
        QTest::newRow("body by Content-Length")
                << QByteArray("ANNOUNCE * RTSP/1.0\r\nContent-Length: 5\r\n\r\nv=0\r\n") + next
                << int(P::Complete) << "ANNOUNCE" << 0 << QByteArray("v=0\r\n") << qsizetype(47);
        QTest::newRow("body still arriving")
                << QByteArray("ANNOUNCE * RTSP/1.0\r\nContent-Length: 5\r\n\r\nv=0")
                << int(P::Incomplete) << "" << 0 << QByteArray() << qsizetype(0);
        QTest::newRow("head still arriving")
                << QByteArray("OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n") << int(P::Incomplete) << "" << 0
                << QByteArray() << qsizetype(0);
        QTest::newRow("negative length reads 0")
                << QByteArray("OPTIONS * RTSP/1.0\r\nContent-Length: -5\r\n\r\nrest")
                << int(P::Complete) << "OPTIONS" << 0 << QByteArray() << qsizetype(42);
        QTest::newRow("unreadable length reads 0")
                << QByteArray("OPTIONS * RTSP/1.0\r\nContent-Length: five\r\n\r\n")
                << int(P::Complete) << "OPTIONS" << 0 << QByteArray() << qsizetype(44);
        QTest::newRow("two blanks: the URL is the third part")
                << QByteArray("DESCRIBE  rtsp://a/b RTSP/1.0\r\nCSeq: 6\r\n\r\n") + next
                << int(P::Malformed) << "" << 6 << QByteArray() << qsizetype(42);
        QTest::newRow("no version") << QByteArray("GET / HTTP/1.1\r\n\r\n") << int(P::Malformed)
                                    << "" << 0 << QByteArray() << qsizetype(18);
        const QByteArray head = "ANNOUNCE * RTSP/1.0\r\nCSeq: 7\r\nContent-Length: ";
        QTest::newRow("64 KiB is accepted")
                << head + "65536\r\n\r\n"
                << int(P::Incomplete) << "" << 7 << QByteArray() << qsizetype(0);
        QTest::newRow("64 KiB and one byte is not")
                << head + "65537\r\n\r\n"
                << int(P::TooLarge) << "" << 7 << QByteArray() << qsizetype(0);
        QTest::newRow("beyond 32 bits")
                << head + "2147483647\r\n\r\n"
                << int(P::TooLarge) << "" << 7 << QByteArray() << qsizetype(0);
        QTest::newRow("beyond 64 bits")
                << head + "99999999999999999999\r\n\r\n"
                << int(P::TooLarge) << "" << 7 << QByteArray() << qsizetype(0);
    }

    void requestFraming()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(int, result);
        QFETCH(QString, method);
        QFETCH(qint32, cseq);
        QFETCH(QByteArray, body);
        QFETCH(qsizetype, consumed);
        rtsp::Request request;
        qsizetype used = 0;
        QCOMPARE(int(rtsp::parseRequest(buffer, rtsp::maxRequestBody, request, used)), result);
        QCOMPARE(request.cseq, cseq);
        QCOMPARE(used, consumed);
        if (result == int(rtsp::Parse::Complete)) {
            QCOMPARE(request.method, method);
            QCOMPARE(request.body, body);
        }
    }

    void responseFraming_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        using P = rtsp::Parse;
        const QByteArray crlf = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 3\r\n\r\nabc";
        QTest::newRow("CR LF") << crlf << int(P::Complete) << 200 << "OK";
        QTest::newRow("LF only") << QByteArray(crlf).replace("\r\n", "\n") << int(P::Complete)
                                 << 200 << "OK";
        QTest::newRow("reason of several words")
                << QByteArray("RTSP/1.0 455 Method Not Valid in This State\r\n\r\n")
                << int(P::Complete) << 455 << "Method Not Valid in This State";
        QTest::newRow("status 0") << QByteArray("RTSP/1.0 0 Zero\r\n\r\n") << int(P::Malformed) << 0
                                  << "";
        QTest::newRow("not RTSP") << QByteArray("HTTP/1.1 200 OK\r\n\r\n") << int(P::Malformed) << 0
                                  << "";
        QTest::newRow("beyond 1 MiB")
                << QByteArray("RTSP/1.0 200 OK\r\nContent-Length: 1048577\r\n\r\n")
                << int(P::TooLarge) << 0 << "";
    }

    void responseFraming()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(int, result);
        QFETCH(int, status);
        QFETCH(QString, reason);
        rtsp::Response response;
        qsizetype used = 0;
        QCOMPARE(int(rtsp::parseResponse(buffer, rtsp::maxResponseBody, response, used)), result);
        QCOMPARE(response.statusCode, status);
        QCOMPARE(response.reason, reason);
        if (result == int(rtsp::Parse::Complete)) {
            QCOMPARE(used, buffer.size());
            QCOMPARE(rtsp::findHeader(response.headers, "cseq").toInt(),
                     buffer.contains("CSeq") ? 1 : 0);
        }
    }

    void requestWireForm_data()
    {
        QTest::addColumn<rtsp::Headers>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("wire");
        const QByteArray sdp = "v=0\r\ns=Bühne\r\n"; // 15 bytes in UTF-8
        QTest::newRow("body adds type and length")
                << rtsp::Headers() << sdp
                << "ANNOUNCE rtsp://h/by-name/x RTSP/1.0\r\nCSeq: 3\r\nContent-Type: "
                   "application/sdp\r\nContent-Length: 15\r\n\r\n"
                           + sdp;
        QTest::newRow("a preset length is replaced, not repeated")
                << rtsp::Headers{{"content-length", "99"}, {"Content-Type", "text/plain"}} << sdp
                << "ANNOUNCE rtsp://h/by-name/x RTSP/1.0\r\ncontent-length: 15\r\nContent-Type: "
                   "text/plain\r\nCSeq: 3\r\n\r\n"
                           + sdp;
        QTest::newRow("a preset CSeq stays, no body no length")
                << rtsp::Headers{{"CSeq", "40"}} << QByteArray()
                << QByteArray("ANNOUNCE rtsp://h/by-name/x RTSP/1.0\r\nCSeq: 40\r\n\r\n");
    }

    void requestWireForm()
    {
        QFETCH(rtsp::Headers, headers);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, wire);
        rtsp::Request request;
        request.method = "ANNOUNCE";
        request.url = "rtsp://h/by-name/x";
        request.cseq = 3;
        request.headers = headers;
        request.body = body;
        QCOMPARE(rtsp::serializeRequest(request), wire);
    }

    void reasonPhrases_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        QTest::newRow("200") << 200 << "OK";
        QTest::newRow("400") << 400 << "Bad Request";
        QTest::newRow("404") << 404 << "Not Found";
        QTest::newRow("405") << 405 << "Method Not Allowed";
        QTest::newRow("454") << 454 << "Session Not Found";
        QTest::newRow("455") << 455 << "Method Not Valid in This State";
        QTest::newRow("500") << 500 << "Internal Server Error";
        QTest::newRow("501") << 501 << "Not Implemented";
        QTest::newRow("302") << 302 << "";
    }

    void reasonPhrases()
    {
        QFETCH(int, code);
        QFETCH(QString, reason);
        QCOMPARE(rtsp::reasonPhrase(code), reason);
        // No CSeq line for 0, a blank after the code even without a phrase.
        QCOMPARE(rtsp::serializeResponse(code, 0, {}, "x"),
                 "RTSP/1.0 " + QByteArray::number(code) + ' ' + reason.toLatin1()
                         + "\r\nContent-Length: 1\r\n\r\nx");
    }

    void responderAnswersRawClients_data()
    {
        QTest::addColumn<QList<QByteArray>>("parts");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray options = "OPTIONS rtsp://h/ RTSP/1.0\r\nCSeq: 5\r\n\r\n";
        const QByteArray ok5 = "RTSP/1.0 200 OK\r\nCSeq: 5\r\n" + publicLine + "\r\n";
        QTest::newRow("DESCRIBE while the sender is stopped")
                << QList<QByteArray>{"DESCRIBE rtsp://h/ RTSP/1.0\r\nCSeq: 2\r\n\r\n"}
                << QByteArray("RTSP/1.0 404 Not Found\r\nCSeq: 2\r\n\r\n");
        QTest::newRow("SETUP") << QList<QByteArray>{"SETUP rtsp://h/ RTSP/1.0\r\nCSeq: 3\r\n\r\n"}
                               << "RTSP/1.0 405 Method Not Allowed\r\nCSeq: 3\r\n" + publicLine
                                          + "\r\n";
        QTest::newRow("no CSeq, LF-only lines")
                << QList<QByteArray>{"OPTIONS rtsp://h/ RTSP/1.0\n\n"}
                << "RTSP/1.0 200 OK\r\n" + publicLine + "\r\n";
        QTest::newRow("pipelined") << QList<QByteArray>{options + options} << ok5 + ok5;
        QTest::newRow("a malformed head, then a request")
                << QList<QByteArray>{"DESCRIBE  rtsp://h/ RTSP/1.0\r\nCSeq: 4\r\n\r\n" + options}
                << "RTSP/1.0 400 Bad Request\r\nCSeq: 4\r\n\r\n" + ok5;
        QTest::newRow("a body completed later")
                << QList<QByteArray>{"ANNOUNCE rtsp://h/ RTSP/1.0\r\nCSeq: 6\r\n"
                                     "Content-Length: 5\r\n\r\nv=",
                                     "0\r\n"}
                << "RTSP/1.0 405 Method Not Allowed\r\nCSeq: 6\r\n" + publicLine + "\r\n";
    }

    void responderAnswersRawClients()
    {
        QFETCH(QList<QByteArray>, parts);
        QFETCH(QByteArray, reply);
        bool closed = true;
        QCOMPARE(exchange(responder->port(), parts, reply.size(), &closed), reply);
        QVERIFY(!closed);
    }

    void lowerCaseDescribeGetsTheSdp()
    {
        Sender::instance()->setRunning(true);
        const QByteArray reply = exchange(responder->port(),
                                          {"describe rtsp://h/ RTSP/1.0\r\nCSeq: 9\r\n\r\n"}, 400);
        rtsp::Response response;
        qsizetype used = 0;
        QCOMPARE(rtsp::parseResponse(reply, rtsp::maxResponseBody, response, used),
                 rtsp::Parse::Complete);
        QCOMPARE(used, reply.size());
        QCOMPARE(response.statusCode, 200);
        const rtsp::Headers headers = {{"CSeq", "9"},
                                       {"Content-Type", "application/sdp"},
                                       {"Content-Length", QString::number(response.body.size())}};
        QCOMPARE(response.headers, headers);
        QVERIFY2(response.body.startsWith("v=0\r\no=- ")
                         && response.body.contains(" IN IP4 127.0.0.1\r\n"),
                 response.body.constData());
    }

    void oversizedLengthIsRefusedAndClosed_data()
    {
        QTest::addColumn<QByteArray>("length");
        QTest::newRow("64 KiB and one byte") << QByteArray("65537");
        QTest::newRow("the largest 32-bit number") << QByteArray("2147483647");
        QTest::newRow("beyond 64 bits") << QByteArray("99999999999999999999");
    }

    void oversizedLengthIsRefusedAndClosed()
    {
        QFETCH(QByteArray, length);
        const QByteArray request = "ANNOUNCE rtsp://h/ RTSP/1.0\r\nCSeq: 8\r\nContent-Length: "
                                   + length + "\r\n\r\nv=0\r\n";
        bool closed = false;
        QCOMPARE(exchange(responder->port(), {request}, 1000, &closed),
                 QByteArray("RTSP/1.0 400 Bad Request\r\nCSeq: 8\r\n\r\n"));
        QVERIFY(closed);
    }

    void clientThatNeverReadsIsCutOff()
    {
        // Pipelined DESCRIBEs, each answered with the whole SDP, and nothing read: the responder
        // stops taking requests once its answers pile up, and drops the client when they never
        // drain.
        Sender::instance()->setRunning(true);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, responder->port());
        QVERIFY(client.waitForConnected(3000));
        client.setReadBufferSize(1); // leaves the answers in the kernel, as a client not reading
        QByteArray requests;
        for (int cseq = 1; cseq <= 100'000; ++cseq)
            requests += "DESCRIBE rtsp://h/ RTSP/1.0\r\nCSeq: " + QByteArray::number(cseq)
                        + "\r\n\r\n";
        client.write(requests);
        LogCapture log;
        const QString cutOff = QStringLiteral(
                "[RtspMiniServer] client 127.0.0.1 does not read its answers, disconnecting");
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(cutOff), RtspMiniServer::drainTimeoutMs + 10'000);
        client.setReadBufferSize(0);
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QTcpSocket::UnconnectedState, 5000);
    }

    void slowReaderGetsEveryAnswer()
    {
        // More answers than the connection's buffers hold: the responder waits while the client
        // does not read, then answers every request in order once it does.
        Sender::instance()->setRunning(true);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, responder->port());
        QVERIFY(client.waitForConnected(3000));
        constexpr int count = 30'000;
        QByteArray requests;
        for (int cseq = 1; cseq <= count; ++cseq)
            requests += "DESCRIBE rtsp://h/ RTSP/1.0\r\nCSeq: " + QByteArray::number(cseq)
                        + "\r\n\r\n";
        client.setReadBufferSize(1);
        client.write(requests);
        QTest::qWait(1000);
        client.setReadBufferSize(0);
        QByteArray replies;
        int answered = 0;
        bool inOrder = true;
        QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    replies += client.readAll();
                    rtsp::Response response;
                    qsizetype used = 0;
                    while (rtsp::parseResponse(replies, rtsp::maxResponseBody, response, used)
                           == rtsp::Parse::Complete) {
                        replies.remove(0, used);
                        ++answered;
                        inOrder = inOrder && response.statusCode == 200
                                  && rtsp::findHeader(response.headers, "CSeq").toInt() == answered;
                    }
                    return answered == count;
                }(),
                30'000);
        QVERIFY(inOrder);
        QCOMPARE(client.state(), QTcpSocket::ConnectedState);
    }

    void curlGetsOptions()
    {
        // curl sends OPTIONS by default and fails unless the answer echoes its CSeq.
        std::unique_ptr<QProcess> curl(runTool("curl", {"-sS", "-i", url}));
        QCOMPARE(curl->exitCode(), 0);
        QCOMPARE(curl->readAllStandardOutput(),
                 "RTSP/1.0 200 OK\r\nCSeq: 1\r\n" + publicLine + "\r\n");
    }

    void ffprobeReadsTheSdpThenFailsAtSetup()
    {
        Sender::instance()->setRunning(true);
        std::unique_ptr<QProcess> ffprobe(
                runTool("ffprobe", {"-v", "verbose", "-hide_banner", url}));
        const QString log = QString::fromUtf8(ffprobe->readAllStandardError());
        QVERIFY(ffprobe->exitCode() != 0);
        QVERIFY2(log.contains("a=rtpmap:96 L24/48000/2") && log.contains("s=Pelmar"),
                 qPrintable(log));
        QVERIFY2(log.contains("method SETUP failed: 405 Method Not Allowed"), qPrintable(log));
    }

    void ownClientIsRefusedItsAnnounce()
    {
        RtspRouteBackend backend;
        QSignalSpy finished(&backend, &RouteBackend::connectFinished);
        backend.connectSubscription(
                {"local-sender|self", "Pelmar", "v=0\r\n", "127.0.0.1", responder->port()});
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[RtspSession\\] non-2xx response to ANNOUNCE"));
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0), QVariantList({"local-sender|self", false,
                                               "RTSP 请求被拒: 405 Method Not Allowed"}));
        QTest::qWait(200);
        QCOMPARE(finished.count(), 1);
    }
};

SNT_TEST_MAIN(RtspTest)
#include "RtspTest.moc"
