#pragma once

#include "boardcheck.h"

#include <string>
#include <utility>
#include <vector>

// Where the board check asks the tester to act on a board of a size, and
// what it asks at each step.
struct CheckLayout
{
    // The 13 targets of the taps step: the 9 at 10, 50 and 90 % across and
    // down, row by row from the top left, then the middles of the top, right,
    // bottom and left edges, BoardCheck::EdgeTargetMm inside. The first
    // BoardCheck::InnerTargets are inner.
    static std::vector<BoardCheck::Point> targets(const BoardCheck::Board& board);
    // The places of the two holds: the centre, then 10 %, 10 %.
    static std::vector<BoardCheck::Point> holds(const BoardCheck::Board& board);
    // The three lines' ends: across at half height, down at half width, and
    // the diagonal, each from 10 % to 90 %.
    static std::vector<std::pair<BoardCheck::Point, BoardCheck::Point>>
    lines(const BoardCheck::Board& board);
    // Whether the rate step asks for a finger: where the board declares
    // touches, as it asks for a pen where it declares pens.
    static bool asksForTouch(const BoardCheck::Board& board);
    // What the tester is to do at the step.
    static std::string instruction(BoardCheck::Step step, const BoardCheck::Board& board);
};
