#pragma once

// What the strokes view paints behind the strokes.
enum class BackgroundMode : int
{
    None = 0,
    Grid = 1,
    ColourField = 2,
    ShapeField = 3,
    AllBlack = 4,
    VerticalBars = 5,
    HorizontalBars = 6,
    Help = 7
};
