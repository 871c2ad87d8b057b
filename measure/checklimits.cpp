#include "checklimits.h"

#include <cmath>
#include <iterator>
#include <locale>
#include <sstream>

namespace {

struct Limit
{
    const char* name;
    const char* unit;
    double CheckLimits::*value;
    // The smallest value allowed, and whether it is allowed itself.
    double lowest;
    bool lowestAllowed;
    double highest;
    bool whole;
};

const double Unbounded = HUGE_VAL;

const Limit Limits[] = {
    {"ghosts", "contacts", &CheckLimits::ghosts, 0, true, Unbounded, true},
    {"accuracy", "mm", &CheckLimits::accuracy, 0, false, Unbounded, false},
    {"edge-accuracy", "mm", &CheckLimits::edgeAccuracy, 0, false, Unbounded, false},
    {"jitter", "mm", &CheckLimits::jitter, 0, false, Unbounded, false},
    {"straightness", "mm", &CheckLimits::straightness, 0, false, Unbounded, false},
    {"moving-jitter", "mm", &CheckLimits::movingJitter, 0, false, Unbounded, false},
    {"touch-rate", "reports per second", &CheckLimits::touchRate, 0, false, Unbounded, false},
    {"pen-rate", "reports per second", &CheckLimits::penRate, 0, false, Unbounded, false},
    {"contacts", "touches", &CheckLimits::contacts, 1, true, Unbounded, true},
    {"coverage", "percent", &CheckLimits::coverage, 0, false, 100, false},
};

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whole text as one number, in the C locale: a program that set the user's
// locale would otherwise read "0,5" and reject "0.5".
std::optional<double> number(const std::string& text)
{
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    double value = 0;
    stream >> value;
    if (text.empty() || stream.fail() || stream.peek() != std::char_traits<char>::eof())
        return std::nullopt;
    return value;
}

std::string decimal(double value)
{
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << value;
    return stream.str();
}

bool allowed(const Limit& limit, double value)
{
    return std::isfinite(value) &&
           (value > limit.lowest || (limit.lowestAllowed && value == limit.lowest)) &&
           value <= limit.highest && (!limit.whole || value == std::floor(value));
}

std::string expected(const Limit& limit)
{
    std::string range = limit.whole ? "a whole number " : "a number ";
    range +=
        limit.lowestAllowed ? "from " + decimal(limit.lowest) : "above " + decimal(limit.lowest);
    if (limit.highest != Unbounded)
        range += " up to " + decimal(limit.highest);
    return range + " (" + limit.unit + "), e.g. " + limit.name + "=" +
           decimal(CheckLimits().*limit.value);
}

const Limit* find(const std::string& name)
{
    for (const Limit& limit : Limits) {
        if (name == limit.name)
            return &limit;
    }
    return nullptr;
}

} // namespace

std::optional<CheckLimits> CheckLimits::parse(const std::string& text, std::string& error)
{
    CheckLimits limits;
    const std::string all = trimmed(text);
    if (all.empty())
        return limits;
    // Before the items: getline() gives none after a last comma.
    if (all.back() == ',') {
        error = "the limits end with a comma: separate name=value pairs with commas";
        return std::nullopt;
    }
    bool given[std::size(Limits)] = {};
    std::istringstream items(all);
    std::string item;
    while (std::getline(items, item, ',')) {
        const auto equals = item.find('=');
        const Limit* limit = find(trimmed(item.substr(0, equals)));
        if (!limit) {
            std::string all;
            for (const std::string& name : names())
                all += (all.empty() ? "" : ", ") + name;
            error = "'" + trimmed(item) + "' is not a limit: give name=value with a name of " + all;
            return std::nullopt;
        }
        const std::string valueText =
            equals == std::string::npos ? std::string() : trimmed(item.substr(equals + 1));
        const std::optional<double> value = number(valueText);
        if (!value || !allowed(*limit, *value)) {
            error = (valueText.empty() ? std::string(limit->name) + " has no value"
                                       : "'" + valueText + "' is no value for " + limit->name) +
                    ": give " + expected(*limit);
            return std::nullopt;
        }
        bool& once = given[limit - Limits];
        if (once) {
            error = std::string(limit->name) + " is given twice: give each limit once";
            return std::nullopt;
        }
        once = true;
        limits.*limit->value = *value;
    }
    return limits;
}

std::string CheckLimits::text() const
{
    std::string text;
    for (const Limit& limit : Limits)
        text +=
            (text.empty() ? "" : ",") + std::string(limit.name) + "=" + decimal(this->*limit.value);
    return text;
}

std::optional<double> CheckLimits::value(const std::string& name) const
{
    const Limit* limit = find(name);
    if (!limit)
        return std::nullopt;
    return this->*limit->value;
}

std::vector<std::string> CheckLimits::names()
{
    std::vector<std::string> names;
    for (const Limit& limit : Limits)
        names.emplace_back(limit.name);
    return names;
}
