#pragma once

#include "sample.h"

#include <optional>
#include <vector>

// Whether a stroke was drawn along a ruler, and how far its reports stray
// from the straight line that fits them best, in millimetres.
//
// A stroke is straight when its ends lie at least MinimumLength apart and
// every report lies within Tolerance of that length from the chord, the
// segment between its ends (beyond an end, the distance is to that end, so
// that a stroke that doubles back is not straight). Its line is the
// orthogonal least-squares fit (total least squares): through the reports'
// mean, along the principal axis of their spread, so that it minimises the
// distances at right angles to it and fits a vertical stroke as well as a
// horizontal one, which a fit of y on x cannot. Its straightness is the
// largest distance of a report from that line.
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

    // The reports of a stroke while down, in order; none when it is not
    // straight. A few passes over the reports: call it once, when the
    // stroke ends.
    static std::optional<Fit> fit(const std::vector<Sample>& samples);
};
