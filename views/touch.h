#pragma once

#include "eventitem.h"

// The marker of a touch contact.
class Touch : public EventItem
{
    Q_OBJECT

public:
    Touch(const QPointF& position, const QColor& color);

    void handlePen(const Quorvel::Controls& event) override;
};
