#include "SignalTools.h"
#include "audio/Client.h"
#include "engine/Radix2Fft.h"
#include "engine/tf/generator/AudioFilePlayer.h"
#include "engine/tf/generator/GeneratorThread.h"
#include "engine/tf/generator/PeriodicNoise.h"
#include "engine/tf/generator/PinkNoise.h"
#include "engine/tf/generator/SinSweep.h"
#include "engine/tf/generator/WavFile.h"
#include "engine/tf/generator/WhiteNoise.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <cmath>
#include <complex>
#include <memory>

using namespace signaltest;

namespace {

constexpr int rate = 48000;

// A source ready to be read: mono (or `channels`), 48 kHz, no fade, open.
template <typename Source>
std::unique_ptr<Source> openSource(GeneratorThread* owner, int channels = 1)
{
    auto source = std::make_unique<Source>(owner);
    source->setChanelCount(channels);
    source->setSamplerate(rate);
    source->setFadeDuration(0.0f);
    source->resetFadeIn();
    source->open(QIODevice::ReadOnly);
    return source;
}

}  // namespace

class SourcesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GeneratorThread> owner;  // never started: the sources' channel set and gain
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(audio::Client::setPluginFactories({}));
        owner = std::make_unique<GeneratorThread>();
        owner->setChannels({0});
        QVERIFY(dir.isValid());
    }

    // ---- the common device ----

    void channelPlacement_data()
    {
        QTest::addColumn<bool>("withOwner");
        QTest::addColumn<QSet<int>>("channels");
        QTest::newRow("both") << true << QSet<int>{0, 1};
        QTest::newRow("right only") << true << QSet<int>{1};
        QTest::newRow("none") << true << QSet<int>{};
        QTest::newRow("extra channel beyond the frame") << true << QSet<int>{0, 5};
        QTest::newRow("no owner") << false << QSet<int>{0, 1};
    }

    void channelPlacement()
    {
        QFETCH(bool, withOwner);
        QFETCH(QSet<int>, channels);
        GeneratorThread local;
        local.setChannels(channels);
        auto source = openSource<WhiteNoise>(withOwner ? &local : nullptr, 2);
        QSignalSpy samples(source.get(), &OutputDevice::sampleOut);
        QSignalSpy blocks(source.get(), &OutputDevice::blockOut);

        float out[4] = {9, 9, 9, 9};
        QCOMPARE(source->read(reinterpret_cast<char*>(out), 16), 16);
        // Exactly the frames asked for were made: nothing was read ahead into a buffer.
        QCOMPARE(samples.count(), 2);
        QCOMPARE(blocks.count(), 1);
        QCOMPARE(blocks.at(0).at(1).toLongLong(), 2);
        QCOMPARE(blocks.at(0).at(2).toInt(), 2);
        QCOMPARE(blocks.at(0).at(3).toInt(), rate);
        for (int frame = 0; frame < 2; ++frame) {
            const float s = samples.at(frame).at(0).toFloat();
            QVERIFY(s != 0.0f);
            for (int c = 0; c < 2; ++c)
                QCOMPARE(out[frame * 2 + c], withOwner && channels.contains(c) ? s : 0.0f);
        }
    }

    void partialSlotsStayZero()
    {
        auto source = openSource<WhiteNoise>(owner.get());
        char bytes[7];
        std::memset(bytes, 0x55, sizeof bytes);
        QCOMPARE(source->read(bytes, 7), 4);
        QCOMPARE(bytes[4], '\0');
        QCOMPARE(bytes[6], '\0');
    }

    void gainFollowsDecibels()
    {
        WhiteNoise source(owner.get());
        QCOMPARE(source.gain(), 1.0f);
        source.setGain(-6.0f);
        QVERIFY(std::abs(source.gain() - 0.501187f) < 1e-6f);
        source.setGain(20.0f);
        QVERIFY(std::abs(source.gain() - 10.0f) < 1e-5f);
        // The owner's gain reaches every source.
        GeneratorThread local;
        WhiteNoise followed(&local);
        local.setGain(-12.0f);
        QVERIFY(std::abs(followed.gain() - 0.251189f) < 1e-6f);
    }

    void fadeInRisesExponentially()
    {
        auto source = openSource<WhiteNoise>(owner.get());
        source->setFadeDuration(1.0f);
        source->resetFadeIn();
        QSignalSpy samples(source.get(), &OutputDevice::sampleOut);
        const std::vector<float> out = play(*source, 50000);
        QCOMPARE(samples.count(), 50000);
        const auto fadeGain = [&](int frame) {
            return double(out[size_t(frame)]) / double(samples.at(frame).at(0).toFloat());
        };
        QCOMPARE(out[0], 0.0f);
        const double e3 = std::exp(3.0) - 1.0;
        QVERIFY(std::abs(fadeGain(24000) - (std::exp(1.5) - 1.0) / e3) < 1e-5);
        QVERIFY(std::abs(fadeGain(12000) - (std::exp(0.75) - 1.0) / e3) < 1e-5);
        // The fade ends just under 1 and stays there.
        const double last = (std::exp(3.0 * 47999.0 / 48000.0) - 1.0) / e3;
        QVERIFY(last < 1.0);
        for (int frame : {47999, 48000, 48001, 49999})
            QVERIFY2(std::abs(fadeGain(frame) - last) < 1e-5, qPrintable(QString::number(frame)));

        // Without a rate there is no fade.
        WhiteNoise unrated(owner.get());
        unrated.setFadeDuration(1.0f);
        unrated.resetFadeIn();
        unrated.open(QIODevice::ReadOnly);
        QSignalSpy unratedSamples(&unrated, &OutputDevice::sampleOut);
        float first = 0;
        unrated.read(reinterpret_cast<char*>(&first), 4);
        QCOMPARE(first, unratedSamples.at(0).at(0).toFloat());
    }

    // ---- noises ----

    void whiteNoiseIsUniformAndFlat()
    {
        auto source = openSource<WhiteNoise>(owner.get());
        const std::vector<float> x = play(*source, 1 << 21);
        double mean = 0.0;
        float low = 1.0f, high = -1.0f;
        for (const float v : x) {
            mean += v;
            low = std::min(low, v);
            high = std::max(high, v);
        }
        mean /= double(x.size());
        QVERIFY(std::abs(mean) < 2e-3);
        QVERIFY(low >= -1.0f && high <= 1.0f);
        QVERIFY(low < -0.999f && high > 0.999f);
        // Uniform on [−1, 1]: RMS 1/√3.
        QVERIFY2(std::abs(rms(x) / std::sqrt(1.0 / 3.0) - 1.0) < 2e-3, qPrintable(QString::number(rms(x))));
        // Flat spectrum: each octave holds twice the power of the one below (+3.01 dB).
        const QList<double> bands = octaveBandPowersDb(x, rate);
        for (int j = 1; j < bands.size(); ++j)
            QVERIFY2(std::abs(bands[j] - bands[j - 1] - 3.0103) < 0.3,
                     qPrintable(QString("octave %1: %2 dB").arg(j).arg(bands[j] - bands[j - 1])));
    }

    void pinkNoiseFalls3dBPerOctave()
    {
        auto source = openSource<PinkNoise>(owner.get());
        play(*source, 1 << 16);  // let the slowest filter state settle
        const std::vector<float> x = play(*source, 1 << 21);
        // Equal power in every octave from 62.5 Hz to 16 kHz.
        const QList<double> bands = octaveBandPowersDb(x, rate);
        double mean = 0.0;
        for (double b : bands)
            mean += b / bands.size();
        for (int j = 0; j < bands.size(); ++j)
            QVERIFY2(std::abs(bands[j] - mean) < 0.3,
                     qPrintable(QString("octave %1: %2 dB").arg(j).arg(bands[j] - mean)));
        // The filter's white-noise gain (its squared impulse response, 9.3179) times 1/3 for
        // the uniform noise, scaled by 0.11: −14.25 dBFS RMS.
        const double levelDb = 20.0 * std::log10(rms(x));
        QVERIFY2(std::abs(levelDb - -14.2499) < 0.1, qPrintable(QString::number(levelDb)));
    }

    void pinkLevelFollowsGain()
    {
        auto source = openSource<PinkNoise>(owner.get());
        source->setGain(-20.0f);
        play(*source, 1 << 16);
        const double levelDb = 20.0 * std::log10(rms(play(*source, 1 << 20)));
        QVERIFY2(std::abs(levelDb - -34.2499) < 0.15, qPrintable(QString::number(levelDb)));
    }

    // ---- sweep ----

    void sweepFollowsTheExponentialLaw()
    {
        auto source = openSource<SinSweep>(owner.get());
        source->setStart(20);
        source->setEnd(20000);
        source->setDuration(2.0f);
        const std::vector<float> x = play(*source, 3 * rate);

        // Phase of an exponential sweep: 2π·f0·T/ln(f1/f0)·(e^(t·ln(f1/f0)/T) − 1).
        const double k = std::log(1000.0);
        const auto cycles = [k](double t) { return 20.0 * 2.0 / k * (std::exp(t * k / 2.0) - 1.0); };
        for (const double t : {0.1, 0.5, 1.0, 1.5, 1.9}) {
            const qint64 first = qint64(t * rate);
            const qint64 last = first + rate / 20;  // 50 ms windows
            const double expected = 2.0 * (cycles(double(last) / rate) - cycles(double(first) / rate));
            const int counted = zeroCrossings(x, first, last);
            QVERIFY2(std::abs(counted - expected) <= 2.0 + expected * 2e-3,
                     qPrintable(QString("t=%1: %2 crossings, expected %3").arg(t).arg(counted).arg(expected)));
        }
        float peak = 0.0f;
        for (const float v : x)
            peak = std::max(peak, std::abs(v));
        QVERIFY(peak > 0.999f && peak <= 1.0f);

        // It starts again at phase 0 after its duration, rounded up to whole samples.
        qint64 restart = -1;
        for (qint64 p = 2 * rate - 1; p <= 2 * rate + 2 && restart < 0; ++p)
            if (std::equal(x.begin(), x.begin() + 4000, x.begin() + p))
                restart = p;
        QVERIFY2(restart == 2 * rate || restart == 2 * rate + 1, qPrintable(QString::number(restart)));
        QCOMPARE(x[size_t(restart)], 0.0f);
    }

    void sweepWithEqualEndsIsATone()
    {
        auto source = openSource<SinSweep>(owner.get());
        source->setStart(500);
        source->setEnd(500);
        std::vector<float> x = play(*source, 2 * rate);
        QCOMPARE(zeroCrossings(x, 0, 2 * rate), 2000 - 1);
        source->setFrequency(1000);
        x = play(*source, rate);
        QVERIFY(std::abs(zeroCrossings(x, 0, rate) - 2000) <= 1);
        // Switching the generator on or off starts from phase 0 again.
        source->enabledChanged(true);
        QCOMPARE(play(*source, 1)[0], 0.0f);
    }

    // ---- periodic noise ----

    void periodicNoiseMatchesItsDefinition()
    {
        const QList<double> period = makePeriodicNoise(65536, 0x50524E21, 1.0);
        QCOMPARE(period.size(), 65536);
        double mean = 0.0, energy = 0.0;
        for (const double v : period) {
            mean += v;
            energy += v * v;
        }
        QVERIFY(std::abs(mean / 65536.0) < 1e-12);
        QVERIFY(std::abs(std::sqrt(energy / 65536.0) - 1.0) < 1e-12);

        // Values computed independently as √(2/H)·Σ k^(−1/2)·cos(φk + 2πkn/N), H the harmonic
        // number of N/2 − 1, φk from the Mersenne Twister draws a then b.
        const QList<QPair<int, double>> reference{{0, -1.1338562896611986},
                                                  {1, -1.379021366257909},
                                                  {2, -1.9412362717578124},
                                                  {1000, -0.27851590761242184},
                                                  {32768, 0.4094698277202322},
                                                  {65535, -1.3520044265019082}};
        for (const auto& [n, value] : reference)
            QVERIFY2(std::abs(period[n] - value) < 1e-9, qPrintable(QString::number(n)));

        // Amplitude 1/√k in every bin between DC and Nyquist, nothing at either end.
        std::vector<std::complex<double>> spectrum;
        realFft(period.constData(), 65536, 65536, spectrum);
        const double unit = std::abs(spectrum[1]);
        for (int k = 1; k < 32768; ++k)
            QVERIFY2(std::abs(std::abs(spectrum[size_t(k)]) * std::sqrt(double(k)) / unit - 1.0) < 1e-9,
                     qPrintable(QString::number(k)));
        QVERIFY(std::abs(spectrum[0]) < 1e-9 * unit);
        QVERIFY(std::abs(spectrum[32768]) < 1e-9 * unit);

        QCOMPARE(makePeriodicNoise(65536, 0x50524E21, 1.0), period);  // same seed, same period
        QVERIFY(makePeriodicNoise(65536, 1, 1.0) != period);
        QCOMPARE(makePeriodicNoise(4, 1, 2.0).size(), 4);
        for (int length : {3, 100, 2, 0, -8})
            QVERIFY2(makePeriodicNoise(length, 1, 1.0).isEmpty(), qPrintable(QString::number(length)));
    }

    void periodicNoiseRepeatsExactly()
    {
        auto source = openSource<PeriodicNoise>(owner.get());
        const QList<double> period = makePeriodicNoise(65536, PeriodicNoise::seed, 1.0);
        const std::vector<float> x = play(*source, 2 * 65536 + 1000, 3000);
        for (int i = 0; i < 65536 + 1000; ++i)
            QCOMPARE(x[size_t(i + 65536)], x[size_t(i)]);
        for (int i = 0; i < 65536; i += 997)
            QCOMPARE(x[size_t(i)], float(period[i]));
        QVERIFY(std::abs(rms(std::vector<float>(x.begin(), x.begin() + 65536)) - 1.0) < 1e-6);

        source->enabledChanged(false);
        QCOMPARE(play(*source, 1)[0], x[0]);
        // Without a rate the source has no period and plays silence.
        source->setSamplerate(0);
        QCOMPARE(play(*source, 1)[0], 0.0f);
    }

    // ---- WAV reader ----

    void wavFormats_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QList<float>>("samples");

        QTest::newRow("pcm 8 mono")
            << riff({chunk("fmt ", fmtPayload(1, 1, 8000, 8)),
                     chunk("data", QByteArray("\x80\xFF\x00\xC0", 4))})
            << 1 << 8 << QList<float>{0.0f, 0.9921875f, -1.0f, 0.5f};
        QTest::newRow("pcm 16 mono")
            << riff({chunk("fmt ", fmtPayload(1, 1, 44100, 16)),
                     chunk("data", littleEndian<qint16>({0, 16384, -32768, 32767}))})
            << 1 << 16 << QList<float>{0.0f, 0.5f, -1.0f, 32767.0f / 32768.0f};
        QTest::newRow("pcm 16 stereo mixes to mono")
            << riff({chunk("fmt ", fmtPayload(1, 2, 48000, 16)),
                     chunk("data", littleEndian<qint16>({16384, -16384, 16384, 0}))})
            << 2 << 16 << QList<float>{0.0f, 0.25f};
        QTest::newRow("pcm 24 stereo")
            << riff({chunk("fmt ", fmtPayload(1, 2, 96000, 24)),
                     chunk("data", pcm24({0x400000, -0x400000, -0x800000, -0x800000, 0x200000,
                                          0x7FFFFF}))})
            << 2 << 24 << QList<float>{0.0f, -1.0f, (0.25f + 8388607.0f / 8388608.0f) / 2.0f};
        QTest::newRow("pcm 32 mono")
            << riff({chunk("fmt ", fmtPayload(1, 1, 48000, 32)),
                     chunk("data", littleEndian<qint32>({1073741824, -2147483647 - 1, 0}))})
            << 1 << 32 << QList<float>{0.5f, -1.0f, 0.0f};
        QTest::newRow("float 32 stereo")
            << riff({chunk("fmt ", fmtPayload(3, 2, 48000, 32)),
                     chunk("data", littleEndian<float>({0.5f, -0.5f, 0.25f, 0.75f}))})
            << 2 << 32 << QList<float>{0.0f, 0.5f};
        QTest::newRow("float 64 mono")
            << riff({chunk("fmt ", fmtPayload(3, 1, 48000, 64)),
                     chunk("data", littleEndian<double>({0.125, -0.75, 1.5}))})
            << 1 << 64 << QList<float>{0.125f, -0.75f, 1.5f};
        QTest::newRow("float 64 stereo")
            << riff({chunk("fmt ", fmtPayload(3, 2, 48000, 64)),
                     chunk("data", littleEndian<double>({0.5, 0.25, -1.0, 0.0}))})
            << 2 << 64 << QList<float>{0.375f, -0.5f};
        QTest::newRow("extensible float")
            << riff({chunk("fmt ", extensiblePayload(3, 1, 48000, 32)),
                     chunk("data", littleEndian<float>({0.3f, -0.6f}))})
            << 1 << 32 << QList<float>{0.3f, -0.6f};
        QTest::newRow("extensible pcm 24")
            << riff({chunk("fmt ", extensiblePayload(1, 1, 48000, 24)),
                     chunk("data", pcm24({0x100000}))})
            << 1 << 24 << QList<float>{0.125f};
        QTest::newRow("odd chunks and a pad byte")
            << riff({chunk("LIST", QByteArray("abc")), chunk("fmt ", fmtPayload(1, 1, 48000, 16)),
                     chunk("junk", QByteArray("x")),
                     chunk("data", littleEndian<qint16>({8192}))})
            << 1 << 16 << QList<float>{0.25f};
        QTest::newRow("odd data chunk")
            << riff({chunk("fmt ", fmtPayload(1, 1, 48000, 8)), chunk("data", QByteArray("\xA0", 1)),
                     chunk("note", QByteArray("tail"))})
            << 1 << 8 << QList<float>{0.25f};
        QTest::newRow("later data replaces earlier")
            << riff({chunk("data", littleEndian<qint16>({1000, 1000})),
                     chunk("fmt ", fmtPayload(1, 1, 48000, 16)),
                     chunk("data", littleEndian<qint16>({-16384}))})
            << 1 << 16 << QList<float>{-0.5f};
        QTest::newRow("trailing partial frame ignored")
            << riff({chunk("fmt ", fmtPayload(1, 2, 48000, 16)),
                     chunk("data", littleEndian<qint16>({16384, 16384, 100}))})
            << 2 << 16 << QList<float>{0.5f};
        QByteArray truncated = riff({chunk("fmt ", fmtPayload(1, 1, 48000, 16)),
                                     chunk("data", littleEndian<qint16>({16384, -16384, 0, 0}))});
        truncated.chop(4);  // the data chunk claims more than the file holds
        QTest::newRow("data chunk cut short") << truncated << 1 << 16
                                              << QList<float>{0.5f, -0.5f};
    }

    void wavFormats()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, channels);
        QFETCH(int, bits);
        QFETCH(QList<float>, samples);
        const QString path = dir.filePath("format.wav");
        QVERIFY(writeFile(path, bytes));
        WavFile file;
        QVERIFY2(readWavFile(path, file), qPrintable(file.error));
        QVERIFY(file.ok);
        QCOMPARE(file.channels, channels);
        QCOMPARE(file.bitsPerSample, bits);
        QCOMPARE(file.samples.size(), samples.size());
        for (qsizetype i = 0; i < samples.size(); ++i)
            QVERIFY2(std::abs(file.samples[i] - samples[i]) < 1e-6f,
                     qPrintable(QString("%1: %2").arg(i).arg(file.samples[i])));
    }

    void wavFailures_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        const QByteArray data16 = chunk("data", littleEndian<qint16>({1, 2}));
        QTest::newRow("not riff") << QByteArray("RIFX\0\0\0\0WAVE", 12)
                                  << QStringLiteral("不是有效的 WAV 文件");
        QTest::newRow("not wave") << QByteArray("RIFF\0\0\0\0AVI ", 12)
                                  << QStringLiteral("不是有效的 WAV 文件");
        QTest::newRow("too short") << QByteArray("RIFF") << QStringLiteral("不是有效的 WAV 文件");
        QTest::newRow("header only") << riff({}) << QStringLiteral("缺少 fmt 块");
        QTest::newRow("no fmt") << riff({data16}) << QStringLiteral("缺少 fmt 块");
        QTest::newRow("cut fmt") << riff({}) + QByteArray("fmt \x10\0\0\0\x01\0", 10)
                                 << QStringLiteral("fmt 块读取失败");
        QTest::newRow("no data") << riff({chunk("fmt ", fmtPayload(1, 1, 48000, 16))})
                                 << QStringLiteral("缺少 data 块或数据为空");
        QTest::newRow("empty data")
            << riff({chunk("fmt ", fmtPayload(1, 1, 48000, 16)), chunk("data", {})})
            << QStringLiteral("缺少 data 块或数据为空");
        QTest::newRow("adpcm") << riff({chunk("fmt ", fmtPayload(2, 1, 48000, 16)), data16})
                               << QStringLiteral("不支持的音频格式 (仅支持 PCM 和 IEEE Float)");
        QTest::newRow("unknown extensible")
            << riff({chunk("fmt ", extensiblePayload(2, 1, 48000, 16)), data16})
            << QStringLiteral("不支持的音频格式 (仅支持 PCM 和 IEEE Float)");
        QTest::newRow("no channels") << riff({chunk("fmt ", fmtPayload(1, 0, 48000, 16)), data16})
                                     << QStringLiteral("无效的声道数或采样率");
        QTest::newRow("no rate") << riff({chunk("fmt ", fmtPayload(1, 1, 0, 16)), data16})
                                 << QStringLiteral("无效的声道数或采样率");
        QTest::newRow("4 bits") << riff({chunk("fmt ", fmtPayload(1, 1, 48000, 4)), data16})
                                << QStringLiteral("无效的帧大小");
        QTest::newRow("less than a frame")
            << riff({chunk("fmt ", fmtPayload(1, 2, 48000, 32)), data16})
            << QStringLiteral("音频数据为空");
        QTest::newRow("12 bits") << riff({chunk("fmt ", fmtPayload(1, 1, 48000, 12)), data16})
                                 << QStringLiteral("不支持的位深: 12");
        // Float widths other than 32 and 64 bits are refused instead of playing silence.
        QTest::newRow("16-bit float") << riff({chunk("fmt ", fmtPayload(3, 1, 48000, 16)), data16})
                                      << QStringLiteral("不支持的位深: 16");
        QTest::newRow("24-bit float")
            << riff({chunk("fmt ", fmtPayload(3, 1, 48000, 24)), chunk("data", pcm24({1, 2}))})
            << QStringLiteral("不支持的位深: 24");
    }

    void wavFailures()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        const QString path = dir.filePath("broken.wav");
        QVERIFY(writeFile(path, bytes));
        WavFile file;
        QVERIFY(!readWavFile(path, file));
        QVERIFY(!file.ok);
        QCOMPARE(file.error, error);
        QVERIFY(file.samples.isEmpty());
    }

    void wavMissingFile()
    {
        WavFile file;
        QVERIFY(!readWavFile(dir.filePath("nothing-here.wav"), file));
        QVERIFY(file.error.startsWith(QStringLiteral("无法打开文件: ")));
        QVERIFY(file.error.size() > QStringLiteral("无法打开文件: ").size());
    }

    // ---- file player ----

    void playerLoopsAndResamples()
    {
        // 100 samples of a ramp at 44100 Hz, played at 48000 Hz: 0.91875 file samples per
        // output sample, with the last sample leading into the first.
        QList<qint16> ramp;
        for (int i = 0; i < 100; ++i)
            ramp.append(qint16(i * 100));
        const QString path = dir.filePath("ramp.wav");
        QVERIFY(writeFile(path, riff({chunk("fmt ", fmtPayload(1, 1, 44100, 16)),
                                      chunk("data", littleEndian<qint16>(ramp))})));
        auto player = openSource<AudioFilePlayer>(owner.get());
        QSignalSpy loaded(player.get(), &AudioFilePlayer::fileLoaded);
        player->loadFile(path);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toBool(), true);
        QCOMPARE(loaded.at(0).at(1).toString(), QString());
        QVERIFY(player->isLoaded());

        const std::vector<float> x = play(*player, 400);
        const auto value = [](int i) { return float(i % 100) * 100.0f / 32768.0f; };
        for (int k = 0; k < 400; ++k) {
            const double position = std::fmod(k * 0.91875, 100.0);
            const int i = int(position);
            const double f = position - i;
            const double expected = (1.0 - f) * value(i) + f * value(i + 1);
            QVERIFY2(std::abs(x[size_t(k)] - expected) < 2e-6,
                     qPrintable(QString("%1: %2 vs %3").arg(k).arg(x[size_t(k)]).arg(expected)));
        }
        // A rate change keeps the pitch: 44100/96000 file samples per output sample.
        player->setSamplerate(96000);
        player->loadFile(path);
        const std::vector<float> y = play(*player, 3);
        QVERIFY(std::abs(y[1] - 0.459375f * value(1)) < 1e-6f);
    }

    // ---- the default test signal ----

    void musicNoiseFileIsMusicLike()
    {
        WavFile file;
        QVERIFY2(readWavFile(QStringLiteral(SNT_MUSIC_NOISE_WAV), file), qPrintable(file.error));
        QCOMPARE(file.sampleRate, 48000);
        QCOMPARE(file.channels, 1);
        const std::vector<float> x(file.samples.begin(), file.samples.end());
        QVERIFY(x.size() >= size_t(20 * 48000));  // a few tens of seconds
        QCOMPARE(x.size() & (x.size() - 1), size_t(0));  // one circular period

        float peak = 0.0f;
        for (const float v : x)
            peak = std::max(peak, std::abs(v));
        QVERIFY(peak < 1.0f && peak > 0.8f);
        const double levelDb = 20.0 * std::log10(rms(x));
        QVERIFY2(levelDb > -26.0 && levelDb < -14.0, qPrintable(QString::number(levelDb)));

        // Pink: the same power in every octave.
        const QList<double> bands = octaveBandPowersDb(x, 48000);
        double mean = 0.0;
        for (double b : bands)
            mean += b / bands.size();
        for (int j = 0; j < bands.size(); ++j)
            QVERIFY2(std::abs(bands[j] - mean) < 1.0,
                     qPrintable(QString("octave %1: %2 dB").arg(j).arg(bands[j] - mean)));

        // Like music, the peaks stand higher above the level toward high frequencies.
        std::vector<std::complex<double>> spectrum;
        realFft(x.data(), x.size(), x.size(), spectrum);
        QList<double> crest;
        for (int j = 0; j < 9; ++j) {
            const double centre = 62.5 * std::pow(2.0, j);
            std::vector<std::complex<double>> band(spectrum.size());
            for (size_t k = 0; k < spectrum.size(); ++k) {
                const double f = double(k) * 48000.0 / double(x.size());
                if (f >= centre / std::sqrt(2.0) && f < centre * std::sqrt(2.0))
                    band[k] = spectrum[k];
            }
            std::vector<double> y;
            realInverseFft(band, x.size(), y);
            double bandPeak = 0.0, energy = 0.0;
            for (const double v : y) {
                bandPeak = std::max(bandPeak, std::abs(v));
                energy += v * v;
            }
            crest.append(20.0 * std::log10(bandPeak / std::sqrt(energy / double(y.size()))));
        }
        const double low = (crest[0] + crest[1] + crest[2]) / 3.0;
        const double high = (crest[6] + crest[7] + crest[8]) / 3.0;
        QVERIFY2(high - low > 4.0, qPrintable(QString("crest low %1 dB, high %2 dB").arg(low).arg(high)));
        qInfo() << "crest factors per octave from 62.5 Hz:" << crest << "level" << levelDb;

        // The end leads into the start like any other step in the file.
        double steps = 0.0;
        for (size_t i = 1; i < x.size(); ++i)
            steps += double(x[i] - x[i - 1]) * double(x[i] - x[i - 1]);
        const double typicalStep = std::sqrt(steps / double(x.size() - 1));
        QVERIFY(std::abs(double(x.front() - x.back())) < 4.0 * typicalStep);
    }

    void notANumberStopsTheRead()
    {
        const QString path = dir.filePath("nan.wav");
        QVERIFY(writeFile(path, riff({chunk("fmt ", fmtPayload(3, 1, 48000, 32)),
                                      chunk("data", littleEndian<float>({0.5f, NAN, 0.25f}))})));
        auto player = openSource<AudioFilePlayer>(owner.get());
        player->loadFile(path);
        QVERIFY(player->isLoaded());
        QSignalSpy errors(player.get(), &OutputDevice::sampleError);
        QSignalSpy blocks(player.get(), &OutputDevice::blockOut);
        float out[3];
        QCOMPARE(player->read(reinterpret_cast<char*>(out), sizeof out), 0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(blocks.count(), 0);
    }

    void playerRefusesWhatItCannotPlay()
    {
        const QString path = dir.filePath("half.wav");
        QVERIFY(writeFile(path, riff({chunk("fmt ", fmtPayload(3, 1, 48000, 16)),
                                      chunk("data", littleEndian<qint16>({1000, 2000}))})));
        auto player = openSource<AudioFilePlayer>(owner.get());
        QSignalSpy loaded(player.get(), &AudioFilePlayer::fileLoaded);
        player->loadFile(path);
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toBool(), false);
        QCOMPARE(loaded.at(0).at(1).toString(), QStringLiteral("不支持的位深: 16"));
        QVERIFY(!player->isLoaded());
        for (const float v : play(*player, 100))
            QCOMPARE(v, 0.0f);
    }
};

SNT_TEST_MAIN(SourcesTest)
#include "SourcesTest.moc"
