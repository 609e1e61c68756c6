#include "app/MeasureSession.h"
#include "audio/Client.h"
#include "audio/backends/Backends.h"
#include "tests/support/OwnSoundServer.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

namespace {

const QString stereoSource = QStringLiteral("loop.monitor");
const QString monoSource = QStringLiteral("mic");

// The sample specifications of this process's streams on the server, as pactl lists them:
// "source-outputs" (recording) or "sink-inputs" (playing).
QStringList ourStreams(const OwnSoundServer &server, const QString &kind)
{
    QString listing;
    if (!server.pactl({QStringLiteral("list"), kind}, &listing))
        return {QStringLiteral("pactl failed")};
    const QString ours = QStringLiteral("application.process.id = \"%1\"")
                                 .arg(QCoreApplication::applicationPid());
    static const QRegularExpression specification("Sample Specification: ([^\\n]+)");
    QStringList found;
    for (const QString &stream : listing.split(QStringLiteral("\n\n")))
        if (stream.contains(ours))
            found << specification.match(stream).captured(1);
    return found;
}

// The audio client's list made afresh, as at the program's start.
bool listAfresh()
{
    const auto client = audio::Client::instance();
    QSignalSpy listed(client.get(), &audio::Client::deviceListChanged);
    client->refreshAll();
    return listed.wait(10000);
}

} // namespace

// "ALSA default" while the sound server's default source changes under the running program, as
// the desktop's sound settings change it when a USB measurement microphone is plugged in or
// picked: a session reads the channels of the source when its run opens the input, not those
// listed when it was set up. A mono source leaves the reference no input of its own and the run
// is refused before anything plays; a stereo one measures on two channels. On a server of the
// test's own, as it changes the server's default source.
class SessionDefaultSourceTest : public QObject
{
    Q_OBJECT

    // A stereo null sink, whose monitor is a two-channel source, and a mono remap of the
    // monitor's left channel, as a USB measurement microphone.
    OwnSoundServer server_{
            {"module-null-sink sink_name=loop rate=48000 format=float32le channels=2",
             "module-remap-source source_name=mic master=loop.monitor channels=1 "
             "master_channel_map=front-left channel_map=mono "
             "source_properties=device.description=Mic"}};

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
            SNT_SKIP("needs PulseAudio (scripts/install-deps.sh)");
        QVERIFY(server_.answers());
        qputenv("PULSE_SERVER", server_.address().toLocal8Bit());
        // ALSA's default leads to that server; ALSA reads this at its first use, after this.
        QFile rc(QDir::homePath() + QStringLiteral("/.asoundrc"));
        QVERIFY(rc.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(rc.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n") > 0);
        rc.close();
        QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
        QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
        QSettings().setValue("measure/signalType", 0);
        QVERIFY(audio::Client::setPluginFactories(audio::backendFactories()));
    }

    void theSourceIsReadWhenTheRunOpensIt_data()
    {
        QTest::addColumn<QString>("setUpOn");
        QTest::addColumn<QString>("openedOn");
        QTest::newRow("a microphone made the default") << stereoSource << monoSource;
        QTest::newRow("and back to the stereo source") << monoSource << stereoSource;
    }
    void theSourceIsReadWhenTheRunOpensIt()
    {
        QFETCH(QString, setUpOn);
        QFETCH(QString, openedOn);
        QVERIFY(server_.pactl({"set-default-source", setUpOn}));
        QVERIFY(listAfresh());
        const qsizetype listed = setUpOn == monoSource ? 1 : 2;
        QCOMPARE(MeasureSession::inputChannelNames(QString()).size(), listed);

        // The program's own choice: the default input, the microphone on input 1 and the
        // reference on input 2.
        MeasureSession session;
        QSignalSpy failed(&session, &MeasureSession::deviceFailed);
        QVERIFY(session.start(QString(), QString(), 0, 1, -12.0f, 0));
        QCOMPARE(session.inputDeviceId(), QStringLiteral("alsa:default"));
        QVERIFY(server_.pactl({"set-default-source", openedOn}));
        session.resume();
        const auto stop = qScopeGuard([&session] { session.stop(); });
        if (openedOn == monoSource) {
            QCOMPARE(failed.count(), 1);
            QCOMPARE(failed.first().first().toString(),
                     QStringLiteral(
                             "「ALSA default」只有 1 路输入，测不了：参考信号要单独占一路输入，"
                             "请换一个至少两路输入的声卡"));
            QCOMPARE(ourStreams(server_, "sink-inputs"), QStringList());
            QCOMPARE(ourStreams(server_, "source-outputs"), QStringList());
            return;
        }
        QCOMPARE(failed.count(), 0);
        QSignalSpy frames(&session, &MeasureSession::frameReady);
        QVERIFY(frames.wait(20000));
        QCOMPARE(ourStreams(server_, "source-outputs"), QStringList{"float32le 2ch 48000Hz"});
        QCOMPARE(failed.count(), 0);
    }
};

SNT_TEST_MAIN(SessionDefaultSourceTest)
#include "SessionDefaultSourceTest.moc"
