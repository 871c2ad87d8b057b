#include "pointhull.h"

#include <algorithm>
#include <cmath>

namespace {

// Twice the signed area of o, a, b: above 0 when b lies to the left of o→a.
double cross(const PointHull::Point& o, const PointHull::Point& a, const PointHull::Point& b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

} // namespace

void PointHull::add(const Point& point)
{
    m_points.push_back(point);
    ++m_count;
    if (m_points.size() >= 2 * m_reducedTo + 64)
        reduce();
}

void PointHull::clear()
{
    m_points.clear();
    m_reducedTo = 0;
    m_count = 0;
}

void PointHull::reduce() const
{
    // Andrew's monotone chain: the lower hull, then the upper one.
    std::sort(m_points.begin(), m_points.end(), [](const Point& a, const Point& b) {
        return a.x < b.x || (a.x == b.x && a.y < b.y);
    });
    const std::size_t n = m_points.size();
    if (n < 3) {
        m_reducedTo = n;
        return;
    }
    std::vector<Point> hull(2 * n);
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], m_points[i]) <= 0)
            --k;
        hull[k++] = m_points[i];
    }
    for (std::size_t i = n - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && cross(hull[k - 2], hull[k - 1], m_points[i]) <= 0)
            --k;
        hull[k++] = m_points[i];
    }
    // The last corner is the first again.
    hull.resize(k - 1);
    if (hull.size() > MaxCorners) {
        for (std::size_t i = 0; 2 * i < hull.size(); ++i)
            hull[i] = hull[2 * i];
        hull.resize((hull.size() + 1) / 2);
    }
    m_points = std::move(hull);
    m_reducedTo = m_points.size();
}

const std::vector<PointHull::Point>& PointHull::corners() const
{
    if (m_reducedTo != m_points.size())
        reduce();
    return m_points;
}

double PointHull::largestDistance() const
{
    const std::vector<Point>& hull = corners();
    const std::size_t h = hull.size();
    const auto distance = [&](std::size_t a, std::size_t b) {
        return std::hypot(hull[a].x - hull[b].x, hull[a].y - hull[b].y);
    };
    if (h < 3)
        return h == 2 ? distance(0, 1) : 0;
    // Rotating calipers: for each edge of the hull, counter-clockwise, the
    // corner farthest from it, which moves on with the edge.
    double largest = 0;
    std::size_t far = 1;
    for (std::size_t i = 0; i < h; ++i) {
        const std::size_t next = (i + 1) % h;
        while (std::abs(cross(hull[i], hull[next], hull[(far + 1) % h])) >
               std::abs(cross(hull[i], hull[next], hull[far])))
            far = (far + 1) % h;
        largest = std::max({largest, distance(i, far), distance(next, far)});
    }
    return largest;
}
