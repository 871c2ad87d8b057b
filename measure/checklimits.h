#pragma once

#include <optional>
#include <string>
#include <vector>

// The limits that the board check judges its steps against, and their text
// as a person gives it: "jitter=0.5,pen-rate=120" changes those two and keeps
// the others' defaults. docs/measuring.md gives each default's source.
struct CheckLimits
{
    // Contacts that come down while nothing touches the board.
    double ghosts = 0;
    // A tap's offset from its target, mm: the nine inside, the four at the edges.
    double accuracy = 1.0;
    double edgeAccuracy = 2.0;
    // A hold's largest distance between two of its reports, mm.
    double jitter = 1.0;
    // A line's largest distance from its chord, and from the fitted line of
    // each 10 mm stretch, mm.
    double straightness = 1.0;
    double movingJitter = 1.0;
    // Each contact's reports a second, the lowest of them.
    double touchRate = 100.0;
    double penRate = 100.0;
    // Touches down at once, at least (and at least the board's declared
    // touches up to 10).
    double contacts = 5;
    // Cells of the board reached by the sweep, percent.
    double coverage = 100.0;

    // Comma-separated name=value pairs, each name at most once, with a '.'
    // for the decimal point whatever the locale; spaces around either are
    // allowed, and an empty text keeps every default. Names as in text();
    // ghosts and contacts are whole numbers (ghosts from 0, contacts from 1),
    // coverage above 0 up to 100, the rest above 0. Anything else gives none,
    // with error set to one line that names what was wrong and what is
    // expected.
    static std::optional<CheckLimits> parse(const std::string& text, std::string& error);
    // Every limit in the form that parse() reads, in the order of the steps.
    std::string text() const;
    // Every limit's name, in the order of text().
    static std::vector<std::string> names();
    // The limit of that name; none for a name that is not one.
    std::optional<double> value(const std::string& name) const;
};
