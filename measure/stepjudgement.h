#pragma once

#include "boardcheck.h"

#include <optional>

// The figures of a step of the board check from what it recorded, judged
// against the limits, and the faults that a step shows before it ends.
struct StepJudgement
{
    using Result = BoardCheck::Result;

    // Fills the result's figures and its worst place from its details; a
    // step never begun gets its limits and no figure. asksForTouch: whether
    // the rate step asks for a finger.
    static void judge(Result& result, const BoardCheck::Board& board, const CheckLimits& limits,
                      bool asksForTouch);
    // The touches the contacts step asks for at once: the limit, and at
    // least the touches the board declares or MostContactsRequired,
    // whichever is fewer.
    static double contactsRequired(const BoardCheck::Board& board, const CheckLimits& limits);
    // Whether what the step recorded so far already fails it; holding, the
    // jitter so far of a hold still down.
    static bool faultSeen(const Result& result, const CheckLimits& limits,
                          std::optional<double> holding);
};
