#pragma once

#include "backgroundmode.h"

#include <QRect>
#include <QSize>
#include <QStringList>

class QPainter;

// The strokes view's background: the test patterns, the keyboard help text
// and a notice for a person. StrokesView fills its background image white
// and hands the painter here for every mode.
class TestPatterns
{
public:
    // Draws `mode` onto a white image, then the notice, if any, over it. The
    // grid and the colour field cover the whole image (the largest view size
    // so far); the other modes follow the view's current size, and the help
    // text shrinks to fit the view above the notice.
    static void draw(QPainter& painter, BackgroundMode mode, const QSize& imageSize,
                     const QSize& viewSize, const QStringList& notice = {});

    // Where the notice's lines go: a box at the bottom of the view, centred,
    // as wide as they need and the view allows. Empty without lines.
    static QRect noticeBox(const QStringList& notice, const QSize& viewSize);

    // One circle of diameter `size` centred on (x, y) with a cross of half
    // the diameter through its centre, in the current pen and no brush.
    static void drawShapeMark(QPainter& painter, float x, float y, float size);

private:
    static void drawGrid(QPainter& painter, const QSize& size);
    static void drawColourField(QPainter& painter, const QSize& size);
    static void drawShapeField(QPainter& painter, const QSize& size);
    static void drawAllBlack(QPainter& painter, const QSize& size);
    static void drawBars(QPainter& painter, const QSize& size, Qt::Orientation orientation);
    // In a font that fits its lines into `height` pixels, at most 32 high.
    static void drawHelp(QPainter& painter, int height);
    // Black on white inside a black frame: it reads on every background.
    static void drawNotice(QPainter& painter, const QStringList& notice, const QRect& box);
};
