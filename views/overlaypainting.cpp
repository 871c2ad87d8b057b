#include "overlaypainting.h"

#include "itemview.h"

#include <QPainter>

#include <cmath>
#include <utility>
#include <vector>

void OverlayPainting::clear(QPainter& painter, const QRegion& region)
{
    painter.setClipRegion(region);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(region.boundingRect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void OverlayPainting::outlined(QPainter& painter, const QColor& colour, int width,
                               const std::function<void()>& draw)
{
    painter.setBrush(Qt::NoBrush);
    for (const auto& [rim, pixels] :
         {std::pair<QColor, int>(Qt::black, width + 4), {Qt::white, width + 2}, {colour, width}}) {
        painter.setPen(QPen(rim, pixels, Qt::SolidLine, Qt::RoundCap));
        draw();
    }
}

void OverlayPainting::label(QPainter& painter, const QRect& box, const QFont& font,
                            const QColor& colour, const QString& text)
{
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(box);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(box, Qt::AlignCenter, text);
}

QRect OverlayPainting::cellRect(const QTransform& boardToView, int cell)
{
    const int column = cell % CoverageGrid::Columns;
    const int row = cell / CoverageGrid::Columns;
    const QRectF board(QPointF(CoverageGrid::left(column), CoverageGrid::top(row)),
                       QPointF(CoverageGrid::right(column), CoverageGrid::bottom(row)));
    const QRectF r = boardToView.mapRect(board);
    return QRect(QPoint(int(std::lround(r.left())), int(std::lround(r.top()))),
                 QPoint(int(std::lround(r.right())) - 1, int(std::lround(r.bottom())) - 1));
}

QRegion OverlayPainting::cellsChanged(const std::bitset<CoverageGrid::Cells>& before,
                                      const std::bitset<CoverageGrid::Cells>& after,
                                      const QTransform& boardToView)
{
    if (before == after)
        return {};
    std::vector<QRect> cells;
    for (int cell = 0; cell < CoverageGrid::Cells; ++cell) {
        if (before[std::size_t(cell)] != after[std::size_t(cell)])
            cells.push_back(cellRect(boardToView, cell));
    }
    return ItemView::unite(cells);
}

void OverlayPainting::tint(QPainter& painter, const std::bitset<CoverageGrid::Cells>& cells,
                           const QTransform& boardToView, const QRect& bounds, const QColor& colour)
{
    for (int cell = 0; cell < CoverageGrid::Cells; ++cell) {
        if (!cells[std::size_t(cell)])
            continue;
        const QRect r = cellRect(boardToView, cell);
        if (r.intersects(bounds))
            painter.fillRect(r, colour);
    }
}
