#include "measurementoverlay.h"

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

const QColor PassColour(0, 140, 0);
const QColor FailColour(210, 0, 0);
const QColor NoneColour(110, 110, 110);
// Faint on white and on black alike.
const QColor TintColour(255, 140, 0, 36);

QColor verdictColour(MeasureLimits::Verdict verdict)
{
    switch (verdict) {
    case MeasureLimits::Verdict::Pass:
        return PassColour;
    case MeasureLimits::Verdict::Fail:
        return FailColour;
    case MeasureLimits::Verdict::None:
        break;
    }
    return NoneColour;
}

QString mm(double value)
{
    return QString::number(value, 'f', 2) + QStringLiteral(" mm");
}

QString limit(double value, const char* unit)
{
    return QString::number(value) + QLatin1String(unit);
}

// A figure judged against its limit, or what there is not yet.
MeasurementOverlay::Text judged(const QString& name, const std::optional<double>& value,
                                MeasureLimits::Verdict verdict, const QString& shown,
                                const QString& bound)
{
    if (!value)
        return {name + QStringLiteral(": none yet"), NoneColour};
    return {name + QStringLiteral(" ") + shown + QStringLiteral(" (") + bound + QStringLiteral(")"),
            verdictColour(verdict)};
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

// Reads on every background, black, white, a stroke of its own colour or
// the colour field: the colour inside a white rim inside a black one.
void outlined(QPainter& painter, const QColor& colour, const std::function<void()>& draw)
{
    painter.setBrush(Qt::NoBrush);
    for (const auto& [rim, width] :
         {std::pair<QColor, int>(Qt::black, 6), {Qt::white, 4}, {colour, 2}}) {
        painter.setPen(QPen(rim, width, Qt::SolidLine, Qt::RoundCap));
        draw();
    }
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
            mark.colour = verdictColour(MeasureLimits::atMost(still.jitter, reading.limits.jitter));
            mark.label = QStringLiteral("jitter ") + mm(still.jitter);
            s.still = mark;
        }
        if (reading.straight) {
            const auto& straight = *reading.straight;
            Mark mark;
            mark.line = QLineF(boardToView.map(QPointF(straight.from.x, straight.from.y)),
                               boardToView.map(QPointF(straight.to.x, straight.to.y)));
            mark.colour = verdictColour(
                MeasureLimits::atMost(straight.straightness, reading.limits.straightness));
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
            mark.colour = verdictColour(MeasureLimits::atMost(tap.offset, reading.limits.accuracy));
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
    const MeasureLimits& limits = reading.limits;
    std::vector<Text> lines;
    const QColor plain = Qt::black;
    lines.push_back({QStringLiteral("Measurements"), plain});
    if (reading.boards == 1)
        lines.push_back({QStringLiteral("board ") + reading.board, plain});
    else if (reading.boards == 0)
        lines.push_back({QStringLiteral("no board"), NoneColour});
    else
        lines.push_back(
            {QStringLiteral("%1 boards, measured together").arg(reading.boards), plain});
    lines.push_back({sizeText(reading), reading.size ? plain : NoneColour});
    QString contacts =
        QStringLiteral("contacts now %1, most at once %2").arg(f.downNow).arg(f.mostAtOnce);
    if (reading.boards == 1)
        contacts += QStringLiteral(" (declared: %1 pens, %2 touches)")
                        .arg(reading.declaredPens)
                        .arg(reading.declaredTouches);
    lines.push_back({contacts, plain});

    lines.push_back(
        judged(QStringLiteral("pen rate"), f.penRate.value, f.penRate.verdict,
               f.penRate.value ? QString::number(*f.penRate.value, 'f', 1) + "/s" : QString(),
               QStringLiteral("at least ") + limit(limits.penRate, "/s")));
    // In the words of the judged figures above.
    const auto rate = [&](ContactReport::Kind kind) {
        const auto& r = f.rates[std::size_t(kind)].rate;
        return r ? QStringLiteral(" ") + QString::number(*r, 'f', 1) + QStringLiteral("/s")
                 : QStringLiteral(": none yet");
    };
    lines.push_back({QStringLiteral("touch rate%1, eraser rate%2")
                         .arg(rate(ContactReport::Touch), rate(ContactReport::Eraser)),
                     plain});
    const auto frames = [&](ContactReport::Kind kind) {
        const auto& r = f.frameRates[std::size_t(kind)];
        return r ? QString::number(*r, 'f', 1) : QStringLiteral("none yet");
    };
    lines.push_back({QStringLiteral("packets a second: pen %1, touch %2, eraser %3")
                         .arg(frames(ContactReport::Pen), frames(ContactReport::Touch),
                              frames(ContactReport::Eraser)),
                     plain});

    const std::optional<double> jitter =
        reading.still ? std::optional<double>(reading.still->jitter) : std::nullopt;
    lines.push_back(judged(QStringLiteral("jitter of the last still contact"), jitter,
                           MeasureLimits::atMost(jitter, limits.jitter),
                           jitter ? mm(*jitter) : QString(),
                           QStringLiteral("at most ") + limit(limits.jitter, " mm")));
    const std::optional<double> straightness =
        reading.straight ? std::optional<double>(reading.straight->straightness) : std::nullopt;
    lines.push_back(judged(QStringLiteral("straightness of the last straight stroke"), straightness,
                           MeasureLimits::atMost(straightness, limits.straightness),
                           straightness ? mm(*straightness) : QString(),
                           QStringLiteral("at most ") + limit(limits.straightness, " mm")));
    lines.push_back({QStringLiteral("coverage %1 % of the board")
                         .arg(QString::number(f.coverage * 100, 'f', 0)),
                     plain});

    const QString accuracy = QStringLiteral("at most ") + limit(limits.accuracy, " mm");
    lines.push_back(judged(QStringLiteral("largest tap offset"), f.accuracy.value,
                           f.accuracy.verdict, f.accuracy.value ? mm(*f.accuracy.value) : QString(),
                           accuracy));
    lines.push_back(judged(
        QStringLiteral("mean tap offset"), f.meanOffset,
        MeasureLimits::atMost(f.meanOffset, limits.accuracy),
        f.meanOffset ? mm(*f.meanOffset) + QStringLiteral(" of %1 taps").arg(f.taps) : QString(),
        accuracy));
    return lines;
}

QRect MeasurementOverlay::cellRect(int cell) const
{
    const int column = cell % CoverageGrid::Columns;
    const int row = cell / CoverageGrid::Columns;
    const QRectF board(QPointF(CoverageGrid::left(column), CoverageGrid::top(row)),
                       QPointF(CoverageGrid::right(column), CoverageGrid::bottom(row)));
    // Whole pixels, so that neighbours neither overlap nor leave a gap.
    const QRectF r = boardToView.mapRect(board);
    return QRect(QPoint(int(std::lround(r.left())), int(std::lround(r.top()))),
                 QPoint(int(std::lround(r.right())) - 1, int(std::lround(r.bottom())) - 1));
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
    if (before.tinted != after.tinted) {
        std::vector<QRect> cells;
        for (int cell = 0; cell < CoverageGrid::Cells; ++cell)
            if (before.tinted[std::size_t(cell)] != after.tinted[std::size_t(cell)])
                cells.push_back(cellRect(cell));
        region += ItemView::unite(cells);
    }
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
    painter.setClipRegion(region);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(region.boundingRect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const QRect bounds = region.boundingRect();
    for (int cell = 0; cell < CoverageGrid::Cells; ++cell) {
        if (!shapes.tinted[std::size_t(cell)])
            continue;
        const QRect r = cellRect(cell);
        if (r.intersects(bounds))
            painter.fillRect(r, TintColour);
    }
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
    outlined(painter, mark.colour, [&] {
        if (mark.ellipse)
            painter.drawEllipse(*mark.ellipse);
        else
            painter.drawLine(mark.line);
    });
    const QRect label = labelRect(mark);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(label);
    painter.setFont(labelFont);
    painter.setPen(mark.colour);
    painter.drawText(label, Qt::AlignCenter, mark.label);
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
