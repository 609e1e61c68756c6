#include "audio/Client.h"
#include "audio/Stream.h"
#include "audio/backends/Backends.h"
#include "platform/jack/JackServers.h"
#include "tests/audio/JackServerProcess.h"
#include "tests/audio/LogCapture.h"
#include "tests/audio/SignalDevice.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <algorithm>
#include <vector>

// The ASIO backend over a real JACK server without hardware (dummy driver), started by the test
// command and named in SNT_TEST_JACK_SERVER. JACK's own command-line tools are the independent
// view of the server: its ports, rate and period, and the connections a test makes.
using audio::Client;
using audio::Plugin;

namespace {

constexpr int channels = 2;

const audio::DeviceInfo *row(const audio::DeviceList &rows, const QString &id)
{
    const auto at = std::find_if(rows.cbegin(), rows.cend(), [&id](auto &r) { return r.id == id; });
    return at == rows.cend() ? nullptr : &*at;
}

} // namespace

class AsioJackTest : public QObject
{
    Q_OBJECT

    QString server_;

    QString jackTool(const QString &program, const QStringList &args = {}) const
    {
        return jacktest::jackTool(server_, program, args);
    }

    // The short names of the server's physical ports of one kind ("output" ports capture).
    QStringList physicalPorts(const QString &kind) const
    {
        QStringList names;
        const QStringList lines = jackTool("jack_lsp", {"-p"}).split('\n');
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            if (!lines[i].startsWith('\t') && lines[i + 1].contains(kind + ",physical"))
                names.append(lines[i].section(':', 1));
        return names;
    }

    QString driverName() const { return "JACK " + server_; }

    // Starts a server of the test's own in `jackd` and waits until the client lists it.
    static bool startServer(QProcess &jackd, const QString &server)
    {
        if (!jacktest::startServer(jackd, server))
            return false;
        const auto client = Client::instance();
        client->refreshAll();
        return QTest::qWaitFor([&] { return row(client->devices(), "JACK " + server); }, 10000);
    }

private slots:
    void initTestCase()
    {
        server_ = qEnvironmentVariable("SNT_TEST_JACK_SERVER");
        if (server_.isEmpty()) {
            if (qEnvironmentVariable("CI") == "true")
                QFAIL("the test command starts the JACK server; it is missing");
            QSKIP("needs the test JACK server (scripts/test.sh)");
        }
        // The program's own backends, as it gives them to the client at its start.
        QVERIFY(Client::setPluginFactories(audio::backendFactories()));
        QTRY_VERIFY_WITH_TIMEOUT(row(Client::instance()->devices(), driverName()), 10000);
    }

    void theServerIsListedWithItsPhysicalPorts()
    {
        const audio::DeviceList rows = Client::instance()->devices();
        const audio::DeviceInfo *r = row(rows, driverName());
        QVERIFY(r);
        QCOMPARE(r->name, driverName());
        QCOMPARE(r->pluginName, QStringLiteral("ASIO"));
        QCOMPARE(r->sampleRate, jackTool("jack_samplerate").toUInt());
        QCOMPARE(r->inputChannels, physicalPorts("output"));
        QCOMPARE(r->outputChannels, physicalPorts("input"));
        QCOMPARE(r->inputChannels.size(), 2);
        // The client lists the WASAPI backend's devices first.
        const auto firstAsio = std::find_if(rows.cbegin(), rows.cend(),
                                            [](auto &d) { return d.pluginName == "ASIO"; });
        QVERIFY(std::none_of(firstAsio, rows.cend(),
                             [](auto &d) { return d.pluginName == "WASAPI"; }));
    }

    void aServerGoneUnderRunningStreamsEndsThem()
    {
        const QString doomed
                = QStringLiteral("sntdoomed%1").arg(QCoreApplication::applicationPid());
        QProcess jackd;
        const auto cleanUp = qScopeGuard([&] { jacktest::stopServer(jackd); });
        QVERIFY(startServer(jackd, doomed));
        const auto client = Client::instance();
        const QString name = "JACK " + doomed;

        SignalDevice source, sink1, sink2;
        QPointer<audio::Stream> render = client->openOutput(name, &source, {});
        QPointer<audio::Stream> capture1 = client->openInput(name, &sink1, {});
        QPointer<audio::Stream> capture2 = client->openInput(name, &sink2, {});
        QVERIFY(render && capture1 && capture2);
        QTRY_VERIFY(!sink2.recorded().empty());

        // Stopped, not killed outright, and waited for: a server that cannot unregister keeps
        // its place in JACK's machine-wide table of servers, which holds only a few.
        jackd.terminate();
        QTRY_VERIFY_WITH_TIMEOUT(
                !render->isRunning() && !capture1->isRunning() && !capture2->isRunning(), 10000);
        QVERIFY(!source.isOpen() && !sink1.isOpen() && !sink2.isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(jackd.state() == QProcess::NotRunning, 30000);
        // Our client let the server finish its shutdown (a broken pipe would have ended it).
        QCOMPARE(jackd.exitStatus(), QProcess::NormalExit);
        // The server is no longer there to be opened again. While the backend lets it finish its
        // shutdown, an open is given up as busy instead of waiting.
        LogCapture log;
        SignalDevice again;
        QTRY_VERIFY2_WITH_TIMEOUT(!client->openInput(name, &again, {})
                                          && log.contains("ASIO: can't load driver " + name),
                                  log.text(), 10000);
        for (audio::Stream *s : {render.data(), capture1.data(), capture2.data()})
            s->close();
        QTRY_VERIFY(!render && !capture1 && !capture2);
        client->refreshAll();
        QTRY_VERIFY_WITH_TIMEOUT(!row(client->devices(), name), 10000);
        // The server could not remove our client's semaphore any more; we did.
        const QDir shm(platform::jack::serverDirectory);
        QCOMPARE(shm.entryList({"jack_sem.*_" + doomed + "_Sonetra*"}, QDir::System | QDir::Files),
                 QStringList());
    }

    // A server killed outright leaves its socket file with nobody listening: the backend sees
    // it is gone at once: the streams on it end, our client leaves nothing in /dev/shm, and once
    // the backend has let the driver go, opening it again fails within a second (the caller is
    // the GUI thread) because the server is not there, not because the backend is busy.
    void aKilledServerIsKnownGoneAtOnce()
    {
        const QString doomed
                = QStringLiteral("sntkilled%1").arg(QCoreApplication::applicationPid());
        QProcess jackd;
        const auto cleanUp = qScopeGuard([&] {
            jackd.kill();
            jackd.waitForFinished(30000);
            // A killed server keeps its place in JACK's machine-wide table of servers until a
            // server of the same name takes it back: one is started and stopped properly.
            QProcess again;
            if (!startServer(again, doomed))
                qWarning() << "the server" << doomed << "did not start again to free its place";
            jacktest::stopServer(again);
        });
        QVERIFY(startServer(jackd, doomed));
        const auto client = Client::instance();
        const QString name = "JACK " + doomed;
        SignalDevice source, sink;
        QPointer<audio::Stream> render = client->openOutput(name, &source, {});
        QPointer<audio::Stream> capture = client->openInput(name, &sink, {});
        QVERIFY(render && capture);
        QTRY_VERIFY(!sink.recorded().empty());
        // Both count the frames they move, as their owners' watches see them.
        QTRY_VERIFY(render->framesMoved()->load() > 0 && capture->framesMoved()->load() > 0);

        jackd.kill();
        QVERIFY(jackd.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!render->isRunning() && !capture->isRunning(), 5000);
        render->close();
        capture->close();
        // The server could not remove our client's semaphore any more; the backend does, as the
        // last step of letting the dead server's driver go.
        const QDir shm(platform::jack::serverDirectory);
        QTRY_COMPARE(
                shm.entryList({"jack_sem.*_" + doomed + "_Sonetra*"}, QDir::System | QDir::Files),
                QStringList());
        LogCapture log;
        QElapsedTimer clock;
        clock.start();
        SignalDevice again;
        QPointer<audio::Stream> reopened = client->openInput(name, &again, {});
        const qint64 took = clock.elapsed();
        if (reopened)
            reopened->close();
        QVERIFY(!reopened);
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QVERIFY2(log.contains("ASIO: can't load driver " + name), log.text());
    }

    // Runs after the server that went away: the backend goes on with the next one.
    void aSignalComesBackBitExactAfterWholePeriods()
    {
        const auto client = Client::instance();
        const int period = jackTool("jack_bufsize").toInt();
        QCOMPARE(period, 256);
        SignalDevice source, sink1, sink2;
        QPointer<audio::Stream> capture1 = client->openInput(driverName(), &sink1, {});
        QPointer<audio::Stream> render = client->openOutput(driverName(), &source, {});
        QPointer<audio::Stream> capture2 = client->openInput(driverName(), &sink2, {});
        const auto closeAll = qScopeGuard([&] {
            for (audio::Stream *s : {render.data(), capture1.data(), capture2.data()})
                if (s)
                    s->close();
        });
        QVERIFY(render && capture1 && capture2);
        QCOMPARE(render->format(), (audio::Format{48000, 2}));
        QCOMPARE(capture1->format(), (audio::Format{48000, 2}));

        // Our outputs loop back into our inputs through the server's graph instead of the
        // (silent) physical capture ports. Our client is the one playing into the speakers.
        const QString ours = jackTool("jack_lsp", {"-c", "system:playback_1"})
                                     .section('\n', 1, 1)
                                     .trimmed()
                                     .section(':', 0, 0);
        QVERIFY(!ours.isEmpty());
        for (int c = 1; c <= channels; ++c) {
            const QString in = QStringLiteral("%1:in_%2").arg(ours).arg(c);
            jackTool("jack_disconnect", {QStringLiteral("system:capture_%1").arg(c), in});
            jackTool("jack_connect", {QStringLiteral("%1:out_%2").arg(ours).arg(c), in});
        }

        // Compared from a quarter of a second after the loop was made, for two seconds.
        constexpr qint64 checked = 2 * 48000;
        for (SignalDevice *sink : {&sink1, &sink2}) {
            const qint64 start = qint64(sink->recorded().size()) / channels + 48000 / 4;
            QTRY_VERIFY_WITH_TIMEOUT(
                    qint64(sink->recorded().size()) >= (start + checked) * channels, 30000);
            const std::vector<float> got = sink->recorded();
            const qint64 played
                    = SignalDevice::findPlayedFrame(got, start, start + 10 * 48000, channels);
            QVERIFY2(played >= 0, "the played signal did not come back");
            const qint64 lag = start - played;
            qInfo() << "recorded frame" << start << "holds played frame" << played;
            // Our input holds our output of the period before. A capture stream opened after
            // the render stream counts its frames from later, so its offset may be smaller,
            // but only ever by whole periods.
            const bool openedFirst = sink == &sink1;
            QVERIFY2(lag % period == 0 && (!openedFirst || lag >= period),
                     qPrintable(QString::number(lag)));
            for (qint64 i = 0; i < checked * channels; ++i)
                if (got[std::size_t(start * channels + i)]
                    != SignalDevice::sample(uint64_t(played * channels + i)))
                    QFAIL(qPrintable(QStringLiteral("frame %1 differs").arg(i / channels)));
        }
    }
};

SNT_TEST_MAIN(AsioJackTest)
#include "AsioJackTest.moc"
