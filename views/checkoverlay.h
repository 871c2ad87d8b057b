#pragma once

#include "boardchecker.h"
#include "textbox.h"

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QLineF>
#include <QObject>
#include <QPointF>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <array>
#include <bitset>
#include <optional>
#include <utility>
#include <vector>

class QPainter;
class StrokesView;

// What the board check shows over the strokes view. While it runs: a box
// with the step, its instruction, its progress, the verdict of the step that
// ended last and the last thing said of a contact, where it hides nothing
// the step needs; the target to tap, the circle to hold on or the line to
// draw; a tint over the cells left to sweep. At its end, the report: each
// step's verdict with its figures and limits in green, red or grey, the
// board's verdict, each step's worst place marked on the board, and where
// the check was saved. Besides, a notice for a while when it cannot start.
//
// Drawn, as the measurement panel is, into an image of its own that the
// view composes over its strokes, the box over the markers too, and only
// where something changed. The two never show at once: the dialog hides
// the panel while this shows.
class CheckOverlay : public QObject
{
    Q_OBJECT

public:
    // The check is read ten times a second: a step's end shows at once, and
    // a hold's seconds count smoothly.
    static constexpr int ReadMs = 100;
    static constexpr int NoticeMs = 6000;

    enum class Mode
    {
        Hidden,
        Notice,
        Steps,
        Report
    };

    CheckOverlay(BoardChecker* checker, StrokesView* view);

    Mode mode() const { return shown; }
    // How board units land on the view, as the dialog routes contacts.
    void setBoardToView(const QTransform& transform);

    void showNotice(const QString& text);
    // The check under way, read from the checker.
    void showSteps();
    // A check that ended; saved says where it was saved, or why it was not.
    void showReport(const BoardChecker::Outcome& outcome, const QString& saved, bool savedOk);
    void hide();
    // At each frame: reads the check when due, ends a notice whose time is
    // up, and has what changed drawn and composed again.
    void refresh();

signals:
    // It drew last and no longer does: the view's overlay is free.
    void hidden();

private:
    using Style = TextBox::Style;
    using Line = TextBox::Line;

    struct Mark
    {
        enum class Kind
        {
            Cross,
            Circle,
            Segment,
            Spot
        };
        Kind kind = Kind::Cross;
        QLineF line;
        QColor colour;
        QString label;

        bool operator==(const Mark& other) const;
    };

    // Everything drawn, in view pixels.
    struct Shapes
    {
        QSize size;
        std::bitset<CoverageGrid::Cells> tinted;
        std::vector<Mark> marks;
        std::vector<Line> lines;
        QRect box;
        // Which of the places a box can take it has.
        int place = 0;
    };

    void show(Mode mode);
    // A reading of the check under way: what its events said, and it.
    void take(BoardChecker::Reading next);
    // The box's lines and marks of what shows now.
    Shapes shapesNow() const;
    void stepShapes(Shapes& s) const;
    void reportShapes(Shapes& s) const;
    QPointF viewPoint(const BoardCheck::Board& board, const BoardCheck::Point& mm) const;
    // Of the places a box can take, the first that hides least of what
    // the marks and tinted cells show; the one it has while it hides none.
    void placeBox(Shapes& s, const QSize& size) const;
    QRegion changes(const Shapes& before, const Shapes& after) const;
    QRect markRect(const Mark& mark) const;
    QRect labelRect(const Mark& mark) const;
    // Draws what falls into the region, cleared first.
    void render(const QRegion& region);
    void drawMark(QPainter& painter, const Mark& mark) const;

    BoardChecker* checker;
    StrokesView* view;
    Mode shown = Mode::Hidden;
    QTransform boardToView;
    QImage image;
    Shapes shapes;
    // Whether what shows changed since it was drawn.
    bool stale = false;
    QElapsedTimer sinceRead;
    QElapsedTimer sinceNotice;

    // What the box says.
    QString notice;
    BoardChecker::Reading reading;
    QString lastVerdict;
    QColor lastVerdictColour;
    QString lastNote;
    // The report's.
    std::optional<BoardCheck> ended;
    CheckReport::Identity endedBoard;
    QString sizeFrom;
    QString saved;
    bool savedOk = false;
};
