#pragma once

#include "eventitem.h"

// The marker of an eraser contact.
class Erase : public EventItem
{
    Q_OBJECT

public:
    Erase(const QPointF& position, const QColor& color);

    void handlePen(const Quorvel::Controls& event) override;
};
