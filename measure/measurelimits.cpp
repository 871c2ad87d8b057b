#include "measurelimits.h"

#include <cmath>
#include <locale>
#include <sstream>

namespace {

struct Limit
{
    const char* name;
    const char* unit;
    double MeasureLimits::*value;
};

const Limit Limits[] = {
    {"jitter", "mm", &MeasureLimits::jitter},
    {"straightness", "mm", &MeasureLimits::straightness},
    {"pen-rate", "reports per second", &MeasureLimits::penRate},
    {"accuracy", "mm", &MeasureLimits::accuracy},
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

} // namespace

std::optional<MeasureLimits> MeasureLimits::parse(const std::string& text, std::string& error)
{
    MeasureLimits limits;
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
        const std::string name = trimmed(item.substr(0, equals));
        std::size_t index = 0;
        while (index < std::size(Limits) && name != Limits[index].name)
            ++index;
        if (index == std::size(Limits)) {
            error = "'" + trimmed(item) +
                    "' is not a limit: give name=value with a name of jitter, straightness, "
                    "pen-rate or accuracy";
            return std::nullopt;
        }
        const Limit& limit = Limits[index];
        const std::string valueText =
            equals == std::string::npos ? std::string() : trimmed(item.substr(equals + 1));
        const std::optional<double> value = number(valueText);
        if (!value || !std::isfinite(*value) || *value <= 0) {
            error = (valueText.empty() ? std::string(limit.name) + " has no value"
                                       : "'" + valueText + "' is no value for " + limit.name) +
                    ": give a number above 0 (" + limit.unit + "), e.g. " + limit.name + "=" +
                    decimal(MeasureLimits().*limit.value);
            return std::nullopt;
        }
        if (given[index]) {
            error = std::string(limit.name) + " is given twice: give each limit once";
            return std::nullopt;
        }
        given[index] = true;
        limits.*limit.value = *value;
    }
    return limits;
}

std::string MeasureLimits::text() const
{
    std::string text;
    for (const Limit& limit : Limits)
        text +=
            (text.empty() ? "" : ",") + std::string(limit.name) + "=" + decimal(this->*limit.value);
    return text;
}

MeasureLimits::Verdict MeasureLimits::atMost(const std::optional<double>& figure, double limit)
{
    if (!figure)
        return Verdict::None;
    return *figure <= limit ? Verdict::Pass : Verdict::Fail;
}

MeasureLimits::Verdict MeasureLimits::atLeast(const std::optional<double>& figure, double limit)
{
    if (!figure)
        return Verdict::None;
    return *figure >= limit ? Verdict::Pass : Verdict::Fail;
}
