#pragma once

#include <optional>
#include <string>

// The limits that the four certified figures are judged against, and their
// text as a person gives it: "jitter=0.5,pen-rate=120" changes those two and
// keeps the others' defaults.
struct MeasureLimits
{
    enum class Verdict
    {
        // No figure to judge.
        None,
        Pass,
        Fail
    };

    // Largest still jitter, mm.
    double jitter = 1.0;
    // Largest distance of a straight stroke from its fitted line, mm.
    double straightness = 1.0;
    // Smallest pen report rate, reports per second.
    double penRate = 100.0;
    // Largest tap offset from its target, mm.
    double accuracy = 2.0;

    // Comma-separated name=value pairs, names jitter, straightness, pen-rate
    // and accuracy, each at most once, values numbers above 0 with a '.' for
    // the decimal point whatever the locale; spaces around either are
    // allowed, and an empty text keeps every default. Anything else gives
    // none, with error set to one line that names what was wrong and what
    // is expected.
    static std::optional<MeasureLimits> parse(const std::string& text, std::string& error);
    // Every limit in the form that parse() reads.
    std::string text() const;

    static Verdict atMost(const std::optional<double>& figure, double limit);
    static Verdict atLeast(const std::optional<double>& figure, double limit);
};
