#include "audio/Client.h"
#include "audio/Stream.h"
#include "audio/backends/Backends.h"
#include "audio/wasapi/WasapiPlugin.h"
#include "tests/audio/LogCapture.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <tuple>
#include <unistd.h>
#include <vector>

// The WASAPI backend over ALSA against a real sound server: a PulseAudio null sink "loop" whose
// monitor records exactly what is played into it (started by scripts/test.sh).
using audio::Client;
using audio::Plugin;

namespace {

constexpr int rate = 48000;
constexpr int channels = 2;

// Reads give the known signal: a fixed pseudo-random sequence of 24-bit values, exact in float.
// Writes (from a capture stream's thread) are kept.
class SignalDevice : public QIODevice
{
public:
    static float sample(uint64_t index)
    {
        uint64_t x = index * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        x ^= x >> 32;
        return float(int32_t(x & 0xFFFFFF) - 0x800000) / float(1 << 24);
    }
    std::vector<float> recorded() const
    {
        QMutexLocker lock(&mutex_);
        return recorded_;
    }
    qint64 framesRecorded() const
    {
        QMutexLocker lock(&mutex_);
        return qint64(recorded_.size()) / channels;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = maxSize / qint64(sizeof(float));
        auto *out = reinterpret_cast<float *>(data);
        for (qint64 i = 0; i < count; ++i)
            out[i] = sample(next_++);
        return count * qint64(sizeof(float));
    }
    qint64 writeData(const char *data, qint64 size) override
    {
        QMutexLocker lock(&mutex_);
        const auto *f = reinterpret_cast<const float *>(data);
        recorded_.insert(recorded_.end(), f, f + size / qint64(sizeof(float)));
        return size;
    }

private:
    uint64_t next_ = 0;
    mutable QMutex mutex_;
    std::vector<float> recorded_;
};

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

// Whether captured frame `at` holds played frame `played`, times `gain`.
bool sameFrame(const std::vector<float> &got, qint64 at, qint64 played, float gain = 1.0f)
{
    for (int c = 0; c < channels; ++c)
        if (got[size_t(at * channels + c)]
            != gain * SignalDevice::sample(uint64_t(played * channels + c)))
            return false;
    return true;
}

// The frame of the played signal, from `from` on, that the captured frame `at` (and the two after
// it) holds, times `gain`, or -1.
qint64 findPlayedFrame(const std::vector<float> &got, qint64 at, qint64 from, qint64 searchEnd,
                       float gain = 1.0f)
{
    for (qint64 frame = from; frame < searchEnd; ++frame)
        if (sameFrame(got, at, frame, gain) && sameFrame(got, at + 1, frame + 1, gain)
            && sameFrame(got, at + 2, frame + 2, gain))
            return frame;
    return -1;
}

// Whether `frames` captured frames hold the played signal times `gain` without a break, from
// wherever their first one sits among the first `played` frames: those from `at` on, or else
// those from one of the places a quarter of a second apart after it. A sound server starved by
// a busy machine may run dry anywhere, at the start of the streams above all; a chain that
// converts wrongly holds the signal nowhere.
bool holdsPlayedSignal(const std::vector<float> &got, qint64 at, qint64 frames, qint64 played,
                       float gain)
{
    const auto holdsFrom = [&](qint64 from) {
        const qint64 frame = findPlayedFrame(got, from, 0, played, gain);
        for (qint64 i = 0; frame >= 0 && i < frames; ++i)
            if (!sameFrame(got, from + i, frame + i, gain))
                return false;
        return frame >= 0;
    };
    for (qint64 from = at; qint64(got.size()) / channels >= from + frames; from += rate / 4)
        if (holdsFrom(from))
            return true;
    return false;
}

std::vector<float> floatsOf(const QByteArray &bytes)
{
    std::vector<float> values(size_t(bytes.size()) / sizeof(float));
    std::memcpy(values.data(), bytes.constData(), values.size() * sizeof(float));
    return values;
}

// Processor time the threads of this process named `name` used so far, in clock ticks.
qint64 threadTicks(const QString &name)
{
    qint64 ticks = 0;
    for (const QString &task :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name.toUtf8()
            || !stat.open(QIODevice::ReadOnly))
            continue;
        // Fields 14 and 15 (user and system time) follow the parenthesised command name.
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        ticks += fields.value(11).toLongLong() + fields.value(12).toLongLong();
    }
    return ticks;
}

// Captured frames of exact silence from `at` on (up to `end`): what the sink plays while its
// source is late.
qint64 silenceAt(const std::vector<float> &got, qint64 at, qint64 end)
{
    qint64 frames = 0;
    while (at + frames < end
           && std::all_of(got.begin() + (at + frames) * channels,
                          got.begin() + (at + frames + 1) * channels,
                          [](float v) { return v == 0; }))
        ++frames;
    return frames;
}

// A gap the capture reported: before captured frame `frame`, `lost` frames (-1: unknown).
struct Gap
{
    qint64 frame;
    qint64 lost;
};

const audio::DeviceInfo *row(const audio::DeviceList &rows, const QString &id)
{
    const auto at = std::find_if(rows.cbegin(), rows.cend(), [&id](auto &r) { return r.id == id; });
    return at == rows.cend() ? nullptr : &*at;
}

} // namespace

class WasapiAlsaTest : public QObject
{
    Q_OBJECT

    // The failed calls' step labels, which these tests look for, are the WASAPI area's debug
    // lines, off unless asked for.
    static inline const QString wasapiSteps = QStringLiteral("snt.wasapi.debug=true");

    QString doomedSocket() const { return serverDir_.filePath("pulse.sock"); }

    QTemporaryDir serverDir_;
    QProcess doomedServer_;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(wasapiSteps);
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            SNT_SKIP("needs the test sound server (scripts/test.sh)");
        // A device declared to ALSA whose sink the server does not have, as after an unplug.
        // ALSA reads its configuration once per process, so it is declared before any use.
        QFile rc(QDir::homePath() + "/.asoundrc");
        QVERIFY(rc.open(QIODevice::Append));
        rc.write("pcm.gone { type asym playback.pcm { type pulse device \"gone\" }"
                 " hint { show on description \"Unplugged\" } }\n");
        // The loop's monitor through alsa-lib's LADSPA plugin (halved, then inverted; both
        // exact in float), and the same chain behind a plug of its own; and the loop's sink
        // through the plugin (halved).
        rc.write("pcm.loop_ladspa { type ladspa slave.pcm \"plug:loop_monitor\""
                 " path \"/usr/lib/ladspa\" plugins ["
                 " { label amp_mono policy duplicate input { controls [ 0.5 ] } }"
                 " { label inv policy duplicate } ]"
                 " hint { show on description \"Halved inverted monitor\" } }\n"
                 "pcm.loop_ladspa_out { type ladspa slave.pcm \"plug:loop\""
                 " path \"/usr/lib/ladspa\" plugins ["
                 " { label amp_mono policy duplicate input { controls [ 0.5 ] } } ]"
                 " hint { show on description \"Halved loop\" } }\n"
                 "pcm.unpaced { type null hint { show on description \"Unpaced\" } }\n"
                 "pcm.loop_ladspa_plugged { type plug slave.pcm \"loop_ladspa\""
                 " hint { show on description \"Plugged halved inverted monitor\" } }\n");
        // A device on a second server of its own, which a test stops under a running stream.
        QVERIFY(serverDir_.isValid());
        rc.write(QStringLiteral(
                         "pcm.doomed { type asym playback.pcm { type pulse server "
                         "\"unix:%1\" device \"doomed\" } hint { description \"Doomed\" } }\n")
                         .arg(doomedSocket())
                         .toUtf8());
        // The program's own backends, as it gives them to the client at its start.
        QVERIFY(Client::setPluginFactories(audio::backendFactories()));
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
        // A mono source (a USB microphone) keeps its one channel: asked for two, the server
        // would copy it into both.
        for (const auto &[id, kind, name, input] :
             {std::tuple{"alsa:loop", "sinks", "loop", false},
              std::tuple{"alsa:loop_monitor", "sources", "loop.monitor", true},
              std::tuple{"alsa:mono_mic", "sources", "mono.monitor", true}}) {
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
        // ALSA's default plays and records: one device, the default in both directions.
        QCOMPARE(client->defaultDevice(Plugin::Output), QStringLiteral("alsa:default"));
        QCOMPARE(client->defaultDevice(Plugin::Input), QStringLiteral("alsa:default"));
        const audio::DeviceInfo *duplex = row(rows, "alsa:default");
        QVERIFY(duplex);
        QCOMPARE(duplex->inputChannels.size(), serverView("sources", "loop.monitor").channels);
        QCOMPARE(duplex->outputChannels.size(), serverView("sinks", "loop").channels);
        QCOMPARE(std::count_if(rows.cbegin(), rows.cend(),
                               [](const audio::DeviceInfo &d) { return d.id == "alsa:default"; }),
                 1);
    }

    // Ten seconds of a known signal, played into the sink and recorded from its monitor, come
    // back bit-exact. A loaded machine may make a stream late: the capture reports the frames it
    // lost, and a late render makes the sink play silence and skip what came too late; either
    // way the signal must go on exactly, no further ahead than the frames lost or the silence.
    // Any other difference is corruption.
    void playedSignalComesBackSampleAccurateForTenSeconds()
    {
        const auto client = Client::instance();
        SignalDevice sink;
        SignalDevice source;
        const audio::Format inFormat = client->preferredInputFormat("alsa:loop_monitor");
        const audio::Format outFormat = client->preferredOutputFormat("alsa:loop");
        QCOMPARE(inFormat, (audio::Format{rate, channels}));
        QCOMPARE(outFormat, (audio::Format{rate, channels}));
        // The capture thread reports its gaps into these until the streams are closed, which
        // ends it: they are declared before the guard that closes them, and so outlive it.
        QMutex gapsMutex;
        QList<Gap> gapsReported;
        QPointer<audio::Stream> input = client->openInput("alsa:loop_monitor", &sink, inFormat);
        QPointer<audio::Stream> output = client->openOutput("alsa:loop", &source, outFormat);
        const auto closeBoth = qScopeGuard([&] {
            if (output)
                output->close();
            if (input)
                input->close();
        });
        QVERIFY(input);
        QVERIFY(output);
        QCOMPARE(output->format(), (audio::Format{rate, channels}));
        connect(
                input, &audio::Stream::discontinuity, this,
                [&](qint64 lost) {
                    QMutexLocker lock(&gapsMutex);
                    gapsReported.append({sink.framesRecorded(), lost});
                },
                Qt::DirectConnection);

        constexpr qint64 checked = 10 * rate;
        qint64 start = -1; // a second after the first sound arrives, to let the server settle
        QTRY_VERIFY_WITH_TIMEOUT((start = firstSoundFrame(sink.recorded())) >= 0, 30000);
        start += rate;
        QTRY_VERIFY_WITH_TIMEOUT(sink.framesRecorded() >= start + checked + rate, 60000);

        // The server may start its monitor a little after the sink: find where a captured frame
        // sits in the played signal, then follow it frame by frame.
        const std::vector<float> got = sink.recorded();
        const qint64 end = start + checked;
        qint64 played = findPlayedFrame(got, start, 0, start + 5 * rate);
        QVERIFY2(played >= 0, "the played signal did not come back");
        // A copy, so that a gap reported meanwhile does not hold the capture thread for the check.
        const QList<Gap> gaps = [&] {
            QMutexLocker lock(&gapsMutex);
            return gapsReported;
        }();
        int reported = 0, late = 0;
        qint64 slack = 0; // how far the played signal may have gone on unseen
        qint64 silent = 0;
        for (qint64 at = start; at < end; ++at) {
            for (const Gap &gap : gaps) {
                if (gap.frame == at) {
                    ++reported;
                    slack += gap.lost >= 0 ? gap.lost : 5 * rate;
                }
            }
            if (silenceAt(got, at, at + 1) == 1) {
                ++silent;
                continue;
            }
            // The sink's clock ran on in silence: the source's late frames may be skipped.
            if (silent > 0) {
                ++late;
                slack += std::exchange(silent, 0);
            }
            if (!sameFrame(got, at, played)) {
                // Whatever was lost or skipped held the signal, silence or both: the signal goes
                // on exactly, somewhere within it.
                const qint64 found
                        = slack > 0 ? findPlayedFrame(got, at, played, played + slack + 1) : -1;
                if (found < 0) {
                    QStringList seen;
                    for (const Gap &gap : gaps)
                        seen << QStringLiteral("%1 (%2 lost)").arg(gap.frame - start).arg(gap.lost);
                    QFAIL(qPrintable(QStringLiteral("frame %1 of the ten seconds differs, and no "
                                                    "dropout explains it; dropouts reported: %2")
                                             .arg(at - start)
                                             .arg(seen.isEmpty() ? "none" : seen.join(", "))));
                }
                played = found;
            }
            ++played;
            slack = 0;
        }
        qInfo() << "captured frame" << start << "started the check;" << reported
                << "dropouts reported by the capture," << late << "runs of render silence";
    }

    // alsa-lib's LADSPA plugin over a plug over the server counts no frames as available until
    // it is read from; the same chain behind a plug of the user's own leaves alsa-lib nothing to
    // negotiate when another plug goes around it. Either records what arecord records from the
    // same PCM: the played signal halved and inverted. Its thread sleeps between the periods.
    void aLadspaChainRecordsWhatArecordRecords_data()
    {
        QTest::addColumn<QString>("pcm");
        QTest::addColumn<QString>("recorded"); // what arecord records from (it needs a plug)
        QTest::newRow("LADSPA over plug over pulse") << "loop_ladspa"
                                                     << "plug:loop_ladspa";
        QTest::newRow("behind a plug of its own") << "loop_ladspa_plugged"
                                                  << "loop_ladspa_plugged";
    }
    void aLadspaChainRecordsWhatArecordRecords()
    {
        QFETCH(QString, pcm);
        QFETCH(QString, recorded);
        constexpr float chainGain = -0.5f;
        const auto client = Client::instance();
        SignalDevice source;
        SignalDevice sink;
        QPointer<audio::Stream> output = client->openOutput("alsa:loop", &source, {rate, channels});
        QPointer<audio::Stream> input = client->openInput("alsa:" + pcm, &sink, {rate, channels});
        const auto closeBoth = qScopeGuard([&] {
            for (audio::Stream *s : {output.data(), input.data()})
                if (s)
                    s->close();
        });
        QVERIFY(output && input);
        qint64 start = -1;
        QTRY_VERIFY_WITH_TIMEOUT((start = firstSoundFrame(sink.recorded())) >= 0, 3000);

        QTemporaryDir dir;
        const QString file = dir.filePath("arecord.raw");
        QProcess arecord;
        arecord.start("arecord",
                      {"-q", "-D", recorded, "-f", "FLOAT_LE", "-r", QString::number(rate), "-c",
                       QString::number(channels), "-t", "raw", "-d", "2", file});
        const qint64 ticksBefore = threadTicks("alsa-capture");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(arecord.waitForFinished(20000));
        QCOMPARE(arecord.exitCode(), 0);
        const double share = double(threadTicks("alsa-capture") - ticksBefore)
                             / double(sysconf(_SC_CLK_TCK)) / (double(clock.elapsed()) / 1000.0);
        QVERIFY2(share < 0.2,
                 qPrintable(QStringLiteral("capture thread busy %1 %").arg(share * 100)));

        const qint64 played = source.pos() / qint64(channels * sizeof(float));
        const std::vector<float> ours = sink.recorded();
        // A fifth of a second each, somewhere free of a loaded machine's dropouts.
        QVERIFY2(holdsPlayedSignal(ours, start, rate / 5, played, chainGain),
                 "our recording differs");
        QFile theirFile(file);
        QVERIFY(theirFile.open(QIODevice::ReadOnly));
        const std::vector<float> theirs = floatsOf(theirFile.readAll());
        const qint64 theirStart = firstSoundFrame(theirs);
        QVERIFY2(theirStart >= 0, "arecord recorded silence");
        QVERIFY2(holdsPlayedSignal(theirs, theirStart, rate / 5, played, chainGain),
                 "arecord's recording differs");
    }

    // The same plugin chain to play into wakes the engine at once while it has no room; the
    // engine, at a real-time priority where granted, must rest between wake-ups rather than
    // keep a processor to itself.
    void aLadspaChainToPlayIntoLeavesTheEngineResting()
    {
        SignalDevice source;
        QPointer<audio::Stream> output
                = Client::instance()->openOutput("alsa:loop_ladspa_out", &source, {rate, channels});
        QVERIFY(output);
        const auto close = qScopeGuard([&output] {
            if (output)
                output->close();
        });
        QTRY_VERIFY(source.pos() > 0);
        const qint64 ticksBefore = threadTicks("alsa-render");
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(2000);
        const double share = double(threadTicks("alsa-render") - ticksBefore)
                             / double(sysconf(_SC_CLK_TCK)) / (double(clock.elapsed()) / 1000.0);
        QVERIFY2(share < 0.2,
                 qPrintable(QStringLiteral("render thread busy %1 %").arg(share * 100)));
    }

    // ALSA's null PCM takes and gives frames without pause: the engine keeps to the stream's
    // rate by the clock instead, and rests in between.
    void aPcmWithoutAClockIsPacedByTheEngine()
    {
        SignalDevice source;
        SignalDevice sink;
        const auto client = Client::instance();
        QPointer<audio::Stream> output
                = client->openOutput("alsa:unpaced", &source, {rate, channels});
        QPointer<audio::Stream> input = client->openInput("alsa:unpaced", &sink, {rate, channels});
        const auto closeBoth = qScopeGuard([&] {
            for (audio::Stream *s : {output.data(), input.data()})
                if (s)
                    s->close();
        });
        QVERIFY(output && input);
        QTRY_VERIFY(source.pos() > 0 && !sink.recorded().empty());
        const qint64 renderBefore = threadTicks("alsa-render");
        const qint64 captureBefore = threadTicks("alsa-capture");
        const qint64 playedBefore = source.pos() / qint64(channels * sizeof(float));
        const qint64 recordedBefore = qint64(sink.recorded().size()) / channels;
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(2000);
        const double seconds = double(clock.elapsed()) / 1000.0;
        const auto share = [seconds](qint64 ticks) {
            return double(ticks) / double(sysconf(_SC_CLK_TCK)) / seconds;
        };
        const double played
                = double(source.pos() / qint64(channels * sizeof(float)) - playedBefore);
        const double recorded = double(qint64(sink.recorded().size()) / channels - recordedBefore);
        QVERIFY2(share(threadTicks("alsa-render") - renderBefore) < 0.2, "render thread spins");
        QVERIFY2(share(threadTicks("alsa-capture") - captureBefore) < 0.2, "capture thread spins");
        QVERIFY2(played < seconds * rate * 1.1, qPrintable(QString::number(played / seconds)));
        QVERIFY2(recorded < seconds * rate * 1.1, qPrintable(QString::number(recorded / seconds)));
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
                = plugin.open("alsa:doomed", Plugin::Output, {rate, channels}, &source);
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
                << "alsa:nosuch" << false
                << "^GetDevice 202 0x80070490 Unknown error 0x80070490 unknown$";
        QTest::newRow("declared, not on the server")
                << "alsa:gone" << true << "^Initialize audio client 241 0x";
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

    // Opening a device the server lacks makes ALSA and its pulse plugin complain; those lines
    // stay off the log (the open still fails with its step label, a WASAPI line this test turns
    // on) and come back when the ALSA category is turned on as well.
    void alsaChatterOnlyWhenAskedFor()
    {
        audio::WasapiPlugin plugin;
        const auto alsaLines = [](const LogCapture &log) {
            return log.lines().filter(QRegularExpression("^\\[ALSA\\] "));
        };
        {
            LogCapture log;
            SignalDevice source;
            QVERIFY(!plugin.open("alsa:gone", Plugin::Output, {rate, channels}, &source));
            QVERIFY2(!log.lines().filter(QRegularExpression("^Initialize audio client")).isEmpty(),
                     log.text());
            QVERIFY2(alsaLines(log).isEmpty(), log.text());
        }
        QLoggingCategory::setFilterRules(wasapiSteps + QStringLiteral("\nsnt.alsa.debug=true"));
        const auto testRules = qScopeGuard([] { QLoggingCategory::setFilterRules(wasapiSteps); });
        LogCapture log;
        SignalDevice source;
        QVERIFY(!plugin.open("alsa:gone", Plugin::Output, {rate, channels}, &source));
        QVERIFY2(!alsaLines(log).isEmpty(), log.text());
    }
};

SNT_TEST_MAIN(WasapiAlsaTest)
#include "WasapiAlsaTest.moc"
