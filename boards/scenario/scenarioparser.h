#pragma once

#include "scenario.h"
#include "scenariowords.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reads a scenario one line at a time, in the order of the text: what a line
// means depends only on the lines before it (the boards declared, "use",
// "prefix" and the repeats open), which this keeps. A repeat is handed out
// as its first line and its end, not as a tree, so that a caller can hold
// as much of the scenario as it likes: all of it (Scenario::parse) or one
// line (the player of a scenario too large to hold). The words of a line
// are read by ScenarioWords; this knows the commands.
class ScenarioParser
{
public:
    enum class Line
    {
        Nothing, // empty, a comment, a setting, a board or a malformed line
        Command, // a command to run, a repeat among them
        End      // the end of the innermost repeat
    };

    // What the lines after a line are read with: a repeat's later rounds
    // start again from the state after its first line.
    struct State
    {
        int board = 0;
        bool prefixed = false;
        std::vector<int> repeatLines; // of the repeats open, innermost last
    };

    using Report = ScenarioWords::Report;

    // Every problem goes to report, named after file.
    explicit ScenarioParser(std::string file, Report report = {});

    Line parse(int number, std::string_view text, Scenario::Command& command);
    // Reports the repeats that never ended; they run to the end of the text.
    void finish();

    State state() const { return m_state; }
    void restore(State state) { m_state = std::move(state); }
    const std::vector<Scenario::Board>& boards() const { return m_boards; }

    // Whether a line may declare a board or open or end a repeat: the only
    // lines needed to know a scenario's boards.
    static bool mayShapeBoards(std::string_view text);

private:
    std::optional<int> declaredBoard(const ScenarioWords& words, std::size_t i) const;
    bool needsBoard(const ScenarioWords& words) const;

    Line board(const ScenarioWords& words);
    Line use(const ScenarioWords& words);
    Line prefix(const ScenarioWords& words);
    Line wait(const ScenarioWords& words, Scenario::Command& command);
    Line raw(const ScenarioWords& words, Scenario::Command& command);
    Line pen(const ScenarioWords& words, Scenario::Command& command);
    Line contacts(const ScenarioWords& words, Scenario::Op op, Scenario::Command& command);
    Line plug(const ScenarioWords& words, Scenario::Op op, Scenario::Command& command);
    Line repeat(const ScenarioWords& words, Scenario::Command& command);
    Line end(const ScenarioWords& words);
    Line play(const ScenarioWords& words, Scenario::Command& command);

    std::string m_file;
    Report m_report;
    std::vector<Scenario::Board> m_boards;
    State m_state;
};
