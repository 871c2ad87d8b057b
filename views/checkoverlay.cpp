#include "checkoverlay.h"

#include "boardpackets.h"
#include "decimaltext.h"
#include "itemview.h"
#include "overlaypainting.h"
#include "strokesview.h"
#include "textbox.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr int Margin = 24;
// The box of the steps keeps its width, so that it does not shift as its
// texts change.
constexpr int StepsBoxWidth = 960;
constexpr int CrossArm = 22;
constexpr int HoldRadius = 44;
constexpr int EndRadius = 7;
constexpr int SpotRadius = 14;
// What hiding a mark costs against hiding a tinted cell.
constexpr int MarkCost = 1000;

const QColor PassColour(0, 140, 0);
const QColor FailColour(210, 0, 0);
const QColor OtherColour(110, 110, 110);
const QColor ProgressColour(0, 70, 170);
const QColor MarkColour(0, 90, 255);
// Plain on white and on black alike, and plainer than the measurement
// panel's: these are the cells the tester must still reach.
const QColor TintColour(255, 140, 0, 90);

QColor colourOf(BoardCheck::Verdict verdict)
{
    switch (verdict) {
    case BoardCheck::Verdict::Pass:
        return PassColour;
    case BoardCheck::Verdict::Fail:
        return FailColour;
    default:
        return OtherColour;
    }
}

QColor colourOf(BoardCheck::BoardVerdict verdict)
{
    switch (verdict) {
    case BoardCheck::BoardVerdict::Pass:
        return PassColour;
    case BoardCheck::BoardVerdict::Fail:
        return FailColour;
    case BoardCheck::BoardVerdict::Incomplete:
        break;
    }
    return OtherColour;
}

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

QString millimetres(double value)
{
    return QString::fromStdString(decimalText(value));
}

// Whether a drawn line passes through the rectangle.
bool crosses(const QLineF& line, const QRectF& rect)
{
    if (rect.contains(line.p1()) || rect.contains(line.p2()))
        return true;
    const QLineF sides[] = {{rect.topLeft(), rect.topRight()},
                            {rect.topRight(), rect.bottomRight()},
                            {rect.bottomRight(), rect.bottomLeft()},
                            {rect.bottomLeft(), rect.topLeft()}};
    return std::any_of(std::begin(sides), std::end(sides), [&](const QLineF& side) {
        return line.intersects(side, nullptr) == QLineF::BoundedIntersection;
    });
}

} // namespace

bool CheckOverlay::Mark::operator==(const Mark& other) const
{
    return kind == other.kind && line == other.line && colour == other.colour &&
           label == other.label;
}

CheckOverlay::CheckOverlay(BoardChecker* checker, StrokesView* view)
    : QObject(view), checker(checker), view(view)
{
}

void CheckOverlay::setBoardToView(const QTransform& transform)
{
    if (transform == boardToView)
        return;
    boardToView = transform;
    stale = true;
}

void CheckOverlay::showNotice(const QString& text)
{
    notice = text;
    sinceNotice.start();
    show(Mode::Notice);
}

void CheckOverlay::showSteps()
{
    reading = {};
    lastVerdict.clear();
    lastNote.clear();
    show(Mode::Steps);
}

void CheckOverlay::showReport(const BoardChecker::Outcome& outcome, const QString& where,
                              bool whereSaved)
{
    ended = outcome.check;
    endedBoard = outcome.board;
    sizeFrom = outcome.sizeFrom;
    saved = where;
    savedOk = whereSaved;
    show(Mode::Report);
}

void CheckOverlay::show(Mode mode)
{
    shown = mode;
    if (view->overlay() != &image) {
        image = QImage();
        shapes = Shapes();
        view->setOverlay(&image);
    }
    stale = true;
    sinceRead.invalidate();
    refresh();
}

void CheckOverlay::hide()
{
    if (shown == Mode::Hidden)
        return;
    shown = Mode::Hidden;
    ended.reset();
    view->setOverlay(nullptr);
    view->setOverlayOnTop(QRect());
    shapes = Shapes();
    emit hidden();
}

void CheckOverlay::refresh()
{
    if (shown == Mode::Hidden)
        return;
    if (shown == Mode::Notice && sinceNotice.elapsed() >= NoticeMs) {
        hide();
        return;
    }
    if (image.width() < view->width() || image.height() < view->height()) {
        // The view's images never shrink, nor does this one.
        image = QImage(view->size().expandedTo(image.size()), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        shapes = Shapes();
        stale = true;
    }
    if (shown == Mode::Steps && (!sinceRead.isValid() || sinceRead.elapsed() >= ReadMs)) {
        sinceRead.start();
        take(checker->read());
    }
    if (!stale && shapes.size == view->size())
        return;
    stale = false;
    Shapes next = shapesNow();
    const QRegion region = changes(shapes, next);
    shapes = std::move(next);
    view->setOverlayOnTop(shapes.box);
    if (region.isEmpty())
        return;
    render(region);
    view->overlayChanged(region);
}

void CheckOverlay::take(BoardChecker::Reading next)
{
    for (const BoardCheck::Event& event : next.events) {
        switch (event.kind) {
        case BoardCheck::Event::Kind::Began:
            lastNote.clear();
            break;
        case BoardCheck::Event::Kind::Note:
            lastNote = text(event.text);
            break;
        case BoardCheck::Event::Kind::Ended:
            lastVerdict = QStringLiteral("%1: %2 %3")
                              .arg(QLatin1String(BoardCheck::name(event.step)),
                                   text(CheckReport::shout(event.verdict)), text(event.text));
            lastVerdictColour = colourOf(event.verdict);
            break;
        }
    }
    next.events.clear();
    reading = std::move(next);
    stale = true;
}

QPointF CheckOverlay::viewPoint(const BoardCheck::Board& board, const BoardCheck::Point& mm) const
{
    return boardToView.map(QPointF(mm.xMm * ContactReport::BoardUnits / board.widthMm,
                                   mm.yMm * ContactReport::BoardUnits / board.heightMm));
}

CheckOverlay::Shapes CheckOverlay::shapesNow() const
{
    Shapes s;
    s.size = view->size();
    int boxWidth = 0;
    switch (shown) {
    case Mode::Hidden:
        return s;
    case Mode::Notice:
        s.lines = {{{QStringLiteral("Board check")}, Qt::black, Style::Title},
                   {{notice}, Qt::black, Style::Plain}};
        break;
    case Mode::Steps:
        stepShapes(s);
        boxWidth = std::min(StepsBoxWidth, s.size.width() - 2 * Margin);
        break;
    case Mode::Report:
        reportShapes(s);
        break;
    }
    const int widest =
        (boxWidth > 0 ? boxWidth : s.size.width() - 2 * Margin) - 2 * TextBox::Padding;
    s.lines = TextBox::wrapped(s.lines, widest);
    QSize size = TextBox::size(s.lines);
    if (boxWidth > 0)
        size.setWidth(boxWidth);
    size.setWidth(std::min(size.width(), s.size.width() - 2 * Margin));
    placeBox(s, size);
    return s;
}

void CheckOverlay::stepShapes(Shapes& s) const
{
    const BoardChecker::Reading& r = reading;
    s.lines.push_back({{QStringLiteral("Board check, step %1 of %2: %3")
                            .arg(int(r.step) + 1)
                            .arg(BoardCheck::Steps)
                            .arg(QLatin1String(BoardCheck::name(r.step)))},
                       Qt::black,
                       Style::Title});
    s.lines.push_back({{r.instruction}, Qt::black, Style::Plain});
    s.lines.push_back({{r.progress}, ProgressColour, Style::Plain});
    if (!lastVerdict.isEmpty())
        s.lines.push_back({{lastVerdict}, lastVerdictColour, Style::Plain});
    if (!lastNote.isEmpty())
        s.lines.push_back({{lastNote}, OtherColour, Style::Small});
    // A wrong size makes every figure in mm wrong: it shows from the start.
    s.lines.push_back(
        {{QStringLiteral("Board %1 x %2 mm %3. N skips this step; K leaves the check "
                         "and saves nothing.")
              .arg(millimetres(r.board.widthMm), millimetres(r.board.heightMm), r.sizeFrom)},
         OtherColour,
         Style::Small});
    if (!r.running)
        return;
    if (r.target)
        s.marks.push_back(
            {r.step == BoardCheck::Step::Hold ? Mark::Kind::Circle : Mark::Kind::Cross,
             QLineF(viewPoint(r.board, *r.target), viewPoint(r.board, *r.target)),
             MarkColour,
             {}});
    if (r.line)
        s.marks.push_back(
            {Mark::Kind::Segment,
             QLineF(viewPoint(r.board, r.line->first), viewPoint(r.board, r.line->second)),
             MarkColour,
             {}});
    if (r.step == BoardCheck::Step::Sweep)
        s.tinted = ~r.swept;
}

void CheckOverlay::reportShapes(Shapes& s) const
{
    const BoardCheck& check = *ended;
    const BoardCheck::Board& b = check.board();
    const QByteArray description = QByteArray::fromStdString(endedBoard.description);
    QString board = QString::fromLatin1(BoardPackets::tagValue(description, "hid"));
    if (endedBoard.device)
        board += QStringLiteral(" (device %1)").arg(*endedBoard.device);
    s.lines.push_back(
        {{QStringLiteral("Board check: %1").arg(text(CheckReport::shout(check.verdict())))},
         colourOf(check.verdict()),
         Style::Title});
    s.lines.push_back(
        {{QStringLiteral("Board %1, %2 x %3 mm %4 (declared: %5 pens, %6 touches)")
              .arg(board.trimmed(), millimetres(b.widthMm), millimetres(b.heightMm), sizeFrom)
              .arg(b.pens)
              .arg(b.touches)},
         Qt::black,
         Style::Plain});
    bool worst = false;
    bool tinted = false;
    for (const BoardCheck::Result& r : check.results()) {
        const QString name = QLatin1String(BoardCheck::name(r.step));
        s.lines.push_back(
            {{name, text(CheckReport::shout(r.verdict)), text(CheckReport::figures(r))},
             colourOf(r.verdict),
             Style::Plain});
        if (r.worst) {
            worst = true;
            s.marks.push_back({Mark::Kind::Spot,
                               QLineF(viewPoint(b, {r.worst->xMm, r.worst->yMm}),
                                      viewPoint(b, {r.worst->xMm, r.worst->yMm})),
                               colourOf(r.verdict), name});
        }
        if (r.step == BoardCheck::Step::Sweep && r.sweepBegun) {
            for (const auto& [column, row] : r.cellsNotReached) {
                s.tinted[std::size_t(row * CoverageGrid::Columns + column)] = true;
                tinted = true;
            }
        }
    }
    QString marked;
    if (worst)
        marked = QStringLiteral("A circle marks each step's worst place, in the colour of its "
                                "verdict.");
    if (tinted)
        marked += QStringLiteral(" The tint marks the cells that the sweep did not reach.");
    if (!marked.isEmpty())
        s.lines.push_back({{marked.trimmed()}, OtherColour, Style::Small});
    s.lines.push_back({{saved}, savedOk ? Qt::black : FailColour, Style::Plain});
    s.lines.push_back({{QStringLiteral("K closes the report.")}, OtherColour, Style::Small});
}

void CheckOverlay::placeBox(Shapes& s, const QSize& size) const
{
    const int w = size.width();
    const int h = size.height();
    const int left = Margin;
    const int centre = (s.size.width() - w) / 2;
    const int right = s.size.width() - Margin - w;
    const int top = Margin;
    const int middle = (s.size.height() - h) / 2;
    const int bottom = s.size.height() - Margin - h;
    // The steps' box is best out of the way at the top, the report's in the
    // middle.
    std::vector<QPoint> places = {{centre, top},  {centre, bottom}, {left, top},
                                  {right, top},   {left, bottom},   {right, bottom},
                                  {left, middle}, {right, middle},  {centre, middle}};
    if (shown == Mode::Report)
        std::rotate(places.begin(), places.end() - 1, places.end());
    const auto cost = [&](const QRect& box) {
        int hidden = 0;
        for (const Mark& mark : s.marks) {
            const bool hides = mark.kind == Mark::Kind::Segment
                                   ? crosses(mark.line, QRectF(box).adjusted(-8, -8, 8, 8))
                                   : markRect(mark).intersects(box);
            hidden += hides ? MarkCost : 0;
        }
        for (int cell = 0; cell < CoverageGrid::Cells; ++cell)
            hidden += s.tinted[std::size_t(cell)] &&
                              OverlayPainting::cellRect(boardToView, cell).intersects(box)
                          ? 1
                          : 0;
        return hidden;
    };
    const auto at = [&](int place) { return QRect(places[std::size_t(place)], size); };
    int best = shapes.place < int(places.size()) ? shapes.place : 0;
    int least = cost(at(best));
    for (int place = 0; place < int(places.size()) && least > 0; ++place) {
        const int hidden = cost(at(place));
        if (hidden < least) {
            least = hidden;
            best = place;
        }
    }
    s.place = best;
    s.box = at(best);
}

QRect CheckOverlay::labelRect(const Mark& mark) const
{
    const QFontMetrics metrics(TextBox::font(Style::Small));
    const QSize size(metrics.horizontalAdvance(mark.label) + 8, metrics.height() + 4);
    QRect rect((mark.line.p1() + QPointF(SpotRadius + 6, -size.height() / 2.0)).toPoint(), size);
    // Kept on the view, beside the spot: a worst place lies at an edge as
    // often as not.
    if (rect.right() >= view->width())
        rect.moveRight(int(mark.line.p1().x()) - SpotRadius - 6);
    rect.moveTop(std::max(rect.top(), 0));
    rect.moveBottom(std::min(rect.bottom(), view->height() - 1));
    return rect;
}

QRect CheckOverlay::markRect(const Mark& mark) const
{
    const QPointF p = mark.line.p1();
    switch (mark.kind) {
    case Mark::Kind::Cross:
        return QRectF(p - QPointF(CrossArm + 5, CrossArm + 5),
                      p + QPointF(CrossArm + 5, CrossArm + 5))
            .toAlignedRect();
    case Mark::Kind::Circle:
        return QRectF(p - QPointF(HoldRadius + 5, HoldRadius + 5),
                      p + QPointF(HoldRadius + 5, HoldRadius + 5))
            .toAlignedRect();
    case Mark::Kind::Segment:
        return QRectF(mark.line.p1(), mark.line.p2())
            .normalized()
            .adjusted(-EndRadius - 5, -EndRadius - 5, EndRadius + 5, EndRadius + 5)
            .toAlignedRect();
    case Mark::Kind::Spot:
        break;
    }
    return QRectF(p - QPointF(SpotRadius + 5, SpotRadius + 5),
                  p + QPointF(SpotRadius + 5, SpotRadius + 5))
        .toAlignedRect()
        .united(labelRect(mark).adjusted(0, 0, 1, 1));
}

QRegion CheckOverlay::changes(const Shapes& before, const Shapes& after) const
{
    if (before.size != after.size)
        return QRegion(QRect(QPoint(), after.size.expandedTo(before.size)));
    QRegion region;
    region += OverlayPainting::cellsChanged(before.tinted, after.tinted, boardToView);
    if (before.marks != after.marks) {
        for (const Shapes* s : {&before, &after})
            for (const Mark& mark : s->marks)
                region += markRect(mark);
    }
    // A line that changes redraws itself, not the whole box.
    if (before.box != after.box || before.lines.size() != after.lines.size()) {
        region += before.box;
        region += after.box;
    } else {
        for (std::size_t line = 0; line < after.lines.size(); ++line)
            if (!(before.lines[line] == after.lines[line]))
                region += TextBox::lineRect(after.lines, after.box, line);
    }
    return region;
}

void CheckOverlay::render(const QRegion& region)
{
    QPainter painter(&image);
    OverlayPainting::clear(painter, region);
    const QRect bounds = region.boundingRect();
    OverlayPainting::tint(painter, shapes.tinted, boardToView, bounds, TintColour);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const Mark& mark : shapes.marks) {
        if (markRect(mark).intersects(bounds))
            drawMark(painter, mark);
    }
    if (shapes.box.intersects(bounds))
        TextBox::draw(painter, shapes.lines, shapes.box, bounds);
}

void CheckOverlay::drawMark(QPainter& painter, const Mark& mark) const
{
    const QPointF p = mark.line.p1();
    const auto cross = [&](double arm) {
        painter.drawLine(p - QPointF(arm, 0), p + QPointF(arm, 0));
        painter.drawLine(p - QPointF(0, arm), p + QPointF(0, arm));
    };
    switch (mark.kind) {
    case Mark::Kind::Cross:
        OverlayPainting::outlined(painter, mark.colour, 3, [&] { cross(CrossArm); });
        return;
    case Mark::Kind::Circle:
        OverlayPainting::outlined(painter, mark.colour, 3, [&] {
            painter.drawEllipse(p, HoldRadius, HoldRadius);
            cross(CrossArm / 2);
        });
        return;
    case Mark::Kind::Segment:
        OverlayPainting::outlined(painter, mark.colour, 3, [&] {
            painter.drawLine(mark.line);
            painter.drawEllipse(mark.line.p1(), EndRadius, EndRadius);
            painter.drawEllipse(mark.line.p2(), EndRadius, EndRadius);
        });
        return;
    case Mark::Kind::Spot:
        break;
    }
    OverlayPainting::outlined(painter, mark.colour, 3,
                              [&] { painter.drawEllipse(p, SpotRadius, SpotRadius); });
    OverlayPainting::label(painter, labelRect(mark), TextBox::font(Style::Small), mark.colour,
                           mark.label);
}
