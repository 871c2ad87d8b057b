#include "strokeline.h"

#include "linefit.h"

#include <algorithm>
#include <cmath>

void StrokeLine::add(const Sample& sample)
{
    if (m_count++ == 0)
        m_first = sample;
    m_last = sample;
    const double dx = sample.x - m_first.x, dy = sample.y - m_first.y;
    m_hull.add({dx, dy});
    m_x += dx;
    m_y += dy;
    m_xx += dx * dx;
    m_yy += dy * dy;
    m_xy += dx * dy;
}

void StrokeLine::clear()
{
    *this = StrokeLine();
}

std::optional<StrokeLine::Fit> StrokeLine::fit() const
{
    if (m_count < 2)
        return std::nullopt;
    // About the first report, as the hull is.
    const double lx = m_last.x - m_first.x, ly = m_last.y - m_first.y;
    const double length = std::hypot(lx, ly);
    if (length < MinimumLength)
        return std::nullopt;
    const double ux = lx / length, uy = ly / length;
    const double reach = Tolerance * length;
    for (const PointHull::Point& p : m_hull.corners()) {
        // Along the chord, clamped to its ends, then across.
        const double along = std::clamp(p.x * ux + p.y * uy, 0.0, length);
        if (std::hypot(p.x - ux * along, p.y - uy * along) > reach)
            return std::nullopt;
    }

    const LineFit line = LineFit::of(double(m_count), m_x, m_y, m_xx, m_yy, m_xy);
    Fit fit;
    for (const PointHull::Point& p : m_hull.corners())
        fit.straightness = std::max(fit.straightness, line.distance({p.x, p.y, 0}));
    const auto project = [&](const Sample& s) {
        Sample on = line.project({s.x - m_first.x, s.y - m_first.y, s.ms});
        on.x += m_first.x;
        on.y += m_first.y;
        return on;
    };
    fit.from = project(m_first);
    fit.to = project(m_last);
    return fit;
}
