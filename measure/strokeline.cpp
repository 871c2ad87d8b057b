#include "strokeline.h"

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

    double meanX = 0, meanY = 0;
    for (const Sample& p : samples) {
        meanX += p.x;
        meanY += p.y;
    }
    meanX /= double(samples.size());
    meanY /= double(samples.size());
    double xx = 0, yy = 0, xy = 0;
    for (const Sample& p : samples) {
        xx += (p.x - meanX) * (p.x - meanX);
        yy += (p.y - meanY) * (p.y - meanY);
        xy += (p.x - meanX) * (p.y - meanY);
    }
    // The principal axis of the scatter matrix; atan2 keeps the angle
    // defined for a vertical stroke (xx = 0).
    const double angle = 0.5 * std::atan2(2 * xy, xx - yy);
    const double dx = std::cos(angle);
    const double dy = std::sin(angle);

    Fit fit;
    for (const Sample& p : samples)
        fit.straightness =
            std::max(fit.straightness, std::abs(-(p.x - meanX) * dy + (p.y - meanY) * dx));
    const auto project = [&](const Sample& p) {
        const double along = (p.x - meanX) * dx + (p.y - meanY) * dy;
        return Sample{meanX + dx * along, meanY + dy * along, p.ms};
    };
    fit.from = project(first);
    fit.to = project(last);
    return fit;
}
