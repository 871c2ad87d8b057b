#pragma once

#include <QPointF>

// Dead-zone smoothing of one contact: while the contact is down, the filtered
// point follows the reported one only as far as it lies outside the dead zone.
class PositionFilter
{
public:
    QPointF follow(const QPointF& reported, bool down, double deadZone);

    QPointF point;
    bool tracking = false;
};
