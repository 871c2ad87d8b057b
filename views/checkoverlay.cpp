#include "checkoverlay.h"

#include "boardpackets.h"
#include "decimaltext.h"
#include "itemview.h"
#include "strokesview.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr int Margin = 24;
constexpr int Padding = 14;
constexpr int ColumnGap = 24;
constexpr int LineGap = 4;
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

// Reads on every background, black, white, a stroke of its own colour or
// the colour field: the colour inside a white rim inside a black one.
void outlined(QPainter& painter, const QColor& colour, const std::function<void()>& draw)
{
    painter.setBrush(Qt::NoBrush);
    for (const auto& [rim, width] :
         {std::pair<QColor, int>(Qt::black, 7), {Qt::white, 5}, {colour, 3}}) {
        painter.setPen(QPen(rim, width, Qt::SolidLine, Qt::RoundCap));
        draw();
    }
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

bool CheckOverlay::Line::operator==(const Line& other) const
{
    return cells == other.cells && colour == other.colour && style == other.style;
}

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
    const int widest = (boxWidth > 0 ? boxWidth : s.size.width() - 2 * Margin) - 2 * Padding;
    s.lines = wrapped(s.lines, widest);
    QSize size = boxSize(s.lines);
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

QFont CheckOverlay::fontOf(Style style)
{
    QFont font;
    font.setPixelSize(style == Style::Title ? 28 : style == Style::Plain ? 20 : 16);
    font.setBold(style == Style::Title);
    return font;
}

std::vector<CheckOverlay::Line> CheckOverlay::wrapped(const std::vector<Line>& lines, int widest)
{
    std::vector<Line> out;
    for (const Line& line : lines) {
        const QFontMetrics metrics(fontOf(line.style));
        if (!line.cells[1].isEmpty() || metrics.horizontalAdvance(line.cells[0]) <= widest) {
            out.push_back(line);
            continue;
        }
        Line part = line;
        part.cells[0].clear();
        for (const QString& word : line.cells[0].split(' ')) {
            const QString longer = part.cells[0].isEmpty() ? word : part.cells[0] + ' ' + word;
            if (!part.cells[0].isEmpty() && metrics.horizontalAdvance(longer) > widest) {
                out.push_back(part);
                part.cells[0] = word;
            } else {
                part.cells[0] = longer;
            }
        }
        out.push_back(part);
    }
    return out;
}

std::pair<int, int> CheckOverlay::columns(const std::vector<Line>& lines)
{
    std::pair<int, int> widths(0, 0);
    for (const Line& line : lines) {
        if (line.cells[1].isEmpty())
            continue;
        const QFontMetrics metrics(fontOf(line.style));
        widths.first = std::max(widths.first, metrics.horizontalAdvance(line.cells[0]));
        widths.second = std::max(widths.second, metrics.horizontalAdvance(line.cells[1]));
    }
    return widths;
}

QSize CheckOverlay::boxSize(const std::vector<Line>& lines)
{
    const auto [first, second] = columns(lines);
    int width = 0;
    int height = 0;
    for (const Line& line : lines) {
        const QFontMetrics metrics(fontOf(line.style));
        width =
            std::max(width, line.cells[1].isEmpty() ? metrics.horizontalAdvance(line.cells[0])
                                                    : first + second + 2 * ColumnGap +
                                                          metrics.horizontalAdvance(line.cells[2]));
        height += metrics.height() + LineGap;
    }
    return QSize(width + 2 * Padding, height + 2 * Padding);
}

QRect CheckOverlay::lineRect(const Shapes& s, std::size_t index)
{
    int top = s.box.top() + Padding;
    for (std::size_t i = 0; i < index; ++i)
        top += QFontMetrics(fontOf(s.lines[i].style)).height() + LineGap;
    const int height = QFontMetrics(fontOf(s.lines[index].style)).height() + LineGap;
    return QRect(s.box.left(), top, s.box.width(), height);
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
            hidden += s.tinted[std::size_t(cell)] && cellRect(cell).intersects(box) ? 1 : 0;
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

QRect CheckOverlay::cellRect(int cell) const
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

QRect CheckOverlay::labelRect(const Mark& mark) const
{
    const QFontMetrics metrics(fontOf(Style::Small));
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
    if (before.tinted != after.tinted) {
        std::vector<QRect> cells;
        for (int cell = 0; cell < CoverageGrid::Cells; ++cell)
            if (before.tinted[std::size_t(cell)] != after.tinted[std::size_t(cell)])
                cells.push_back(cellRect(cell));
        region += ItemView::unite(cells);
    }
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
                region += lineRect(after, line);
    }
    return region;
}

void CheckOverlay::render(const QRegion& region)
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
    for (const Mark& mark : shapes.marks) {
        if (markRect(mark).intersects(bounds))
            drawMark(painter, mark);
    }
    if (shapes.box.intersects(bounds))
        drawBox(painter, bounds);
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
        outlined(painter, mark.colour, [&] { cross(CrossArm); });
        return;
    case Mark::Kind::Circle:
        outlined(painter, mark.colour, [&] {
            painter.drawEllipse(p, HoldRadius, HoldRadius);
            cross(CrossArm / 2);
        });
        return;
    case Mark::Kind::Segment:
        outlined(painter, mark.colour, [&] {
            painter.drawLine(mark.line);
            painter.drawEllipse(mark.line.p1(), EndRadius, EndRadius);
            painter.drawEllipse(mark.line.p2(), EndRadius, EndRadius);
        });
        return;
    case Mark::Kind::Spot:
        break;
    }
    outlined(painter, mark.colour, [&] { painter.drawEllipse(p, SpotRadius, SpotRadius); });
    const QRect label = labelRect(mark);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(label);
    painter.setFont(fontOf(Style::Small));
    painter.setPen(mark.colour);
    painter.drawText(label, Qt::AlignCenter, mark.label);
}

// Opaque white with a black border: it reads over every background.
void CheckOverlay::drawBox(QPainter& painter, const QRect& bounds) const
{
    const QRect& box = shapes.box;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(Qt::white);
    painter.drawRect(box.adjusted(1, 1, -1, -1));
    const auto [first, second] = columns(shapes.lines);
    const int right = box.left() + box.width() - Padding;
    for (std::size_t index = 0; index < shapes.lines.size(); ++index) {
        const QRect rect = lineRect(shapes, index);
        if (!rect.intersects(bounds))
            continue;
        const Line& line = shapes.lines[index];
        const QFont font = fontOf(line.style);
        const QFontMetrics metrics(font);
        painter.setFont(font);
        painter.setPen(line.colour);
        const int baseline = rect.top() + metrics.ascent();
        int x = box.left() + Padding;
        if (!line.cells[1].isEmpty()) {
            painter.drawText(QPoint(x, baseline), line.cells[0]);
            painter.drawText(QPoint(x + first + ColumnGap, baseline), line.cells[1]);
            x += first + second + 2 * ColumnGap;
        }
        const QString& last = line.cells[1].isEmpty() ? line.cells[0] : line.cells[2];
        const bool fits = metrics.horizontalAdvance(last) <= right - x;
        painter.drawText(QPoint(x, baseline),
                         fits ? last : metrics.elidedText(last, Qt::ElideRight, right - x));
    }
}
