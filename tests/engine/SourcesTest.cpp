#include "SignalTools.h"
#include "audio/Client.h"
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
#include <algorithm>
#include <memory>
#include <numeric>

using namespace signaltest;

namespace {

constexpr int rate = 48000;

// A source ready to be read: `channels` wide, 48 kHz, no fade, open.
template<typename Source>
std::unique_ptr<Source> openSource(GeneratorThread *owner, int channels = 1)
{
    auto source = std::make_unique<Source>(owner);
    source->setChanelCount(channels);
    source->setSamplerate(rate);
    source->setFadeDuration(0.0f);
    source->resetFadeIn();
    source->open(QIODevice::ReadOnly);
    return source;
}

// The samples a source loops back, kept in order.
struct LoopbackRecord : LoopbackSink
{
    std::vector<float> samples;
    void loopedBack(std::span<const float> block) override
    {
        samples.insert(samples.end(), block.begin(), block.end());
    }
};

} // namespace

// The test signals against independent truths: spectra and levels of the noises, the sweep's
// frequency law, the periodic noise's exact period and spectrum, and WAV files written here byte
// by byte.
class SourcesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<GeneratorThread> owner; // never started: the sources' channel set and gain
    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        return writeFile(path, bytes) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(audio::Client::setPluginFactories({}));
        owner = std::make_unique<GeneratorThread>();
        owner->setChannels({0});
    }

    void channelPlacement_data()
    {
        QTest::addColumn<bool>("withOwner");
        QTest::addColumn<int>("width");
        QTest::addColumn<QSet<int>>("channels");
        QTest::newRow("both") << true << 2 << QSet<int>{0, 1};
        QTest::newRow("right only") << true << 2 << QSet<int>{1};
        QTest::newRow("extra channel beyond the frame") << true << 2 << QSet<int>{0, 5};
        QTest::newRow("a wide card's channels past 64") << true << 130 << QSet<int>{0, 64, 129};
        QTest::newRow("no owner") << false << 2 << QSet<int>{0, 1};
    }

    // Two frames: the owner's channels carry the sample, the others stay silent, and the
    // owner's loopback sink gets exactly the two samples, nothing read ahead.
    void channelPlacement()
    {
        QFETCH(bool, withOwner);
        QFETCH(int, width);
        QFETCH(QSet<int>, channels);
        GeneratorThread local;
        local.setChannels(channels);
        LoopbackRecord looped;
        local.bindLoopback(&looped);
        auto source = openSource<WhiteNoise>(withOwner ? &local : nullptr, width);
        std::vector<float> out(size_t(2 * width), 9.0f);
        const qint64 bytes = qint64(out.size() * sizeof(float));
        QCOMPARE(source->read(reinterpret_cast<char *>(out.data()), bytes), bytes);
        QCOMPARE(looped.samples.size(), withOwner ? size_t(2) : size_t(0));
        for (int i = 0; i < 2 * width; ++i)
            QCOMPARE(out[size_t(i)], withOwner && channels.contains(i % width)
                                             ? looped.samples[size_t(i / width)]
                                             : 0.0f);
        local.unbindLoopback(&looped);
    }

    // Uniform white noise: RMS 1/√3 and +3.01 dB per octave. Pink noise: the same power in every
    // octave; its filter's white-noise gain (9.3179) times 1/3, scaled by 0.11, is −14.25 dBFS,
    // here 20 dB lower by the source gain.
    void noiseSpectraAndLevels_data()
    {
        QTest::addColumn<bool>("pink");
        QTest::addColumn<double>("octaveStepDb");
        QTest::addColumn<double>("levelDb");
        QTest::newRow("white") << false << 3.0103 << -4.7712;
        QTest::newRow("pink at -20 dB") << true << 0.0 << -34.2499;
    }

    void noiseSpectraAndLevels()
    {
        QFETCH(bool, pink);
        QFETCH(double, octaveStepDb);
        QFETCH(double, levelDb);
        std::unique_ptr<OutputDevice> source;
        if (pink)
            source = openSource<PinkNoise>(owner.get());
        else
            source = openSource<WhiteNoise>(owner.get());
        source->setGain(pink ? -20.0f : 0.0f);
        play(*source, 1 << 16); // let the slowest filter state settle
        const std::vector<float> x = play(*source, 1 << 21);
        QVERIFY2(std::abs(rmsDb(x) - levelDb) < 0.1, qPrintable(QString::number(rmsDb(x))));
        QList<double> bands = octaveBandPowersDb(x, rate);
        for (int j = 0; j < bands.size(); ++j)
            bands[j] -= j * octaveStepDb; // now level
        const double mean = std::accumulate(bands.begin(), bands.end(), 0.0) / bands.size();
        for (int j = 0; j < bands.size(); ++j)
            QVERIFY2(std::abs(bands[j] - mean) < 0.3, qPrintable(QString("octave %1").arg(j)));
    }

    void sweepFollowsTheExponentialLaw()
    {
        auto source = openSource<SinSweep>(owner.get());
        source->setStart(20);
        source->setEnd(20000);
        source->setDuration(2.0f);
        const std::vector<float> x = play(*source, 3 * rate);
        // Phase of an exponential sweep in cycles: f0·T/ln(f1/f0)·(e^(t·ln(f1/f0)/T) − 1); two
        // zero crossings per cycle, counted over 50 ms windows.
        const double k = std::log(1000.0);
        const auto cycles = [k](double t) {
            return 40.0 / k * (std::exp(t * k / 2.0) - 1.0);
        };
        for (const double t : {0.1, 0.5, 1.0, 1.5, 1.9}) {
            int crossings = 0;
            for (qint64 i = qint64(t * rate) + 1; i < qint64(t * rate) + rate / 20; ++i)
                crossings += (x[size_t(i - 1)] < 0.0f) != (x[size_t(i)] < 0.0f);
            const double expected = 2.0 * (cycles(t + 0.05) - cycles(t));
            QVERIFY2(std::abs(crossings - expected) <= 2.0 + expected * 2e-3,
                     qPrintable(QString("t=%1: %2 of %3").arg(t).arg(crossings).arg(expected)));
        }
        const auto peak = std::max_element(x.begin(), x.end());
        QVERIFY(*peak > 0.999f && *peak <= 1.0f);
        // It starts again at phase 0 after its duration, rounded up to whole samples.
        qint64 restart = -1;
        for (qint64 p = 2 * rate - 1; p <= 2 * rate + 2 && restart < 0; ++p)
            if (std::equal(x.begin(), x.begin() + 4000, x.begin() + p))
                restart = p;
        QVERIFY(restart == 2 * rate || restart == 2 * rate + 1);
        QCOMPARE(x[size_t(restart)], 0.0f);
    }

    void periodicNoise()
    {
        // Amplitude 1/√k in every bin between DC and Nyquist, nothing at either end, RMS 1.
        const QList<double> period = makePeriodicNoise(65536, PeriodicNoise::seed, 1.0);
        std::vector<std::complex<double>> spectrum;
        realFft(period.constData(), 65536, 65536, spectrum);
        const double unit = std::abs(spectrum[1]);
        for (int k = 1; k < 32768; ++k)
            QVERIFY2(std::abs(std::abs(spectrum[k]) * std::sqrt(k) / unit - 1.0) < 1e-9,
                     qPrintable(QString::number(k)));
        QVERIFY(std::abs(spectrum[0]) < 1e-9 * unit && std::abs(spectrum[32768]) < 1e-9 * unit);
        for (int length : {3, 100, 0, -8})
            QVERIFY(makePeriodicNoise(length, 1, 1.0).isEmpty());

        // The source plays that period exactly, block boundaries or not, and restarts it.
        auto source = openSource<PeriodicNoise>(owner.get());
        const std::vector<float> x = play(*source, 2 * 65536 + 1000, 3000);
        for (size_t i = 0; i < x.size(); ++i)
            QCOMPARE(x[i], float(period[int(i % 65536)]));
        QVERIFY(std::abs(rmsDb({x.begin(), x.begin() + 65536})) < 1e-4);
        source->enabledChanged(false);
        QCOMPARE(play(*source, 1)[0], x[0]);
        source->setSamplerate(0); // no rate, no period: silence
        QCOMPARE(play(*source, 1)[0], 0.0f);
    }

    void wavFormats_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<float>>("samples"); // mixed to mono
        QTest::newRow("pcm 8") << wav(fmt(1, 1, 8000, 8), QByteArray("\x80\xFF\x00\xC0", 4))
                               << QList<float>{0.0f, 0.9921875f, -1.0f, 0.5f};
        QTest::newRow("pcm 16 stereo")
                << wav(fmt(1, 2, 44100, 16), i16({16384, -16384, -32768, 32767}))
                << QList<float>{0.0f, -0.5f / 32768.0f};
        QTest::newRow("pcm 24 stereo")
                << wav(fmt(1, 2, 96000, 24), pcm24({0x400000, -0x400000, -0x800000, 0x7FFFFF}))
                << QList<float>{0.0f, -0.5f / 8388608.0f};
        QTest::newRow("pcm 32") << wav(fmt(1, 1, 48000, 32),
                                       littleEndian<qint32>({1 << 30, INT32_MIN}))
                                << QList<float>{0.5f, -1.0f};
        QTest::newRow("float 32 stereo")
                << wav(fmt(3, 2, 48000, 32), f32({0.5f, -0.5f, 0.25f, 0.75f}))
                << QList<float>{0.0f, 0.5f};
        QTest::newRow("float 64 stereo")
                << wav(fmt(3, 2, 48000, 64), littleEndian<double>({0.5, 0.25, -1.0, 1.5}))
                << QList<float>{0.375f, 0.25f};
        QTest::newRow("extensible float")
                << wav(fmt(0, 1, 48000, 32, 3), f32({0.3f, -0.6f})) << QList<float>{0.3f, -0.6f};
        QTest::newRow("extensible pcm 24")
                << wav(fmt(0, 1, 48000, 24, 1), pcm24({0x100000})) << QList<float>{0.125f};
        QTest::newRow("odd chunks, pad bytes, later data replaces earlier")
                << riff({chunk("LIST", "abc"), chunk("data", i16({1000})), fmt(1, 1, 48000, 8),
                         chunk("data", QByteArray("\xA0", 1)), chunk("note", "tail")})
                << QList<float>{0.25f};
        QTest::newRow("trailing partial frame ignored")
                << wav(fmt(1, 2, 48000, 16), i16({16384, 16384, 100})) << QList<float>{0.5f};
        QByteArray cut = wav(fmt(1, 1, 48000, 16), i16({16384, -16384, 0, 0}));
        cut.chop(4); // the data chunk claims more than the file holds
        QTest::newRow("data chunk cut short") << cut << QList<float>{0.5f, -0.5f};
        // Beyond full scale, as float files may be, up to +200 dBFS.
        QTest::newRow("float beyond full scale")
                << wav(fmt(3, 1, 48000, 32), f32({4.0f, -1e10f})) << QList<float>{4.0f, -1e10f};
    }

    void wavFormats()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<float>, samples);
        WavFile file;
        QVERIFY2(readWavFile(write("format.wav", bytes), file), qPrintable(file.error));
        QVERIFY(file.ok);
        QCOMPARE(file.samples.size(), samples.size());
        for (qsizetype i = 0; i < samples.size(); ++i)
            QVERIFY2(std::abs(file.samples[i] - samples[i]) < 1e-6f,
                     qPrintable(QString("%1: %2").arg(i).arg(file.samples[i])));
    }

    void wavFailures_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // empty: no file at all
        QTest::addColumn<QString>("error");
        const QByteArray data = i16({1, 2});
        const QString invalid = QStringLiteral("不是有效的 WAV 文件");
        QTest::newRow("missing file") << QByteArray() << QStringLiteral("无法打开文件: ");
        QTest::newRow("not riff") << QByteArray("RIFX\0\0\0\0WAVE", 12) << invalid;
        QTest::newRow("too short") << QByteArray("RIFF") << invalid;
        QTest::newRow("no fmt") << riff({chunk("data", data)}) << QStringLiteral("缺少 fmt 块");
        QTest::newRow("cut fmt") << riff({}) + QByteArray("fmt \x10\0\0\0\x01\0", 10)
                                 << QStringLiteral("fmt 块读取失败");
        QTest::newRow("empty data")
                << wav(fmt(1, 1, 48000, 16), {}) << QStringLiteral("缺少 data 块或数据为空");
        QTest::newRow("adpcm") << wav(fmt(2, 1, 48000, 16), data)
                               << QStringLiteral("不支持的音频格式 (仅支持 PCM 和 IEEE Float)");
        QTest::newRow("no rate") << wav(fmt(1, 1, 0, 16), data)
                                 << QStringLiteral("无效的声道数或采样率");
        QTest::newRow("4 bits") << wav(fmt(1, 1, 48000, 4), data) << QStringLiteral("无效的帧大小");
        QTest::newRow("less than a frame")
                << wav(fmt(1, 2, 48000, 32), data) << QStringLiteral("音频数据为空");
        QTest::newRow("12 bits") << wav(fmt(1, 1, 48000, 12), data)
                                 << QStringLiteral("不支持的位深: 12");
        // Float widths other than 32 and 64 bits are refused instead of playing silence.
        QTest::newRow("16-bit float")
                << wav(fmt(3, 1, 48000, 16), data) << QStringLiteral("不支持的位深: 16");
        // Samples that are not finite numbers, named with the file they came in.
        const QString notFinite
                = QStringLiteral("音频文件含有无效的采样值 (NaN 或无穷大): bad.wav");
        QTest::newRow("float NaN")
                << wav(fmt(3, 1, 48000, 32), f32({0.5f, NAN, 0.5f})) << notFinite;
        QTest::newRow("float infinity in one channel")
                << wav(fmt(3, 2, 48000, 32), f32({0.5f, 0.5f, -INFINITY, 0.5f})) << notFinite;
        QTest::newRow("extensible float NaN")
                << wav(fmt(0, 1, 48000, 32, 3), f32({NAN})) << notFinite;
        QTest::newRow("double beyond single precision")
                << wav(fmt(3, 1, 48000, 64), littleEndian<double>({0.25, 1e300})) << notFinite;
        // Samples no test signal holds (beyond +200 dBFS), though their channels mix to silence.
        const QString beyond
                = QStringLiteral("音频文件含有超出范围的采样值 (超过 +200 dBFS): bad.wav");
        QTest::newRow("float of 1e30")
                << wav(fmt(3, 1, 48000, 32), f32({0.5f, 1e30f, 0.5f})) << beyond;
        QTest::newRow("opposite floats of 1e11 in two channels")
                << wav(fmt(3, 2, 48000, 32), f32({0.5f, 0.5f, 1e11f, -1e11f})) << beyond;
    }

    void wavFailures()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        WavFile file;
        const QString path = bytes.isEmpty() ? dir.filePath("absent.wav") : write("bad.wav", bytes);
        QVERIFY(!readWavFile(path, file));
        QVERIFY(!file.ok && file.samples.isEmpty());
        QVERIFY2(bytes.isEmpty() ? file.error.startsWith(error) && file.error.size() > error.size()
                                 : file.error == error,
                 qPrintable(file.error));
    }

    void playerLoopsAndResamples()
    {
        // A 100-sample ramp at 44100 Hz played at 48000 Hz: 0.91875 file samples per output
        // sample, linear between them, the last leading into the first.
        QList<qint16> ramp;
        for (int i = 0; i < 100; ++i)
            ramp.append(qint16(i * 100));
        auto player = openSource<AudioFilePlayer>(owner.get());
        QSignalSpy loaded(player.get(), &AudioFilePlayer::fileLoaded);
        player->loadFile(write("ramp.wav", wav(fmt(1, 1, 44100, 16), i16(ramp))));
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0), QVariantList({true, QString()}));
        const std::vector<float> x = play(*player, 400);
        const auto value = [](int i) {
            return float(i % 100) * 100.0f / 32768.0f;
        };
        for (int k = 0; k < 400; ++k) {
            const double position = std::fmod(k * 0.91875, 100.0), f = position - int(position);
            const double expected = (1.0 - f) * value(int(position)) + f * value(int(position) + 1);
            QVERIFY2(std::abs(x[size_t(k)] - expected) < 2e-6, qPrintable(QString::number(k)));
        }
    }

    // Whatever the player cannot play reaches no output: a format it cannot decode and samples
    // that are not numbers are reported and play silence; a sample that is not a number all the
    // same (here through the gain) stops the read.
    void playerRefusesWhatItCannotPlay()
    {
        auto player = openSource<AudioFilePlayer>(owner.get());
        QSignalSpy loaded(player.get(), &AudioFilePlayer::fileLoaded);
        player->loadFile(write("half.wav", wav(fmt(3, 1, 48000, 16), i16({1000}))));
        QCOMPARE(loaded.at(0), QVariantList({false, QStringLiteral("不支持的位深: 16")}));
        QVERIFY(!player->isLoaded());
        for (const float v : play(*player, 100))
            QCOMPARE(v, 0.0f);
        player->loadFile(write("nan.wav", wav(fmt(3, 1, 48000, 32), f32({0.5f, NAN}))));
        QCOMPARE(
                loaded.at(1),
                QVariantList({false,
                              QStringLiteral("音频文件含有无效的采样值 (NaN 或无穷大): nan.wav")}));
        QVERIFY(!player->isLoaded());
        for (const float v : play(*player, 100))
            QCOMPARE(v, 0.0f);

        player->loadFile(write("plain.wav", wav(fmt(3, 1, 48000, 32), f32({0.5f, 0.25f}))));
        QVERIFY(player->isLoaded());
        player->setGain(NAN);
        QSignalSpy errors(player.get(), &OutputDevice::sampleError);
        QSignalSpy blocks(player.get(), &OutputDevice::blockOut);
        float out[2];
        QCOMPARE(player->read(reinterpret_cast<char *>(out), sizeof out), 0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(blocks.count(), 0);
    }

    // The default test signal, made at build time: one circular period of pink noise whose
    // peaks stand higher above the level toward high frequencies, as in music.
    void musicNoiseFileIsMusicLike()
    {
        WavFile file;
        QVERIFY2(readWavFile(QStringLiteral(SNT_MUSIC_NOISE_WAV), file), qPrintable(file.error));
        QCOMPARE(file.sampleRate, 48000);
        QCOMPARE(file.channels, 1);
        const std::vector<float> x(file.samples.begin(), file.samples.end());
        QVERIFY(x.size() >= size_t(20 * 48000));
        QCOMPARE(x.size() & (x.size() - 1), size_t(0));
        const auto [low, high] = std::minmax_element(x.begin(), x.end());
        QVERIFY(std::max(-*low, *high) < 1.0f && std::max(-*low, *high) > 0.8f);
        QVERIFY2(rmsDb(x) > -26.0 && rmsDb(x) < -14.0, qPrintable(QString::number(rmsDb(x))));
        const QList<double> bands = octaveBandPowersDb(x, 48000);
        const double mean = std::accumulate(bands.begin(), bands.end(), 0.0) / bands.size();
        for (int j = 0; j < bands.size(); ++j)
            QVERIFY2(std::abs(bands[j] - mean) < 1.0, qPrintable(QString("octave %1").arg(j)));

        std::vector<std::complex<double>> spectrum;
        realFft(x.data(), x.size(), x.size(), spectrum);
        QList<double> crest;
        for (int j = 0; j < 9; ++j) {
            const double centre = 62.5 * std::pow(2.0, j);
            std::vector<std::complex<double>> band(spectrum.size());
            for (size_t k = 0; k < spectrum.size(); ++k) {
                const double f = double(k) * 48000.0 / double(x.size());
                if (f >= centre / M_SQRT2 && f < centre * M_SQRT2)
                    band[k] = spectrum[k];
            }
            std::vector<double> y;
            realInverseFft(band, x.size(), y);
            double peak = 0.0, energy = 0.0;
            for (const double v : y) {
                peak = std::max(peak, std::abs(v));
                energy += v * v;
            }
            crest.append(20.0 * std::log10(peak / std::sqrt(energy / double(y.size()))));
        }
        const double lowCrest = (crest[0] + crest[1] + crest[2]) / 3.0;
        const double highCrest = (crest[6] + crest[7] + crest[8]) / 3.0;
        QVERIFY2(highCrest - lowCrest > 4.0,
                 qPrintable(QString("%1, %2 dB").arg(lowCrest).arg(highCrest)));
        // The end leads into the start like any other step in the file.
        double steps = 0.0;
        for (size_t i = 1; i < x.size(); ++i)
            steps += double(x[i] - x[i - 1]) * double(x[i] - x[i - 1]);
        QVERIFY(std::abs(x.front() - x.back()) < 4.0 * std::sqrt(steps / double(x.size() - 1)));
    }
};

SNT_TEST_MAIN(SourcesTest)
#include "SourcesTest.moc"
