// The curve chart on the GUI thread: a write of new curve lists plus the paint into the item's
// texture, as the measuring screens do 30 times a second and the curve window does with whole
// captures, with median and 95th percentile per frame; and the parts of a write on their own (a
// write of an equal list, the parsing of each list form).
#include "bench/BenchSupport.h"
#include "ui/CurveChartItem.h"
#include "ui/QmlSetup.h"

#include <QGuiApplication>
#include <QPainter>
#include <QQmlEngine>

#include <chrono>
#include <cmath>
#include <functional>

namespace {

using snt::ui::CurveChartItem;

constexpr int variants = 8; // distinct frames cycled through, so that every write is new

// The frequencies of a live measurement (log-spaced) or of a whole capture (FFT bins of 16384
// points at 48 kHz, 0 Hz left out).
QList<double> liveFrequencies()
{
    QList<double> f(480);
    for (int i = 0; i < 480; ++i)
        f[i] = 20 * std::pow(1000.0, i / 479.0);
    return f;
}

QList<double> captureFrequencies()
{
    QList<double> f(8193);
    for (int i = 0; i < 8193; ++i)
        f[i] = (i + 1) * 48000.0 / 16384;
    return f;
}

// A flat list of (f, value) with `noise` dB (or degrees) of scatter above 2 kHz, as raw
// measurements have, over a smooth response.
QVariantList curve(const QList<double> &f, unsigned seed, double noise,
                   const std::function<double(double)> &response)
{
    const QList<float> scatter = ::noise(f.size(), seed);
    QVariantList list;
    list.reserve(2 * f.size());
    for (qsizetype i = 0; i < f.size(); ++i)
        list << f[i] << response(f[i]) + (f[i] > 2000 ? noise / 0.3 * scatter[i] : 0.0);
    return list;
}

double loudspeaker(double f)
{
    return 6 * std::tanh(std::log2(f / 80)) - 3 * std::exp(-std::pow(std::log2(f / 3000), 2));
}

double coherence(double f)
{
    return f < 60 || (f > 8000 && f < 9000) ? 0.5 : 0.95; // low at the bottom and in one dip
}

struct Frame
{
    QList<QVariantList> lists; // in the order the case writes them
};

// Runs `write` with frame i % variants and paints, timing each frame.
void runFrames(benchmark::State &state, CurveChartItem &chart, const QList<Frame> &frames,
               const std::function<void(CurveChartItem &, const Frame &)> &write)
{
    QImage texture(chart.textureSize(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> ms;
    int i = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        write(chart, frames[i++ % frames.size()]);
        // As the painted-item node does: clear, scale the item onto the texture, paint.
        texture.fill(Qt::transparent);
        QPainter painter(&texture);
        painter.scale(texture.width() / chart.width(), texture.height() / chart.height());
        chart.paint(&painter);
        painter.end();
        const double seconds
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        ms.push_back(seconds * 1000);
    }
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["p95_ms"] = percentile(ms, 0.95);
    state.counters["texture_w"] = texture.width();
}

// The measuring screens' chart card: 480 x 307, paddings 40/56/65/24, filled, with coherence.
void setUpMeasureCard(CurveChartItem &chart, double renderScale)
{
    chart.setSize(QSizeF(480, 307));
    chart.setPadTop(40);
    chart.setPadBottom(56);
    chart.setPadLeft(65);
    chart.setPadRight(24);
    chart.setProperty("showCoherence", true);
    chart.setProperty("referenceFills", true);
    chart.setProperty("fillPrimary", true);
    chart.setRenderScale(renderScale);
}

// (a) one live curve with fill and coherence; argument: render scale.
void BM_LiveCurve(benchmark::State &state)
{
    CurveChartItem chart;
    setUpMeasureCard(chart, double(state.range(0)));
    const QList<double> f = liveFrequencies();
    QList<Frame> frames;
    for (unsigned v = 0; v < variants; ++v)
        frames.append({{curve(f, v, 1.5, loudspeaker), curve(f, 100 + v, 0.02, coherence)}});
    runFrames(state, chart, frames, [](CurveChartItem &c, const Frame &frame) {
        c.setPoints(frame.lists[0]);
        c.setCoherence(frame.lists[1]);
    });
}
BENCHMARK(BM_LiveCurve)
        ->Arg(1)
        ->Arg(2)
        ->UseManualTime()
        ->Iterations(600)
        ->Unit(benchmark::kMillisecond);

// (b) the line-array average with ten dashed history curves of its points.
void BM_ArrayHistory(benchmark::State &state)
{
    CurveChartItem chart;
    setUpMeasureCard(chart, 1);
    const QList<double> f = liveFrequencies();
    QList<Frame> frames;
    for (unsigned v = 0; v < variants; ++v) {
        Frame frame{{curve(f, v, 1.5, loudspeaker)}};
        for (unsigned h = 0; h < 10; ++h)
            frame.lists.append(curve(f, 1000 * v + h, 1.5,
                                     [h](double x) { return loudspeaker(x) + 0.5 * h - 2.5; }));
        frames.append(frame);
    }
    runFrames(state, chart, frames, [](CurveChartItem &c, const Frame &frame) {
        c.setPoints(frame.lists[0]);
        c.setHistoryCurves(QVariantList(frame.lists.begin() + 1, frame.lists.end()));
    });
}
BENCHMARK(BM_ArrayHistory)->UseManualTime()->Iterations(600)->Unit(benchmark::kMillisecond);

// A chart of the curve window: paddings 16/32/50/16, labels 8 px.
void setUpCurveWindowChart(CurveChartItem &chart)
{
    chart.setSize(QSizeF(480, 307));
    chart.setPadTop(16);
    chart.setPadBottom(32);
    chart.setPadLeft(50);
    chart.setPadRight(16);
    chart.setProperty("labelSize", 8);
}

// (c) whole captures in the curve window's magnitude chart (a subwoofer-alignment pack: two
// dashed curves and their filled solid sum, two coherence traces), 8193 points each.
void BM_CaptureMagnitude(benchmark::State &state)
{
    CurveChartItem chart;
    setUpCurveWindowChart(chart);
    chart.setProperty("showCoherence", true);
    chart.setProperty("firstSolid", false);
    chart.setProperty("thirdSolid", true);
    chart.setProperty("uniformWidth", true);
    chart.setProperty("fillThird", true);
    const QList<double> f = captureFrequencies();
    QList<Frame> frames;
    for (unsigned v = 0; v < variants; ++v) {
        const auto shifted = [](double db) {
            return [db](double x) {
                return loudspeaker(x) + db;
            };
        };
        frames.append({{curve(f, v, 3, shifted(-4)), curve(f, 10 + v, 3, shifted(-2)),
                        curve(f, 20 + v, 3, shifted(2)), curve(f, 30 + v, 0.1, coherence),
                        curve(f, 40 + v, 0.1, coherence)}});
    }
    runFrames(state, chart, frames, [](CurveChartItem &c, const Frame &frame) {
        c.setPoints(frame.lists[0]);
        c.setPoints2(frame.lists[1]);
        c.setPoints3(frame.lists[2]);
        c.setCoherence(frame.lists[3]);
        c.setCoherence2(frame.lists[4]);
    });
}
BENCHMARK(BM_CaptureMagnitude)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

// (c) the curve window's phase chart with two whole captures (after: solid, before: dashed),
// phases compensated apart from a small residual delay, gated by coherence.
void BM_CapturePhase(benchmark::State &state)
{
    CurveChartItem chart;
    setUpCurveWindowChart(chart);
    chart.setProperty("showFill", false);
    chart.setProperty("phaseMode", true);
    chart.setProperty("phaseCompensated", true);
    chart.setYMin(-180);
    chart.setYMax(180);
    const QList<double> f = captureFrequencies();
    const auto residual = [](double ms) {
        return [ms](double x) {
            return std::remainder(-0.36 * ms * x, 360.0);
        };
    };
    QList<Frame> frames;
    for (unsigned v = 0; v < variants; ++v)
        frames.append({{curve(f, v, 30, residual(0.05)), curve(f, 10 + v, 30, residual(0.3)),
                        curve(f, 20 + v, 0.1, coherence)}});
    runFrames(state, chart, frames, [](CurveChartItem &c, const Frame &frame) {
        c.setPoints(frame.lists[0]);
        c.setPoints2(frame.lists[1]);
        c.setCoherence(frame.lists[2]);
    });
}
BENCHMARK(BM_CapturePhase)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

// ---- the parts of a write ---------------------------------------------------------------------

// The three forms of the same curve: 0 flat numbers, 1 maps {"f", "d"}, 2 [f, d] pairs.
QVariantList inForm(const QVariantList &flat, int form)
{
    if (form == 0)
        return flat;
    QVariantList list;
    for (qsizetype i = 0; i + 1 < flat.size(); i += 2) {
        if (form == 1)
            list << QVariantMap{{QStringLiteral("f"), flat[i]}, {QStringLiteral("d"), flat[i + 1]}};
        else
            list << QVariant(QVariantList{flat[i], flat[i + 1]});
    }
    return list;
}

QVariantList benchCurve(int points)
{
    return curve(points == 480 ? liveFrequencies() : captureFrequencies(), 1, 3, loudspeaker);
}

// Arguments: form, points. Two equal lists that share no data, as two runs of a QML binding give.
void BM_IdenticalWrite(benchmark::State &state)
{
    const QVariantList a = inForm(benchCurve(int(state.range(1))), int(state.range(0)));
    const QVariantList b = inForm(benchCurve(int(state.range(1))), int(state.range(0)));
    CurveChartItem chart;
    chart.setPoints(a);
    bool second = true;
    for (auto _ : state) {
        chart.setPoints(second ? b : a);
        second = !second;
    }
}
BENCHMARK(BM_IdenticalWrite)->ArgsProduct({{0, 1, 2}, {480, 8193}})->Unit(benchmark::kMicrosecond);

void BM_ParsePoints(benchmark::State &state)
{
    const QVariantList list = inForm(benchCurve(int(state.range(1))), int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(snt::ui::parsePoints(list));
}
BENCHMARK(BM_ParsePoints)->ArgsProduct({{0, 1, 2}, {480, 8193}})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QQmlEngine engine;
    snt::ui::setUpQmlEngine(engine); // the label font as the program maps it
    return runBenchmarks(argc, argv);
}
