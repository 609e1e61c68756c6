#include "engine/dsp/BiQuad.h"
#include "engine/dsp/Meter.h"
#include "engine/dsp/Weighting.h"
#include "engine/dsp/WindowFunction.h"
#include "tests/engine/EngineChecks.h"
#include "tests/support/TestMain.h"

#include <QMetaEnum>
#include <complex>
#include <limits>
#include <type_traits>

using snt::test::twoPi;

namespace {

// Steady-state gain in dB at f after `settleSeconds`, over whole cycles lasting at least 0.2 s.
template<typename Filter>
double gainDb(Filter &filter, double f, double rate, double settleSeconds = 1.0)
{
    return snt::test::sineGainDb(filter, f / rate, int(settleSeconds * rate),
                                 std::max(1, int(std::ceil(f * 0.2))));
}

// The weighting curves as IEC 61672-1 defines them analytically (annex E), in dB.
double analyticWeightingDb(int type, double f)
{
    const double f1 = 20.598997, f2 = 107.65265, f3 = 737.86223, f4 = 12194.217, f5 = 158.489032;
    const auto at = [&](double x) {
        const double xx = x * x;
        const double c = (f4 * f4 * xx) / ((xx + f1 * f1) * (xx + f4 * f4));
        if (type == Weighting::A)
            return c * xx / std::sqrt((xx + f2 * f2) * (xx + f3 * f3));
        return type == Weighting::B ? c * x / std::sqrt(xx + f5 * f5) : c;
    };
    return 20.0 * std::log10(at(f) / at(1000.0));
}

// Level of a unit sine at f after `seconds` on a meter running at `rate`.
double sineLevel(Meter &meter, quint32 rate, double f, double seconds)
{
    for (quint32 n = 0; n < quint32(seconds * rate); ++n)
        meter.add(std::sin(twoPi * f * n / rate));
    return meter.level();
}

} // namespace

class SignalBlocksTest : public QObject
{
    Q_OBJECT

private slots:
    // Coherent gain (mean of the raw window) and equivalent noise bandwidth in bins, against
    // the published figures for these windows (Harris 1978; Heinzel, Rüdiger and Schilling
    // 2002 for the flat tops). The exponential window's figures follow from its definition:
    // CG = (1 − e^−7)/7 and ENBW = 7(1 − e^−14) / (2(1 − e^−7)²).
    void coherentGainAndNoiseBandwidth_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("coherentGain");
        QTest::addColumn<double>("enbw");
        const double e7 = std::exp(-7.0), e14 = std::exp(-14.0);
        QTest::newRow("Rectangular") << int(WindowFunction::Rectangular) << 1.0 << 1.0;
        QTest::newRow("Hann") << int(WindowFunction::Hann) << 0.5 << 1.5;
        QTest::newRow("Hamming") << int(WindowFunction::Hamming) << 0.54 << 1.3628;
        QTest::newRow("Flat Top") << int(WindowFunction::FlatTop) << 1.0 << 3.7702;
        QTest::newRow("Blackman Harris")
                << int(WindowFunction::BlackmanHarris) << 0.35875 << 2.0044;
        QTest::newRow("HFT223D") << int(WindowFunction::HFT223D) << 1.0 << 5.3888;
        QTest::newRow("Exponental") << int(WindowFunction::Exponental) << (1.0 - e7) / 7.0
                                    << 7.0 * (1.0 - e14) / (2.0 * (1.0 - e7) * (1.0 - e7));
    }

    // A window is a plain value: a copy carries its kind and its table, and changing the copy
    // leaves the original as it was. Its kinds stay known to the meta-object system by name.
    void windowsAreValues()
    {
        static_assert(!std::is_base_of_v<QObject, WindowFunction>);
        WindowFunction hann(WindowFunction::Hann);
        hann.resize(1024);
        WindowFunction copy = hann;
        QCOMPARE(copy.type(), WindowFunction::Hann);
        QCOMPARE(copy.size(), 1024u);
        QCOMPARE(copy.mean(), hann.mean());
        for (quint32 n = 0; n < 1024; ++n)
            QCOMPARE(copy.value(n), hann.value(n));
        copy.setType(WindowFunction::Rectangular);
        QCOMPARE(copy.value(0), 1.0f);
        QCOMPARE(hann.value(0), 0.0f);
        QCOMPARE(hann.type(), WindowFunction::Hann);
        QCOMPARE(QMetaEnum::fromType<WindowFunction::Type>().valueToKey(WindowFunction::FlatTop),
                 "FlatTop");
    }

    // The table is normalised: its own coherent gain is 1 (to the float accumulation of the
    // mean, about 1e-4 at this size). A type change rebuilds it for the current size.
    void coherentGainAndNoiseBandwidth()
    {
        QFETCH(int, type);
        QFETCH(double, coherentGain);
        QFETCH(double, enbw);
        const quint32 size = 65536;
        WindowFunction window(WindowFunction::Hann);
        window.resize(size);
        window.setType(WindowFunction::Type(type));
        double sum = 0.0, squares = 0.0;
        for (quint32 n = 0; n < size; ++n) {
            sum += window.value(n);
            squares += double(window.value(n)) * window.value(n);
        }
        QVERIFY2(std::abs(sum / size - 1.0) < 1e-4, qPrintable(QString::number(sum / size - 1.0)));
        QVERIFY2(std::abs(window.mean() - coherentGain) < 1e-4 * coherentGain,
                 qPrintable(QString::number(window.mean(), 'g', 8)));
        const double measuredEnbw = size * squares / (sum * sum);
        QVERIFY2(std::abs(measuredEnbw - enbw) < 1.5e-4 * enbw,
                 qPrintable(QString::number(measuredEnbw, 'g', 8)));
    }

    // Audio-EQ-cookbook sections (direct form I, coefficients divided by a0 ≠ 1), whose
    // responses at their corner are known exactly: a peaking section gives its gain at f0, a
    // Butterworth low-pass −3.01 dB at f0, and elsewhere (NaN) the sampled sine matches
    // |H(e^jω)| evaluated from the coefficients.
    void biquadFrequencyResponse_data()
    {
        QTest::addColumn<bool>("peak");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("expectedDb");
        QTest::newRow("peaking at f0") << true << 1000.0 << 6.0;
        QTest::newRow("peaking far below") << true << 20.0 << 0.0;
        QTest::newRow("low-pass at f0") << false << 1000.0 << 20.0 * std::log10(std::sqrt(0.5));
        QTest::newRow("low-pass one octave up") << false << 2000.0 << std::nan("");
        QTest::newRow("low-pass in band") << false << 50.0 << 0.0;
    }

    void biquadFrequencyResponse()
    {
        QFETCH(bool, peak);
        QFETCH(double, frequency);
        QFETCH(double, expectedDb);
        const double rate = 48000.0, w0 = twoPi * 1000.0 / rate, cw = std::cos(w0);
        const double a = std::pow(10.0, 6.0 / 40.0),
                     alpha = std::sin(w0) / (peak ? 2.0 : std::sqrt(2.0));
        const double b[3] = {peak ? 1 + alpha * a : (1 - cw) / 2, peak ? -2 * cw : 1 - cw,
                             peak ? 1 - alpha * a : (1 - cw) / 2};
        const double d[3]
                = {peak ? 1 + alpha / a : 1 + alpha, -2 * cw, peak ? 1 - alpha / a : 1 - alpha};
        if (std::isnan(expectedDb)) {
            const std::complex<double> z = std::polar(1.0, -twoPi * frequency / rate);
            expectedDb = 20.0
                         * std::log10(std::abs((b[0] + b[1] * z + b[2] * z * z)
                                               / (d[0] + d[1] * z + d[2] * z * z)));
        }
        math::BiQuad section;
        section.setCoefficients(float(b[0]), float(b[1]), float(b[2]), float(d[0]), float(d[1]),
                                float(d[2]));
        const double measured = gainDb(section, frequency, rate, 0.2);
        QVERIFY2(std::abs(measured - expectedDb) < 0.01,
                 qPrintable(QStringLiteral("%1 dB, expected %2").arg(measured).arg(expectedDb)));
    }

    // A, B and C weighting against the IEC 61672-1 table (B from IEC 60651), well inside the
    // class 1 tolerances, and below 1 kHz against the standard's analytic curve, read as the
    // level of a unit sine (−3.01 dB unweighted) on a slow meter. At 1 kHz every curve reads
    // 0 dB at every rate; with gains fitted only at 48 kHz it read up to +0.9 dB high at 96 kHz.
    void weightedSineLevels_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("rate");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("tableDb");
        QTest::addColumn<double>("toleranceDb");
        const struct
        {
            double f, db[3], tolerance;
        } table[] = {
                {31.5, {-39.4, -17.1, -3.0}, 0.3},
                {100.0, {-19.1, -5.6, -0.3}, 0.2},
                {1000.0, {0.0, 0.0, 0.0}, 0.05},
                {10000.0, {-2.5, -4.3, -4.4}, 0.3},
        };
        for (quint32 rate : {44100u, 48000u, 88200u, 96000u, 192000u}) {
            for (const auto &row : table) {
                for (int type : {int(Weighting::A), int(Weighting::B), int(Weighting::C)}) {
                    QTest::addRow("%c %g Hz at %u", "ABC"[type], row.f, rate)
                            << type << rate << row.f << row.db[type] << row.tolerance;
                }
            }
        }
    }

    void weightedSineLevels()
    {
        QFETCH(int, type);
        QFETCH(quint32, rate);
        QFETCH(double, frequency);
        QFETCH(double, tableDb);
        QFETCH(double, toleranceDb);
        Meter meter{quint32(type), Meter::Slow};
        meter.setSampleRate(rate);
        const double measured = sineLevel(meter, rate, frequency, 2.0) + 3.0103;
        QVERIFY2(std::abs(measured - tableDb) <= toleranceDb,
                 qPrintable(QStringLiteral("%1 dB").arg(measured)));
        const double analytic
                = frequency <= 1000.0 ? analyticWeightingDb(type, frequency) : measured;
        QVERIFY2(std::abs(measured - analytic) < 0.2,
                 qPrintable(QStringLiteral("%1 dB, analytic %2").arg(measured).arg(analytic)));
    }

    // Mean square over the window; the peak is followed approximately: once the sample that set
    // it leaves the window, the newest value takes over.
    void meterReadings()
    {
        Meter meter(quint64(4));
        for (double x : {2.0, 1.0, 1.0, 1.0})
            meter.add(x);
        QCOMPARE(meter.peak(), 4.0);
        QCOMPARE(meter.mean(), 7.0 / 4.0);
        meter.add(0.5);
        QCOMPARE(meter.peak(), 0.25);
        QCOMPARE(meter.mean(), 3.25 / 4.0);
        QCOMPARE(meter.count(), 4u);
        meter.reset();
        QCOMPARE(meter.count(), 0u);
        QCOMPARE(meter.peak(), 0.0);
        Meter fast(Weighting::Flat, Meter::Fast); // 125 ms
        fast.setSampleRate(44100);
        QCOMPARE(fast.length(), quint64(5512));
    }

    // A non-finite sample counts as silence and, above all, does not stay in the weighting
    // sections: the A-weighted meter keeps reading the signal after it.
    void meterSurvivesNonFiniteSamples_data()
    {
        QTest::addColumn<double>("bad");
        QTest::addColumn<bool>("silence");
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << true;
        QTest::newRow("+inf") << std::numeric_limits<double>::infinity() << true;
        QTest::newRow("-inf") << -std::numeric_limits<double>::infinity() << true;
        QTest::newRow("beyond float") << 1e300 << true;
        // Finite, but the sections' gain takes it past the float range.
        QTest::newRow("largest float") << double(std::numeric_limits<float>::max()) << false;
    }

    void meterSurvivesNonFiniteSamples()
    {
        QFETCH(double, bad);
        QFETCH(bool, silence);
        Meter meter(Weighting::A, Meter::Slow);
        meter.setSampleRate(48000);
        sineLevel(meter, 48000, 1000.0, 1.0);
        meter.add(bad);
        const double level = sineLevel(meter, 48000, 1000.0, 2.0);
        QVERIFY2(std::abs(level + 3.01) < 0.05, qPrintable(QString::number(level)));
        Meter plain(quint64(10));
        plain.add(bad);
        QCOMPARE(plain.peak() == 0.0, silence);
        QCOMPARE(plain.count(), 1u);
    }
};

SNT_TEST_MAIN(SignalBlocksTest)
#include "SignalBlocksTest.moc"
