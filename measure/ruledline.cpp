#include "ruledline.h"

#include "linefit.h"

#include <algorithm>
#include <cmath>

RuledLine RuledLine::of(const std::vector<Sample>& samples)
{
    RuledLine line;
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    line.length = std::hypot(last.x - first.x, last.y - first.y);
    line.straightnessAt = line.movingJitterAt = first;
    // A stroke that ends where it began has no direction: along x.
    const double ux = line.length > 0 ? (last.x - first.x) / line.length : 1;
    const double uy = line.length > 0 ? (last.y - first.y) / line.length : 0;
    const auto along = [&](const Sample& p) {
        return std::clamp((p.x - first.x) * ux + (p.y - first.y) * uy, 0.0, line.length);
    };

    for (const Sample& p : samples) {
        const double t = along(p);
        const double distance = std::hypot(p.x - (first.x + ux * t), p.y - (first.y + uy * t));
        if (distance > line.straightness) {
            line.straightness = distance;
            line.straightnessAt = p;
        }
    }

    const int whole = int(line.length / StretchMm);
    const bool shortLast = line.length - whole * StretchMm < StretchMm / 2;
    const int stretches = std::max(1, shortLast ? whole : whole + 1);
    // Each stretch's reports, in the order of the stroke: a pen that goes
    // back a little along the ruler stays in the stretch it is in.
    std::vector<std::vector<Sample>> parts(static_cast<std::size_t>(stretches));
    for (const Sample& p : samples)
        parts[std::size_t(std::min(int(along(p) / StretchMm), stretches - 1))].push_back(p);
    for (const std::vector<Sample>& part : parts) {
        if (part.size() < 3)
            continue;
        const LineFit fit = LineFit::of(part.data(), part.data() + part.size());
        for (const Sample& p : part) {
            const double distance = fit.distance(p);
            if (distance > line.movingJitter) {
                line.movingJitter = distance;
                line.movingJitterAt = p;
            }
        }
    }
    return line;
}
