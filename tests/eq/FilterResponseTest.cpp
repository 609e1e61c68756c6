#include "eq/FilterResponse.h"
#include "tests/support/TestMain.h"

#include <cmath>
#include <numbers>

using namespace snt::eq;

namespace {

double magnitude(const Complex& h) { return std::hypot(double(h.re), double(h.im)); }
double degrees(const Complex& h) { return std::atan2(double(h.im), double(h.re)) * 180.0 / std::numbers::pi; }

// Phases near ±180° may land on either side; compare on the circle.
bool samePhase(double a, double b, double toleranceDeg)
{
    return std::abs(std::remainder(a - b, 360.0)) <= toleranceDeg;
}

}  // namespace

class FilterResponseTest : public QObject {
    Q_OBJECT

private slots:
    // Reference values: the analog Butterworth prototype evaluated from its poles
    // p_k = exp(jπ(2k+n-1)/(2n)), H(s) = 1/Π(s - p_k), with Python's cmath (not from this code).
    void butterworth_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<double>("ratio");  // f / fc
        QTest::addColumn<double>("lowMag");
        QTest::addColumn<double>("lowDeg");
        QTest::addColumn<double>("highMag");
        QTest::addColumn<double>("highDeg");
        QTest::newRow("n1 fc") << 1 << 1.0 << 0.707106781 << -45.0 << 0.707106781 << 45.0;
        QTest::newRow("n1 2fc") << 1 << 2.0 << 0.447213595 << -63.434949 << 0.894427191 << 26.565051;
        QTest::newRow("n2 fc") << 2 << 1.0 << 0.707106781 << -90.0 << 0.707106781 << 90.0;
        QTest::newRow("n2 2fc") << 2 << 2.0 << 0.242535625 << -136.686143 << 0.970142500 << 43.313857;
        QTest::newRow("n2 fc/2") << 2 << 0.5 << 0.970142500 << -43.313857 << 0.242535625 << 136.686143;
        QTest::newRow("n3 fc") << 3 << 1.0 << 0.707106781 << -135.0 << 0.707106781 << 135.0;
        QTest::newRow("n3 2fc") << 3 << 2.0 << 0.124034735 << 150.255119 << 0.992277877 << 60.255119;
        QTest::newRow("n4 fc") << 4 << 1.0 << 0.707106781 << -180.0 << 0.707106781 << -180.0;
        QTest::newRow("n4 2fc") << 4 << 2.0 << 0.062378286 << 77.963211 << 0.998052578 << 77.963211;
        QTest::newRow("n4 fc/2") << 4 << 0.5 << 0.998052578 << -77.963211 << 0.062378286 << -77.963211;
        QTest::newRow("n5 2fc") << 5 << 2.0 << 0.031234752 << 6.125734 << 0.999512076 << 96.125734;
        QTest::newRow("n6 2fc") << 6 << 2.0 << 0.015623093 << -65.474802 << 0.999877952 << 114.525198;
        QTest::newRow("n8 fc") << 8 << 1.0 << 0.707106781 << 0.0 << 0.707106781 << 0.0;
        QTest::newRow("n8 2fc") << 8 << 2.0 << 0.003906220 << 151.654347 << 0.999992371 << 151.654347;
    }

    void butterworth()
    {
        QFETCH(int, order);
        QFETCH(double, ratio);
        QFETCH(double, lowMag);
        QFETCH(double, lowDeg);
        QFETCH(double, highMag);
        QFETCH(double, highDeg);
        const float fc = 1000.0f;
        const float f = float(fc * ratio);
        const Complex lp = filterResponse(ButterworthLowPass, f, fc, order, 0.707f, 0.0f, false, 0.0f);
        const Complex hp = filterResponse(ButterworthHighPass, f, fc, order, 0.707f, 0.0f, false, 0.0f);
        QVERIFY2(std::abs(magnitude(lp) / lowMag - 1.0) < 1e-5, qPrintable(QString::number(magnitude(lp))));
        QVERIFY2(std::abs(magnitude(hp) / highMag - 1.0) < 1e-5, qPrintable(QString::number(magnitude(hp))));
        QVERIFY2(samePhase(degrees(lp), lowDeg, 0.01), qPrintable(QString::number(degrees(lp))));
        QVERIFY2(samePhase(degrees(hp), highDeg, 0.01), qPrintable(QString::number(degrees(hp))));
    }

    // Linkwitz-Riley of order n is Butterworth of order n/2 squared: -6.02 dB at the corner, and
    // analytically 1/(1 + (f/fc)^n) in magnitude for the low-pass.
    void linkwitzRiley_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("lowMag");
        QTest::addColumn<double>("lowDeg");
        QTest::newRow("LR2 fc") << 2 << 1.0 << 0.5 << -90.0;
        QTest::newRow("LR4 fc") << 4 << 1.0 << 0.5 << -180.0;
        QTest::newRow("LR4 2fc") << 4 << 2.0 << 1.0 / 17.0 << -273.372286;
        QTest::newRow("LR4 fc/2") << 4 << 0.5 << 16.0 / 17.0 << -86.627714;
        QTest::newRow("LR8 fc") << 8 << 1.0 << 0.5 << -360.0;
        QTest::newRow("LR8 2fc") << 8 << 2.0 << 1.0 / 257.0 << 155.926422;
        QTest::newRow("LR5 as LR4") << 5 << 2.0 << 1.0 / 17.0 << -273.372286;
        QTest::newRow("LR1 passes") << 1 << 2.0 << 1.0 << 0.0;
    }

    void linkwitzRiley()
    {
        QFETCH(int, order);
        QFETCH(double, ratio);
        QFETCH(double, lowMag);
        QFETCH(double, lowDeg);
        const Complex lp = filterResponse(LinkwitzRileyLowPass, float(100.0 * ratio), 100.0f, order, 0.707f, 0.0f, false, 0.0f);
        QVERIFY2(std::abs(magnitude(lp) / lowMag - 1.0) < 1e-5, qPrintable(QString::number(magnitude(lp))));
        QVERIFY2(samePhase(degrees(lp), lowDeg, 0.01), qPrintable(QString::number(degrees(lp))));
        // The high-pass mirrors the low-pass around the corner.
        const Complex hp = filterResponse(LinkwitzRileyHighPass, float(100.0 / ratio), 100.0f, order, 0.707f, 0.0f, false, 0.0f);
        QVERIFY(std::abs(magnitude(hp) / lowMag - 1.0) < 1e-5);
        QVERIFY(samePhase(degrees(hp), -lowDeg, 0.01));
    }

    // Reference values: H = θ_n(0)/θ_n(s) with θ from the recurrence θ_n = (2n-1)θ_(n-1) + s²θ_(n-2)
    // (θ_0 = 1, θ_1 = s + 1), evaluated with Python's cmath.
    void bessel_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<bool>("highPass");
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("db");
        QTest::addColumn<double>("deg");
        QTest::newRow("n1 fc") << 1 << false << 1.0 << -3.010300 << -45.0;
        QTest::newRow("n2 fc") << 2 << false << 1.0 << -1.597008 << -56.309932;
        QTest::newRow("n3 fc") << 3 << false << 1.0 << -0.902973 << -57.264774;
        QTest::newRow("n4 fc") << 4 << false << 1.0 << -0.629953 << -57.295266;
        QTest::newRow("n8 fc") << 8 << false << 1.0 << -0.290278 << -57.295780;
        QTest::newRow("n2 2fc") << 2 << false << 2.0 << -6.139592 << -99.462322;
        QTest::newRow("n4 2fc") << 4 << false << 2.0 << -2.668469 << -114.410740;
        QTest::newRow("n8 2fc") << 8 << false << 2.0 << -1.170403 << -114.591559;
        QTest::newRow("HP n2 2fc") << 2 << true << 2.0 << -0.375372 << 28.610460;
        QTest::newRow("HP n4 2fc") << 4 << true << 2.0 << -0.155668 << 28.647889;
    }

    void bessel()
    {
        QFETCH(int, order);
        QFETCH(bool, highPass);
        QFETCH(double, ratio);
        QFETCH(double, db);
        QFETCH(double, deg);
        const Complex h = filterResponse(highPass ? BesselHighPass : BesselLowPass, float(500.0 * ratio), 500.0f, order, 0.707f, 0.0f, false, 0.0f);
        QVERIFY2(std::abs(20.0 * std::log10(magnitude(h)) - db) < 1e-4, qPrintable(QString::number(20.0 * std::log10(magnitude(h)))));
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
        const float fc = 2000.0f;
        const Complex centre = filterResponse(Peaking, fc, fc, 0, float(q), float(gainDb), false, 0.0f);
        QVERIFY(std::abs(20.0 * std::log10(magnitude(centre)) - gainDb) < 1e-4);
        QVERIFY(std::abs(degrees(centre)) < 1e-3);
        const double upper = (1.0 / q + std::sqrt(1.0 / (q * q) + 4.0)) / 2.0;
        for (const double edge : {upper, 1.0 / upper}) {
            const Complex h = filterResponse(Peaking, float(fc * edge), fc, 0, float(q), float(gainDb), false, 0.0f);
            QVERIFY2(std::abs(20.0 * std::log10(magnitude(h)) - gainDb / 2.0) < 1e-3,
                     qPrintable(QString::number(20.0 * std::log10(magnitude(h)))));
        }
        const Complex far = filterResponse(Peaking, fc * 1000.0f, fc, 0, float(q), float(gainDb), false, 0.0f);
        QVERIFY(std::abs(20.0 * std::log10(magnitude(far))) < 0.05);
        const Complex zero = filterResponse(Peaking, 1234.0f, fc, 0, float(q), 0.0f, false, 0.0f);
        QVERIFY(std::abs(magnitude(zero) - 1.0) < 1e-6);
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
        const auto db = [&](float f) {
            return 20.0 * std::log10(magnitude(filterResponse(type, f, 1000.0f, 0, 0.707f, float(gainDb), false, 0.0f)));
        };
        QVERIFY(std::abs(db(1000.0f) - gainDb / 2.0) < 1e-4);
        const double above = type == HighShelf ? gainDb : 0.0;
        const double below = type == HighShelf ? 0.0 : gainDb;
        QVERIFY(std::abs(db(1.0e6f) - above) < 0.01);
        QVERIFY(std::abs(db(1.0f) - below) < 0.01);
    }

    void degenerateInputs()
    {
        QCOMPARE(filterResponse(ButterworthHighPass, 0.0f, 100.0f, 4, 0.707f, 0, false, 0), Complex(0.0f));
        QCOMPARE(filterResponse(BandPass, 0.0f, 100.0f, 0, 1.0f, 0, false, 0), Complex(0.0f));
        for (const int type : {int(ButterworthLowPass), int(Peaking), int(HighShelf), int(LowShelf), int(Notch)})
            QCOMPARE(filterResponse(type, 0.0f, 100.0f, 4, 1.0f, 6.0f, false, 0), Complex(1.0f));
        QCOMPARE(filterResponse(ButterworthHighPass, 50.0f, 0.0f, 4, 0.707f, 0, false, 0), Complex(1.0f));
        QCOMPARE(filterResponse(42, 50.0f, 100.0f, 4, 0.707f, 0, false, 0), Complex(1.0f));
        QCOMPARE(filterResponse(ButterworthLowPass, 50.0f, 100.0f, 0, 0.707f, 0, false, 0), Complex(1.0f));
        QCOMPARE(filterResponse(AllPass, 50.0f, 100.0f, 3, 0.707f, 0, false, 0), Complex(1.0f));
        // The all-pass passes everything at unit level.
        QVERIFY(std::abs(magnitude(filterResponse(AllPass, 70.0f, 100.0f, 4, 0.9f, 0, false, 0)) - 1.0) < 1e-6);
        // The notch removes its centre.
        QVERIFY(magnitude(filterResponse(Notch, 100.0f, 100.0f, 0, 2.0f, 0, false, 0)) < 1e-6);
    }

    void inversionAndDelay()
    {
        const Complex h = filterResponse(ButterworthLowPass, 300.0f, 1000.0f, 2, 0.707f, 0, false, 0);
        const Complex inverted = filterResponse(ButterworthLowPass, 300.0f, 1000.0f, 2, 0.707f, 0, true, 0);
        QVERIFY(std::abs(inverted.re + h.re) < 1e-6 && std::abs(inverted.im + h.im) < 1e-6);
        // 1 ms at 250 Hz lags by a quarter turn; at 1 kHz by a whole one.
        const Complex quarter = filterResponse(Peaking, 250.0f, 1000.0f, 0, 1.0f, 0.0f, false, 1.0f);
        QVERIFY(samePhase(degrees(quarter), -90.0, 1e-3));
        const Complex whole = filterResponse(Peaking, 1000.0f, 1000.0f, 0, 1.0f, 0.0f, false, 1.0f);
        QVERIFY(samePhase(degrees(whole), 0.0, 1e-3));
    }

    void cornerCodes()
    {
        QCOMPARE(cornerFilterCode(0, QStringLiteral("BW")), int(ButterworthHighPass));
        QCOMPARE(cornerFilterCode(1, QString()), int(ButterworthLowPass));
        QCOMPARE(cornerFilterCode(1, QStringLiteral("LR")), int(LinkwitzRileyLowPass));
        QCOMPARE(cornerFilterCode(0, QStringLiteral("BS")), int(BesselHighPass));
        QCOMPARE(cornerFilterCode(1, QStringLiteral("lr")), int(ButterworthLowPass));
    }
};

SNT_TEST_MAIN(FilterResponseTest)
#include "FilterResponseTest.moc"
