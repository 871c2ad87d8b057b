#pragma once

#include "quorvel.h"

// A contact record in widget pixels, as the views receive it.
inline Quorvel::Controls contactRecord(int id, QPointF pos, int buttons = 1, double radiusX = 0,
                                       double radiusY = 0)
{
    Quorvel::Controls c;
    c.id = id;
    c.buttons = buttons;
    c.radiusX = radiusX;
    c.radiusY = radiusY;
    c.pos = c.viewPos = pos;
    return c;
}

// The key under which the views keep a board contact's marker and stroke.
inline Quorvel::Controls::Key boardKey(int id)
{
    return {false, id};
}
