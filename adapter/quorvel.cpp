#include "quorvel.h"

#include <cmath>

namespace {

bool close(double a, double b)
{
    return std::abs(a - b) <= 1e-12;
}

QPointF filtered(PositionFilter& filter, qint32 x, qint32 y, bool down)
{
    return filter.follow(QPointF(Quorvel::normalise(x), Quorvel::normalise(y)), down, 0.0);
}

} // namespace

bool Quorvel::Controls::operator==(const Controls& other) const
{
    return id == other.id && buttons == other.buttons && close(pos.x(), other.pos.x()) &&
           close(pos.y(), other.pos.y()) && close(radiusX, other.radiusX) &&
           close(radiusY, other.radiusY);
}

QPoint Quorvel::Controls::globalPoint(const QRect& screen) const
{
    return QPoint(screen.x() + int(screen.width() * pos.x()),
                  screen.y() + int(screen.height() * pos.y()));
}

Quorvel::Quorvel(QObject* parent) : QObject(parent) {}

double Quorvel::normalise(qint32 boardValue)
{
    return double(float(boardValue) * (1.0f / 32768.0f));
}

Quorvel::Controls Quorvel::penControls(const NorvaHardware::PenEvent& ev, PositionFilter& filter)
{
    Controls c;
    c.id = ~qint32(ev.pen);
    c.buttons = (ev.button ? 2 : 0) | (ev.tip ? 1 : 0);
    c.pos = c.viewPos = filtered(filter, ev.x, ev.y, c.buttons != 0);
    return c;
}

Quorvel::Controls Quorvel::touchControls(const NorvaHardware::TouchContact& contact,
                                         PositionFilter& filter)
{
    Controls c;
    c.id = TouchIdBase + contact.id;
    c.buttons = contact.down ? 1 : 0;
    c.radiusX = c.radiusY = normalise(contact.size);
    c.pos = c.viewPos = filtered(filter, contact.x, contact.y, c.buttons != 0);
    return c;
}

Quorvel::Controls Quorvel::eraseControls(const NorvaHardware::EraseContact& contact,
                                         PositionFilter& filter)
{
    Controls c;
    c.id = EraseIdBase + contact.id;
    c.buttons = contact.down ? 1 : 0;
    c.radiusX = normalise(contact.width);
    c.radiusY = normalise(contact.height);
    c.pos = c.viewPos = filtered(filter, contact.x, contact.y, c.buttons != 0);
    return c;
}
