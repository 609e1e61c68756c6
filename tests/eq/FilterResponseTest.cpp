#include "eq/FilterResponse.h"
#include "tests/support/TestMain.h"

#include <cmath>
#include <numbers>

using namespace snt::eq;

namespace {

Complex response(int type, double f, double fc, int order, double q = 0.707, double gainDb = 0.0)
{
    return filterResponse(
            {.type = type, .fc = float(fc), .order = order, .q = float(q), .gainDb = float(gainDb)},
            float(f));
}

double db(const Complex &h)
{
    return 20.0 * std::log10(std::hypot(double(h.re), double(h.im)));
}
double degrees(const Complex &h)
{
    return std::atan2(double(h.im), double(h.re)) * 180.0 / std::numbers::pi;
}

// Phases near ±180° may land on either side; compare on the circle.
bool samePhase(double a, double b, double toleranceDeg)
{
    return std::abs(std::remainder(a - b, 360.0)) <= toleranceDeg;
}

void addRow(const char *kind, int type, int order, double ratio, double magnitude, double deg)
{
    QTest::addRow("%s n%d %gfc", kind, order, ratio)
            << type << order << ratio << 20.0 * std::log10(magnitude) << deg;
}

} // namespace

class FilterResponseTest : public QObject
{
    Q_OBJECT

private slots:
    // Butterworth: the analog prototype from its poles p_k = exp(jπ(2k+n-1)/(2n)), H(s) = 1/Π(s - p_k).
    // Linkwitz-Riley of order n is Butterworth of order n/2 squared, 1/(1 + (f/fc)^n) in magnitude;
    // its high-pass mirrors the low-pass around the corner. Bessel: H = θ_n(0)/θ_n(s) with
    // θ_n = (2n-1)θ_(n-1) + s²θ_(n-2), θ_0 = 1, θ_1 = s + 1. Values from Python's cmath, not this code.
    void cornerFilters_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("order");
        QTest::addColumn<double>("ratio"); // f / fc
        QTest::addColumn<double>("expectedDb");
        QTest::addColumn<double>("deg");
        const auto bw = [](int n, double ratio, double lowMag, double lowDeg, double highMag,
                           double highDeg) {
            addRow("BW LP", ButterworthLowPass, n, ratio, lowMag, lowDeg);
            addRow("BW HP", ButterworthHighPass, n, ratio, highMag, highDeg);
        };
        bw(1, 1.0, 0.707106781, -45.0, 0.707106781, 45.0);
        bw(1, 2.0, 0.447213595, -63.434949, 0.894427191, 26.565051);
        bw(2, 1.0, 0.707106781, -90.0, 0.707106781, 90.0);
        bw(2, 2.0, 0.242535625, -136.686143, 0.970142500, 43.313857);
        bw(2, 0.5, 0.970142500, -43.313857, 0.242535625, 136.686143);
        bw(3, 1.0, 0.707106781, -135.0, 0.707106781, 135.0);
        bw(3, 2.0, 0.124034735, 150.255119, 0.992277877, 60.255119);
        bw(4, 1.0, 0.707106781, -180.0, 0.707106781, -180.0);
        bw(4, 2.0, 0.062378286, 77.963211, 0.998052578, 77.963211);
        bw(4, 0.5, 0.998052578, -77.963211, 0.062378286, -77.963211);
        bw(5, 2.0, 0.031234752, 6.125734, 0.999512076, 96.125734);
        bw(6, 2.0, 0.015623093, -65.474802, 0.999877952, 114.525198);
        bw(8, 1.0, 0.707106781, 0.0, 0.707106781, 0.0);
        bw(8, 2.0, 0.003906220, 151.654347, 0.999992371, 151.654347);
        const auto lr = [](int n, double ratio, double lowMag, double lowDeg) {
            addRow("LR LP", LinkwitzRileyLowPass, n, ratio, lowMag, lowDeg);
            addRow("LR HP", LinkwitzRileyHighPass, n, 1.0 / ratio, lowMag, -lowDeg);
        };
        lr(2, 1.0, 0.5, -90.0);
        lr(4, 1.0, 0.5, -180.0);
        lr(4, 2.0, 1.0 / 17.0, -273.372286);
        lr(4, 0.5, 16.0 / 17.0, -86.627714);
        lr(8, 1.0, 0.5, -360.0);
        lr(8, 2.0, 1.0 / 257.0, 155.926422);
        lr(5, 2.0, 1.0 / 17.0, -273.372286); // odd orders round down
        lr(1, 2.0, 1.0, 0.0); // nothing left: passes
        const auto bs = [](int type, int n, double ratio, double dbValue, double deg) {
            addRow(type == BesselLowPass ? "BS LP" : "BS HP", type, n, ratio,
                   std::pow(10.0, dbValue / 20.0), deg);
        };
        bs(BesselLowPass, 1, 1.0, -3.010300, -45.0);
        bs(BesselLowPass, 2, 1.0, -1.597008, -56.309932);
        bs(BesselLowPass, 3, 1.0, -0.902973, -57.264774);
        bs(BesselLowPass, 4, 1.0, -0.629953, -57.295266);
        bs(BesselLowPass, 8, 1.0, -0.290278, -57.295780);
        bs(BesselLowPass, 2, 2.0, -6.139592, -99.462322);
        bs(BesselLowPass, 4, 2.0, -2.668469, -114.410740);
        bs(BesselLowPass, 8, 2.0, -1.170403, -114.591559);
        bs(BesselHighPass, 2, 2.0, -0.375372, 28.610460);
        bs(BesselHighPass, 4, 2.0, -0.155668, 28.647889);
    }

    void cornerFilters()
    {
        QFETCH(int, type);
        QFETCH(int, order);
        QFETCH(double, ratio);
        QFETCH(double, expectedDb);
        QFETCH(double, deg);
        const Complex h = response(type, 500.0 * ratio, 500.0, order);
        QVERIFY2(std::abs(db(h) - expectedDb) < 1e-4, qPrintable(QString::number(db(h), 'f', 6)));
        QVERIFY2(samePhase(degrees(h), deg, 0.01), qPrintable(QString::number(degrees(h))));
    }

    // At the frequencies where ω - 1/ω = ±1/Q, the analog peaking band reaches exactly half its
    // gain in dB (|H|² = (1 + A²)/(1 + A⁻²) = A²); at its centre the full gain with zero phase.
    void peaking_data()
    {
        QTest::addColumn<double>("gainDb");
        QTest::addColumn<double>("q");
        QTest::newRow("+6 q1") << 6.0 << 1.0;
        QTest::newRow("-9 q4") << -9.0 << 4.0;
        QTest::newRow("+3 q0.5") << 3.0 << 0.5;
        QTest::newRow("-12 q8") << -12.0 << 8.0;
    }

    void peaking()
    {
        QFETCH(double, gainDb);
        QFETCH(double, q);
        const Complex centre = response(Peaking, 2000.0, 2000.0, 0, q, gainDb);
        QVERIFY(std::abs(db(centre) - gainDb) < 1e-4 && std::abs(degrees(centre)) < 1e-3);
        const double upper = (1.0 / q + std::sqrt(1.0 / (q * q) + 4.0)) / 2.0;
        for (const double edge : {upper, 1.0 / upper}) {
            const double half = db(response(Peaking, 2000.0 * edge, 2000.0, 0, q, gainDb));
            QVERIFY2(std::abs(half - gainDb / 2.0) < 1e-3, qPrintable(QString::number(half)));
        }
        QVERIFY(std::abs(db(response(Peaking, 2e6, 2000.0, 0, q, gainDb))) < 0.05);
        QVERIFY(std::abs(db(response(Peaking, 1234.0, 2000.0, 0, q, 0.0))) < 1e-5);
    }

    // A shelf of g dB passes g/2 dB at its corner (|H(j)| = A) and g dB far on its shelf side.
    void shelves_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("gainDb");
        QTest::newRow("high +6") << int(HighShelf) << 6.0;
        QTest::newRow("high -8") << int(HighShelf) << -8.0;
        QTest::newRow("low +6") << int(LowShelf) << 6.0;
        QTest::newRow("low -4") << int(LowShelf) << -4.0;
    }

    void shelves()
    {
        QFETCH(int, type);
        QFETCH(double, gainDb);
        const auto at = [&](double f) {
            return db(response(type, f, 1000.0, 0, 0.707, gainDb));
        };
        QVERIFY(std::abs(at(1000.0) - gainDb / 2.0) < 1e-4);
        QVERIFY(std::abs(at(1.0e6) - (type == HighShelf ? gainDb : 0.0)) < 0.01);
        QVERIFY(std::abs(at(1.0) - (type == HighShelf ? 0.0 : gainDb)) < 0.01);
    }

    void degenerateInputs()
    {
        QCOMPARE(response(ButterworthHighPass, 0.0, 100.0, 4), Complex(0.0f));
        QCOMPARE(response(BandPass, 0.0, 100.0, 0, 1.0), Complex(0.0f));
        for (const int type :
             {int(ButterworthLowPass), int(Peaking), int(HighShelf), int(LowShelf), int(Notch)})
            QCOMPARE(response(type, 0.0, 100.0, 4, 1.0, 6.0), Complex(1.0f));
        QCOMPARE(response(ButterworthHighPass, 50.0, 0.0, 4), Complex(1.0f)); // no corner
        QCOMPARE(response(42, 50.0, 100.0, 4), Complex(1.0f)); // unknown type
        QCOMPARE(response(ButterworthLowPass, 50.0, 100.0, 0), Complex(1.0f)); // order 0
        QCOMPARE(response(AllPass, 50.0, 100.0, 3), Complex(1.0f));
        QVERIFY(std::abs(db(response(AllPass, 70.0, 100.0, 4, 0.9))) < 1e-5);
        QVERIFY(db(response(Notch, 100.0, 100.0, 0, 2.0)) < -120.0); // the notch removes its centre
    }

    void inversionAndDelay()
    {
        const Complex h = response(ButterworthLowPass, 300.0, 1000.0, 2);
        const Complex inverted = filterResponse({.type = ButterworthLowPass,
                                                 .fc = 1000.0f,
                                                 .order = 2,
                                                 .q = 0.707f,
                                                 .inverted = true},
                                                300.0f);
        QVERIFY(std::abs(inverted.re + h.re) < 1e-6 && std::abs(inverted.im + h.im) < 1e-6);
        // 1 ms at 250 Hz lags by a quarter turn; at 1 kHz by a whole one.
        const FilterSpec delayed{.type = Peaking, .fc = 1000.0f, .q = 1.0f, .delayMs = 1.0f};
        QVERIFY(samePhase(degrees(filterResponse(delayed, 250.0f)), -90.0, 1e-3));
        QVERIFY(samePhase(degrees(filterResponse(delayed, 1000.0f)), 0.0, 1e-3));
    }

    void cornerCodes()
    {
        QCOMPARE(cornerFilterCode(0, QStringLiteral("BW")), int(ButterworthHighPass));
        QCOMPARE(cornerFilterCode(1, QStringLiteral("LR")), int(LinkwitzRileyLowPass));
        QCOMPARE(cornerFilterCode(0, QStringLiteral("BS")), int(BesselHighPass));
        QCOMPARE(cornerFilterCode(1, QStringLiteral("lr")), int(ButterworthLowPass)); // unknown: BW
    }
};

SNT_TEST_MAIN(FilterResponseTest)
#include "FilterResponseTest.moc"
