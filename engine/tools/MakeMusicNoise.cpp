// Writes the program's default test signal, "Music-Noise.wav": about 22 s of noise that behaves
// like music for a loudspeaker (pink spectrum, equal power per octave from 22 Hz to 22 kHz,
// peaks that grow sharper toward high frequencies) and loops without a seam.
//
// Every part is synthesised over one circular period of 2^20 samples, so the end of the file
// leads straight back into its start. Each octave band is pink-weighted noise with random
// phases, multiplied by a slow log-normal envelope (periodic too) whose depth is chosen per band
// to reach that band's crest factor: about 11 dB at the bottom, rising to about 19 dB at the
// top, as in music. The bands are then set to equal power and the sum is scaled to a peak of
// −1 dBFS. Written as 48 kHz, 24-bit mono PCM. The output is the same on every run.
//
// Usage: snt_make_music_noise <output.wav>

#include "engine/dsp/Radix2Fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t length = std::size_t(1) << 20;
constexpr double rate = 48000.0;
constexpr int bands = 10; // octaves centred on 31.25 Hz … 16 kHz
constexpr double lowestCentre = 31.25;
constexpr double lowCrestDb = 11.0; // crest factor of the lowest band
constexpr double highCrestDb = 19.0; // … and of the highest
constexpr double lowModulationHz = 1.5; // envelope bandwidth of the lowest band
constexpr double highModulationHz = 12.0; // … and of the highest
constexpr double peakDbfs = -1.0;
constexpr std::uint32_t seed = 0x4D4E5331;

using Spectrum = std::vector<std::complex<double>>;
using Signal = std::vector<double>;

// Every band and envelope is brought to unit RMS before it is weighted.
Signal normalisedToUnitRms(Signal x)
{
    double energy = 0.0;
    for (double v : x)
        energy += v * v;
    const double scale = 1.0 / std::sqrt(energy / double(x.size()));
    for (double &v : x)
        v *= scale;
    return x;
}

double binFrequency(std::size_t k)
{
    return double(k) * rate / double(length);
}

// Noise with random phases over bins [first, last) with amplitude 1/√f (pink).
Signal pinkBand(std::size_t first, std::size_t last, std::mt19937 &random)
{
    std::uniform_real_distribution<double> phase(0.0, 2.0 * M_PI);
    Spectrum half(length / 2 + 1);
    for (std::size_t k = std::max<std::size_t>(first, 1); k < last && k < half.size(); ++k)
        half[k] = std::polar(1.0 / std::sqrt(binFrequency(k)), phase(random));
    Signal out;
    realInverseFft(half, length, out);
    return out;
}

// A smooth periodic Gaussian process with unit variance and content up to `bandwidthHz`.
Signal envelopeProcess(double bandwidthHz, std::mt19937 &random)
{
    std::uniform_real_distribution<double> phase(0.0, 2.0 * M_PI);
    Spectrum half(length / 2 + 1);
    const std::size_t last = std::size_t(bandwidthHz / binFrequency(1));
    for (std::size_t k = 1; k <= last; ++k)
        half[k] = std::polar(1.0, phase(random));
    Signal out;
    realInverseFft(half, length, out);
    return normalisedToUnitRms(std::move(out));
}

double crestDb(const Signal &x)
{
    double peak = 0.0;
    double energy = 0.0;
    for (double v : x) {
        peak = std::max(peak, std::abs(v));
        energy += v * v;
    }
    return 20.0 * std::log10(peak / std::sqrt(energy / double(x.size())));
}

Signal modulated(const Signal &noise, const Signal &envelope, double depth)
{
    Signal out(noise.size());
    for (std::size_t i = 0; i < noise.size(); ++i)
        out[i] = noise[i] * std::exp(depth * envelope[i]);
    return out;
}

// The band with the envelope depth that brings its crest factor to the target (bisection; a
// band already above the target keeps its plain noise), scaled to unit RMS.
Signal shapedBand(const Signal &noise, const Signal &envelope, double targetCrestDb)
{
    double low = 0.0;
    double high = 1.5;
    if (crestDb(noise) < targetCrestDb) {
        for (int step = 0; step < 10; ++step) {
            const double mid = 0.5 * (low + high);
            (crestDb(modulated(noise, envelope, mid)) < targetCrestDb ? low : high) = mid;
        }
    }
    return normalisedToUnitRms(modulated(noise, envelope, low));
}

Signal synthesise()
{
    std::mt19937 random(seed);
    Signal sum(length, 0.0);
    for (int b = 0; b < bands; ++b) {
        const double position = double(b) / double(bands - 1);
        const double centre = lowestCentre * std::pow(2.0, b);
        const std::size_t first = std::size_t(std::ceil(centre / std::sqrt(2.0) / binFrequency(1)));
        const std::size_t last = std::size_t(std::ceil(centre * std::sqrt(2.0) / binFrequency(1)));
        const Signal noise = pinkBand(first, last, random);
        const Signal envelope = envelopeProcess(
                lowModulationHz * std::pow(highModulationHz / lowModulationHz, position), random);
        const Signal band
                = shapedBand(noise, envelope, lowCrestDb + (highCrestDb - lowCrestDb) * position);
        // Equal power per octave: the pink weighting across bands.
        for (std::size_t i = 0; i < length; ++i)
            sum[i] += band[i];
    }
    double peak = 0.0;
    for (double v : sum)
        peak = std::max(peak, std::abs(v));
    const double scale = std::pow(10.0, peakDbfs / 20.0) / peak;
    for (double &v : sum)
        v *= scale;
    return sum;
}

template<typename T>
void put(std::ofstream &out, T value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.put(char((std::uint64_t(value) >> (8 * i)) & 0xFF));
}

bool writeWav(const char *path, const Signal &samples)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    const std::uint32_t dataBytes = std::uint32_t(samples.size() * 3);
    out.write("RIFF", 4);
    put(out, 36 + dataBytes, 4);
    out.write("WAVE", 4);
    out.write("fmt ", 4);
    put(out, 16, 4);
    put(out, 1, 2); // PCM
    put(out, 1, 2); // mono
    put(out, std::uint32_t(rate), 4);
    put(out, std::uint32_t(rate) * 3, 4); // bytes per second
    put(out, 3, 2); // block align
    put(out, 24, 2);
    out.write("data", 4);
    put(out, dataBytes, 4);
    for (double v : samples) {
        const long q = std::clamp(std::lround(v * 8388608.0), -8388608L, 8388607L);
        put(out, std::uint32_t(q), 3);
    }
    return bool(out);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.wav>\n", argv[0]);
        return 2;
    }
    if (!writeWav(argv[1], synthesise())) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
