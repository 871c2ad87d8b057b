#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// How many packets of one kind a board sends a second while it sends.
//
// Each packet after the first ends an interval that the one before it
// started. A pause is an interval longer than PauseMedians times the median
// interval: the board had nothing to send (no pen in range, no finger down).
// The frame rate is the number of the other intervals over their total
// time, none without one or when they all took no time. It counts packets,
// not scans: a board that sends each scan as two packets has twice its
// contacts' report rate here. If those two come less than a tenth of a scan
// apart, the median may be the short interval, and the scans then count as
// pauses: the figure is the pace within a scan.
//
// Bounded memory for a session of days: the intervals are kept as a
// histogram of bins a sixteenth of an octave wide, each with its count and
// the sum of its intervals, so that the sums are exact and only the median
// comes from a bin (the mean of the bin that holds it, exact for a board
// that keeps its pace). A bin is a pause or not as a whole, by its mean, so
// an interval within a bin's width of the threshold may fall either way.
class FrameRate
{
public:
    static constexpr double PauseMedians = 10.0;

    // A packet came at this time, in milliseconds, after the one before.
    void add(double ms);

    std::size_t packets() const { return m_packets; }
    std::optional<double> rate() const;

private:
    struct Bin
    {
        std::uint64_t count = 0;
        double sum = 0;
    };

    // Bin 0 holds intervals shorter than MinMs (packets at one time among
    // them), the last those of Octaves octaves above it or longer.
    static constexpr double MinMs = 1.0 / 64;
    static constexpr int Octaves = 30;
    static constexpr int BinsPerOctave = 16;
    static constexpr int Bins = 2 + Octaves * BinsPerOctave;

    static int bin(double ms);
    std::optional<double> median() const;

    std::size_t m_packets = 0;
    double m_lastMs = 0;
    std::uint64_t m_intervals = 0;
    // Sized at the first interval, so that a kind never sent costs nothing.
    std::vector<Bin> m_bins;
};
