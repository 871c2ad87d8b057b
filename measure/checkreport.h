#pragma once

#include "boardcheck.h"

#include <optional>
#include <string>
#include <vector>

// A board check as the programs give it: lines for a person, and a JSON
// document that anyone can read and that `boardevents --judge` reads back.
// docs/measuring.md lists the document's names; Version changes when a name
// changes meaning or goes away.
class CheckReport
{
public:
    static constexpr int Version = 2;

    // The board checked, as the host knows it.
    struct Identity
    {
        std::optional<long long> device;
        std::string description;
    };

    // The board, the limits, then per step its verdict, figures and limits,
    // worst place and details, then the board's verdict.
    static std::vector<std::string> lines(const BoardCheck& check, const Identity& board);
    // One step's verdict and figures on one line, as the lines give it.
    static std::string stepLine(const BoardCheck::Result& result);
    // "accuracy 0.42 mm, limit 1 mm; edge-accuracy 1.1 mm, limit 2 mm", and
    // the ids held twice where there are any.
    static std::string figures(const BoardCheck::Result& result);
    // The figure's unit after its value: "mm", "/s", "%" or nothing.
    static const char* unit(const std::string& figure);
    // The whole document: version and check.
    static std::string json(const BoardCheck& check, const Identity& board);
    // PASS, FAIL, SKIPPED, NOT DONE, N/A or INCOMPLETE.
    static std::string shout(BoardCheck::Verdict verdict);
    static std::string shout(BoardCheck::BoardVerdict verdict);
};
