#include "audio/asio/AsioSampleConversion.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace audio::asio {

using platform::asio::SampleType;

namespace {

static_assert(std::endian::native == std::endian::little,
              "driver halves are little-endian and copied as they lie in memory");

constexpr double int16Scale = 32767.0;
constexpr double int24Scale = 8388607.0;
constexpr double int32Scale = 2147483647.0;

// value × scale, truncated toward zero and held to [low, high].
int64_t saturated(float value, double scale, double low, double high)
{
    if (std::isnan(value))
        return 0;
    const double scaled = std::trunc(double(value) * scale);
    return int64_t(scaled < low ? low : (scaled > high ? high : scaled));
}

template<typename Int>
void integersToFloat(const void *half, int frames, float *out, int stride, double scale)
{
    const auto *in = static_cast<const uint8_t *>(half);
    for (int i = 0; i < frames; ++i) {
        Int v;
        std::memcpy(&v, in + std::size_t(i) * sizeof(Int), sizeof(Int));
        out[std::size_t(i) * std::size_t(stride)] = float(double(v) / scale);
    }
}

template<typename Int>
void floatToIntegers(const float *in, int stride, int frames, void *half, double scale)
{
    auto *out = static_cast<uint8_t *>(half);
    constexpr double low = double(INT64_C(-1) << (8 * sizeof(Int) - 1));
    constexpr double high = -low - 1.0;
    for (int i = 0; i < frames; ++i) {
        const Int v = Int(saturated(in[std::size_t(i) * std::size_t(stride)], scale, low, high));
        std::memcpy(out + std::size_t(i) * sizeof(Int), &v, sizeof(Int));
    }
}

void int24ToFloat(const void *half, int frames, float *out, int stride)
{
    const auto *in = static_cast<const uint8_t *>(half);
    for (int i = 0; i < frames; ++i) {
        const uint8_t *b = in + std::size_t(i) * 3;
        const uint32_t u = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16;
        double v = double(u) / int24Scale;
        if (v > 1.0)
            v -= 2.0;
        out[std::size_t(i) * std::size_t(stride)] = float(v);
    }
}

void floatToInt24(const float *in, int stride, int frames, void *half)
{
    auto *out = static_cast<uint8_t *>(half);
    for (int i = 0; i < frames; ++i) {
        const auto v = uint32_t(saturated(in[std::size_t(i) * std::size_t(stride)], int24Scale,
                                          -8388608.0, 8388607.0));
        uint8_t *b = out + std::size_t(i) * 3;
        b[0] = uint8_t(v);
        b[1] = uint8_t(v >> 8);
        b[2] = uint8_t(v >> 16);
    }
}

template<typename Real>
void realsToFloat(const void *half, int frames, float *out, int stride)
{
    const auto *in = static_cast<const uint8_t *>(half);
    for (int i = 0; i < frames; ++i) {
        Real v;
        std::memcpy(&v, in + std::size_t(i) * sizeof(Real), sizeof(Real));
        out[std::size_t(i) * std::size_t(stride)] = float(v);
    }
}

template<typename Real>
void floatToReals(const float *in, int stride, int frames, void *half)
{
    auto *out = static_cast<uint8_t *>(half);
    for (int i = 0; i < frames; ++i) {
        const Real v = Real(in[std::size_t(i) * std::size_t(stride)]);
        std::memcpy(out + std::size_t(i) * sizeof(Real), &v, sizeof(Real));
    }
}

} // namespace

bool isKnownSampleType(SampleType type)
{
    return platform::asio::bytesPerSample(type) != 0;
}

bool toFloat(SampleType type, const void *half, int frames, float *out, int stride)
{
    switch (type) {
    case SampleType::Int16:
        integersToFloat<int16_t>(half, frames, out, stride, int16Scale);
        return true;
    case SampleType::Int24:
        int24ToFloat(half, frames, out, stride);
        return true;
    case SampleType::Int32:
        integersToFloat<int32_t>(half, frames, out, stride, int32Scale);
        return true;
    case SampleType::Float32:
        realsToFloat<float>(half, frames, out, stride);
        return true;
    case SampleType::Float64:
        realsToFloat<double>(half, frames, out, stride);
        return true;
    }
    return false;
}

bool fromFloat(SampleType type, const float *in, int stride, int frames, void *half)
{
    switch (type) {
    case SampleType::Int16:
        floatToIntegers<int16_t>(in, stride, frames, half, int16Scale);
        return true;
    case SampleType::Int24:
        floatToInt24(in, stride, frames, half);
        return true;
    case SampleType::Int32:
        floatToIntegers<int32_t>(in, stride, frames, half, int32Scale);
        return true;
    case SampleType::Float32:
        floatToReals<float>(in, stride, frames, half);
        return true;
    case SampleType::Float64:
        floatToReals<double>(in, stride, frames, half);
        return true;
    }
    return false;
}

} // namespace audio::asio
