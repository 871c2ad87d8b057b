#include "framerate.h"

#include <algorithm>
#include <cmath>

int FrameRate::bin(double ms)
{
    if (!(ms >= MinMs))
        return 0;
    const double above = std::floor(std::log2(ms / MinMs) * BinsPerOctave);
    return 1 + int(std::min(above, double(Bins - 2)));
}

void FrameRate::add(double ms)
{
    if (m_packets++ == 0) {
        m_lastMs = ms;
        return;
    }
    // A clock that steps back gives no negative time to the total.
    const double interval = std::max(0.0, ms - m_lastMs);
    m_lastMs = ms;
    if (m_bins.empty())
        m_bins.resize(Bins);
    Bin& b = m_bins[std::size_t(bin(interval))];
    ++b.count;
    b.sum += interval;
    ++m_intervals;
}

std::optional<double> FrameRate::median() const
{
    if (m_intervals == 0)
        return std::nullopt;
    // Nearest rank, as every percentile of the core.
    const std::uint64_t rank = (m_intervals + 1) / 2;
    std::uint64_t below = 0;
    for (const Bin& b : m_bins) {
        below += b.count;
        if (below >= rank)
            return b.sum / double(b.count);
    }
    return std::nullopt;
}

std::optional<double> FrameRate::rate() const
{
    const std::optional<double> m = median();
    if (!m)
        return std::nullopt;
    const double pause = PauseMedians * *m;
    std::uint64_t counted = 0;
    double ms = 0;
    for (const Bin& b : m_bins) {
        if (b.count == 0 || b.sum / double(b.count) > pause)
            continue;
        counted += b.count;
        ms += b.sum;
    }
    if (!(ms > 0))
        return std::nullopt;
    return double(counted) * 1000.0 / ms;
}
