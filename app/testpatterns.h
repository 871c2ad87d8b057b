#pragma once

#include "backgroundmode.h"

#include <QSize>

class QPainter;

// The strokes view's background: the test patterns and the keyboard help
// text. StrokesView fills its background image white and hands the painter
// here for every mode but None.
class TestPatterns
{
public:
    // Draws `mode` onto a white image. The grid and the colour field cover
    // the whole image (the largest view size so far); the other modes follow
    // the view's current size.
    static void draw(QPainter& painter, BackgroundMode mode, const QSize& imageSize,
                     const QSize& viewSize);

    // One circle of diameter `size` centred on (x, y) with a cross of half
    // the diameter through its centre, in the current pen and no brush.
    static void drawShapeMark(QPainter& painter, float x, float y, float size);

private:
    static void drawGrid(QPainter& painter, const QSize& size);
    static void drawColourField(QPainter& painter, const QSize& size);
    static void drawShapeField(QPainter& painter, const QSize& size);
    static void drawAllBlack(QPainter& painter, const QSize& size);
    static void drawBars(QPainter& painter, const QSize& size, Qt::Orientation orientation);
    static void drawHelp(QPainter& painter);
};
