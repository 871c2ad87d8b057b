#pragma once

#include "sample.h"

#include <cstddef>
#include <optional>
#include <vector>

// How much the reports of one contact scatter while it is held still: the
// jitter of a finger or pen that does not move, in millimetres.
//
// A run begins at a report, its anchor, and takes every following report
// within Radius of the anchor; the first report beyond that ends the run and
// anchors the next one. Anchored at a report rather than at the run's mean,
// a run ends once a slow stroke has gone Radius from where the run began,
// where a mean that moves with the reports would follow it further. A run is still once its reports
// span StillMs from first to last. Its jitter is the largest distance of its reports from their
// mean, and its RMS the root mean square of those distances. A contact that slides to a rest brings
// the end of its slide, at most Radius of it, into the run; a contact held still from the moment it
// comes down brings nothing but its scatter.
//
// A contact that was still several times has the largest jitter of its still
// runs, the one a limit is about, and the largest RMS of them.
//
// Adding a report costs constant time, amortised: the run's reports are kept
// (relative to its anchor) so that the largest distance from a mean that
// moves with every report can be taken again, once each time the run's
// length doubles. In between, a new report's distance from the mean of the
// moment counts, so that the figure of a run still going on can lag the
// exact one by as much as the mean moved since it last doubled, which for a
// contact held still is a small fraction of its scatter. A run that ended
// has its exact figure.
class StillJitter
{
public:
    static constexpr double Radius = 5.0;
    static constexpr double StillMs = 300.0;

    struct Run
    {
        // The reports' mean, mm.
        double x = 0;
        double y = 0;
        double jitter = 0;
        double rms = 0;
        double startMs = 0;
        double endMs = 0;
        std::size_t reports = 0;
    };

    // The reports of one contact while it is down, in order.
    void add(const Sample& sample);
    // The contact lifted: its last run ends.
    void finish();
    // For a new contact.
    void reset();

    // Whether the run going on is still, and its figures then.
    bool isStill() const { return !m_offsets.empty() && m_lastMs - m_anchor.ms >= StillMs; }
    std::optional<Run> current() const;
    // The ended still run of the largest jitter.
    const std::optional<Run>& largestEnded() const { return m_largest; }
    std::optional<double> largestEndedRms() const { return m_largestRms; }
    // The latest still run that ended.
    const std::optional<Run>& lastEnded() const { return m_last; }

private:
    struct Offset
    {
        double x = 0;
        double y = 0;
    };

    void endRun();
    void measureAll();
    Run run() const;

    Sample m_anchor;
    double m_lastMs = 0;
    // From the anchor, in mm.
    std::vector<Offset> m_offsets;
    double m_sumX = 0, m_sumY = 0, m_sumSquares = 0;
    // The largest squared distance from the mean as it was when measured, and
    // the run's length then.
    double m_largestSquare = 0;
    std::size_t m_measuredAt = 0;

    std::optional<Run> m_largest;
    std::optional<double> m_largestRms;
    std::optional<Run> m_last;
};
