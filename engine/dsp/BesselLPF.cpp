#include "engine/dsp/BesselLPF.h"

namespace Filter {

namespace {

// A value's channels: a float is one, a complex value two.
constexpr int channelsOf(const float *)
{
    return 1;
}
constexpr int channelsOf(const Complex *)
{
    return 2;
}
float *channel(float &x, int)
{
    return &x;
}
float *channel(Complex &x, int c)
{
    return c == 0 ? &x.re : &x.im;
}

} // namespace

template<typename T>
BesselLPF<T>::BesselLPF()
    : bank_(channelsOf(static_cast<const T *>(nullptr)))
{
    bank_.resize(1);
}

template<typename T>
T BesselLPF<T>::process(const T &x)
{
    T in = x;
    T out{};
    const float *input[] = {channel(in, 0), channel(in, 1)};
    float *output[] = {channel(out, 0), channel(out, 1)};
    bank_.beginTick();
    bank_.process(0, 1, input, output);
    return out;
}

template class BesselLPF<float>;
template class BesselLPF<Complex>;

} // namespace Filter
