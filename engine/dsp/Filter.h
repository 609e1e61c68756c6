#pragma once

namespace math {

// Base of every sample-by-sample filter section.
class Filter
{
public:
    virtual ~Filter() = default;
    virtual float process(float x) = 0;
};

} // namespace math
