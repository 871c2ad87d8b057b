#pragma once

#include "sample.h"

#include <vector>

// How straight a stroke drawn along a ruler came out, in millimetres.
//
// Straightness is the largest distance of a report from the chord, the
// segment between the stroke's first and last reports (beyond an end, the
// distance to that end): a bow of s mm reads s mm, a single spike its
// height. Moving jitter is the scatter of a contact as it moves: the stroke
// is cut, by each report's distance along the chord, into successive
// stretches of StretchMm (a last stretch shorter than half of that joins the
// one before), and in each, the largest distance of a report from the line
// that fits that stretch best (LineFit); the stroke's is the largest of them.
struct RuledLine
{
    static constexpr double StretchMm = 10.0;

    double length = 0;
    double straightness = 0;
    // The report that is farthest from the chord.
    Sample straightnessAt;
    double movingJitter = 0;
    Sample movingJitterAt;

    // The reports of the stroke while down, in order; at least one.
    static RuledLine of(const std::vector<Sample>& samples);
};
