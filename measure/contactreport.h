#pragma once

// One report of one contact as a board gave it, with the time it came. The
// measuring classes take nothing else, so that they are fed alike from a
// live session, a recording or a test's own times.
struct ContactReport
{
    enum Kind
    {
        Pen,
        Touch,
        Eraser
    };
    static constexpr int Kinds = 3;

    Kind kind = Touch;
    // The pen's index, the touch's or the eraser's id.
    int id = 0;
    // A pen with its tip down, a touch or an eraser on the surface.
    bool down = false;
    // Board units.
    double x = 0;
    double y = 0;
    // Milliseconds from any fixed start.
    double ms = 0;
};
