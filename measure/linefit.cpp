#include "linefit.h"

#include <cmath>

LineFit LineFit::of(const Sample* first, const Sample* last)
{
    LineFit fit;
    const double n = double(last - first);
    for (const Sample* p = first; p != last; ++p) {
        fit.meanX += p->x;
        fit.meanY += p->y;
    }
    fit.meanX /= n;
    fit.meanY /= n;
    double xx = 0, yy = 0, xy = 0;
    for (const Sample* p = first; p != last; ++p) {
        xx += (p->x - fit.meanX) * (p->x - fit.meanX);
        yy += (p->y - fit.meanY) * (p->y - fit.meanY);
        xy += (p->x - fit.meanX) * (p->y - fit.meanY);
    }
    // The principal axis of the scatter matrix; atan2 keeps the angle
    // defined for a vertical run (xx = 0).
    const double angle = 0.5 * std::atan2(2 * xy, xx - yy);
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
