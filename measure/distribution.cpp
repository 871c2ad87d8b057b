#include "distribution.h"

#include <algorithm>
#include <cassert>
#include <cmath>

void Distribution::add(double value)
{
    sorted = sorted && (values.empty() || values.back() <= value);
    values.push_back(value);
}

void Distribution::sort() const
{
    if (!sorted)
        std::sort(values.begin(), values.end());
    sorted = true;
}

double Distribution::percentile(double p) const
{
    assert(!values.empty());
    sort();
    const auto rank = std::size_t(std::ceil(p * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

double Distribution::largest() const
{
    return percentile(1);
}
