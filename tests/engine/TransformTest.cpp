#include "engine/Complex.h"
#include "engine/Container.h"
#include "engine/Deconvolution.h"
#include "engine/FourierTransform.h"
#include "engine/Radix2Fft.h"
#include "tests/support/TestMain.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace {

using cd = std::complex<double>;
constexpr double twoPi = 2.0 * std::numbers::pi;

// Textbook DFT in double with a chosen kernel sign and scale: the independent yardstick.
std::vector<cd> naiveDft(const std::vector<double>& x, double sign, double scale)
{
    const std::size_t n = x.size();
    std::vector<cd> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        cd sum = 0.0;
        for (std::size_t i = 0; i < n; ++i)
            sum += x[i] * std::polar(1.0, sign * twoPi * double((k * i) % n) / double(n));
        out[k] = sum * scale;
    }
    return out;
}

std::vector<double> noise(std::size_t n, unsigned seed, double sigma = 1.0)
{
    std::mt19937 generator(seed);
    std::normal_distribution<double> distribution(0.0, sigma);
    std::vector<double> x(n);
    for (double& v : x)
        v = distribution(generator);
    return x;
}

void feed(FourierTransform& t, const std::vector<double>& data, const std::vector<double>& reference)
{
    for (std::size_t i = 0; i < data.size(); ++i)
        t.add(float(data[i]), float(reference[i]));
}

std::vector<double> windowed(const std::vector<double>& x, const FourierTransform& t)
{
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        y[i] = x[i] * t.window().value(quint32(i));
    return y;
}

double sum(const std::vector<double>& x)
{
    double s = 0.0;
    for (double v : x)
        s += v;
    return s;
}

}  // namespace

class TransformTest : public QObject {
    Q_OBJECT

private slots:
    void phaseDifference_data()
    {
        QTest::addColumn<float>("are");
        QTest::addColumn<float>("aim");
        QTest::addColumn<float>("bre");
        QTest::addColumn<float>("bim");
        QTest::newRow("same argument") << 3.0f << 4.0f << 0.6f << 0.8f;
        QTest::newRow("general") << 1.0f << 2.0f << -3.0f << 0.5f;
        QTest::newRow("third quadrant") << -1.0f << -2.0f << 2.0f << -0.5f;
        QTest::newRow("a on +imaginary axis") << 0.0f << 1.0f << 1.0f << 0.0f;
        QTest::newRow("a on -imaginary axis") << 0.0f << -2.5f << 1.0f << 1.0f;
        QTest::newRow("b on +imaginary axis") << 1.0f << 0.0f << 0.0f << 3.0f;
        QTest::newRow("both on imaginary axis") << 0.0f << 2.0f << 0.0f << -1.0f;
        QTest::newRow("negative real") << -2.0f << 0.0f << 1.0f << 1.0f;
    }

    // e^(i·(arg a − arg b)), checked against atan2 in double; values on the imaginary axis
    // (real part exactly 0) have a well-defined phase and must not give NaN.
    void phaseDifference()
    {
        QFETCH(float, are);
        QFETCH(float, aim);
        QFETCH(float, bre);
        QFETCH(float, bim);
        const Complex p = Complex::phaseDifference({are, aim}, {bre, bim});
        const cd expected = std::polar(1.0, std::atan2(double(aim), double(are))
                                                - std::atan2(double(bim), double(bre)));
        QVERIFY2(std::abs(p.re - expected.real()) < 1e-6 && std::abs(p.im - expected.imag()) < 1e-6,
                 qPrintable(QStringLiteral("(%1, %2)").arg(p.re).arg(p.im)));
    }

    void phaseDifferenceOfZeroIsUndefined()
    {
        const Complex p = Complex::phaseDifference({0.0f, 0.0f}, {1.0f, 0.0f});
        QVERIFY(std::isnan(p.re) && std::isnan(p.im));
        const Complex x{1.0f, 2.0f};
        const Complex rotated = x.rotate(0.3f);
        const Complex q = Complex::phaseDifference(x, rotated);
        QVERIFY(std::abs(q.re - std::cos(0.3f)) < 1e-6f && std::abs(q.im + std::sin(0.3f)) < 1e-6f);
    }

    void complexOperators()
    {
        const Complex a{1.5f, -2.0f}, b{-0.25f, 3.0f};
        const cd za(1.5, -2.0), zb(-0.25, 3.0);
        const Complex q = a / b;
        QVERIFY(std::abs(q.re - (za / zb).real()) < 1e-6 && std::abs(q.im - (za / zb).imag()) < 1e-6);
        const Complex p = a * b;
        QCOMPARE(p.re, float((za * zb).real()));
        QCOMPARE(p.im, float((za * zb).imag()));
        QVERIFY(b > a);  // compares magnitudes
        Complex c = a;
        c -= 1.0f;  // real part only
        QCOMPARE(c.re, 0.5f);
        QCOMPARE(c.im, -2.0f);
        const Complex nan{std::nanf(""), 0.0f};
        QVERIFY(nan != nan);
        QCOMPARE(a.abs(), 2.5f);
        QCOMPARE(a.norm(), 6.25f);
        QCOMPARE(a.conj().im, 2.0f);
    }

    // Resizing to the same count keeps the state; any other count starts from zeros.
    void containerResize()
    {
        Container::array<Complex> bins(4, Complex(1.0f, 2.0f));
        QCOMPARE(bins[3], Complex(1.0f, 2.0f));
        bins.resize(4);
        QCOMPARE(bins[3], Complex(1.0f, 2.0f));
        bins.resize(6);
        QCOMPARE(bins.size(), std::size_t(6));
        for (const Complex& c : bins)
            QCOMPARE(c, Complex());
        Container::array<float> copy(3, 5.0f);
        Container::array<float> other = copy;
        copy[0] = 1.0f;
        QCOMPARE(other[0], 5.0f);
        other.resize(0);
        QVERIFY(other.isEmpty());
    }

    // The convention in numbers: X[k] = (1/N) Σ x[n] e^(+2πikn/N), oldest sample first. A unit
    // sine on bin k reads +i/2 there (the usual transform gives −i·N/2), with any window.
    void sineOnBinGivesConjugateConvention_data()
    {
        QTest::addColumn<quint32>("size");
        QTest::addColumn<int>("window");
        QTest::newRow("64 rectangular") << 64u << int(WindowFunction::Rectangular);
        QTest::newRow("4096 rectangular") << 4096u << int(WindowFunction::Rectangular);
        QTest::newRow("4096 hann") << 4096u << int(WindowFunction::Hann);
        QTest::newRow("8192 rectangular") << 8192u << int(WindowFunction::Rectangular);
        QTest::newRow("32768 rectangular") << 32768u << int(WindowFunction::Rectangular);
        QTest::newRow("65536 rectangular") << 65536u << int(WindowFunction::Rectangular);
        QTest::newRow("65536 flat top") << 65536u << int(WindowFunction::FlatTop);
    }

    void sineOnBinGivesConjugateConvention()
    {
        QFETCH(quint32, size);
        QFETCH(int, window);
        FourierTransform t(size);
        t.setWindowType(WindowFunction::Type(window));
        t.prepare();
        const quint32 k = 10;
        for (quint32 n = 0; n < size; ++n) {
            const double phase = twoPi * double(k) * n / size;
            t.add(float(std::sin(phase)), float(0.5 * std::cos(phase)));
        }
        t.calculate();
        const Complex d = t.dataBin(k);
        const Complex r = t.referenceBin(k);
        QVERIFY2(std::abs(d.re) < 2e-5 && std::abs(d.im - 0.5) < 2e-5,
                 qPrintable(QStringLiteral("(%1, %2)").arg(d.re).arg(d.im)));
        QVERIFY(std::abs(r.re - 0.25) < 2e-5 && std::abs(r.im) < 2e-5);
        const Complex mirror = t.dataBin(size - k);
        QVERIFY(std::abs(mirror.im + 0.5) < 2e-5);
        if (window == WindowFunction::Rectangular) {
            // Leakage floor of the float transform.
            float worst = 0.0f;
            for (quint32 i = 1; i < size / 2; ++i)
                if (i != k)
                    worst = std::max(worst, t.dataBin(i).abs());
            QVERIFY2(worst < 2e-6f, qPrintable(QString::number(worst)));
        }
    }

    // Random blocks on both channels against a double-precision DFT, at sizes that use both
    // gather paths and with a write position that is not at the start of the ring.
    void matchesNaiveDft_data()
    {
        QTest::addColumn<quint32>("size");
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("extra");
        QTest::newRow("2") << 2u << int(WindowFunction::Rectangular) << 0;
        QTest::newRow("4") << 4u << int(WindowFunction::Hann) << 1;
        QTest::newRow("8 hamming") << 8u << int(WindowFunction::Hamming) << 3;
        QTest::newRow("64 blackman-harris") << 64u << int(WindowFunction::BlackmanHarris) << 17;
        QTest::newRow("1024 hann") << 1024u << int(WindowFunction::Hann) << 0;
        QTest::newRow("2048 exponental") << 2048u << int(WindowFunction::Exponental) << 1001;
        QTest::newRow("4096 hft223d") << 4096u << int(WindowFunction::HFT223D) << 4095;
    }

    void matchesNaiveDft()
    {
        QFETCH(quint32, size);
        QFETCH(int, window);
        QFETCH(int, extra);
        FourierTransform t(size);
        t.setWindowType(WindowFunction::Type(window));
        t.prepare();
        const std::vector<double> lead = noise(extra, 7);
        feed(t, lead, lead);
        const std::vector<double> data = noise(size, 1);
        const std::vector<double> reference = noise(size, 2);
        feed(t, data, reference);
        t.calculate();

        const std::vector<double> wd = windowed(data, t);
        const std::vector<double> wr = windowed(reference, t);
        const std::vector<cd> expectedData = naiveDft(wd, +1.0, 1.0 / size);
        const std::vector<cd> expectedReference = naiveDft(wr, +1.0, 1.0 / size);
        // The block's sum is taken from every sample: bin 0 reads S·(1 − N)/N.
        const double sd = sum(wd), sr = sum(wr);
        QVERIFY(std::abs(t.dataBin(0).re - sd * (1.0 - size) / size) < 1e-4 * (1.0 + std::abs(sd)));
        QVERIFY(std::abs(t.referenceBin(0).re - sr * (1.0 - size) / size) < 1e-4 * (1.0 + std::abs(sr)));
        double worst = 0.0;
        for (quint32 k = 1; k < size; ++k) {
            const cd d(t.dataBin(k).re, t.dataBin(k).im);
            const cd r(t.referenceBin(k).re, t.referenceBin(k).im);
            worst = std::max({worst, std::abs(d - expectedData[k]), std::abs(r - expectedReference[k])});
        }
        QVERIFY2(worst < 1e-5, qPrintable(QString::number(worst)));
    }

    // Parseval at the largest size: Σ_k≥1 |X[k]|² = (1/N)·Σ x² − (S/N)².
    void parsevalAtLargestSize()
    {
        const quint32 size = 65536;
        FourierTransform t(size);
        t.prepare();
        const std::vector<double> data = noise(size, 3);
        feed(t, data, noise(size, 4));
        t.calculate();
        double energy = 0.0;
        for (double v : data)
            energy += double(float(v)) * double(float(v));
        const double mean = sum(data) / size;
        double spectral = 0.0;
        for (quint32 k = 1; k < size; ++k)
            spectral += double(t.dataBin(k).norm());
        const double expected = energy / size - mean * mean;
        QVERIFY2(std::abs(spectral - expected) < 1e-4 * expected,
                 qPrintable(QStringLiteral("%1 vs %2").arg(spectral).arg(expected)));
    }

    void constantBlockOnlyMovesBinZero()
    {
        const quint32 size = 16;
        FourierTransform t(size);
        t.prepare();
        for (quint32 i = 0; i < size; ++i)
            t.add(0.5f, -1.0f);
        t.calculate();
        QCOMPARE(t.dataBin(0).re, 0.5f * (1.0f - size));
        QCOMPARE(t.referenceBin(0).re, -1.0f * (1.0f - size));
        for (quint32 k = 1; k < size; ++k)
            QVERIFY(t.dataBin(k).abs() < 1e-6f && t.referenceBin(k).abs() < 1e-6f);
    }

    // Sizes below 2 (and sizes that are no power of two) build no plan: nothing may hang,
    // divide by zero or touch memory that does not exist.
    void degenerateSizesComputeNothing_data()
    {
        QTest::addColumn<quint32>("size");
        QTest::newRow("0") << 0u;
        QTest::newRow("1") << 1u;
        QTest::newRow("3") << 3u;
        QTest::newRow("100") << 100u;
    }

    void degenerateSizesComputeNothing()
    {
        QFETCH(quint32, size);
        FourierTransform t(size);
        t.prepare();
        QVERIFY(!t.isPrepared());
        t.add(1.0f, 2.0f);
        t.calculate();
        t.butterflies(true);
        t.setBins(0, Complex(1.0f), Complex(1.0f));
        Deconvolution deconvolution(size);
        deconvolution.add(1.0f, 1.0f);
        deconvolution.calculate();
        QCOMPARE(deconvolution.peakIndex(), 0u);
    }

    void setSizeNeedsPrepare()
    {
        FourierTransform t(64);
        t.prepare();
        t.setSize(128);
        QVERIFY(!t.isPrepared());
        t.calculate();  // must not read past the 64-entry plan
        t.prepare();
        QVERIFY(t.isPrepared());
        QCOMPARE(t.frequencyList().size(), 64);
    }

    // Forward butterflies scale by 1/N, inverse ones do not: forward then inverse is identity.
    void butterfliesRoundTrip()
    {
        const quint32 size = 2048;
        FourierTransform t(size);
        t.prepare();
        const std::vector<double> x = noise(size, 5);
        for (quint32 i = 0; i < size; ++i)
            t.setBins(i, Complex(float(x[i]), float(-x[i])), Complex());
        t.butterflies(false);
        std::vector<Complex> spectrum(size);
        for (quint32 k = 0; k < size; ++k)
            spectrum[k] = t.dataBin(k);
        const std::vector<cd> expected = naiveDft(x, +1.0, 1.0 / size);
        QVERIFY(std::abs(spectrum[3].re - (expected[3] * cd(1, -1)).real()) < 1e-5);
        for (quint32 k = 0; k < size; ++k)
            t.setBins(k, spectrum[k], Complex());
        t.butterflies(true);
        for (quint32 i = 0; i < size; ++i) {
            QVERIFY(std::abs(t.dataBin(i).re - x[i]) < 1e-5);
            QVERIFY(std::abs(t.dataBin(i).im + x[i]) < 1e-5);
        }
    }

    void frequencyList()
    {
        FourierTransform t(1024);
        t.setSampleRate(48000);
        const QList<float> f = t.frequencyList();
        QCOMPARE(f.size(), 512);
        QCOMPARE(f.at(0), 0.0f);
        QCOMPARE(f.at(1), 46.875f);
        QCOMPARE(f.at(511), 511 * 46.875f);
    }

    // The impulse response is the ordinary h: a measurement that lags the reference by d
    // samples peaks at +d; one that leads peaks at N − d.
    void deconvolutionFindsTheLag_data()
    {
        QTest::addColumn<int>("lag");
        QTest::newRow("identical") << 0;
        QTest::newRow("lags 37") << 37;
        QTest::newRow("leads 5") << -5;
    }

    void deconvolutionFindsTheLag()
    {
        QFETCH(int, lag);
        const int size = 4096;
        const std::vector<double> reference = noise(size, 6);
        Deconvolution deconvolution(size);
        for (int i = 0; i < size; ++i)
            deconvolution.add(0.5f * float(reference[(i - lag + size) % size]), float(reference[i]));
        deconvolution.calculate();
        const quint32 expected = quint32((lag + size) % size);
        QCOMPARE(deconvolution.peakIndex(), expected);
        QVERIFY(std::abs(deconvolution.impulseAt(expected) - 0.5f) < 1e-3f);
        QVERIFY(std::abs(deconvolution.impulseAt((expected + 1) % size)) < 1e-3f);
    }

    void deconvolutionUsesAMatchingSource()
    {
        const quint32 size = 1024;
        FourierTransform source(size);
        source.prepare();
        const std::vector<double> reference = noise(size, 8);
        for (quint32 i = 0; i < size; ++i)
            source.add(float(reference[(i + size - 12) % size]), float(reference[i]));
        source.calculate();
        Deconvolution deconvolution(size);  // its own rings stay empty
        deconvolution.calculate(&source);
        QCOMPARE(deconvolution.peakIndex(), 12u);
        // A source of another size cannot be used; the own (silent) rings give no peak.
        FourierTransform other(512);
        other.prepare();
        Deconvolution fresh(size);
        fresh.calculate(&other);
        QCOMPARE(fresh.peakIndex(), 0u);
        QCOMPARE(fresh.impulseAt(0), 0.0f);
    }

    // Silence in the reference is replaced by the float epsilon, silence in the data by 0:
    // no division by zero, no NaN, and the previous peak stays.
    void deconvolutionOfSilence()
    {
        Deconvolution deconvolution(256);
        for (int i = 0; i < 256; ++i)
            deconvolution.add(i == 3 ? 1.0f : 0.0f, i == 0 ? 1.0f : 0.0f);
        deconvolution.calculate();
        QCOMPARE(deconvolution.peakIndex(), 3u);
        for (int i = 0; i < 256; ++i)
            deconvolution.add(0.0f, 0.0f);
        deconvolution.calculate();
        QCOMPARE(deconvolution.peakIndex(), 3u);
        for (quint32 i = 0; i < 256; ++i)
            QCOMPARE(deconvolution.impulseAt(i), 0.0f);
    }

    // The double-precision transforms use the usual kernel e^(−2πikn/N), unscaled forward.
    void fftRadix2MatchesDft()
    {
        const std::vector<double> x = noise(32, 9);
        std::vector<cd> values(x.begin(), x.end());
        fftRadix2(values, false);
        const std::vector<cd> expected = naiveDft(x, -1.0, 1.0);
        for (std::size_t k = 0; k < x.size(); ++k)
            QVERIFY(std::abs(values[k] - expected[k]) < 1e-12);
        fftRadix2(values, true);
        for (std::size_t i = 0; i < x.size(); ++i)
            QVERIFY(std::abs(values[i] - x[i]) < 1e-14);
    }

    void fftRadix2LeavesOddSizesAlone()
    {
        std::vector<cd> values{1.0, 2.0, 3.0};
        fftRadix2(values, false);
        QCOMPARE(values[1], cd(2.0));
        std::vector<cd> one{4.0};
        fftRadix2(one, true);
        QCOMPARE(one[0], cd(4.0));
        QVERIFY(!isPowerOfTwo(0));
        QVERIFY(isPowerOfTwo(1));
        QVERIFY(!isPowerOfTwo(6));
    }

    void realTransformsRoundTrip_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("8") << 8;
        QTest::newRow("1024") << 1024;
        QTest::newRow("262144") << 262144;
    }

    void realTransformsRoundTrip()
    {
        QFETCH(int, size);
        const std::vector<double> x = noise(size, 10);
        std::vector<cd> half;
        realFft(x.data(), x.size(), size, half);
        QCOMPARE(int(half.size()), size / 2 + 1);
        std::vector<double> back;
        realInverseFft(half, size, back);
        QCOMPARE(int(back.size()), size);
        double worst = 0.0;
        for (int i = 0; i < size; ++i)
            worst = std::max(worst, std::abs(back[i] - x[i]));
        QVERIFY2(worst < 1e-10, qPrintable(QString::number(worst)));
    }

    void realFftPadsAndRefuses()
    {
        const float samples[3] = {1.0f, -2.0f, 0.5f};
        std::vector<cd> half{1.0};
        realFft(samples, 3, 6, half);
        QVERIFY(half.empty());
        realFft(samples, 3, 8, half);
        QCOMPARE(half.size(), std::size_t(5));
        const std::vector<cd> expected = naiveDft({1.0, -2.0, 0.5, 0, 0, 0, 0, 0}, -1.0, 1.0);
        for (std::size_t k = 0; k < 5; ++k)
            QVERIFY(std::abs(half[k] - expected[k]) < 1e-12);
        std::vector<double> out{1.0};
        realInverseFft(half, 12, out);
        QVERIFY(out.empty());
        // Missing bins count as zero: a lone DC bin is a constant.
        realInverseFft({cd(8.0, 5.0)}, 8, out);
        for (double v : out)
            QCOMPARE(v, 1.0);
    }
};

SNT_TEST_MAIN(TransformTest)
#include "TransformTest.moc"
