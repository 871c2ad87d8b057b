#include "coveragegrid.h"

#include "contactreport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// A position in cells, kept inside the grid.
double cellX(double x)
{
    return std::clamp(x * CoverageGrid::Columns / ContactReport::BoardUnits, 0.0,
                      std::nextafter(double(CoverageGrid::Columns), 0.0));
}

double cellY(double y)
{
    return std::clamp(y * CoverageGrid::Rows / ContactReport::BoardUnits, 0.0,
                      std::nextafter(double(CoverageGrid::Rows), 0.0));
}

} // namespace

void CoverageGrid::mark(int column, int row)
{
    const std::size_t cell = std::size_t(row * Columns + column);
    if (!m_cells[cell]) {
        m_cells[cell] = true;
        ++m_reached;
    }
}

void CoverageGrid::addPoint(double x, double y)
{
    mark(int(cellX(x)), int(cellY(y)));
}

void CoverageGrid::addSegment(double fromX, double fromY, double toX, double toY)
{
    // Cell by cell along the segment (Amanatides and Woo): step into the
    // column or row whose boundary the segment meets first.
    const double x0 = cellX(fromX), y0 = cellY(fromY);
    const double x1 = cellX(toX), y1 = cellY(toY);
    int column = int(x0), row = int(y0);
    const int lastColumn = int(x1), lastRow = int(y1);
    const int stepX = x1 > x0 ? 1 : -1;
    const int stepY = y1 > y0 ? 1 : -1;
    const double inf = std::numeric_limits<double>::infinity();
    const double dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
    // Parameter t (0 at the start, 1 at the end) of the next boundary in
    // each direction, and between two boundaries.
    const double deltaX = dx > 0 ? 1 / dx : inf;
    const double deltaY = dy > 0 ? 1 / dy : inf;
    double nextX = dx > 0 ? (stepX > 0 ? column + 1 - x0 : x0 - column) * deltaX : inf;
    double nextY = dy > 0 ? (stepY > 0 ? row + 1 - y0 : y0 - row) * deltaY : inf;
    mark(column, row);
    // As many steps as the cells between the ends, whatever rounding does:
    // once in the last column or row, only across the other.
    for (int steps = std::abs(lastColumn - column) + std::abs(lastRow - row); steps > 0; --steps) {
        if (row == lastRow || (column != lastColumn && nextX < nextY)) {
            column += stepX;
            nextX += deltaX;
        } else {
            row += stepY;
            nextY += deltaY;
        }
        mark(column, row);
    }
}

void CoverageGrid::clear()
{
    m_cells.reset();
    m_reached = 0;
}
