#include "erase.h"

Erase::Erase(const QPointF& position, const QColor& color) : EventItem(position, color) {}

void Erase::handlePen(const Quorvel::Controls&) {}
