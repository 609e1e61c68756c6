#include "SignalTools.h"
#include "audio/phone/PhoneSampleRing.h"
#include "engine/tf/BlockAligner.h"
#include "engine/tf/BlockBaseline.h"
#include "engine/tf/PeriodAnalysis.h"
#include "engine/tf/PhoneBlockPath.h"
#include "engine/tf/SweepTemplate.h"
#include "engine/tf/WelchCoherence.h"
#include "engine/tf/generator/PeriodicNoise.h"
#include "tests/support/TestMain.h"

#include <QStringList>

using namespace signaltest;

namespace {

constexpr uint32_t rate = 48000;

struct Sweep
{
    float start = 20.0f;
    float end = 20000.0f;
    float duration = 0.5f;
};

// What a phone hears of the generator's repeating sweep, from the phone's index 0: sample n is
// taken at true time n / (rate · (1 + ppm / 10^6)) + offset.
std::vector<double> phoneSweep(double seconds, double ppm, const Sweep &sweep = {},
                               double offset = 0.0)
{
    const double phoneRate = rate * (1.0 + ppm * 1e-6);
    const double k = std::log(double(sweep.end) / sweep.start);
    std::vector<double> x(std::size_t(seconds * phoneRate));
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double t = std::fmod(double(n) / phoneRate + offset, sweep.duration);
        x[n] = std::sin(2.0 * std::numbers::pi * sweep.start * sweep.duration / k
                        * (std::exp(t * k / sweep.duration) - 1.0));
    }
    return x;
}

std::vector<float> toFloat(const std::vector<double> &x, std::size_t from = 0,
                           std::size_t count = 0)
{
    count = count ? count : x.size() - from;
    return std::vector<float>(x.begin() + from, x.begin() + from + count);
}

// Σ a·b / sqrt(Σ a² Σ b²) over the shorter length.
double correlation(const std::vector<float> &a, const std::vector<float> &b)
{
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return ab / std::sqrt(aa * bb);
}

// The phone-audio server's ring behind the reader interface, fed by the test.
class RingPhone : public PhoneSamples
{
public:
    audio::PhoneSampleRing ring{10 * rate};
    bool isConnected = true;
    int64_t packetMs = 0;

    bool connected() const override { return isConnected; }
    uint32_t sampleRate() const override { return rate; }
    uint64_t writeIndex() const override { return ring.started() ? ring.end() : 0; }
    int read(uint64_t start, int64_t count, float *out) const override
    {
        return ring.read(start, count, out);
    }
    int64_t lastPacketTimeMs() const override { return packetMs; }

    void append(const std::vector<double> &x, std::size_t from, std::size_t count, uint64_t at)
    {
        const std::vector<float> samples = toFloat(x, from, count);
        ring.append(samples.data(), qint64(count), at);
    }
};

PhoneBlockPath::Generator sweepGenerator(const Sweep &sweep = {})
{
    return {true, PhoneBlockPath::sweepType, rate, sweep.start, sweep.end, sweep.duration, 0.0f};
}

std::vector<float> periodicNoise(int length, uint32_t seed, double rms)
{
    const QList<double> period = makePeriodicNoise(length, seed, rms);
    return std::vector<float>(period.begin(), period.end());
}

// A block path stepped every 80 ms of phone audio, as the measurement's tick does, collecting
// its status changes and log lines.
struct Run
{
    PhoneBlockPath path{&periodicNoise};
    RingPhone phone;
    PhoneBlockPath::Generator generator = sweepGenerator();
    PhoneBlockPath::Settings settings;
    std::atomic<int64_t> firstLoopbackMs{-1};
    QList<int> statuses;
    QStringList log;
    int measured = 0;

    Run() { path.reset(); }

    void step()
    {
        const PhoneBlockPath::Step out = path.step(phone, generator, settings, firstLoopbackMs);
        if (statuses.isEmpty() || statuses.last() != int(path.status()))
            statuses.append(int(path.status()));
        for (const auto &line : out.log)
            log.append(QString::fromStdString(line.text));
        measured += out.measuredSamples > 0;
    }

    // Feeds x[from, to) at phone index `at` + from, stepping after every 80 ms.
    void feed(const std::vector<double> &x, std::size_t from = 0, std::size_t to = 0,
              uint64_t at = 0)
    {
        to = to ? to : x.size();
        for (std::size_t i = from; i < to; i += 3840) {
            const std::size_t n = std::min<std::size_t>(3840, to - i);
            phone.append(x, i, n, at + i);
            step();
        }
    }
};

} // namespace

// The phone-capture block path against analytic truths: sweeps synthesised on a phone clock of
// known offset, direct (non-FFT) evaluations of the correlations, a biquad's exact response.
class PhoneBlockTest : public QObject
{
    Q_OBJECT
private slots:
    // The template is the generator's sweep law; as long as the generator's own period.
    void sweepTemplateFollowsTheSweepLaw()
    {
        const std::vector<float> t = sweepTemplate(20.0f, 20000.0f, 0.5f, 0.25f, rate);
        QCOMPARE(t.size(), std::size_t(24000));
        const std::vector<double> law = phoneSweep(0.5, 0.0);
        for (std::size_t n = 0; n < t.size(); ++n)
            QVERIFY(std::abs(t[n] - 0.25 * law[n]) < 1e-6);
        QCOMPARE(sweepLength(7.0f, 48000), int64_t(336000));
        QVERIFY(sweepTemplate(1000.0f, 1000.0f, 1.0f, 1.0f, rate).empty());
    }

    // The FFT-based searches give what their definitions give when evaluated sum by sum.
    void correlationsMatchTheirDefinitions()
    {
        // A noise period of 1013 samples, low-passed so that neighbouring lags correlate too,
        // under a little fresh noise.
        std::vector<double> x = Path{1.0, 0, Biquad::peaking(2000.0, 12.0, 0.7, rate)}.apply(
                whiteNoise(3000, 1.0, 3, 1013), 1013);
        const std::vector<double> fresh = whiteNoise(3000, 0.05, 4);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] += fresh[i];
        const std::vector<float> block = toFloat(x);
        const auto pearson = [&](int p) {
            const int n = int(block.size()) - p;
            double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
            for (int i = 0; i < n; ++i) {
                const double a = block[i], b = block[i + p];
                sx += a, sy += b, sxx += a * a, syy += b * b, sxy += a * b;
            }
            return (sxy - sx * sy / n) / std::sqrt((sxx - sx * sx / n) * (syy - sy * sy / n));
        };
        int best = 1002; // the candidates span 1010 ± 8
        for (int p = 1002; p <= 1018; ++p)
            best = pearson(p) > pearson(best) ? p : best;
        const double d = pearson(best - 1) - 2.0 * pearson(best) + pearson(best + 1);
        const double expected = best + (pearson(best - 1) - pearson(best + 1)) * 0.5 / d;
        const PeriodEstimate period = refinePeriod(block.data(), block.size(), 1010.0);
        QCOMPARE(best, 1013);
        QVERIFY2(std::abs(period.period - expected) < 1e-9
                         && std::abs(period.quality - pearson(best)) < 1e-12,
                 qPrintable(QString::number(period.period - expected)));

        // The lag search within [first, limit), sum by sum.
        const std::vector<float> t(block.begin() + 200, block.begin() + 1700);
        const auto direct = [&](std::size_t first, std::size_t limit) {
            LagEstimate best;
            for (std::size_t k = first; k < limit && k + t.size() <= block.size(); ++k) {
                double xy = 0.0, xx = 0.0, tt = 0.0;
                for (std::size_t i = 0; i < t.size(); ++i) {
                    xy += double(t[i]) * block[k + i];
                    xx += double(block[k + i]) * block[k + i];
                    tt += double(t[i]) * t[i];
                }
                if (std::abs(xy) / std::sqrt(xx * tt) > best.correlation)
                    best = {int64_t(k), std::abs(xy) / std::sqrt(xx * tt)};
            }
            return best;
        };
        for (const auto &[first, limit] : {std::pair(0, 3000), std::pair(1300, 1400)}) {
            const LagEstimate lag = findCorrelationLag(t.data(), t.size(), block.data(),
                                                       block.size(), first, limit);
            const LagEstimate expected = direct(first, limit);
            QCOMPARE(lag.lag, expected.lag);
            QVERIFY(std::abs(lag.correlation - expected.correlation) < 1e-9);
        }
    }

    // A block of the sweep on a phone clock `ppm` fast is found with that clock offset and its
    // period lands on the template sample for sample.
    void alignmentFindsTheClockAndThePeriod_data()
    {
        QTest::addColumn<double>("ppm");
        QTest::addColumn<float>("duration");
        QTest::addColumn<double>("gain");
        QTest::addColumn<int>("reason");
        QTest::newRow("0 ppm") << 0.0 << 1.0f << 0.5 << 0;
        QTest::newRow("+50 ppm") << 50.0 << 1.0f << 0.5 << 0;
        QTest::newRow("-120 ppm") << -120.0 << 1.0f << 0.5 << 0;
        QTest::newRow("+300 ppm") << 300.0 << 1.0f << 0.5 << 0;
        QTest::newRow("+1500 ppm") << 1500.0 << 1.0f << 0.5 << 0;
        QTest::newRow("inverted") << 20.0 << 1.0f << -0.5 << 0;
        QTest::newRow("7 s sweep") << 35.0 << 7.0f << 0.5 << 0;
        QTest::newRow("+2300 ppm") << 2300.0 << 1.0f << 0.5 << int(BlockAlignment::RatioOutOfRange);
        QTest::newRow("silent") << 0.0 << 1.0f << 0.0 << int(BlockAlignment::Silence);
    }

    void alignmentFindsTheClockAndThePeriod()
    {
        QFETCH(double, ppm);
        QFETCH(float, duration);
        QFETCH(double, gain);
        QFETCH(int, reason);
        const Sweep sweep{20.0f, 20000.0f, duration};
        BlockAligner aligner;
        aligner.setTemplate(sweepTemplate(sweep.start, sweep.end, duration, 1.0f, rate));
        const auto t = int64_t(aligner.templateSamples().size());
        const std::size_t length = std::min<std::size_t>(t * 3 / 2, 9 * rate);
        // The block begins three quarters into a sweep, as a tracked block does.
        const std::vector<double> x = Path{gain, 0, {}}.apply(
                phoneSweep(double(length) / rate + 0.1, ppm, sweep, 0.75 * duration));
        const std::vector<float> block = toFloat(x, 0, length);
        const BlockAlignment a = aligner.align(block.data(), block.size(), rate, rate);
        QCOMPARE(int(a.reason), reason);
        if (reason == int(BlockAlignment::Silence))
            return;
        QVERIFY2(std::abs(a.ppm - ppm) < 2.0, qPrintable(QString::number(a.ppm)));
        if (reason)
            return;
        QVERIFY(a.ok && a.periodQuality > 0.9f);
        QCOMPARE(a.inverted, gain < 0.0);
        const double start = 0.25 * duration * rate * (1.0 + ppm * 1e-6);
        QVERIFY2(std::abs(double(a.coarseLag) - start) < 1.0,
                 qPrintable(QString::number(a.coarseLag)));
        QVERIFY2(a.fineCorrelation > 0.999f, qPrintable(QString::number(a.fineCorrelation)));
        QVERIFY(std::abs(std::abs(correlation(aligner.aligned(), aligner.templateSamples()))
                         - a.fineCorrelation)
                < 1e-6);
        // Lined up to a fraction of a sample and read band-limited: the top octaves keep their
        // level and phase (what is left comes from the clock estimate's ppm or so).
        PeriodAnalysis analysis;
        analysis.setTemplate(aligner.templateSamples());
        analysis.analyse(aligner.aligned().data(), 16384);
        double worstDb = 0.0, worstPhase = 0.0;
        for (std::size_t i = 0; i < analysis.bins().size(); ++i) {
            const double f = double(i) * rate / 16384;
            if (f < 50.0 || f > 18000.0)
                continue;
            const std::complex<double> h(analysis.bins()[i].transfer());
            worstDb = std::max(worstDb, std::abs(20.0 * std::log10(std::abs(h / gain))));
            worstPhase = std::max(worstPhase, std::abs(std::arg(h / gain)));
        }
        QVERIFY2(worstDb < 0.05 && worstPhase < 0.15,
                 qPrintable(QString("%1 dB, %2 rad").arg(worstDb).arg(worstPhase)));
    }

    // A block that cannot hold a period and a quarter, counted in phone samples, is refused.
    void alignmentNeedsAPeriodAndAQuarter()
    {
        BlockAligner aligner;
        aligner.setTemplate(sweepTemplate(20.0f, 20000.0f, 1.0f, 1.0f, rate));
        const std::vector<float> block(59999, 0.5f);
        QCOMPARE(aligner.align(block.data(), block.size(), rate, rate).reason,
                 BlockAlignment::InputSize);
        QCOMPARE(BlockAligner::minimumBlock(48000, 44100, 48000), int64_t(55125));
        QCOMPARE(BlockAligner::minimumBlock(48000, 48000, 48000), int64_t(60000));
    }

    // Identical periods score 1; noise lowers the score; too short a period cannot be scored.
    // Both buffers are exactly the period long, so a read past their end would stop the
    // sanitizer build (2 s at 48 kHz makes the segment length even).
    void coherenceScore()
    {
        const std::vector<float> t = sweepTemplate(20.0f, 20000.0f, 2.0f, 1.0f, rate);
        QCOMPARE(t.size(), std::size_t(96000));
        QVERIFY(std::abs(blockCoherenceScore(t, t.data(), t.size(), rate) - 1.0) < 1e-9);
        std::vector<float> noisy = t;
        const std::vector<double> noise = whiteNoise(t.size(), 1.0, 5);
        for (std::size_t i = 0; i < noisy.size(); ++i)
            noisy[i] += float(noise[i]);
        const double score = blockCoherenceScore(t, noisy.data(), noisy.size(), rate);
        QVERIFY2(score > 0.3 && score < 0.95, qPrintable(QString::number(score)));
        const std::vector<float> pure = toFloat(noise);
        QVERIFY(blockCoherenceScore(t, pure.data(), pure.size(), rate) < 0.45);
        QCOMPARE(blockCoherenceScore(t, t.data(), 4095, rate), -1.0);
        QCOMPARE(blockCoherenceScore(t, t.data(), t.size(), 0.0), -1.0);
    }

    // Skips and acceptances by the ppm-jump and score rules; the fifth skip in a row clears.
    void baselineJudgesBlocks()
    {
        using V = BlockBaseline::Verdict;
        BlockBaseline baseline;
        const struct
        {
            double score, ppm;
            V verdict;
            bool cleared;
        } blocks[] = {
                {0.90, 10.0, V::Accepted, false},
                {0.30, 20.0, V::Accepted, false}, // 2 scores only
                {0.95, 15.0, V::Accepted, false},
                {0.40, 12.0, V::LowScore, false}, // median 0.9
                {0.91, 140.0, V::PpmJump, false},
                {0.92, 130.0, V::PpmJump, false},
                {-1.0, 150.0, V::PpmJump, false},
                {0.90, 160.0, V::PpmJump, true},
                {0.10, 160.0, V::Accepted, false}, // a fresh baseline
        };
        for (const auto &b : blocks) {
            const BlockBaseline::Judgement j = baseline.judge(b.score, b.ppm);
            QCOMPARE(j.verdict, b.verdict);
            QCOMPARE(j.baselineCleared, b.cleared);
        }
        QCOMPARE(baseline.totalSkipped(), 5);
    }

    // The whole period of a 2 s sweep through a known filter and delay gives the filter's
    // response in every record bin, its low end included (within 0.1 dB: a transform of the
    // zero-padded period is not quite the period's circular one), and the impulse peaks at the
    // delay.
    void periodAnalysisMeasuresTheWholeSweep()
    {
        const Path path{0.5, 1, Biquad::peaking(100.0, 6.0, 2.0, rate)};
        const std::vector<float> t = sweepTemplate(20.0f, 20000.0f, 2.0f, 1.0f, rate);
        const std::vector<double> x(t.begin(), t.end());
        const std::vector<float> y = toFloat(path.apply(x, long(x.size())));
        PeriodAnalysis analysis;
        analysis.setTemplate(t);
        analysis.analyse(y.data(), 16384);
        QCOMPARE(analysis.transformSize(), std::size_t(131072));
        QCOMPARE(analysis.bins().size(), std::size_t(8192));
        for (std::size_t i = 0; i < 8192; ++i) {
            const double f = double(i) * rate / 16384;
            if (f < 30.0 || f > 15000.0)
                continue;
            const std::complex<double> expected = path.response(2.0 * std::numbers::pi * f / rate);
            const std::complex<double> measured(analysis.bins()[i].transfer());
            const std::complex<double> error = measured / expected;
            QVERIFY2(std::abs(20.0 * std::log10(std::abs(error))) < 0.1
                             && std::abs(std::arg(error)) < 0.01
                             && analysis.bins()[i].coherence() > 0.99f,
                     qPrintable(QString("%1 Hz: %2").arg(f).arg(std::abs(measured))));
        }
        QCOMPARE(analysis.peakLag(), int64_t(1));
        QCOMPARE(analysis.impulseSize(), std::size_t(16384));
        uint32_t peak = 0;
        for (uint32_t i = 0; i < 16384; ++i)
            peak = std::abs(analysis.impulseAt(i)) > std::abs(analysis.impulseAt(peak)) ? i : peak;
        QCOMPARE(peak, 1u);
        // The records hold the period's mean square, as a transform of the FFT size would.
        double power = 0.0, meanSquare = 0.0;
        for (const PeriodBin &bin : analysis.bins())
            power += double(bin.amplitude()) * bin.amplitude();
        for (float v : y)
            meanSquare += double(v) * v / double(y.size());
        QVERIFY2(std::abs(power / meanSquare - 1.0) < 0.01, qPrintable(QString::number(power)));
    }

    // Where the block path stands before any block can be read.
    void statusFollowsTheSetUp_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("type");
        QTest::addColumn<float>("duration");
        QTest::addColumn<float>("end");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line");
        QTest::newRow("no phone") << false << true << 2 << 1.0f << 20000.0f << 1 << "";
        QTest::newRow("stopped") << true << false << 2 << 1.0f << 20000.0f << 2 << "";
        QTest::newRow("pink noise") << true << true << 0 << 1.0f << 20000.0f << 5 << "";
        QTest::newRow("a tone") << true << true << 2 << 1.0f << 20.5f << 5 << "";
        QTest::newRow("short sweep") << true << true << 2 << 0.08f << 20000.0f << 2 << "";
        QTest::newRow("7 s sweep, nothing yet") << true << true << 2 << 7.0f << 20000.0f << 3 << "";
        QTest::newRow("10 s sweep") << true << true << 2 << 10.0f << 20000.0f << 2
                                    << "扫频过长: 10.0 s 超出手机采集可对齐的上限 7.2 s，无法测量";
    }

    void statusFollowsTheSetUp()
    {
        QFETCH(bool, connected);
        QFETCH(bool, running);
        QFETCH(int, type);
        QFETCH(float, duration);
        QFETCH(float, end);
        QFETCH(int, status);
        QFETCH(QString, line);
        Run run;
        run.phone.isConnected = connected;
        run.generator = {running, type, rate, 20.0f, end, duration, 0.0f};
        run.step();
        run.step(); // the refusal is logged once
        QCOMPARE(run.statuses, QList<int>{status});
        QCOMPARE(run.log, line.isEmpty() ? QStringList() : QStringList{line});
    }

    // Runs of a 0.5 s sweep: the status sequence, the clock estimate and the log lines.
    void sweepRuns_data()
    {
        QTest::addColumn<double>("ppm");
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<QStringList>("log");
        const QString done = "本轮完成: 有效 8 / 作废 %1";
        QTest::newRow("0 ppm") << 0.0 << "" << QList<int>{3, 4, 11} << QStringList{done.arg(0)};
        QTest::newRow("+50 ppm") << 50.0 << "" << QList<int>{3, 4, 11} << QStringList{done.arg(0)};
        QTest::newRow("-120 ppm") << -120.0 << "" << QList<int>{3, 4, 11}
                                  << QStringList{done.arg(0)};
        QTest::newRow("+300 ppm") << 300.0 << "" << QList<int>{3, 4, 11}
                                  << QStringList{done.arg(0)};
        QTest::newRow("gap") << 0.0 << "gap" << QList<int>{3, 4, 7, 3, 4, 11}
                             << QStringList{"作废块: sampleIndex 有洞 (有效 3 / 作废 1)",
                                            done.arg(1)};
        QTest::newRow("silence") << 0.0 << "silence" << QList<int>{3, 4, 10, 4, 11}
                                 << QStringList{
                                            "作废块: 信号中断（手机采集静默） (有效 3 / 作废 1)",
                                            done.arg(1)};
        QTest::newRow("overwritten")
                << 0.0 << "stall" << QList<int>{3, 4, 6, 3, 4, 11}
                << QStringList{"作废块: 被覆盖/重连 (有效 3 / 作废 1)", done.arg(1)};
    }

    void sweepRuns()
    {
        QFETCH(double, ppm);
        QFETCH(QString, trouble);
        QFETCH(QList<int>, statuses);
        QFETCH(QStringList, log);
        Run run;
        std::vector<double> x = Path{0.5, 0, {}}.apply(phoneSweep(20.0, ppm));
        const std::size_t at = 2 * rate + 12345; // within the fourth block
        if (trouble == "silence")
            std::fill(x.begin() + at, x.begin() + at + 4800, 0.0);
        if (trouble == "gap") {
            run.feed(x, 0, at);
            run.feed(x, at + 480, x.size());
        } else if (trouble == "stall") {
            run.feed(x, 0, at);
            run.phone.append(x, at, 11 * rate, at); // arrives while nothing steps
            run.feed(x, at + 11 * rate, x.size());
        } else {
            run.feed(x);
        }
        QCOMPARE(run.statuses, statuses);
        QCOMPARE(run.log, log);
        QCOMPARE(run.path.validBlocks(), 8);
        QVERIFY2(std::abs(run.path.lastPpm() - ppm) < 3.0,
                 qPrintable(QString::number(run.path.lastPpm())));
        QCOMPARE(run.measured, 8);
        QVERIFY2(std::abs(run.path.delayMs()) < 0.05f,
                 qPrintable(QString::number(run.path.delayMs())));
    }

    // A phone whose clock jumps by 500 ppm is not believed at first: its blocks are skipped
    // while tracking holds, and after five skips the baseline starts again from the new clock.
    void clockJumpIsSkippedThenRelearned()
    {
        Run run;
        std::vector<double> x = Path{0.5, 0, {}}.apply(phoneSweep(2.2, 0.0));
        const std::vector<double> faster = Path{0.5, 0, {}}.apply(phoneSweep(30.0, 500.0, {}, 2.2));
        x.insert(x.end(), faster.begin(), faster.end());
        run.feed(x);
        QCOMPARE(run.statuses, (QList<int>{3, 4, 11}));
        const QStringList skips = run.log.filter("跳过块: ppm 突变否决");
        QCOMPARE(skips.size(), 5);
        QVERIFY2(skips.first().contains(" 上次 0.0 ") && skips.last().endsWith("(已跳过 5)"),
                 qPrintable(run.log.join('\n')));
        QVERIFY(run.log.contains("连续跳过 5 块: 清空块相干基线重新积累"));
        QCOMPARE(run.path.skippedBlocks(), 5);
        QVERIFY(std::abs(run.path.lastPpm() - 500.0f) < 3.0f);
    }

    // Periodic noise is measured block after block and never completes.
    void periodicNoiseNeverCompletes()
    {
        Run run;
        run.generator.type = PhoneBlockPath::periodicNoiseType;
        const std::vector<float> period
                = periodicNoise(65536, PhoneBlockPath::periodicNoiseSeed, 1.0);
        std::vector<double> x(20 * 65536);
        for (std::size_t n = 0; n < x.size(); ++n)
            x[n] = 0.3 * period[(n + 1000) % 65536];
        run.feed(x);
        QCOMPARE(run.statuses, (QList<int>{3, 4}));
        QVERIFY(run.path.validBlocks() > 10);
        QVERIFY(run.log.isEmpty());
    }

    // Where the period started by the wall clock must agree with its content: a phone whose
    // sweeps started half a period after the generator's is reported.
    void wallClockDisagreementIsReported_data()
    {
        QTest::addColumn<double>("offset");
        QTest::addColumn<int>("warnings");
        QTest::newRow("in step") << 0.0 << 0;
        QTest::newRow("half a period off") << 0.25 << 8;
    }

    void wallClockDisagreementIsReported()
    {
        QFETCH(double, offset);
        QFETCH(int, warnings);
        Run run;
        run.step();
        run.firstLoopbackMs = 1'000'000;
        const std::vector<double> x = Path{0.5, 0, {}}.apply(phoneSweep(6.0, 0.0, {}, offset));
        for (std::size_t i = 0; i < x.size(); i += 3840) {
            run.phone.append(x, i, 3840, i);
            run.phone.packetMs = 1'000'000 + int64_t(double(i + 3840) * 1000.0 / rate);
            run.step();
        }
        const QStringList lines = run.log.filter("墙钟/内容延时偏差异常: ");
        QCOMPARE(lines.size(), warnings);
        if (warnings)
            QVERIFY2(lines.first().contains("，疑似发射网格错位或手机重连"),
                     qPrintable(lines.first()));
    }
};

SNT_TEST_MAIN(PhoneBlockTest)
#include "PhoneBlockTest.moc"
