#pragma once

#include "pointhull.h"
#include "sample.h"

#include <cstddef>
#include <optional>

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
// A run's reports are not kept: their sums give the mean and the RMS, and
// the report farthest from the mean is a corner of their convex hull
// (PointHull), which a contact held still keeps small. So a run of any length
// takes bounded memory, and its figures are exact at any moment.
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

    // The reports of one contact while down, in order.
    void add(const Sample& sample);
    // The contact lifted: its last run ends.
    void finish();
    // For a new contact.
    void reset();

    // Whether the run going on is still, and its figures then.
    bool isStill() const { return m_count > 0 && m_lastMs - m_anchor.ms >= StillMs; }
    std::optional<Run> current() const;
    // The ended still run of the largest jitter.
    const std::optional<Run>& largestEnded() const { return m_largest; }
    std::optional<double> largestEndedRms() const { return m_largestRms; }
    // The latest still run that ended.
    const std::optional<Run>& lastEnded() const { return m_last; }

private:
    void endRun();
    Run run() const;

    Sample m_anchor;
    double m_lastMs = 0;
    std::size_t m_count = 0;
    // From the anchor, in mm.
    PointHull m_offsets;
    double m_sumX = 0, m_sumY = 0, m_sumSquares = 0;

    std::optional<Run> m_largest;
    std::optional<double> m_largestRms;
    std::optional<Run> m_last;
};
