#pragma once

#include <cstdint>
#include <random>

// Uniform integers on 0 … 32767, the range the noise levels are defined on (the C library's
// rand() gives that range on some platforms and 0 … 2^31 − 1 on others). Never seeded by the
// program, so every run plays the same sequence; each source keeps its own, so reading one
// takes no lock shared with anything else.
class NoiseRandom
{
public:
    static constexpr int max = 32767;

    int next() { return int(engine_() >> 17); }

    // The noise value 2r/32767 − 1, uniform on [−1, 1], in single precision.
    float nextUniform()
    {
        const float r = float(next()) / float(max);
        return r + r - 1.0f;
    }

private:
    std::mt19937 engine_;
};
