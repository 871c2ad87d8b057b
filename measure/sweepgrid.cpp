#include "sweepgrid.h"

SweepGrid::SweepGrid(double widthMm, double heightMm) : m_widthMm(widthMm), m_heightMm(heightMm) {}

bool SweepGrid::onBoard(double x, double y)
{
    return x >= 0 && x < ContactReport::BoardUnits && y >= 0 && y < ContactReport::BoardUnits;
}

bool SweepGrid::onBorder(int column, int row)
{
    return column == 0 || row == 0 || column == CoverageGrid::Columns - 1 ||
           row == CoverageGrid::Rows - 1;
}

void SweepGrid::mark(int column, int row)
{
    const std::size_t cell = std::size_t(row * CoverageGrid::Columns + column);
    if (!m_cells[cell]) {
        m_cells[cell] = true;
        ++m_reached;
    }
}

void SweepGrid::add(const std::pair<double, double>* from, double x, double y)
{
    if (!onBoard(x, y))
        return;
    const int before = m_path.reachedCount();
    if (from && onBoard(from->first, from->second))
        m_path.addSegment(from->first, from->second, x, y);
    else
        m_path.addPoint(x, y);
    if (m_path.reachedCount() != before) {
        // Cells crossed by the path count where they are inner ones.
        for (int row = 1; row < CoverageGrid::Rows - 1; ++row) {
            for (int column = 1; column < CoverageGrid::Columns - 1; ++column) {
                if (m_path.reached(column, row))
                    mark(column, row);
            }
        }
    }
    const int column = int(x * CoverageGrid::Columns / ContactReport::BoardUnits);
    const int row = int(y * CoverageGrid::Rows / ContactReport::BoardUnits);
    const double xMm = x * m_widthMm / ContactReport::BoardUnits;
    const double yMm = y * m_heightMm / ContactReport::BoardUnits;
    const bool nearEdge = (column == 0 && xMm <= EdgeMm) || (row == 0 && yMm <= EdgeMm) ||
                          (column == CoverageGrid::Columns - 1 && m_widthMm - xMm <= EdgeMm) ||
                          (row == CoverageGrid::Rows - 1 && m_heightMm - yMm <= EdgeMm);
    if (nearEdge)
        mark(column, row);
}

bool SweepGrid::reached(int column, int row) const
{
    return m_cells[std::size_t(row * CoverageGrid::Columns + column)];
}

std::vector<std::pair<int, int>> SweepGrid::notReached() const
{
    std::vector<std::pair<int, int>> cells;
    for (int row = 0; row < CoverageGrid::Rows; ++row) {
        for (int column = 0; column < CoverageGrid::Columns; ++column) {
            if (!reached(column, row))
                cells.emplace_back(column, row);
        }
    }
    return cells;
}
