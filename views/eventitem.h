#pragma once

#include "item.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QStringList>
#include <QTransform>

#include <vector>

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
    // The painted parts are the tag box, the ellipse and the tag's text.
    void updateBounds() override;
    void draw(QPainter* painter) override;
    // Renders only what changed since the last time: the body (ellipse, box
    // and crosshair) when its size, radii, colour or sub-pixel offset did,
    // else just the rows of the tag lines whose text did.
    void renderCache() override;
    // Cheap while only tag lines change over the kept body.
    bool refreshIsCheap() const override;

    // Takes over one input record; every record rebuilds the whole marker,
    // since the tag text changes with it.
    void setControls(const Quorvel::Controls& event);

    // The six lines of the tag for the current record.
    QStringList formatTagLines() const;

private:
    // The radii drawn: the contact's, or the default when it has none.
    QPointF shownRadii() const;
    void drawBody(QPainter* painter);
    void drawTagLine(QPainter* painter, int k);
    // Finds where each tag line inks, measuring only lines that changed.
    void measureTagLines();
    // The cache rows that line k inks, given where its text inks.
    QRect inkRows(int k, const QRectF& ink, const QPointF& offset) const;
    void prepare(QPainter& painter, const QPointF& offset) const;

public:
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

    // The radii that the paths were built for, and the shape and transform
    // that the bounds and the body's painted parts were computed for.
    QPointF shapeRadii;
    QPainterPath boundsShape;
    QTransform boundsTransform;
    std::vector<QRectF> bodyParts;

    // What the cache's body was rendered for; a refresh that changes none of
    // it redraws only the tag lines that changed, over a copy of the body.
    struct BodyState
    {
        QSize size;
        QPointF offset;
        float rotation = 0;
        float scale = 1;
        QPainterPath body;
        QColor color;

        bool operator==(const BodyState& other) const;
    };
    BodyState bodyState;
    QImage bodyImage;
    // What the last refresh's body was, kept or not.
    BodyState lastState;
    // Where each tag line inks, relative to the start of its baseline, and
    // the lines measured; the lines as the cache shows them, and their ink.
    std::vector<QRectF> lineInk;
    QStringList inkLines;
    QStringList drawnLines;
    std::vector<QRectF> drawnInk;

    // A contact without radii is drawn with this radius.
    static constexpr double DefaultRadius = 25;
    static constexpr double TagWidth = 150;
    static constexpr double TagHeight = 125;
};
