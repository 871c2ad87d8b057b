#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Intervals in milliseconds, counted rather than kept, so that a session of
// any length takes bounded memory: a count per microsecond up to
// LinearMs (65.536 ms), and above it 1024 counts per doubling of the value.
// A percentile is by nearest rank and gives the value of
// the interval of that rank to the nearest microsecond up to LinearMs and
// within 0.05 % above; the largest is kept exactly. An interval below 0 (a
// time that went back) counts as 0.
//
// Adding takes constant time. The counts grow to the largest interval seen:
// 8 bytes a microsecond, so 72 kB for a board that reports every 9 ms, and
// at most 768 kB (LinearMs and 32 doublings above it, 8.9 years).
class IntervalHistogram
{
public:
    static constexpr std::size_t LinearBins = 65536;
    static constexpr double LinearMs = LinearBins / 1000.0;
    static constexpr std::size_t BinsPerDoubling = 1024;
    static constexpr std::size_t Doublings = 32;

    void add(double ms);

    std::size_t count() const { return m_count; }
    bool isEmpty() const { return m_count == 0; }

    // The smallest value that at least the fraction p (0..1) of the values
    // does not exceed (by nearest rank), to the resolution above. Needs a
    // value.
    double percentile(double p) const;
    // The value of the rank (from 1) among those counted and more, which
    // are exact and in order.
    double ofRank(std::size_t rank, const std::vector<double>& more = {}) const;
    double median() const { return percentile(0.5); }
    double largest() const { return m_largest; }

private:
    static std::size_t bin(double ms);
    // The value a bin stands for: its microsecond, or the middle of a
    // logarithmic bin.
    static double value(std::size_t bin);

    std::vector<std::uint64_t> m_bins;
    std::size_t m_count = 0;
    double m_largest = 0;
};
