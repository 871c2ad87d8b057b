#pragma once

#include <cstddef>
#include <vector>

// The largest distance between any two of the points added, in bounded
// memory: the two points farthest apart are corners of the set's convex
// hull, so whenever the points kept have doubled, only the hull's corners
// are kept. A contact held still for days reports within a small patch of
// the board's grid, whose hull has few corners.
class PointSpread
{
public:
    struct Point
    {
        double x = 0;
        double y = 0;
    };

    void add(const Point& point);
    void clear();

    std::size_t count() const { return m_count; }
    // 0 for fewer than two points.
    double largestDistance() const;

private:
    // Replaces the points kept by their hull's corners.
    void reduce() const;

    mutable std::vector<Point> m_points;
    mutable std::size_t m_reducedTo = 0;
    std::size_t m_count = 0;
};
