#include "checklayout.h"

#include "decimaltext.h"

std::vector<BoardCheck::Point> CheckLayout::targets(const BoardCheck::Board& board)
{
    const double w = board.widthMm, h = board.heightMm;
    std::vector<BoardCheck::Point> points;
    for (const double down : {0.1, 0.5, 0.9}) {
        for (const double across : {0.1, 0.5, 0.9})
            points.push_back({across * w, down * h});
    }
    points.push_back({w / 2, BoardCheck::EdgeTargetMm});
    points.push_back({w - BoardCheck::EdgeTargetMm, h / 2});
    points.push_back({w / 2, h - BoardCheck::EdgeTargetMm});
    points.push_back({BoardCheck::EdgeTargetMm, h / 2});
    return points;
}

std::vector<BoardCheck::Point> CheckLayout::holds(const BoardCheck::Board& board)
{
    return {{board.widthMm / 2, board.heightMm / 2}, {board.widthMm / 10, board.heightMm / 10}};
}

std::vector<std::pair<BoardCheck::Point, BoardCheck::Point>>
CheckLayout::lines(const BoardCheck::Board& board)
{
    const double w = board.widthMm, h = board.heightMm;
    return {{{0.1 * w, 0.5 * h}, {0.9 * w, 0.5 * h}},
            {{0.5 * w, 0.1 * h}, {0.5 * w, 0.9 * h}},
            {{0.1 * w, 0.1 * h}, {0.9 * w, 0.9 * h}}};
}

bool CheckLayout::asksForTouch(const BoardCheck::Board& board)
{
    // A board that declares neither is asked for a finger.
    return board.touches > 0 || board.pens <= 0;
}

std::string CheckLayout::instruction(BoardCheck::Step step, const BoardCheck::Board& board)
{
    using Step = BoardCheck::Step;
    using Check = BoardCheck;
    switch (step) {
    case Step::Quiet:
        return "Touch nothing for " + decimalText(Check::QuietMs / 1000) + " s.";
    case Step::Taps:
        return "Tap each target once, in turn: " + std::to_string(targets(board).size()) +
               " targets.";
    case Step::Hold:
        return "Hold a finger, pen or weight still on the circle for " +
               decimalText(Check::HoldMs / 1000) + " s, then lift it.";
    case Step::Lines:
        return "Draw each line along a ruler, end to end, in one stroke.";
    case Step::Rate:
        if (!asksForTouch(board))
            return "Draw with a pen for " + decimalText(Check::RateMs / 1000) + " s, then lift it.";
        return "Draw with one finger for " + decimalText(Check::RateMs / 1000) +
               " s, then lift it" + (board.pens > 0 ? "; then the same with a pen." : ".");
    case Step::Contacts:
        return "Put down as many fingers as the board takes, then lift them all.";
    case Step::Sweep:
        return "Sweep the whole board, its edges and corners too, until no cell is left.";
    }
    return {};
}
