#include "linefit.h"

#include <cmath>

LineFit LineFit::of(const Sample* first, const Sample* last)
{
    // Moments about the first report, which keeps them small.
    double x = 0, y = 0, xx = 0, yy = 0, xy = 0;
    for (const Sample* p = first; p != last; ++p) {
        const double dx = p->x - first->x, dy = p->y - first->y;
        x += dx;
        y += dy;
        xx += dx * dx;
        yy += dy * dy;
        xy += dx * dy;
    }
    LineFit fit = of(double(last - first), x, y, xx, yy, xy);
    fit.meanX += first->x;
    fit.meanY += first->y;
    return fit;
}

LineFit LineFit::of(double n, double x, double y, double xx, double yy, double xy)
{
    LineFit fit;
    fit.meanX = x / n;
    fit.meanY = y / n;
    // The scatter about the mean.
    const double sxx = xx - x * fit.meanX;
    const double syy = yy - y * fit.meanY;
    const double sxy = xy - x * fit.meanY;
    // The principal axis of the scatter matrix; atan2 keeps the angle
    // defined for a vertical run (sxx = 0).
    const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
    fit.dx = std::cos(angle);
    fit.dy = std::sin(angle);
    return fit;
}

double LineFit::distance(const Sample& p) const
{
    return std::abs(-(p.x - meanX) * dy + (p.y - meanY) * dx);
}

Sample LineFit::project(const Sample& p) const
{
    const double along = (p.x - meanX) * dx + (p.y - meanY) * dy;
    return {meanX + dx * along, meanY + dy * along, p.ms};
}
