#include "pen.h"

Pen::Pen(const QPointF& position, const QColor& color) : EventItem(position, color) {}

void Pen::handlePen(const Quorvel::Controls&) {}
