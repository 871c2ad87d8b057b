#include "positionfilter.h"

#include <QVector2D>

QPointF PositionFilter::follow(const QPointF& reported, bool down, double deadZone)
{
    if (!tracking) {
        point = reported;
    } else {
        const QPointF d = reported - point;
        // The length and the factor are taken in single precision, the move
        // itself in double precision.
        const float length = QVector2D(float(d.x()), float(d.y())).length();
        const float radius = float(deadZone);
        if (length > radius) {
            const float factor = (length - radius) / length;
            point += d * double(factor);
        }
    }
    tracking = down;
    return point;
}
