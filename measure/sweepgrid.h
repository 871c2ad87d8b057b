#pragma once

#include "coveragegrid.h"

#include <bitset>
#include <utility>
#include <vector>

// The cells of a board that a sweep reached: CoverageGrid's grid, its inner
// cells reached as there, by the path crossing them, and a cell on the
// border only by a report within EdgeMm of the board's edge that it lies on
// (either edge, for a corner), so that a band along an edge where the board
// reports nothing shows as cells never reached. A position off the board
// marks nothing.
class SweepGrid
{
public:
    static constexpr double EdgeMm = 5.0;

    SweepGrid(double widthMm, double heightMm);

    // A contact's reports while down, in board units; from is the one
    // before, none for the first.
    void add(const std::pair<double, double>* from, double x, double y);

    bool reached(int column, int row) const;
    int reachedCount() const { return m_reached; }
    static bool onBorder(int column, int row);
    // Column and row of each cell not reached, row by row from the top left.
    std::vector<std::pair<int, int>> notReached() const;

private:
    static bool onBoard(double x, double y);
    void mark(int column, int row);

    double m_widthMm;
    double m_heightMm;
    CoverageGrid m_path;
    std::bitset<CoverageGrid::Cells> m_cells;
    int m_reached = 0;
};
