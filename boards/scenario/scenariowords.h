#pragma once

#include "scenario.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One line of a scenario as words, and its words read as what commands take:
// whole numbers in a range, values that may vary over a repeat, hex bytes.
// Words are separated by white space; ';' is a word of its own; a
// parenthesis keeps its contents, spaces dropped, in one word, as in
// "sin(100, 20)". A word that does not read is reported against the line and
// gives nothing.
class ScenarioWords
{
public:
    using Report = std::function<void(const Scenario::Diagnostic&)>;

    // The words of text, which is line `line` of file; its problems go to
    // report. Lasts no longer than the line's parsing: it refers to text,
    // file and report.
    ScenarioWords(std::string_view text, const std::string& file, int line, const Report& report);

    int line() const { return m_line; }
    bool empty() const { return m_words.empty(); }
    std::size_t size() const { return m_words.size(); }
    const std::string& operator[](std::size_t i) const { return m_words[i].text; }
    // The line as written from word i on, without the white space at its end.
    std::string from(std::size_t i) const;

    void fail(const std::string& message) const;
    std::optional<long> integer(const std::string& text, long min, long max,
                                const char* what) const;
    // A constant, a ramp "from..to", or a wave "sin(centre,amplitude[,turns])"
    // or "cos(...)", in board units.
    std::optional<Scenario::Value> value(const std::string& text, const char* what) const;
    // Hex digits, two a byte.
    std::optional<std::vector<uint8_t>> bytes(const std::string& digits) const;

    // What a message quotes of the file, in quotes.
    static std::string quoted(std::string_view text);

private:
    struct Word
    {
        std::string text;
        std::size_t pos = 0;
    };

    std::string_view m_text;
    const std::string& m_file;
    int m_line = 0;
    const Report& m_report;
    std::vector<Word> m_words;
};
