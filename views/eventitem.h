#pragma once

#include "item.h"

#include <QColor>
#include <QFont>
#include <QStringList>

// The marker of one live contact: a translucent ellipse of the contact's
// radii with a crosshair, and a tag above and to the left of it that lists
// identifier, position, radii and buttons.
class EventItem : public Item
{
    Q_OBJECT

public:
    EventItem(const QPointF& position, const QColor& color);
    ~EventItem() override;

    void handleTouch(std::vector<Quorvel::Controls>& events) override;
    void handleErase(std::vector<Quorvel::Controls>& events) override;
    void updateShape() override;
    void draw(QPainter* painter) override;

    // Takes over one input record; every record rebuilds the whole marker,
    // since the tag text changes with it.
    void setControls(const Quorvel::Controls& event);

    // The six lines of the tag for the current record.
    QStringList formatTagLines() const;

    // Ellipse and tag box; crosshair.
    QPainterPath bodyPath;
    QPainterPath crossPath;
    // The tag's lines and the top-left corner of the tag box, as last built
    // by updateShape(); line k (from 1) has its baseline at k * lineHeight
    // below the corner.
    QStringList tagLines;
    QPointF tagTopLeft;
    int lineHeight;

    int id = 0;
    int buttons = 0;
    double radiusX = 0;
    double radiusY = 0;
    QColor color;
    QFont font;

    // A contact without radii is drawn with this radius.
    static constexpr double DefaultRadius = 25;
    static constexpr double TagWidth = 150;
    static constexpr double TagHeight = 125;
};
