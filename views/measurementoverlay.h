#pragma once

#include "boardmeter.h"

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QLineF>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <bitset>
#include <optional>
#include <vector>

class QPainter;
class StrokesView;

// What the measurements show over the strokes view. The panel: a box of its
// own at the top right, below the top row of tap targets, with the live
// figures, which judge nothing (verdicts come from the board check); and with it,
// where they come from: a circle of its jitter's radius round the last
// still contact, the last straight stroke's fitted line and a faint tint
// over the coverage grid's cells that no contact reached. The tap targets:
// nine crosshairs at 10, 50 and 90 % of the view's width and height, each
// tap that hit one drawn as a line from the target to the tap with its
// length.
//
// Drawn into an image of its own that the view composes over its strokes,
// the panel over the markers as well, and only where it changed: the meter
// is read every ReadMs at most, and only while something is shown.
class MeasurementOverlay : public QObject
{
    Q_OBJECT

public:
    // Four readings a second, a meter's pace: faster, figures change
    // before a person has read them.
    static constexpr int ReadMs = 250;

    // A line of the panel.
    struct Text
    {
        QString text;
        QColor colour;

        bool operator==(const Text& other) const;
    };

    MeasurementOverlay(BoardMeter* meter, StrokesView* view);

    void setPanelShown(bool shown);
    bool panelShown() const { return panel; }
    // Taps are matched against the targets only while they show.
    void setTargetsShown(bool shown);
    bool targetsShown() const { return targets; }
    // How board units land on the view, as the dialog routes contacts.
    void setBoardToView(const QTransform& transform);

    // The targets' centres in view pixels: the middles of the pixels at 10,
    // 50 and 90 % of each side.
    static std::vector<QPointF> targetPoints(const QSize& viewSize);

    // At each frame: reads the meter when due, and has what changed drawn
    // and composed again.
    void refresh();
    // The same now, after the figures changed at once (cleared).
    void redraw();

private:
    // A line or an ellipse, with a label.
    struct Mark
    {
        QLineF line;
        std::optional<QRectF> ellipse;
        QColor colour;
        QString label;

        bool operator==(const Mark& other) const;
    };

    // Everything drawn, in view pixels.
    struct Shapes
    {
        QSize size;
        // Cells whose tint is drawn.
        std::bitset<CoverageGrid::Cells> tinted;
        std::optional<Mark> still;
        std::optional<Mark> straight;
        std::vector<QPointF> targets;
        std::vector<Mark> taps;
        std::vector<Text> panel;
        QRect panelBox;
    };

    Shapes shapesOf(const BoardMeter::Reading& reading) const;
    std::vector<Text> panelText(const BoardMeter::Reading& reading) const;
    QRegion changes(const Shapes& before, const Shapes& after) const;
    QRect markRect(const Mark& mark) const;
    QRect labelRect(const Mark& mark) const;
    static QRect targetRect(const QPointF& target);
    QRect panelRect(const std::vector<Text>& panel, const QSize& viewSize) const;
    // A line of the panel in its box, the whole width.
    QRect lineRect(const QRect& box, std::size_t index) const;
    // Clears the image there and draws what falls into it.
    void render(const QRegion& region);
    void drawMark(QPainter& painter, const Mark& mark) const;
    // The lines that meet the bounds.
    void drawPanel(QPainter& painter, const QRect& bounds) const;
    void placeTargets();

    BoardMeter* meter;
    StrokesView* view;
    bool panel = false;
    bool targets = false;
    QTransform boardToView;
    // The view's size that the meter's targets were placed for.
    QSize targetsFor;
    QImage image;
    Shapes shapes;
    QElapsedTimer sinceRead;
    QFont panelFont;
    QFont labelFont;
};
