#pragma once

#include "sample.h"

// The straight line that fits a run of reports best by orthogonal least
// squares (total least squares): through their mean, along the principal
// axis of their spread, so that it minimises the distances at right angles
// to it and fits a vertical run as well as a horizontal one, which a fit of
// y on x cannot.
struct LineFit
{
    double meanX = 0;
    double meanY = 0;
    // The line's direction, a unit vector.
    double dx = 1;
    double dy = 0;

    // The reports from first up to last, which must not be empty.
    static LineFit of(const Sample* first, const Sample* last);
    // From the moments of n reports (n above 0): the sums of x, y, x², y²
    // and xy, taken from any origin (which this fit keeps).
    static LineFit of(double n, double x, double y, double xx, double yy, double xy);

    // At right angles to the line.
    double distance(const Sample& p) const;
    // The point of the line nearest to p, at p's time.
    Sample project(const Sample& p) const;
};
