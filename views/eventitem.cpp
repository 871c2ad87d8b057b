#include "eventitem.h"

#include <QFontMetrics>
#include <QPainter>
#include <QVector2D>

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

void EventItem::updateShape()
{
    double rx = radiusX;
    double ry = radiusY;
    if (QVector2D(float(rx), float(ry)).lengthSquared() == 0.0f)
        rx = ry = DefaultRadius;

    bodyPath = QPainterPath();
    bodyPath.addEllipse(QRectF(-rx, -ry, 2 * rx, 2 * ry));
    tagTopLeft = QPointF(-rx - TagWidth, -ry - TagHeight);
    bodyPath.addRect(QRectF(tagTopLeft, QSizeF(TagWidth, TagHeight)));

    tagLines = formatTagLines();

    crossPath = QPainterPath();
    crossPath.moveTo(0, -ry);
    crossPath.lineTo(0, ry);
    crossPath.moveTo(-rx, 0);
    crossPath.lineTo(rx, 0);

    setShape(bodyPath);
}

void EventItem::draw(QPainter* painter)
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

    // Through the glyph cache: filling outline paths of the same text costs
    // ten times as much per marker.
    painter->setPen(QColor(Qt::black));
    painter->setFont(font);
    for (int k = 0; k < tagLines.size(); ++k)
        painter->drawText(tagTopLeft + QPointF(0, (k + 1) * lineHeight), tagLines.at(k));
}
