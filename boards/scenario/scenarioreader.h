#pragma once

#include "scenario.h"
#include "scenarioparser.h"

#include <istream>
#include <memory>
#include <string>
#include <vector>

// A scenario read as it is played: one line at a time from its stream, so
// that the memory it takes does not grow with the file. A repeat's body is
// read into memory when its text is short; a longer one is read again from
// the stream for every round (mark() and rewind()).
class ScenarioReader
{
public:
    enum class Next
    {
        Command,
        End,     // of the innermost repeat's body
        Finished // the end of the text
    };

    // Where a repeat's body starts.
    struct Mark
    {
        std::streamoff offset = 0;
        int line = 0;
        ScenarioParser::State state;
    };

    ScenarioReader(std::unique_ptr<std::istream> input, std::string file,
                   ScenarioParser::Report report = {});

    // The next command, of the innermost repeat open or of the scenario. A
    // repeat comes as its own line: its body follows.
    Next next(Scenario::Command& command);
    // Reads the rest of the innermost repeat's body, or of the scenario,
    // into commands, each repeat with its body. False when its text is
    // longer than mostBytes: commands then has only the first of them.
    // Without commands, reads past it and keeps nothing.
    bool readBlock(std::vector<Scenario::Command>* commands, std::size_t mostBytes);
    // Reports the repeats left open at the end.
    void finish() { m_parser.finish(); }

    // Just after the line last read.
    Mark mark() const;
    void rewind(const Mark& mark);

    const std::vector<Scenario::Board>& boards() const { return m_parser.boards(); }

private:
    std::unique_ptr<std::istream> m_input;
    ScenarioParser m_parser;
    std::string m_text;
    int m_line = 0;
    // Bytes read so far, to tell how long a block's text is.
    std::size_t m_read = 0;
};
