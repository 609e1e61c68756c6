#include "audio/AudioInput.h"
#include "audio/Client.h"
#include "audio/Stream.h"
#include "audio/WasapiPlugin.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QFile>
#include <QIODevice>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <QRegularExpression>
#include <vector>

// The WASAPI backend over ALSA against a real sound server: a PulseAudio null sink "loop" whose
// monitor records exactly what is played into it (started by scripts/test.sh).
using audio::Client;
using audio::Plugin;

namespace {

constexpr int rate = 48000;
constexpr int channels = 2;

// The known signal: a fixed pseudo-random sequence of 24-bit values, exact in float.
class SignalSource : public QIODevice {
public:
    static float sample(uint64_t index)
    {
        uint64_t x = index * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        x ^= x >> 32;
        return float(int32_t(x & 0xFFFFFF) - 0x800000) / float(1 << 24);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = maxSize / qint64(sizeof(float));
        auto* out = reinterpret_cast<float*>(data);
        for (qint64 i = 0; i < count; ++i)
            out[i] = sample(next_++);
        return count * qint64(sizeof(float));
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    uint64_t next_ = 0;
};

class RecordingSink : public QIODevice {
public:
    qint64 frames() const
    {
        QMutexLocker lock(&mutex_);
        return qint64(samples_.size()) / channels;
    }
    std::vector<float> samples() const
    {
        QMutexLocker lock(&mutex_);
        return samples_;
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        QMutexLocker lock(&mutex_);
        const auto* f = reinterpret_cast<const float*>(data);
        samples_.insert(samples_.end(), f, f + size / qint64(sizeof(float)));
        return size;
    }

private:
    mutable QMutex mutex_;
    std::vector<float> samples_;
};

// The server's own view of a sink or source: description, rate and channels.
struct ServerView {
    QString description;
    uint32_t rate = 0;
    int channels = 0;
};

ServerView serverView(const QString& kind, const QString& name)
{
    QProcess pactl;
    pactl.start("pactl", {"list", kind});
    pactl.waitForFinished(10000);
    const QString text = QString::fromUtf8(pactl.readAllStandardOutput());
    ServerView view;
    const int at
        = text.indexOf(QRegularExpression("Name: " + QRegularExpression::escape(name) + "\\n"));
    if (at < 0)
        return view;
    const QString block = text.mid(at);
    const auto description = QRegularExpression("Description: ([^\\n]*)").match(block);
    const auto sampleFormat
        = QRegularExpression("Sample \\w+: \\S+ (\\d+)ch (\\d+)Hz").match(block);
    view.description = description.captured(1);
    view.channels = sampleFormat.captured(1).toInt();
    view.rate = sampleFormat.captured(2).toUInt();
    return view;
}

qint64 firstNonSilentFrame(const std::vector<float>& samples)
{
    for (size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f)
            return qint64(i / channels);
    return -1;
}

// The frame of the played signal that the captured frame `at` (and the two after it) holds, or -1.
qint64 findPlayedFrame(const std::vector<float>& got, qint64 at, qint64 searchEnd)
{
    const auto sampleAt = [&got, at](int k) { return got[size_t(at * channels + k)]; };
    for (qint64 frame = 0; frame < searchEnd; ++frame) {
        const uint64_t first = uint64_t(frame * channels);
        bool same = true;
        for (int k = 0; k < 3 * channels && same; ++k)
            same = sampleAt(k) == SignalSource::sample(first + uint64_t(k));
        if (same)
            return frame;
    }
    return -1;
}

const audio::DeviceInfo* row(const audio::DeviceList& rows, const QString& id)
{
    for (const auto& r : rows)
        if (r.id == id)
            return &r;
    return nullptr;
}

}  // namespace

class WasapiAlsaTest : public QObject {
    Q_OBJECT

    QString doomedSocket() const { return serverDir_.filePath("pulse.sock"); }

    bool startDoomedServer()
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
        if (!doomedServer_.waitForStarted(10000))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(doomedSocket()) && waited.elapsed() < 20000)
            QTest::qWait(50);
        return QFile::exists(doomedSocket());
    }

    void stopDoomedServer()
    {
        if (doomedServer_.state() == QProcess::NotRunning)
            return;
        doomedServer_.kill();
        doomedServer_.waitForFinished(10000);
    }

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
        rc.write(
            QStringLiteral("pcm.doomed { type asym playback.pcm { type pulse server "
                           "\"unix:%1\" device \"doomed\" } hint { description \"Doomed\" } }\n")
                .arg(doomedSocket())
                .toUtf8());
    }

    void cleanupTestCase() { stopDoomedServer(); }

    void deviceListShowsTheSinkAndItsMonitor()
    {
        const auto client = Client::instance();
        const audio::DeviceList rows = client->devices();
        const ServerView sink = serverView("sinks", "loop");
        const ServerView monitor = serverView("sources", "loop.monitor");
        QVERIFY(!sink.description.isEmpty());
        QVERIFY(!monitor.description.isEmpty());

        const audio::DeviceInfo* render = row(rows, "alsa:render:loop");
        QVERIFY(render);
        QCOMPARE(render->name, sink.description);
        QCOMPARE(render->pluginName, QStringLiteral("WASAPI"));
        QCOMPARE(render->sampleRate, sink.rate);
        QCOMPARE(render->outputChannels.size(), sink.channels);
        QVERIFY(render->inputChannels.isEmpty());

        const audio::DeviceInfo* capture = row(rows, "alsa:capture:loop_monitor");
        QVERIFY(capture);
        QCOMPARE(capture->name, monitor.description);
        QCOMPARE(capture->sampleRate, monitor.rate);
        QCOMPARE(capture->inputChannels.size(), monitor.channels);
        QVERIFY(capture->outputChannels.isEmpty());

        QCOMPARE(client->defaultDevice(Plugin::Output), QStringLiteral("alsa:render:default"));
        QCOMPARE(client->defaultDevice(Plugin::Input), QStringLiteral("alsa:capture:default"));
        QVERIFY(client->hasDevice("alsa:render:default"));
    }

    void playedSignalComesBackSampleAccurateForTenSeconds()
    {
        const auto client = Client::instance();
        RecordingSink sink;
        SignalSource source;
        const audio::Format inFormat = client->preferredInputFormat("alsa:capture:loop_monitor");
        const audio::Format outFormat = client->preferredOutputFormat("alsa:render:loop");
        QCOMPARE(inFormat, (audio::Format{rate, channels}));
        QCOMPARE(outFormat, (audio::Format{rate, channels}));
        QPointer<audio::Stream> input
            = client->openInput("alsa:capture:loop_monitor", &sink, inFormat);
        QPointer<audio::Stream> output = client->openOutput("alsa:render:loop", &source, outFormat);
        const auto closeBoth = [&] {
            if (output)
                output->close();
            if (input)
                input->close();
        };
        const auto closeOnFailure = qScopeGuard(closeBoth);
        QVERIFY(input);
        QVERIFY(output);
        QCOMPARE(output->format(), (audio::Format{rate, channels}));

        constexpr qint64 checked = 10 * rate;  // frames compared one by one
        constexpr qint64 settle = rate;  // skipped after the first sound arrives
        qint64 firstSound = -1;
        QTRY_VERIFY_WITH_TIMEOUT((firstSound = firstNonSilentFrame(sink.samples())) >= 0, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(sink.frames() >= firstSound + settle + checked, 60000);
        closeBoth();

        // The server may start its monitor a little after the sink: find where a captured frame
        // sits in the played signal, then every frame of the next ten seconds must be there too.
        const std::vector<float> got = sink.samples();
        const qint64 start = firstSound + settle;
        const qint64 playedFrame = findPlayedFrame(got, start, start + 5 * rate);
        QVERIFY2(playedFrame >= 0, "the played signal did not come back");
        qInfo() << "captured frame" << start << "holds played frame" << playedFrame;
        for (qint64 i = 0; i < checked * channels; ++i) {
            if (got[size_t(start * channels + i)]
                != SignalSource::sample(uint64_t(playedFrame * channels + i)))
                QFAIL(qPrintable(
                    QStringLiteral("frame %1 of the ten seconds differs").arg(i / channels)));
        }
    }

    void recordingFrontEndRecordsTheDefaultDevice()
    {
        // The server's default source is the loop's monitor: what the default output plays
        // reaches the measurement and reference blocks.
        AudioInput input;
        QCOMPARE(input.deviceId(), QStringLiteral("alsa:capture:default"));
        input.setMeasurementChannel(0);
        input.setReferenceChannel(1);
        QMutex mutex;
        float loudestMeasurement = 0.0f;
        float loudestReference = 0.0f;
        connect(
            &input, &AudioInput::dataReady, this,
            [&](const QList<float>& data, const QList<float>& reference) {
                QMutexLocker lock(&mutex);
                for (float v : data)
                    loudestMeasurement = std::max(loudestMeasurement, std::abs(v));
                for (float v : reference)
                    loudestReference = std::max(loudestReference, std::abs(v));
            },
            Qt::DirectConnection);
        input.setActive(true);
        QVERIFY(input.isActive());
        QCOMPARE(input.sampleRate(), unsigned(rate));

        const auto client = Client::instance();
        SignalSource source;
        QPointer<audio::Stream> output
            = client->openOutput(client->defaultDevice(Plugin::Output), &source, {rate, channels});
        QVERIFY(output);
        const auto closeOutput = qScopeGuard([&output] {
            if (output)
                output->close();
        });
        const auto loudest = [&] {
            QMutexLocker lock(&mutex);
            return std::min(loudestMeasurement, loudestReference);
        };
        // The signal's samples reach about 0.5 in magnitude on both channels.
        QTRY_VERIFY_WITH_TIMEOUT(loudest() > 0.45f, 30000);
        input.setActive(false);
    }

    void aServerThatGoesAwayEndsTheStreamWithItsLabel()
    {
        QVERIFY(startDoomedServer());
        audio::WasapiPlugin plugin;
        SignalSource source;
        QPointer<audio::Stream> stream
            = plugin.open("alsa:render:doomed", Plugin::Output, {rate, channels}, &source);
        QVERIFY(stream);
        const auto closeStream = qScopeGuard([&stream] {
            if (stream)
                stream->close();
        });
        QTRY_VERIFY(source.pos() > rate * channels * qint64(sizeof(float)) / 10);
        LogCapture log;
        stopDoomedServer();
        // The stream's thread meets the vanished device at its next call and leaves; the
        // stream stays until its user closes it.
        QTRY_VERIFY2_WITH_TIMEOUT(
            log.contains("GetCurrentPadding 0x88890004 Unknown error 0x88890004 "
                         "AUDCLNT_E_DEVICE_INVALIDATED")
                || log.contains("GetBuffer 0x88890004 Unknown error 0x88890004 "
                                "AUDCLNT_E_DEVICE_INVALIDATED")
                || log.contains("ReleaseBuffer 0x88890004 Unknown error 0x88890004 "
                                "AUDCLNT_E_DEVICE_INVALIDATED"),
            qPrintable(log.lines().join('\n')), 20000);
        QVERIFY(stream->isRunning());
        stream->close();
        QVERIFY(!source.isOpen());
    }

    void openingADeviceThatIsNotThereFailsCleanly()
    {
        audio::WasapiPlugin plugin;
        LogCapture log;
        SignalSource source;
        QVERIFY(!plugin.open("alsa:render:nosuch", Plugin::Output, {rate, channels}, &source));
        QVERIFY2(log.contains("GetDevice 202 0x80070490 Unknown error 0x80070490 unknown"),
                 qPrintable(log.lines().join('\n')));
        QVERIFY(!source.isOpen());
    }

    void openingADeclaredDeviceTheServerLacksFailsCleanly()
    {
        audio::WasapiPlugin plugin;
        QVERIFY(row(plugin.devices(), "alsa:render:gone"));
        LogCapture log;
        SignalSource source;
        QVERIFY(!plugin.open("alsa:render:gone", Plugin::Output, {rate, channels}, &source));
        QVERIFY2(log.hasLineStartingWith("Initialize audio client 241 0x"),
                 qPrintable(log.lines().join('\n')));
        QVERIFY(!source.isOpen());
    }
};

SNT_TEST_MAIN(WasapiAlsaTest)
#include "WasapiAlsaTest.moc"
