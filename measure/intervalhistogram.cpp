#include "intervalhistogram.h"

#include <algorithm>
#include <cassert>
#include <cmath>

std::size_t IntervalHistogram::bin(double ms)
{
    const double us = ms * 1000.0;
    // Also NaN: no time can make a negative interval, only a fault.
    if (!(us > 0))
        return 0;
    if (us < double(LinearBins) - 0.5)
        return std::size_t(std::llround(us));
    int exponent = 0;
    const double mantissa = std::frexp(us, &exponent);
    // us = 2 * mantissa * 2^(exponent - 1), with 2 * mantissa in [1, 2).
    const std::size_t doubling = std::size_t(std::max(exponent - 17, 0));
    if (doubling >= Doublings)
        return LinearBins + Doublings * BinsPerDoubling - 1;
    const auto step = std::size_t((2 * mantissa - 1) * double(BinsPerDoubling));
    return LinearBins + doubling * BinsPerDoubling + std::min(step, BinsPerDoubling - 1);
}

double IntervalHistogram::value(std::size_t bin)
{
    if (bin < LinearBins)
        return double(bin) / 1000.0;
    const std::size_t above = bin - LinearBins;
    const double middle = 1.0 + (double(above % BinsPerDoubling) + 0.5) / double(BinsPerDoubling);
    return std::ldexp(middle, int(above / BinsPerDoubling) + 16) / 1000.0;
}

void IntervalHistogram::add(double ms)
{
    const std::size_t index = bin(ms);
    if (index >= m_bins.size())
        m_bins.resize(index + 1);
    ++m_bins[index];
    m_largest = m_count == 0 ? ms : std::max(m_largest, ms);
    ++m_count;
}

double IntervalHistogram::percentile(double p) const
{
    assert(m_count > 0);
    return ofRank(std::clamp<std::size_t>(std::size_t(std::ceil(p * double(m_count))), 1, m_count));
}

double IntervalHistogram::ofRank(std::size_t rank, const std::vector<double>& more) const
{
    assert(rank >= 1 && rank <= m_count + more.size());
    std::size_t below = 0;
    auto next = more.begin();
    for (std::size_t index = 0; index < m_bins.size(); ++index) {
        for (; next != more.end() && bin(*next) < index; ++next) {
            if (++below == rank)
                return *next;
        }
        below += m_bins[index];
        if (below >= rank)
            return std::min(value(index), m_largest);
    }
    for (; next != more.end(); ++next) {
        if (++below == rank)
            return *next;
    }
    return m_largest;
}
