#include "audio/Client.h"
#include "audio/Stream.h"
#include "audio/WasapiPlugin.h"
#include "tests/audio/LogCapture.h"
#include "tests/audio/SignalDevice.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <algorithm>
#include <tuple>
#include <vector>

// The WASAPI backend over ALSA against a real sound server: a PulseAudio null sink "loop" whose
// monitor records exactly what is played into it (started by scripts/test.sh).
using audio::Client;
using audio::Plugin;

namespace {

constexpr int rate = 48000;
constexpr int channels = 2;

// The server's own view of a sink or source: description, rate and channels.
struct ServerView
{
    QString description;
    uint32_t rate = 0;
    qsizetype channels = 0;
};

ServerView serverView(const QString &kind, const QString &name)
{
    QProcess pactl;
    pactl.start("pactl", {"list", kind});
    pactl.waitForFinished(10000);
    const auto m = QRegularExpression("Name: " + QRegularExpression::escape(name)
                                              + "\\n.*?Description: ([^\\n]*)\\n"
                                                ".*?Sample \\w+: \\S+ (\\d+)ch (\\d+)Hz",
                                      QRegularExpression::DotMatchesEverythingOption)
                           .match(QString::fromUtf8(pactl.readAllStandardOutput()));
    return {m.captured(1), m.captured(3).toUInt(), m.captured(2).toInt()};
}

qint64 firstSoundFrame(const std::vector<float> &samples)
{
    const auto at = std::find_if(samples.cbegin(), samples.cend(), [](float v) { return v != 0; });
    return at == samples.cend() ? -1 : qint64(at - samples.cbegin()) / channels;
}

const audio::DeviceInfo *row(const audio::DeviceList &rows, const QString &id)
{
    const auto at = std::find_if(rows.cbegin(), rows.cend(), [&id](auto &r) { return r.id == id; });
    return at == rows.cend() ? nullptr : &*at;
}

} // namespace

class WasapiAlsaTest : public QObject
{
    Q_OBJECT

    QString doomedSocket() const { return serverDir_.filePath("pulse.sock"); }

    QTemporaryDir serverDir_;
    QProcess doomedServer_;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (scripts/test.sh)");
        // A device declared to ALSA whose sink the server does not have, as after an unplug.
        // ALSA reads its configuration once per process, so it is declared before any use.
        QFile rc(QDir::homePath() + "/.asoundrc");
        QVERIFY(rc.open(QIODevice::Append));
        rc.write("pcm.gone { type asym playback.pcm { type pulse device \"gone\" }"
                 " hint { show on description \"Unplugged\" } }\n");
        // A device on a second server of its own, which a test stops under a running stream.
        QVERIFY(serverDir_.isValid());
        rc.write(QStringLiteral(
                         "pcm.doomed { type asym playback.pcm { type pulse server "
                         "\"unix:%1\" device \"doomed\" } hint { description \"Doomed\" } }\n")
                         .arg(doomedSocket())
                         .toUtf8());
    }

    void cleanupTestCase()
    {
        doomedServer_.kill();
        doomedServer_.waitForFinished(10000);
    }

    void deviceListShowsTheSinkAndItsMonitorAsTheServerSeesThem()
    {
        const auto client = Client::instance();
        const audio::DeviceList rows = client->devices();
        for (const auto &[id, kind, name, input] :
             {std::tuple{"alsa:render:loop", "sinks", "loop", false},
              std::tuple{"alsa:capture:loop_monitor", "sources", "loop.monitor", true}}) {
            const ServerView server = serverView(kind, name);
            QVERIFY(!server.description.isEmpty());
            const audio::DeviceInfo *r = row(rows, id);
            QVERIFY2(r, id);
            QCOMPARE(r->name, server.description);
            QCOMPARE(r->pluginName, QStringLiteral("WASAPI"));
            QCOMPARE(r->sampleRate, server.rate);
            QCOMPARE((input ? r->inputChannels : r->outputChannels).size(), server.channels);
            QVERIFY((input ? r->outputChannels : r->inputChannels).isEmpty());
        }
        QCOMPARE(client->defaultDevice(Plugin::Output), QStringLiteral("alsa:render:default"));
        QCOMPARE(client->defaultDevice(Plugin::Input), QStringLiteral("alsa:capture:default"));
    }

    void playedSignalComesBackSampleAccurateForTenSeconds()
    {
        const auto client = Client::instance();
        SignalDevice sink;
        SignalDevice source;
        const audio::Format inFormat = client->preferredInputFormat("alsa:capture:loop_monitor");
        const audio::Format outFormat = client->preferredOutputFormat("alsa:render:loop");
        QCOMPARE(inFormat, (audio::Format{rate, channels}));
        QCOMPARE(outFormat, (audio::Format{rate, channels}));
        QPointer<audio::Stream> input
                = client->openInput("alsa:capture:loop_monitor", &sink, inFormat);
        QPointer<audio::Stream> output = client->openOutput("alsa:render:loop", &source, outFormat);
        const auto closeBoth = qScopeGuard([&] {
            if (output)
                output->close();
            if (input)
                input->close();
        });
        QVERIFY(input);
        QVERIFY(output);
        QCOMPARE(output->format(), (audio::Format{rate, channels}));

        constexpr qint64 checked = 10 * rate; // frames compared one by one
        qint64 start = -1; // a second after the first sound arrives, to let the server settle
        QTRY_VERIFY_WITH_TIMEOUT((start = firstSoundFrame(sink.recorded())) >= 0, 30000);
        start += rate;
        QTRY_VERIFY_WITH_TIMEOUT(qint64(sink.recorded().size()) >= (start + checked) * channels,
                                 60000);

        // The server may start its monitor a little after the sink: find where a captured frame
        // sits in the played signal, then every frame of the next ten seconds must be there too.
        const std::vector<float> got = sink.recorded();
        const qint64 playedFrame
                = SignalDevice::findPlayedFrame(got, start, start + 5 * rate, channels);
        QVERIFY2(playedFrame >= 0, "the played signal did not come back");
        qInfo() << "captured frame" << start << "holds played frame" << playedFrame;
        for (qint64 i = 0; i < checked * channels; ++i) {
            if (got[size_t(start * channels + i)]
                != SignalDevice::sample(uint64_t(playedFrame * channels + i)))
                QFAIL(qPrintable(
                        QStringLiteral("frame %1 of the ten seconds differs").arg(i / channels)));
        }
    }

    void aServerThatGoesAwayEndsTheStreamWithItsLabel()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", serverDir_.path());
        env.insert("XDG_RUNTIME_DIR", serverDir_.path());
        env.remove("PULSE_SERVER");
        doomedServer_.setProcessEnvironment(env);
        doomedServer_.start("pulseaudio",
                            {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                             "--load=module-null-sink sink_name=doomed rate=48000 "
                             "format=float32le channels=2",
                             "--load=module-native-protocol-unix socket=" + doomedSocket()});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(doomedSocket()), 20000);
        audio::WasapiPlugin plugin;
        SignalDevice source;
        QPointer<audio::Stream> stream
                = plugin.open("alsa:render:doomed", Plugin::Output, {rate, channels}, &source);
        QVERIFY(stream);
        const auto closeStream = qScopeGuard([&stream] {
            if (stream)
                stream->close();
        });
        QTRY_VERIFY(source.pos() > rate * channels * qint64(sizeof(float)) / 10);
        LogCapture log;
        doomedServer_.kill();
        // The stream's thread meets the vanished device at its next call and leaves; the
        // stream stays until its user closes it.
        const QRegularExpression invalidated("^(GetCurrentPadding|GetBuffer|ReleaseBuffer) "
                                             "0x88890004 Unknown error 0x88890004 "
                                             "AUDCLNT_E_DEVICE_INVALIDATED$");
        QTRY_VERIFY2_WITH_TIMEOUT(!log.lines().filter(invalidated).isEmpty(), log.text(), 20000);
        QVERIFY(stream->isRunning());
        stream->close();
        QVERIFY(!source.isOpen());
    }

    void openingAMissingDeviceFailsCleanly_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("logged");
        QTest::newRow("not declared")
                << "alsa:render:nosuch" << false
                << "^GetDevice 202 0x80070490 Unknown error 0x80070490 unknown$";
        QTest::newRow("declared, not on the server")
                << "alsa:render:gone" << true << "^Initialize audio client 241 0x";
    }
    void openingAMissingDeviceFailsCleanly()
    {
        QFETCH(QString, id);
        QFETCH(bool, listed);
        QFETCH(QString, logged);
        audio::WasapiPlugin plugin;
        QCOMPARE(row(plugin.devices(), id) != nullptr, listed);
        LogCapture log;
        SignalDevice source;
        QVERIFY(!plugin.open(id, Plugin::Output, {rate, channels}, &source));
        QVERIFY2(!log.lines().filter(QRegularExpression(logged)).isEmpty(), log.text());
        QVERIFY(!source.isOpen());
    }
};

SNT_TEST_MAIN(WasapiAlsaTest)
#include "WasapiAlsaTest.moc"
