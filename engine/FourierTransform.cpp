#include "engine/FourierTransform.h"

#include <cmath>
#include <numbers>

namespace {

bool isUsableSize(quint32 n)
{
    return n >= 2 && (n & (n - 1)) == 0;
}

}  // namespace

FourierTransform::FourierTransform(quint32 size)
    : size_(size), dataRing_(size, 0.0f), referenceRing_(size, 0.0f)
{
}

void FourierTransform::setSize(quint32 size)
{
    if (size == size_)
        return;
    size_ = size;
    dataRing_.resize(size);
    referenceRing_.resize(size);
}

void FourierTransform::setWindowType(WindowFunction::Type type)
{
    window_.setType(type);
}

bool FourierTransform::isPrepared() const
{
    return planSize_ != 0 && planSize_ == size_;
}

void FourierTransform::prepare()
{
    planSize_ = 0;
    if (!isUsableSize(size_))
        return;
    const quint32 n = size_;
    dataSpectrum_.resize(n);
    referenceSpectrum_.resize(n);
    bitReverse_.resize(n);
    window_.resize(n);
    workRe_.resize(n);
    workIm_.resize(n);

    for (quint32 i = 0; i < n; ++i)
        bitReverse_[i] = i;
    for (quint32 i = 1, j = 0; i < n; ++i) {
        quint32 k = n / 2;
        while (j >= k) {
            j -= k;
            k /= 2;
        }
        j += k;
        if (i < j)
            std::swap(bitReverse_[i], bitReverse_[j]);
    }

    // Every twiddle comes straight from its angle (in double), so the error does not grow along
    // a stage as it would with a running product. The stage of half-length h uses e^(+iπ·j/h),
    // the entries j·(n/2)/h of the last stage's table.
    twiddleRe_.resize(n);
    twiddleIm_.resize(n);
    const quint32 half = n / 2;
    for (quint32 j = 0; j < half; ++j) {
        const double angle = std::numbers::pi * double(j) / double(half);
        twiddleRe_[half + j] = float(std::cos(angle));
        twiddleIm_[half + j] = float(std::sin(angle));
    }
    for (quint32 h = half / 2; h >= 1; h /= 2) {
        const quint32 stride = half / h;
        for (quint32 j = 0; j < h; ++j) {
            twiddleRe_[h + j] = twiddleRe_[half + j * stride];
            twiddleIm_[h + j] = twiddleIm_[half + j * stride];
        }
    }
    planSize_ = n;
}

void FourierTransform::add(float data, float reference)
{
    if (size_ == 0)
        return;
    if (++writePosition_ >= size_)
        writePosition_ = 0;
    dataRing_[writePosition_] = data;
    referenceRing_[writePosition_] = reference;
}

void FourierTransform::calculate()
{
    if (!isPrepared())
        return;
    const quint32 n = size_;
    const quint32 mask = n - 1;
    const float* window = window_.table();
    const quint32* bitReverse = bitReverse_.data();
    float* re = workRe_.data();
    float* im = workIm_.data();

    // Both real channels travel through one complex transform: data as the real part,
    // reference as the imaginary part; they are separated again by symmetry below.
    float dataSum = 0.0f;
    float referenceSum = 0.0f;
    quint32 position = (writePosition_ + 1) & mask;
    for (quint32 i = 0; i < n; ++i) {
        const float d = dataRing_[position] * window[i];
        const float r = referenceRing_[position] * window[i];
        dataSum += d;
        referenceSum += r;
        re[bitReverse[i]] = d;
        im[bitReverse[i]] = r;
        position = (position + 1) & mask;
    }

    runStages<false>();

    // With Z = D + i·R and D, R the transforms of real blocks: D[k] = (Z[k] + conj Z[N−k]) / 2
    // and R[k] = (Z[k] − conj Z[N−k]) / 2i; the bins above N/2 are the conjugates of those below.
    const float scale = 0.5f * (1.0f / float(n));
    Complex* data = dataSpectrum_.data();
    Complex* reference = referenceSpectrum_.data();
    for (quint32 k = 0; k <= n / 2; ++k) {
        const quint32 mirror = (n - k) & mask;
        const float ar = re[k], ai = im[k], br = re[mirror], bi = im[mirror];
        data[k] = {(ar + br) * scale, (ai - bi) * scale};
        reference[k] = {(ai + bi) * scale, (br - ar) * scale};
        data[mirror] = data[k].conj();
        reference[mirror] = reference[k].conj();
    }
    // The block's sum (not its mean) is taken from every sample; only bin 0 shows it.
    data[0].re -= dataSum;
    reference[0].re -= referenceSum;
}

void FourierTransform::butterflies(bool inverse)
{
    if (!isPrepared())
        return;
    const quint32 n = size_;
    Complex* spectrum = dataSpectrum_.data();
    float* re = workRe_.data();
    float* im = workIm_.data();
    for (quint32 i = 0; i < n; ++i) {
        re[i] = spectrum[i].re;
        im[i] = spectrum[i].im;
    }
    if (inverse)
        runStages<true>();
    else
        runStages<false>();
    const float scale = inverse ? 1.0f : 1.0f / float(n);
    for (quint32 i = 0; i < n; ++i)
        spectrum[i] = {re[i] * scale, im[i] * scale};
}

void FourierTransform::setBins(quint32 i, const Complex& a, const Complex& b)
{
    if (!isPrepared() || i >= size_)
        return;
    dataSpectrum_[bitReverse_[i]] = a;
    referenceSpectrum_[bitReverse_[i]] = b;
}

QList<float> FourierTransform::frequencyList() const
{
    QList<float> list;
    const quint32 bins = size_ / 2;
    list.reserve(bins);
    const float step = size_ ? float(sampleRate_) / float(size_) : 0.0f;
    for (quint32 i = 0; i < bins; ++i)
        list.append(float(i) * step);
    return list;
}

// Decimation-in-time stages over the work area, which holds its input in bit-reversed order.
// The forward kernel is e^(+2πi·k·n/N); the inverse one is its conjugate. No scaling here.
template <bool Inverse>
void FourierTransform::runStages()
{
    const quint32 n = size_;
    float* __restrict re = workRe_.data();
    float* __restrict im = workIm_.data();
    const float sign = Inverse ? -1.0f : 1.0f;

    // The first two stages together: their twiddles are 1 and ±i.
    quint32 h = 1;
    if (n >= 4) {
        for (quint32 g = 0; g < n; g += 4) {
            const float a0r = re[g] + re[g + 1], a0i = im[g] + im[g + 1];
            const float a1r = re[g] - re[g + 1], a1i = im[g] - im[g + 1];
            const float a2r = re[g + 2] + re[g + 3], a2i = im[g + 2] + im[g + 3];
            const float a3r = re[g + 2] - re[g + 3], a3i = im[g + 2] - im[g + 3];
            // a3 · (±i)
            const float tr = -sign * a3i, ti = sign * a3r;
            re[g] = a0r + a2r;
            im[g] = a0i + a2i;
            re[g + 2] = a0r - a2r;
            im[g + 2] = a0i - a2i;
            re[g + 1] = a1r + tr;
            im[g + 1] = a1i + ti;
            re[g + 3] = a1r - tr;
            im[g + 3] = a1i - ti;
        }
        h = 4;
    }
    for (; h < n; h *= 2) {
        const float* __restrict wr = twiddleRe_.data() + h;
        const float* __restrict wi = twiddleIm_.data() + h;
        for (quint32 g = 0; g < n; g += 2 * h) {
            float* __restrict lr = re + g;
            float* __restrict li = im + g;
            float* __restrict hr = re + g + h;
            float* __restrict hi = im + g + h;
            for (quint32 j = 0; j < h; ++j) {
                const float twr = wr[j], twi = sign * wi[j];
                const float tr = hr[j] * twr - hi[j] * twi;
                const float ti = hr[j] * twi + hi[j] * twr;
                const float ur = lr[j], ui = li[j];
                lr[j] = ur + tr;
                li[j] = ui + ti;
                hr[j] = ur - tr;
                hi[j] = ui - ti;
            }
        }
    }
}
