#include "engine/dsp/BesselLPF.h"

namespace Filter {

namespace {

struct Preset
{
    float gain;
    float c[5];
};

// Corners at 0.02, 0.04 and 0.08 of the update rate; each has a DC gain of 1 within 0.2 %.
constexpr Preset presets[3] = {
        {132731.3125f, {0.460008979f, -2.66539168f, 6.20065498f, -7.24088097f, 4.245368f}},
        {5908.17334f, {0.211639687f, -1.39931154f, 3.75252271f, -5.10975742f, 3.53949046f}},
        {350.802368f, {0.0448577888f, -0.369009912f, 1.27194595f, -2.32192183f, 2.28290844f}},
};

constexpr quint32 ringSize = 6;

} // namespace

template<typename T>
T BesselLPF<T>::process(const T &x)
{
    const quint32 newest = index_ == 0 ? ringSize - 1 : index_ - 1;
    if (x != x) // NaN (either part, for a complex value)
        return output_[newest];

    index_ = (index_ + 1) % ringSize;
    const quint32 s = index_ == 0 ? ringSize - 1 : index_ - 1;
    const auto back = [s](quint32 k) {
        return (s + ringSize - k) % ringSize;
    };

    input_[s] = x / gain_;
    const T feedForward = input_[s] + input_[back(1)] * 5.0f + input_[back(2)] * 10.0f
                          + input_[back(3)] * 10.0f + input_[back(4)] * 5.0f + input_[back(5)];
    const T feedBack = output_[back(5)] * c_[0] + output_[back(4)] * c_[1]
                       + output_[back(3)] * c_[2] + output_[back(2)] * c_[3]
                       + output_[back(1)] * c_[4];
    output_[s] = feedForward + feedBack;
    return output_[s];
}

template<typename T>
void BesselLPF<T>::setPreset(int preset)
{
    if (preset >= 0 && preset < 3) {
        gain_ = presets[preset].gain;
        for (int k = 0; k < 5; ++k)
            c_[k] = presets[preset].c[k];
    }
    clear();
}

template<typename T>
void BesselLPF<T>::clear()
{
    input_.fill(T{});
    output_.fill(T{});
}

template class BesselLPF<float>;
template class BesselLPF<Complex>;

} // namespace Filter
