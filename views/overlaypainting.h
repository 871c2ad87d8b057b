#pragma once

#include "coveragegrid.h"

#include <QColor>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <bitset>
#include <functional>

class QFont;
class QPainter;

// What the overlays drawn over the strokes view (the measurements, the
// board check) paint alike, so that it reads on every background: black,
// white, a stroke of its own colour or the colour field.
struct OverlayPainting
{
    // Opens a repaint of the region: cleared to transparent, clipped to it.
    static void clear(QPainter& painter, const QRegion& region);
    // The colour inside a white rim inside a black one, width pixels wide;
    // draw() draws the shape with the painter's pen.
    static void outlined(QPainter& painter, const QColor& colour, int width,
                         const std::function<void()>& draw);
    // A label in a white box with a black border.
    static void label(QPainter& painter, const QRect& box, const QFont& font, const QColor& colour,
                      const QString& text);
    // A coverage grid's cell on the view, in whole pixels so that
    // neighbours neither overlap nor leave a gap.
    static QRect cellRect(const QTransform& boardToView, int cell);
    // Where the cells that differ between two sets lie on the view.
    static QRegion cellsChanged(const std::bitset<CoverageGrid::Cells>& before,
                                const std::bitset<CoverageGrid::Cells>& after,
                                const QTransform& boardToView);
    // The cells set, within bounds.
    static void tint(QPainter& painter, const std::bitset<CoverageGrid::Cells>& cells,
                     const QTransform& boardToView, const QRect& bounds, const QColor& colour);
};
