#pragma once

#include "pointhull.h"
#include "sample.h"

#include <cstddef>
#include <optional>

// Whether a stroke was drawn along a ruler, and how far its reports stray
// from the straight line that fits them best, in millimetres.
//
// A stroke is straight when its ends lie at least MinimumLength apart and
// every report lies within Tolerance of that length from the chord, the
// segment between its ends (beyond an end, the distance is to that end, so
// that a stroke that doubles back is not straight). Its line is the one that
// fits its reports by orthogonal least squares (LineFit); its straightness
// is the largest distance of a report from that line.
//
// The reports are not kept: the line comes from their moments, and both
// largest distances, from the chord and from the line, lie at a corner of
// the reports' convex hull (PointHull). So a stroke of any length takes
// bounded memory, and its figures are exact.
class StrokeLine
{
public:
    static constexpr double MinimumLength = 50.0;
    static constexpr double Tolerance = 0.05;

    struct Fit
    {
        double straightness = 0;
        // The stroke's first and last reports projected onto the line.
        Sample from;
        Sample to;
    };

    // The reports of a stroke while down, in order.
    void add(const Sample& sample);
    void clear();

    // None when it is not straight. Goes over the hull's corners: call it
    // when the stroke ends.
    std::optional<Fit> fit() const;

private:
    std::size_t m_count = 0;
    Sample m_first;
    Sample m_last;
    // About the first report.
    PointHull m_hull;
    double m_x = 0, m_y = 0, m_xx = 0, m_yy = 0, m_xy = 0;
};
