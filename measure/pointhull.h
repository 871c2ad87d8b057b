#pragma once

#include <cstddef>
#include <vector>

// Points added one by one, kept in bounded memory as the corners of their
// convex hull: whenever the points kept have doubled, only the hull's
// corners are kept. Whatever a convex function of a point is largest at over
// the points, it is largest at a corner: the distance from a point or from a
// segment, the distance from a line either side, and so the largest distance
// between two of the points. A contact held still for days reports within a
// small patch of the board's grid, and a stroke along a ruler lies in a thin
// band of it: their hulls have few corners. Positions on a grid, as boards
// report them, have a hull of a few thousand corners at most across a whole
// board; positions off any grid could have as many corners as points, so a
// hull of more than MaxCorners keeps every other corner, which puts the
// figures below by the height of an arc between two corners.
class PointHull
{
public:
    struct Point
    {
        double x = 0;
        double y = 0;
    };

    static constexpr std::size_t MaxCorners = 1 << 16;

    void add(const Point& point);
    void clear();

    std::size_t count() const { return m_count; }
    // The hull's corners, counter-clockwise; as many as there are points
    // when fewer than three.
    const std::vector<Point>& corners() const;
    // Between two of the points; 0 for fewer than two.
    double largestDistance() const;

private:
    // Replaces the points kept by their hull's corners.
    void reduce() const;

    mutable std::vector<Point> m_points;
    mutable std::size_t m_reducedTo = 0;
    std::size_t m_count = 0;
};
