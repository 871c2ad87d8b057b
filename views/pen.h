#pragma once

#include "eventitem.h"

// The marker of a pen.
class Pen : public EventItem
{
    Q_OBJECT

public:
    Pen(const QPointF& position, const QColor& color);

    void handlePen(const Quorvel::Controls& event) override;
};
