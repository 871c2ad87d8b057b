#include "scenariowords.h"

#include "textexcerpt.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <sstream>

namespace {

constexpr long MaxUnits = 65535;
constexpr long MaxTurns = 100;

bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::optional<long> toInteger(const std::string& text)
{
    long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || ptr != end || text.empty())
        return std::nullopt;
    return value;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

ScenarioWords::ScenarioWords(std::string_view text, const std::string& file, int line,
                             const Report& report)
    : m_text(text), m_file(file), m_line(line), m_report(report)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (isSpace(text[i])) {
            ++i;
            continue;
        }
        Word word{{}, i};
        if (text[i] == ';') {
            word.text = ";";
            ++i;
        } else {
            int depth = 0;
            for (; i < text.size(); ++i) {
                const char c = text[i];
                if (depth == 0 && (isSpace(c) || c == ';'))
                    break;
                if (c == '(')
                    ++depth;
                else if (c == ')' && depth > 0)
                    --depth;
                if (!isSpace(c))
                    word.text += c;
            }
        }
        m_words.push_back(word);
    }
}

std::string ScenarioWords::from(std::size_t i) const
{
    std::string rest(m_text.substr(m_words[i].pos));
    while (isSpace(rest.back()))
        rest.pop_back();
    return rest;
}

void ScenarioWords::fail(const std::string& message) const
{
    if (m_report)
        m_report({m_file, m_line, message});
}

std::optional<long> ScenarioWords::integer(const std::string& text, long min, long max,
                                           const char* what) const
{
    const std::optional<long> number = toInteger(text);
    if (!number) {
        fail(std::string(what) + " " + quoted(text) + " is not a whole number");
        return std::nullopt;
    }
    if (*number < min || *number > max) {
        fail(std::string(what) + " " + textExcerpt(text) + " is out of range " +
             std::to_string(min) + ".." + std::to_string(max));
        return std::nullopt;
    }
    return number;
}

std::optional<Scenario::Value> ScenarioWords::value(const std::string& text, const char* what) const
{
    using Kind = Scenario::Value::Kind;
    Scenario::Value result;
    const std::size_t dots = text.find("..");
    const bool wave = text.size() > 5 && text.back() == ')' &&
                      (text.compare(0, 4, "sin(") == 0 || text.compare(0, 4, "cos(") == 0);
    if (dots != std::string::npos) {
        const auto from = integer(text.substr(0, dots), 0, MaxUnits, what);
        const auto to = from ? integer(text.substr(dots + 2), 0, MaxUnits, what) : std::nullopt;
        if (!to)
            return std::nullopt;
        result.kind = Kind::Ramp;
        result.from = *from;
        result.to = *to;
    } else if (wave) {
        std::vector<std::string> parts;
        std::istringstream inner(text.substr(4, text.size() - 5));
        for (std::string part; std::getline(inner, part, ',');)
            parts.push_back(part);
        if (parts.size() < 2 || parts.size() > 3) {
            fail(std::string(what) + " " + quoted(text) + " must be " + text.substr(0, 3) +
                 "(<centre>,<amplitude>[,<turns>])");
            return std::nullopt;
        }
        const auto centre = integer(parts[0], 0, MaxUnits, what);
        const auto amplitude = centre ? integer(parts[1], -MaxUnits, MaxUnits, what) : std::nullopt;
        const auto turns = !amplitude         ? std::nullopt
                           : parts.size() < 3 ? std::optional<long>(1)
                                              : integer(parts[2], 1, MaxTurns, "turns");
        if (!turns)
            return std::nullopt;
        if (*centre - std::labs(*amplitude) < 0 || *centre + std::labs(*amplitude) > MaxUnits) {
            fail(std::string(what) + " " + quoted(text) + " leaves the range 0.." +
                 std::to_string(MaxUnits));
            return std::nullopt;
        }
        result.kind = text[0] == 's' ? Kind::Sin : Kind::Cos;
        result.from = *centre;
        result.to = *amplitude;
        result.turns = static_cast<int>(*turns);
    } else {
        const auto constant = integer(text, 0, MaxUnits, what);
        if (!constant)
            return std::nullopt;
        result.from = *constant;
    }
    return result;
}

std::optional<std::vector<uint8_t>> ScenarioWords::bytes(const std::string& digits) const
{
    const auto bad =
        std::find_if(digits.begin(), digits.end(), [](char c) { return hexDigit(c) < 0; });
    if (bad != digits.end()) {
        fail(quoted(std::string(1, *bad)) + " is not a hex digit");
        return std::nullopt;
    }
    if (digits.size() % 2 != 0) {
        fail("odd number of hex digits");
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(hexDigit(digits[i]) * 16 + hexDigit(digits[i + 1])));
    return bytes;
}

std::string ScenarioWords::quoted(std::string_view text)
{
    return "'" + textExcerpt(text) + "'";
}
