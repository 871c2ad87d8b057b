#pragma once

#include "contactreport.h"

#include <bitset>

// Which parts of a board its contacts reached: a grid of Columns by Rows
// cells over the whole board, and the cells that the path of some contact while down crossed. Every
// cell a segment between two consecutive reports passes through counts, not
// only those of its ends, so that a quick stroke leaves no false holes and
// a dead zone of a frame shows as cells never reached. A segment through a
// corner of cells takes one of the two cells beside the corner as well.
class CoverageGrid
{
public:
    static constexpr int Columns = 32;
    static constexpr int Rows = 18;
    static constexpr int Cells = Columns * Rows;

    // A contact's first report down. Positions off the board are the
    // caller's to leave out: one given counts at the edge.
    void addPoint(double x, double y);
    // Each following one, from where the contact was.
    void addSegment(double fromX, double fromY, double toX, double toY);
    void clear();

    bool reached(int column, int row) const { return m_cells[std::size_t(row * Columns + column)]; }
    int reachedCount() const { return m_reached; }
    // Of all cells, 0 to 1.
    double share() const { return double(m_reached) / Cells; }

    // A cell's edges in board units, for drawing it.
    static double left(int column) { return column * ContactReport::BoardUnits / Columns; }
    static double top(int row) { return row * ContactReport::BoardUnits / Rows; }
    static double right(int column) { return left(column + 1); }
    static double bottom(int row) { return top(row + 1); }

private:
    void mark(int column, int row);

    std::bitset<Cells> m_cells;
    int m_reached = 0;
};
