#pragma once

// One report of a contact that is down, in millimetres from the board's top
// left corner, with the time it came: what every figure in millimetres is
// computed from.
struct Sample
{
    double x = 0;
    double y = 0;
    double ms = 0;
};
