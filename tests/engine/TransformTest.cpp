#include "engine/dsp/Complex.h"
#include "engine/dsp/Deconvolution.h"
#include "engine/dsp/FourierTransform.h"
#include "engine/dsp/Radix2Fft.h"
#include "tests/engine/EngineChecks.h"
#include "tests/support/TestMain.h"

#include <complex>
#include <numeric>

Q_DECLARE_METATYPE(Complex)

using snt::test::gaussianNoise;
using snt::test::twoPi;

namespace {

using cd = std::complex<double>;

// One bin of the textbook DFT in double, with a chosen kernel sign: the independent yardstick.
cd naiveBin(const std::vector<double> &x, std::size_t k, double sign)
{
    const std::size_t n = x.size();
    cd sum;
    for (std::size_t i = 0; i < n; ++i)
        sum += x[i] * std::polar(1.0, sign * twoPi * double((k * i) % n) / double(n));
    return sum;
}

std::vector<cd> naiveDft(const std::vector<double> &x, double sign)
{
    std::vector<cd> out(x.size());
    for (std::size_t k = 0; k < x.size(); ++k)
        out[k] = naiveBin(x, k, sign);
    return out;
}

void feed(FourierTransform &t, const std::vector<double> &data,
          const std::vector<double> &reference)
{
    for (std::size_t i = 0; i < data.size(); ++i)
        t.add(float(data[i]), float(reference[i]));
}

std::vector<double> windowed(std::vector<double> x, const FourierTransform &t)
{
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] *= t.window().value(quint32(i));
    return x;
}

double distance(const Complex &a, const cd &b)
{
    return std::abs(cd(a.re, a.im) - b);
}

} // namespace

class TransformTest : public QObject
{
    Q_OBJECT

private slots:
    // e^(i·(arg a − arg b)) against atan2 in double; values on the imaginary axis (real part
    // exactly 0) have a well-defined phase and must not give NaN.
    void phaseDifference_data()
    {
        QTest::addColumn<Complex>("a");
        QTest::addColumn<Complex>("b");
        QTest::newRow("same argument") << Complex(3, 4) << Complex(0.6f, 0.8f);
        QTest::newRow("general") << Complex(1, 2) << Complex(-3, 0.5f);
        QTest::newRow("third quadrant") << Complex(-1, -2) << Complex(2, -0.5f);
        QTest::newRow("a on +imaginary axis") << Complex(0, 1) << Complex(1, 0);
        QTest::newRow("a on -imaginary axis") << Complex(0, -2.5f) << Complex(1, 1);
        QTest::newRow("b on +imaginary axis") << Complex(1, 0) << Complex(0, 3);
        QTest::newRow("both on imaginary axis") << Complex(0, 2) << Complex(0, -1);
        QTest::newRow("negative real") << Complex(-2, 0) << Complex(1, 1);
    }

    void phaseDifference()
    {
        QFETCH(Complex, a);
        QFETCH(Complex, b);
        const Complex p = Complex::phaseDifference(a, b);
        const cd expected = std::polar(1.0, std::atan2(double(a.im), double(a.re))
                                                    - std::atan2(double(b.im), double(b.re)));
        QVERIFY2(distance(p, expected) < 1e-6,
                 qPrintable(QStringLiteral("(%1, %2)").arg(p.re).arg(p.im)));
    }

    // The convention in numbers: X[k] = (1/N) Σ x[n] e^(+2πikn/N), oldest sample first. A unit
    // sine on bin k reads +i/2 there (the usual transform gives −i·N/2), with any window.
    void sineOnBinGivesConjugateConvention_data()
    {
        QTest::addColumn<quint32>("size");
        QTest::addColumn<int>("window");
        QTest::newRow("64 rectangular") << 64u << int(WindowFunction::Rectangular);
        QTest::newRow("4096 hann") << 4096u << int(WindowFunction::Hann);
        QTest::newRow("65536 rectangular") << 65536u << int(WindowFunction::Rectangular);
        QTest::newRow("65536 flat top") << 65536u << int(WindowFunction::FlatTop);
    }

    void sineOnBinGivesConjugateConvention()
    {
        QFETCH(quint32, size);
        QFETCH(int, window);
        FourierTransform t(size);
        t.setWindowType(WindowFunction::Type(window));
        t.setSampleRate(48000);
        t.prepare();
        const quint32 k = 10;
        QCOMPARE(t.frequencyList().size(), qsizetype(size / 2));
        QCOMPARE(t.frequencyList().at(k), k * 48000.0f / size);
        for (quint32 n = 0; n < size; ++n) {
            const double phase = twoPi * double(k) * n / size;
            t.add(float(std::sin(phase)), float(0.5 * std::cos(phase)));
        }
        t.calculate();
        QVERIFY2(distance(t.dataBin(k), cd(0, 0.5)) < 3e-5,
                 qPrintable(QStringLiteral("(%1, %2)").arg(t.dataBin(k).re).arg(t.dataBin(k).im)));
        QVERIFY(distance(t.referenceBin(k), cd(0.25, 0)) < 3e-5);
        QVERIFY(distance(t.dataBin(size - k), cd(0, -0.5)) < 3e-5);
        float leakage = 0.0f; // the float transform's floor
        for (quint32 i = 1; window == WindowFunction::Rectangular && i < size / 2; ++i)
            leakage = std::max(leakage, i == k ? 0.0f : t.dataBin(i).abs());
        QVERIFY2(leakage < 2e-6f, qPrintable(QString::number(leakage)));
    }

    // Random blocks on both channels against a double-precision DFT (and Parseval, also at the
    // largest size), at sizes that use both gather paths and with a write position that is not
    // at the start of the ring.
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
        QTest::newRow("16384 hann") << 16384u << int(WindowFunction::Hann) << 3;
        QTest::newRow("65536 rectangular") << 65536u << int(WindowFunction::Rectangular) << 5;
    }

    void matchesNaiveDft()
    {
        QFETCH(quint32, size);
        QFETCH(int, window);
        QFETCH(int, extra);
        FourierTransform t(size);
        t.setWindowType(WindowFunction::Type(window));
        t.prepare();
        const std::vector<double> lead = gaussianNoise(extra, 7);
        feed(t, lead, lead);
        const std::vector<double> data = gaussianNoise(size, 1), reference = gaussianNoise(size, 2);
        feed(t, data, reference);
        t.calculate();

        // Parseval: Σ_k≥1 |X[k]|² = (1/N)·Σ y² − (S/N)² for the windowed block y with sum S.
        double energy = 0.0, mean = 0.0, spectral = 0.0;
        for (double y : windowed(data, t)) {
            energy += y * y / size;
            mean += y / size;
        }
        for (quint32 k = 1; k < size; ++k)
            spectral += double(t.dataBin(k).norm());
        QVERIFY2(std::abs(spectral - (energy - mean * mean)) < 1e-4 * (energy - mean * mean),
                 qPrintable(QStringLiteral("%1 vs %2").arg(spectral).arg(energy - mean * mean)));

        // The same blocks kept in larger rings elsewhere, each from its own start and wrapping
        // at the rings' end, transform to the same spectra bit for bit.
        const quint32 ringSize = 4 * size;
        const quint32 dataStart = ringSize - 1 - quint32(extra) % size;
        const quint32 referenceStart = (dataStart + size + 3) % ringSize;
        std::vector<float> dataRing(ringSize, 9.0f), referenceRing(ringSize, 9.0f);
        for (quint32 i = 0; i < size; ++i) {
            dataRing[(dataStart + i) % ringSize] = float(data[i]);
            referenceRing[(referenceStart + i) % ringSize] = float(reference[i]);
        }
        FourierTransform fromRings(size);
        fromRings.setWindowType(WindowFunction::Type(window));
        fromRings.prepare();
        fromRings.calculate(
                {dataRing.data(), referenceRing.data(), ringSize, dataStart, referenceStart});
        for (quint32 k = 0; k < size; ++k)
            QVERIFY(fromRings.dataBin(k) == t.dataBin(k)
                    && fromRings.referenceBin(k) == t.referenceBin(k));
        // The textbook transform of every bin up to 4096 points; above, of a sample of bins
        // (the ends, around each quarter and a spread between), which a misplaced run or a
        // wrong factor in any stage would still reach.
        const std::vector<double> windowedData = windowed(data, t);
        const std::vector<double> windowedReference = windowed(reference, t);
        std::vector<quint32> bins;
        for (quint32 k = 0; k<size; k += size> 4096 ? 997 : 1)
            bins.push_back(k);
        if (size > 4096)
            for (quint32 quarter = 0; quarter <= 4; ++quarter)
                for (quint32 k = quarter * size / 4 - std::min(quarter, 1u) * 3;
                     k < std::min(size, quarter * size / 4 + 4); ++k)
                    bins.push_back(k);
        double worst = 0.0;
        for (quint32 k : bins) {
            const cd expectedData = naiveBin(windowedData, k, +1.0) / double(size);
            const cd expectedReference = naiveBin(windowedReference, k, +1.0) / double(size);
            if (k == 0) {
                // The block's sum S is taken from every sample: bin 0 reads S·(1 − N)/N.
                for (const auto &[bin, x0] : {std::pair(t.dataBin(0), expectedData),
                                              std::pair(t.referenceBin(0), expectedReference)})
                    QVERIFY(distance(bin, x0 * (1.0 - size)) < 1e-4 * (1.0 + size * std::abs(x0)));
                continue;
            }
            worst = std::max({worst, distance(t.dataBin(k), expectedData),
                              distance(t.referenceBin(k), expectedReference)});
        }
        QVERIFY2(worst < 1e-5, qPrintable(QString::number(worst)));
    }

    // The inverse pass over a real block's half spectrum gives the block back, at sizes that take
    // each way of gathering the bins.
    void inverseGivesTheBlockBack_data()
    {
        QTest::addColumn<quint32>("size");
        QTest::newRow("64") << 64u;
        QTest::newRow("1024") << 1024u;
        QTest::newRow("16384") << 16384u;
        QTest::newRow("65536") << 65536u;
    }

    void inverseGivesTheBlockBack()
    {
        QFETCH(quint32, size);
        FourierTransform forward(size), inverse(size);
        forward.setWindowType(WindowFunction::Hann);
        forward.prepare();
        inverse.prepare();
        const std::vector<double> data = gaussianNoise(size, 4);
        feed(forward, data, data);
        forward.calculate();
        // Bin 0 holds S·(1 − N)/N; the block's mean S/N makes the spectrum whole again.
        std::vector<Complex> half(forward.dataBins(), forward.dataBins() + size / 2 + 1);
        const std::vector<double> block = windowed(data, forward);
        half[0] = Complex(float(std::accumulate(block.begin(), block.end(), 0.0) / size), 0.0f);
        std::vector<float> back(size);
        inverse.inverseOfConjugateSymmetric(half.data(), back.data());
        double worst = 0.0;
        for (quint32 i = 0; i < size; ++i)
            worst = std::max(worst, std::abs(back[i] - block[i]));
        QVERIFY2(worst < 1e-5, qPrintable(QString::number(worst)));
    }

    // Sizes below 2 and sizes that are no power of two build no plan (also after a valid one):
    // nothing may hang, divide by zero or touch memory that does not exist. The double-precision
    // transforms leave such input alone or return nothing.
    void unusableSizesComputeNothing_data()
    {
        QTest::addColumn<quint32>("size");
        QTest::newRow("0") << 0u;
        QTest::newRow("1") << 1u;
        QTest::newRow("3") << 3u;
        QTest::newRow("100") << 100u;
    }

    void unusableSizesComputeNothing()
    {
        QFETCH(quint32, size);
        FourierTransform t(64);
        t.prepare();
        t.setSize(size);
        QVERIFY(!t.isPrepared());
        t.calculate(); // must not use the 64-entry plan
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

        std::vector<cd> values(size, 1.0);
        fftRadix2(values, false);
        QCOMPARE(values, std::vector<cd>(size, 1.0));
        std::vector<cd> half{1.0};
        std::vector<double> back{1.0};
        realFft(gaussianNoise(4, 1).data(), 4, size, half);
        realInverseFft({1.0, 2.0}, size, back);
        QCOMPARE(half.empty() && back.empty(), size != 1); // 1 is a power of two: one bin
    }

    // The impulse response is the ordinary h: a measurement that lags the reference by d
    // samples peaks at +d; one that leads peaks at N − d. A transform of the same size may lend
    // its spectra, one of another size cannot. Silence afterwards (no division by zero, no NaN)
    // keeps the previous peak.
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
        const std::vector<double> reference = gaussianNoise(size, 6);
        Deconvolution deconvolution(size), borrowing(size), mismatched(size);
        FourierTransform source(size), other(size / 2);
        source.prepare();
        other.prepare();
        for (int i = 0; i < size; ++i) {
            const float data = 0.5f * float(reference[(i - lag + size) % size]);
            deconvolution.add(data, float(reference[i]));
            source.add(data, float(reference[i]));
        }
        deconvolution.calculate();
        source.calculate();
        borrowing.calculate(&source); // its own rings stay silent
        mismatched.calculate(&other);
        const quint32 expected = quint32((lag + size) % size);
        QCOMPARE(deconvolution.peakIndex(), expected);
        QCOMPARE(borrowing.peakIndex(), expected);
        QCOMPARE(mismatched.impulseAt(expected), 0.0f);
        QVERIFY(std::abs(deconvolution.impulseAt(expected) - 0.5f) < 1e-3f);
        QVERIFY(std::abs(deconvolution.impulseAt((expected + 1) % size)) < 1e-3f);
        for (int i = 0; i < size; ++i)
            deconvolution.add(0.0f, 0.0f);
        deconvolution.calculate();
        QCOMPARE(deconvolution.peakIndex(), expected);
        QCOMPARE(deconvolution.impulseAt(expected), 0.0f);
    }

    // The double-precision transforms use the usual kernel e^(−2πikn/N), unscaled forward;
    // the real ones zero-pad and count missing bins as zero.
    void doubleTransforms_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("8") << 8;
        QTest::newRow("1024") << 1024;
        QTest::newRow("262144") << 262144;
    }

    void doubleTransforms()
    {
        QFETCH(int, size);
        std::vector<double> x = gaussianNoise(size, 10);
        std::vector<cd> half;
        std::vector<double> back;
        realFft(x.data(), size / 2, size, half);
        std::fill(x.begin() + size / 2, x.end(), 0.0);
        realInverseFft(half, size, back);
        QCOMPARE(int(half.size()), size / 2 + 1);
        double worst = 0.0;
        for (int i = 0; i < size; ++i)
            worst = std::max(worst, std::abs(back.at(i) - x[i]));
        QVERIFY2(worst < 1e-10, qPrintable(QString::number(worst)));
        if (size > 1024)
            return;
        const std::vector<cd> expected = naiveDft(x, -1.0);
        std::vector<cd> values(x.begin(), x.end());
        fftRadix2(values, false);
        for (int k = 0; k < size; ++k)
            QVERIFY(std::abs(values[k] - expected[k]) < 1e-9
                    && (k > size / 2 || std::abs(half[k] - expected[k]) < 1e-9));
        realInverseFft({cd(8.0, 5.0)}, size, back); // a lone DC bin is a constant
        for (double v : back)
            QVERIFY(std::abs(v - 8.0 / size) < 1e-15);
    }
};

SNT_TEST_MAIN(TransformTest)
#include "TransformTest.moc"
