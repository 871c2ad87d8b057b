#include "measurementoverlay.h"

#include "overlaypainting.h"
#include "strokesview.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr double TargetFractions[] = {0.1, 0.5, 0.9};
// Half the length of a crosshair's arms.
constexpr int CrossArm = 18;
constexpr int PanelMargin = 12;
constexpr int PanelPadding = 10;
// A still contact's circle is drawn at least this wide, so that it shows
// round the contact's own stroke however small the jitter; its label gives
// the figure.
constexpr double LeastCircleRadius = 24;

// The figures judge nothing: one colour for what is measured, none of
// pass or fail.
const QColor MarkColour(0, 90, 200);
const QColor NoneColour(110, 110, 110);
// Faint on white and on black alike.
const QColor TintColour(255, 140, 0, 36);

QString mm(double value)
{
    return QString::number(value, 'f', 2) + QStringLiteral(" mm");
}

QString rate(const std::optional<double>& value)
{
    return QString::number(*value, 'f', 1) + QStringLiteral("/s");
}

// A figure, or that there is none yet.
MeasurementOverlay::Text figure(const QString& name, bool has, const QString& shown)
{
    if (!has)
        return {name + QStringLiteral(" none yet"), NoneColour};
    return {name + QStringLiteral(" ") + shown, Qt::black};
}

QString sizeText(const BoardMeter::Reading& reading)
{
    if (!reading.size)
        return QStringLiteral("no size: no figure in mm");
    const QString size = QStringLiteral("%1 x %2 mm")
                             .arg(QString::number(reading.size->width, 'f', 0),
                                  QString::number(reading.size->height, 'f', 0));
    switch (reading.sizeSource) {
    case BoardMeter::SizeSource::User:
        return size + QStringLiteral(" from VISUALVIEW_SIZE_MM");
    case BoardMeter::SizeSource::Board:
        return size + QStringLiteral(" from the board");
    case BoardMeter::SizeSource::Screen:
        return size + QStringLiteral(" from the screen");
    case BoardMeter::SizeSource::None:
        break;
    }
    return size;
}

} // namespace

bool MeasurementOverlay::Text::operator==(const Text& other) const
{
    return text == other.text && colour == other.colour;
}

bool MeasurementOverlay::Mark::operator==(const Mark& other) const
{
    return line == other.line && ellipse == other.ellipse && colour == other.colour &&
           label == other.label;
}

MeasurementOverlay::MeasurementOverlay(BoardMeter* meter, StrokesView* view)
    : QObject(view), meter(meter), view(view)
{
    panelFont.setPixelSize(20);
    labelFont.setPixelSize(16);
}

std::vector<QPointF> MeasurementOverlay::targetPoints(const QSize& viewSize)
{
    std::vector<QPointF> points;
    for (const double fy : TargetFractions)
        for (const double fx : TargetFractions)
            points.emplace_back(std::floor(fx * viewSize.width()) + 0.5,
                                std::floor(fy * viewSize.height()) + 0.5);
    return points;
}

void MeasurementOverlay::setPanelShown(bool shown)
{
    panel = shown;
    redraw();
}

void MeasurementOverlay::setTargetsShown(bool shown)
{
    targets = shown;
    redraw();
}

void MeasurementOverlay::setBoardToView(const QTransform& transform)
{
    if (transform == boardToView)
        return;
    boardToView = transform;
    redraw();
}

// Targets, image and what is drawn follow at once, rather than at the next
// read; nothing is left of what was drawn before the overlay was hidden.
void MeasurementOverlay::redraw()
{
    placeTargets();
    if (!panel && !targets) {
        view->setOverlay(nullptr);
        view->setOverlayOnTop(QRect());
        shapes = Shapes();
        return;
    }
    if (view->overlay() != &image) {
        image.fill(Qt::transparent);
        shapes = Shapes();
        view->setOverlay(&image);
    }
    sinceRead.invalidate();
    refresh();
}

// The targets' board units are where the dialog's routing puts a contact
// on the middle of each target's pixel.
void MeasurementOverlay::placeTargets()
{
    std::vector<BoardMeasurement::Point> board;
    targetsFor = targets ? view->size() : QSize();
    if (targets) {
        const QTransform viewToBoard = boardToView.inverted();
        for (const QPointF& point : targetPoints(targetsFor)) {
            const QPointF p = viewToBoard.map(point);
            board.push_back({p.x(), p.y()});
        }
    }
    meter->setTargets(std::move(board));
}

void MeasurementOverlay::refresh()
{
    if (!panel && !targets)
        return;
    if (targets && targetsFor != view->size())
        placeTargets();
    if (image.width() < view->width() || image.height() < view->height()) {
        // The view's images never shrink, nor does this one.
        image = QImage(view->size().expandedTo(image.size()), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        shapes = Shapes();
    } else if (sinceRead.isValid() && sinceRead.elapsed() < ReadMs) {
        return;
    }
    sinceRead.start();
    Shapes next = shapesOf(meter->read());
    const QRegion region = changes(shapes, next);
    shapes = std::move(next);
    view->setOverlayOnTop(shapes.panelBox);
    if (region.isEmpty())
        return;
    render(region);
    view->overlayChanged(region);
}

MeasurementOverlay::Shapes MeasurementOverlay::shapesOf(const BoardMeter::Reading& reading) const
{
    Shapes s;
    s.size = view->size();
    if (panel) {
        for (int cell = 0; cell < CoverageGrid::Cells; ++cell)
            s.tinted[std::size_t(cell)] = !reading.coverage.reached(cell % CoverageGrid::Columns,
                                                                    cell / CoverageGrid::Columns);
        if (reading.still) {
            const auto& still = *reading.still;
            const QPointF centre = boardToView.map(QPointF(still.mean.x, still.mean.y));
            double rx = still.radiusX * std::abs(boardToView.m11());
            double ry = still.radiusY * std::abs(boardToView.m22());
            // Both by one factor: a circle in millimetres stays one.
            const double least = std::min(rx, ry);
            if (least <= 0) {
                rx = ry = LeastCircleRadius;
            } else if (least < LeastCircleRadius) {
                rx *= LeastCircleRadius / least;
                ry *= LeastCircleRadius / least;
            }
            Mark mark;
            mark.line = QLineF(centre, centre + QPointF(rx, ry));
            mark.ellipse = QRectF(centre - QPointF(rx, ry), centre + QPointF(rx, ry));
            mark.colour = MarkColour;
            mark.label = QStringLiteral("jitter ") + mm(still.jitter);
            s.still = mark;
        }
        if (reading.straight) {
            const auto& straight = *reading.straight;
            Mark mark;
            mark.line = QLineF(boardToView.map(QPointF(straight.from.x, straight.from.y)),
                               boardToView.map(QPointF(straight.to.x, straight.to.y)));
            mark.colour = MarkColour;
            mark.label = QStringLiteral("straightness ") + mm(straight.straightness);
            s.straight = mark;
        }
        s.panel = panelText(reading);
        s.panelBox = panelRect(s.panel, s.size);
    }
    if (targets) {
        s.targets = targetPoints(view->size());
        for (const BoardMeasurement::Tap& tap : reading.taps) {
            if (tap.target >= reading.targets.size() || !reading.size)
                continue;
            const BoardMeasurement::Point& target = reading.targets[tap.target];
            const double unitsX = ContactReport::BoardUnits / reading.size->width;
            const double unitsY = ContactReport::BoardUnits / reading.size->height;
            Mark mark;
            mark.line = QLineF(
                boardToView.map(QPointF(target.x, target.y)),
                boardToView.map(QPointF(target.x + tap.dx * unitsX, target.y + tap.dy * unitsY)));
            mark.colour = MarkColour;
            mark.label = mm(tap.offset);
            s.taps.push_back(mark);
        }
    }
    return s;
}

std::vector<MeasurementOverlay::Text>
MeasurementOverlay::panelText(const BoardMeter::Reading& reading) const
{
    const BoardMeasurement::Figures& f = reading.figures;
    std::vector<Text> lines;
    const QColor plain = Qt::black;
    lines.push_back({QStringLiteral("Measurements: what the board did; verdicts come from the "
                                    "board check (K)"),
                     plain});
    if (reading.boards == 1)
        lines.push_back({QStringLiteral("board ") + reading.board, plain});
    else if (reading.boards == 0)
        lines.push_back({QStringLiteral("no board"), NoneColour});
    else
        lines.push_back(
            {QStringLiteral("%1 boards, measured together%2")
                 .arg(reading.boards)
                 .arg(reading.sizesDiffer ? QStringLiteral(" as one size, though theirs differ")
                                          : QString()),
             plain});
    lines.push_back({sizeText(reading), reading.size ? plain : NoneColour});
    QString contacts =
        QStringLiteral("contacts now %1, most at once %2").arg(f.downNow).arg(f.mostAtOnce);
    if (reading.boards == 1)
        contacts += QStringLiteral(" (declared: %1 pens, %2 touches)")
                        .arg(reading.declaredPens)
                        .arg(reading.declaredTouches);
    lines.push_back({contacts, plain});

    for (const auto& [kind, name] :
         {std::pair(ContactReport::Pen, "pen rate"), std::pair(ContactReport::Touch, "touch rate"),
          std::pair(ContactReport::Eraser, "eraser rate")}) {
        const ReportRates::Rate& r = f.rates[std::size_t(kind)];
        lines.push_back(
            figure(QLatin1String(name), r.rate.has_value(),
                   r.rate ? rate(r.rate) + QStringLiteral(", lowest contact ") + rate(r.lowest)
                          : QString()));
    }
    const auto frames = [&](ContactReport::Kind kind) {
        const auto& r = f.frameRates[std::size_t(kind)];
        return r ? QString::number(*r, 'f', 1) : QStringLiteral("none yet");
    };
    lines.push_back({QStringLiteral("packets a second: pen %1, touch %2, eraser %3")
                         .arg(frames(ContactReport::Pen), frames(ContactReport::Touch),
                              frames(ContactReport::Eraser)),
                     plain});

    const auto& still = reading.still;
    lines.push_back(figure(QStringLiteral("jitter of the last still contact"), still.has_value(),
                           still ? QStringLiteral("%1, %2 s and %3 reports after its first %4 s")
                                       .arg(mm(still->jitter))
                                       .arg(still->lengthMs / 1000, 0, 'f', 1)
                                       .arg(still->reports)
                                       .arg(BoardMeasurement::SettleMs / 1000)
                                 : QString()));
    lines.push_back(figure(QStringLiteral("straightness of the last straight stroke"),
                           reading.straight.has_value(),
                           reading.straight ? mm(reading.straight->straightness) : QString()));
    lines.push_back({QStringLiteral("coverage %1 % of the board")
                         .arg(QString::number(f.coverage * 100, 'f', 0)),
                     plain});
    lines.push_back(figure(QStringLiteral("tap offsets"), f.largestOffset.has_value(),
                           f.largestOffset ? QStringLiteral("largest %1, mean %2 of %3 taps")
                                                 .arg(mm(*f.largestOffset), mm(*f.meanOffset))
                                                 .arg(f.taps)
                                           : QString()));
    return lines;
}

QRect MeasurementOverlay::labelRect(const Mark& mark) const
{
    const QFontMetrics metrics(labelFont);
    const QSize size(metrics.horizontalAdvance(mark.label) + 8, metrics.height() + 4);
    const QPointF anchor = mark.ellipse ? mark.ellipse->bottomRight() : mark.line.p2();
    QRect rect((anchor + QPointF(6, 6)).toPoint(), size);
    // Kept on the view: a stroke ends at its edge as often as not.
    rect.moveRight(std::min(rect.right(), view->width() - 1));
    rect.moveBottom(std::min(rect.bottom(), view->height() - 1));
    return rect;
}

QRect MeasurementOverlay::markRect(const Mark& mark) const
{
    const QRectF shape =
        mark.ellipse ? *mark.ellipse : QRectF(mark.line.p1(), mark.line.p2()).normalized();
    return shape.toAlignedRect()
        .adjusted(-4, -4, 4, 4)
        .united(labelRect(mark).adjusted(0, 0, 1, 1));
}

QRect MeasurementOverlay::targetRect(const QPointF& target)
{
    const QPoint centre(int(target.x()), int(target.y()));
    return QRect(centre - QPoint(CrossArm + 3, CrossArm + 3),
                 centre + QPoint(CrossArm + 3, CrossArm + 3));
}

// Below the top row of tap targets, whether they show or not: the panel
// hides none of them and stays where it was when T shows them.
QRect MeasurementOverlay::lineRect(const QRect& box, std::size_t index) const
{
    const int height = QFontMetrics(panelFont).height();
    return QRect(box.left(), box.top() + PanelPadding + int(index) * height, box.width(), height);
}

QRect MeasurementOverlay::panelRect(const std::vector<Text>& lines, const QSize& viewSize) const
{
    const QFontMetrics metrics(panelFont);
    int width = 0;
    for (const Text& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line.text));
    const QSize size(width + 2 * PanelPadding,
                     int(lines.size()) * metrics.height() + 2 * PanelPadding);
    const int top = targetRect(targetPoints(viewSize).front()).bottom() + PanelMargin;
    return QRect(QPoint(viewSize.width() - PanelMargin - size.width(), top), size);
}

// Each part that differs adds where it was and where it is.
QRegion MeasurementOverlay::changes(const Shapes& before, const Shapes& after) const
{
    if (before.size != after.size)
        return QRegion(QRect(QPoint(), after.size.expandedTo(before.size)));
    QRegion region;
    const auto mark = [&](const std::optional<Mark>& a, const std::optional<Mark>& b) {
        if (a == b)
            return;
        if (a)
            region += markRect(*a);
        if (b)
            region += markRect(*b);
    };
    region += OverlayPainting::cellsChanged(before.tinted, after.tinted, boardToView);
    mark(before.still, after.still);
    mark(before.straight, after.straight);
    if (before.targets != after.targets || before.taps != after.taps) {
        for (const Shapes* s : {&before, &after}) {
            for (const QPointF& target : s->targets)
                region += targetRect(target);
            for (const Mark& tap : s->taps)
                region += markRect(tap);
        }
    }
    // A figure that changes redraws its line, not the whole panel.
    if (before.panelBox != after.panelBox) {
        region += before.panelBox;
        region += after.panelBox;
    } else {
        for (std::size_t line = 0; line < after.panel.size(); ++line)
            if (!(before.panel[line] == after.panel[line]))
                region += lineRect(after.panelBox, line);
    }
    return region;
}

void MeasurementOverlay::render(const QRegion& region)
{
    QPainter painter(&image);
    OverlayPainting::clear(painter, region);
    const QRect bounds = region.boundingRect();
    OverlayPainting::tint(painter, shapes.tinted, boardToView, bounds, TintColour);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const QPointF& target : shapes.targets) {
        if (!targetRect(target).intersects(bounds))
            continue;
        // White inside black: the cross shows on black and on white, and
        // apart from the shape field's thin black ones.
        for (const auto& pen : {QPen(Qt::black, 5), QPen(Qt::white, 3)}) {
            painter.setPen(pen);
            painter.drawLine(target - QPointF(CrossArm, 0), target + QPointF(CrossArm, 0));
            painter.drawLine(target - QPointF(0, CrossArm), target + QPointF(0, CrossArm));
        }
    }
    for (const Mark& tap : shapes.taps)
        drawMark(painter, tap);
    if (shapes.still)
        drawMark(painter, *shapes.still);
    if (shapes.straight)
        drawMark(painter, *shapes.straight);
    if (shapes.panelBox.intersects(bounds))
        drawPanel(painter, bounds);
}

void MeasurementOverlay::drawMark(QPainter& painter, const Mark& mark) const
{
    OverlayPainting::outlined(painter, mark.colour, 2, [&] {
        if (mark.ellipse)
            painter.drawEllipse(*mark.ellipse);
        else
            painter.drawLine(mark.line);
    });
    OverlayPainting::label(painter, labelRect(mark), labelFont, mark.colour, mark.label);
}

// Opaque white with a black border: it reads over every background.
void MeasurementOverlay::drawPanel(QPainter& painter, const QRect& bounds) const
{
    const QRect& box = shapes.panelBox;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(Qt::white);
    painter.drawRect(box.adjusted(1, 1, -1, -1));
    painter.setFont(panelFont);
    const QFontMetrics metrics(panelFont);
    for (std::size_t index = 0; index < shapes.panel.size(); ++index) {
        const QRect line = lineRect(box, index);
        if (!line.intersects(bounds))
            continue;
        painter.setPen(shapes.panel[index].colour);
        painter.drawText(QPoint(line.left() + PanelPadding, line.top() + metrics.ascent()),
                         shapes.panel[index].text);
    }
}
