#include "touch.h"

Touch::Touch(const QPointF& position, const QColor& color) : EventItem(position, color) {}

void Touch::handlePen(const Quorvel::Controls&) {}
