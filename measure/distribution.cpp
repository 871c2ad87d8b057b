#include "distribution.h"

#include <algorithm>
#include <cassert>
#include <cmath>

void Distribution::add(double value)
{
    sorted = sorted && (values.empty() || values.back() <= value);
    values.push_back(value);
}

void Distribution::clear()
{
    values.clear();
    sorted = true;
}

double Distribution::percentile(double p) const
{
    assert(!values.empty());
    const auto rank = std::size_t(std::ceil(p * double(values.size())));
    const auto nth =
        values.begin() + std::ptrdiff_t(std::clamp<std::size_t>(rank, 1, values.size()) - 1);
    if (!sorted)
        std::nth_element(values.begin(), nth, values.end());
    return *nth;
}

double Distribution::largest() const
{
    return percentile(1);
}
