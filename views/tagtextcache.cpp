#include "tagtextcache.h"

#include <QCoreApplication>
#include <QHash>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>
#include <QThread>
#include <QThreadStorage>

#include <optional>

namespace {

// A bound that the tags of a whole screen never reach (a position line per
// pixel column and row, and a few ids and radii), so that the lines stay
// found, yet memory stays bounded.
constexpr int MostLines = 8192;

template <typename Line> struct Lines
{
    std::optional<QFont> font;
    QHash<QString, Line> byText;
};

} // namespace

const TagTextCache::Line& TagTextCache::line(const QString& text, const QFont& font)
{
    // Qt's per-thread storage, which Qt empties as a thread of its own
    // finishes: a thread_local object built with mingw-w64 is destroyed only
    // as Windows tears the thread down, and releasing glyph runs that late
    // corrupted the heap (the program hung at exit).
    static QThreadStorage<Lines<Line>> perThread;
    Lines<Line>& lines = perThread.localData();
    thread_local bool forgetAtExit = false;
    if (!forgetAtExit && QCoreApplication::instance() &&
        QThread::currentThread() == QCoreApplication::instance()->thread()) {
        qAddPostRoutine([] { perThread.localData() = Lines<Line>(); });
        forgetAtExit = true;
    }
    if (lines.font != font || lines.byText.size() >= MostLines) {
        lines.byText.clear();
        lines.font = font;
    }
    auto found = lines.byText.find(text);
    if (found == lines.byText.end()) {
        QTextLayout layout(text, font);
        layout.beginLayout();
        const QTextLine textLine = layout.createLine();
        layout.endLayout();
        Line laidOut{layout.glyphRuns(), textLine.ascent(), QRectF()};
        // The glyphs' own boxes: a run's box is the whole line's height.
        for (const QGlyphRun& run : laidOut.runs) {
            const QRawFont font = run.rawFont();
            const QVector<quint32> glyphs = run.glyphIndexes();
            const QVector<QPointF> positions = run.positions();
            for (int i = 0; i < glyphs.size(); ++i)
                laidOut.ink |= font.boundingRect(glyphs.at(i))
                                   .translated(positions.at(i) - QPointF(0, laidOut.ascent));
        }
        found = lines.byText.insert(text, laidOut);
    }
    return *found;
}

void TagTextCache::draw(QPainter* painter, const QPointF& baseline, const QString& text,
                        const QFont& font)
{
    const Line& kept = line(text, font);
    const QPointF topLeft = baseline - QPointF(0, kept.ascent);
    for (const QGlyphRun& run : kept.runs)
        painter->drawGlyphRun(topLeft, run);
}

QRectF TagTextCache::ink(const QString& text, const QFont& font)
{
    return line(text, font).ink;
}
