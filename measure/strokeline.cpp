#include "strokeline.h"

#include "linefit.h"

#include <algorithm>
#include <cmath>

namespace {

double squaredDistanceToSegment(const Sample& p, const Sample& a, double ux, double uy,
                                double length)
{
    // Along the chord, clamped to its ends, then across.
    const double along = std::clamp((p.x - a.x) * ux + (p.y - a.y) * uy, 0.0, length);
    const double dx = p.x - (a.x + ux * along);
    const double dy = p.y - (a.y + uy * along);
    return dx * dx + dy * dy;
}

} // namespace

std::optional<StrokeLine::Fit> StrokeLine::fit(const std::vector<Sample>& samples)
{
    if (samples.size() < 2)
        return std::nullopt;
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    const double length = std::hypot(last.x - first.x, last.y - first.y);
    if (length < MinimumLength)
        return std::nullopt;
    const double ux = (last.x - first.x) / length;
    const double uy = (last.y - first.y) / length;
    const double reach = Tolerance * length;
    for (const Sample& p : samples) {
        if (squaredDistanceToSegment(p, first, ux, uy, length) > reach * reach)
            return std::nullopt;
    }

    const LineFit line = LineFit::of(samples.data(), samples.data() + samples.size());
    Fit fit;
    for (const Sample& p : samples)
        fit.straightness = std::max(fit.straightness, line.distance(p));
    fit.from = line.project(first);
    fit.to = line.project(last);
    return fit;
}
