#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;

// Laid-out lines of text for the markers' tags, kept per thread and reused:
// a tag line's text often repeats (the same id, the same radius, a position
// that comes back), and laying it out costs twice as much as drawing it.
// Drawing a kept line gives exactly the pixels of QPainter::drawText.
//
// Each thread keeps its own lines, as a laid-out line holds the font engine
// of the thread that laid it out, and a font engine's glyph cache is not
// shared between threads. The GUI thread's lines go before the application
// object does, with the font database.
class TagTextCache
{
public:
    // Draws the text with its baseline starting at the given point, as
    // drawText(baseline, text) would.
    static void draw(QPainter* painter, const QPointF& baseline, const QString& text,
                     const QFont& font);
    // Where the text inks, relative to the start of its baseline.
    static QRectF ink(const QString& text, const QFont& font);

private:
    struct Line
    {
        QList<QGlyphRun> runs;
        qreal ascent = 0;
        QRectF ink;
    };
    static const Line& line(const QString& text, const QFont& font);
};
