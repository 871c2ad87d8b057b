#include "eventitem.h"

#include "tagtextcache.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTransform>
#include <QVector2D>

#include <cmath>
#include <cstring>
#include <utility>

namespace {

QString number(double v)
{
    return QString::number(v, 'g', 6);
}

} // namespace

EventItem::EventItem(const QPointF& position, const QColor& color)
    : Item(position, 0.0f, 1.0f), color(color)
{
    font.setStyleHint(QFont::Serif, QFont::PreferAntialias);
    font.setPixelSize(16);
    lineHeight = QFontMetrics(font).height();
    hitTestable = false;
}

EventItem::~EventItem()
{
    // A running refresh still uses this part of the object.
    waitRefresh();
}

void EventItem::handleTouch(std::vector<Quorvel::Controls>&) {}

void EventItem::handleErase(std::vector<Quorvel::Controls>&) {}

void EventItem::setControls(const Quorvel::Controls& event)
{
    position = event.pos;
    updateTransform();
    radiusX = event.radiusX;
    radiusY = event.radiusY;
    buttons = event.buttons;
    id = event.id;
    dirty |= DirtyAll;
}

QStringList EventItem::formatTagLines() const
{
    const QString bits = QString::number(uint(buttons) + 256u, 2).right(8);
    return {QStringLiteral("ID: ") + QString::number(id),
            QStringLiteral("X: ") + number(position.x()),
            QStringLiteral("Y: ") + number(position.y()),
            QStringLiteral("X Radius: ") + number(radiusX),
            QStringLiteral("Y Radius: ") + number(radiusY),
            QStringLiteral("Buttons: ") + bits};
}

QPointF EventItem::shownRadii() const
{
    if (QVector2D(float(radiusX), float(radiusY)).lengthSquared() == 0.0f)
        return QPointF(DefaultRadius, DefaultRadius);
    return QPointF(radiusX, radiusY);
}

bool EventItem::refreshIsCheap() const
{
    // The same radii, sub-pixel offset, rotation and scale, all of it in the
    // view: the refresh puts back a few rows of the kept body and draws a few
    // tag lines, less than a thread's wake-up costs.
    const auto fraction = [](double v) { return v - std::floor(v); };
    return cache && !clippedToView && !drawnLines.isEmpty() && shownRadii() == shapeRadii &&
           rotation == drawnRotation && scale == drawnScale &&
           fraction(position.x()) == fraction(drawnPosition.x()) &&
           fraction(position.y()) == fraction(drawnPosition.y());
}

void EventItem::updateShape()
{
    tagLines = formatTagLines();

    // A contact that moves keeps its radii, and so its paths.
    if (!bodyPath.isEmpty() && shownRadii() == shapeRadii)
        return;
    shapeRadii = shownRadii();
    const double rx = shapeRadii.x();
    const double ry = shapeRadii.y();

    bodyPath = QPainterPath();
    bodyPath.addEllipse(QRectF(-rx, -ry, 2 * rx, 2 * ry));
    tagTopLeft = QPointF(-rx - TagWidth, -ry - TagHeight);
    bodyPath.addRect(QRectF(tagTopLeft, QSizeF(TagWidth, TagHeight)));

    crossPath = QPainterPath();
    crossPath.moveTo(0, -ry);
    crossPath.lineTo(0, ry);
    crossPath.moveTo(-rx, 0);
    crossPath.lineTo(rx, 0);

    setShape(bodyPath);
}

void EventItem::updateBounds()
{
    QTransform t;
    t.rotate(drawnRotation);
    t.scale(drawnScale, drawnScale);
    // The outline's width and its antialiasing, as for the bounds.
    auto covered = [&](const QRectF& part) { return t.mapRect(part).adjusted(-1, -1, 3, 3); };
    // Bounds, box and ellipse follow the shape, the rotation and the scale;
    // a new tag text changes only the text's part.
    if (boundsTransform != t || boundsShape != shape || bodyParts.empty()) {
        Item::updateBounds();
        boundsTransform = t;
        boundsShape = shape;
        bodyParts = {covered(QRectF(tagTopLeft, QSizeF(TagWidth, TagHeight))),
                     covered(crossPath.boundingRect())};
    } else {
        placeCache();
    }
    measureTagLines();
    QRectF text;
    for (int k = 0; k < tagLines.size(); ++k)
        text |= lineInk.at(k).translated(tagTopLeft + QPointF(0, (k + 1) * lineHeight));
    paintedParts.clear();
    for (const QRectF& part : {bodyParts.at(0), bodyParts.at(1), covered(text)})
        if (const QRectF shown = part & rendered; !shown.isEmpty())
            paintedParts.push_back(shown);
}

bool EventItem::BodyState::operator==(const BodyState& other) const
{
    return size == other.size && offset == other.offset && rotation == other.rotation &&
           scale == other.scale && color == other.color && body == other.body;
}

void EventItem::drawBody(QPainter* painter)
{
    QPen outline(QColor(Qt::black));
    outline.setCosmetic(true);
    outline.setCapStyle(Qt::FlatCap);
    outline.setJoinStyle(Qt::MiterJoin);
    painter->setPen(outline);
    painter->setBrush(QBrush(color, Qt::SolidPattern));
    painter->drawPath(bodyPath);
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(crossPath);
}

// Through laid-out lines that are kept: laying out the text anew for every
// refresh costs more than drawing it, and filling outline paths of the same
// text ten times as much.
void EventItem::drawTagLine(QPainter* painter, int k)
{
    TagTextCache::draw(painter, tagTopLeft + QPointF(0, (k + 1) * lineHeight), tagLines.at(k),
                       font);
}

void EventItem::draw(QPainter* painter)
{
    drawBody(painter);
    painter->setPen(QColor(Qt::black));
    for (int k = 0; k < tagLines.size(); ++k)
        drawTagLine(painter, k);
}

void EventItem::prepare(QPainter& painter, const QPointF& offset) const
{
    painter.translate(offset);
    painter.rotate(drawnRotation);
    painter.scale(drawnScale, drawnScale);
    painter.setRenderHint(QPainter::Antialiasing);
}

void EventItem::measureTagLines()
{
    if (inkLines == tagLines)
        return;
    lineInk.resize(tagLines.size());
    for (int k = 0; k < tagLines.size(); ++k)
        if (k >= inkLines.size() || inkLines.at(k) != tagLines.at(k))
            lineInk[k] = TagTextCache::ink(tagLines.at(k), font);
    inkLines = tagLines;
}

QRect EventItem::inkRows(int k, const QRectF& ink, const QPointF& offset) const
{
    // The glyphs' boxes hold the ink; a margin for their antialiased edges.
    const double baseline = offset.y() + tagTopLeft.y() + (k + 1) * lineHeight;
    const int top = int(std::floor(baseline + ink.top())) - 2;
    const int bottom = int(std::ceil(baseline + ink.bottom())) + 2;
    return QRect(0, top, cache->width(), bottom - top);
}

void EventItem::renderCache()
{
    if (!cache || rendered.isEmpty())
        return;
    const QPointF offset = cacheOffset();
    const BodyState state{cache->size(), offset, drawnRotation, drawnScale, bodyPath, color};
    const BodyState previous = std::exchange(lastState, state);
    // Only part of a marker larger than the view is kept, and that part
    // follows every move; a body that changed since the last refresh will
    // likely change again by the next: no body worth keeping. The marker
    // renders whole, as it would anyway.
    if (clippedToView || (!(state == bodyState) && !(state == previous))) {
        Item::renderCache();
        bodyState = BodyState();
        drawnLines.clear();
        return;
    }
    // Line rows are whole cache rows only while nothing turns or scales.
    const bool upright = drawnRotation == 0 && drawnScale == 1;
    const qsizetype bytesPerLine = cache->bytesPerLine();
    measureTagLines();

    if (!upright || !(state == bodyState) || drawnLines.size() != tagLines.size()) {
        if (bodyImage.size() != cache->size())
            bodyImage = QImage(cache->size(), cache->format());
        bodyImage.fill(0);
        {
            QPainter painter(&bodyImage);
            prepare(painter, offset);
            drawBody(&painter);
        }
        std::memcpy(cache->bits(), bodyImage.constBits(), size_t(bytesPerLine) * cache->height());
        QPainter painter(cache);
        prepare(painter, offset);
        painter.setPen(QColor(Qt::black));
        for (int k = 0; k < tagLines.size(); ++k)
            drawTagLine(&painter, k);
        bodyState = state;
        drawnLines = tagLines;
        drawnInk = lineInk;
        return;
    }

    // The same body: put back the rows that a changed line inked, before or
    // now, and draw again, within those rows only, every line that inks them.
    QRect rows;
    for (int k = 0; k < tagLines.size(); ++k)
        if (tagLines.at(k) != drawnLines.at(k))
            rows |= inkRows(k, drawnInk.at(k), offset) | inkRows(k, lineInk.at(k), offset);
    rows &= cache->rect();
    drawnLines = tagLines;
    drawnInk = lineInk;
    if (rows.isEmpty())
        return;
    std::memcpy(cache->scanLine(rows.top()), bodyImage.constScanLine(rows.top()),
                size_t(bytesPerLine) * rows.height());
    QPainter painter(cache);
    painter.setClipRect(rows);
    prepare(painter, offset);
    painter.setPen(QColor(Qt::black));
    for (int k = 0; k < tagLines.size(); ++k)
        if (inkRows(k, lineInk.at(k), offset).intersects(rows))
            drawTagLine(&painter, k);
}
