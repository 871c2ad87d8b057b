#include "scenarioparser.h"

#include "textexcerpt.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <sstream>

namespace {

constexpr long MaxUnits = 65535;
constexpr long MaxBoard = 999;
constexpr long MaxWaitMs = 3600000;
constexpr long MaxRepeat = 1000000;
constexpr long MaxTurns = 100;
// Deeper nesting would only deepen the recursion that runs it.
constexpr std::size_t MaxNesting = 100;

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

// What a message quotes of the file, in quotes.
std::string quoted(std::string_view text)
{
    return "'" + textExcerpt(text) + "'";
}

} // namespace

ScenarioParser::ScenarioParser(std::string file, Report report)
    : m_file(std::move(file)), m_report(std::move(report))
{
}

// Words are separated by white space; ';' is a word of its own; a parenthesis
// keeps its contents, spaces dropped, in one word, as in "sin(100, 20)".
ScenarioParser::Tokens ScenarioParser::tokenize(std::string_view text)
{
    Tokens tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        if (isSpace(text[i])) {
            ++i;
            continue;
        }
        Token token{{}, i};
        if (text[i] == ';') {
            token.text = ";";
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
                    token.text += c;
            }
        }
        tokens.push_back(token);
    }
    return tokens;
}

bool ScenarioParser::mayShapeBoards(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\v\f");
    if (first == std::string_view::npos)
        return false;
    const std::string_view word = text.substr(first);
    // Asked of every line of a scenario that may have millions.
    switch (word[0]) {
    case 'b':
        return word.substr(0, 5) == "board";
    case 'r':
        return word.substr(0, 6) == "repeat";
    case 'e':
        return word.substr(0, 3) == "end";
    default:
        return false;
    }
}

ScenarioParser::Line ScenarioParser::parse(int number, std::string_view text,
                                           Scenario::Command& command)
{
    m_line = number;
    text = text.substr(0, text.find('#'));
    const Tokens tokens = tokenize(text);
    if (tokens.empty())
        return Line::Nothing;
    command = Scenario::Command();
    command.line = number;
    const std::string& name = tokens[0].text;
    if (name == "board")
        return board(tokens, text);
    if (name == "use")
        return use(tokens);
    if (name == "prefix")
        return prefix(tokens);
    if (name == "wait")
        return wait(tokens, command);
    if (name == "raw")
        return raw(tokens, command);
    if (name == "pen")
        return pen(tokens, command);
    if (name == "touch")
        return contacts(tokens, Scenario::Op::Touch, command);
    if (name == "eraser")
        return contacts(tokens, Scenario::Op::Eraser, command);
    if (name == "plug")
        return plug(tokens, Scenario::Op::Plug, command);
    if (name == "unplug")
        return plug(tokens, Scenario::Op::Unplug, command);
    if (name == "repeat")
        return repeat(tokens, command);
    if (name == "end")
        return end(tokens);
    if (name == "play")
        return play(tokens, command);
    fail("unknown command " + quoted(name));
    return Line::Nothing;
}

void ScenarioParser::finish()
{
    for (const int line : m_state.repeatLines) {
        if (m_report)
            m_report({m_file, line, "repeat without end"});
    }
}

void ScenarioParser::fail(const std::string& message)
{
    if (m_report)
        m_report({m_file, m_line, message});
}

std::optional<long> ScenarioParser::integer(const std::string& text, long min, long max,
                                            const char* what)
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

std::optional<Scenario::Value> ScenarioParser::value(const std::string& text, const char* what)
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

std::optional<int> ScenarioParser::declaredBoard(const std::string& text)
{
    const auto number = integer(text, 1, MaxBoard, "board");
    if (!number)
        return std::nullopt;
    if (std::none_of(m_boards.begin(), m_boards.end(),
                     [&](const Scenario::Board& b) { return b.number == *number; })) {
        fail("board " + textExcerpt(text) + " is not declared");
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

bool ScenarioParser::needsBoard()
{
    if (m_state.board == 0)
        fail("no board declared yet");
    return m_state.board != 0;
}

ScenarioParser::Line ScenarioParser::board(const Tokens& tokens, std::string_view text)
{
    if (!m_state.repeatLines.empty()) {
        fail("a board cannot be declared inside a repeat");
        return Line::Nothing;
    }
    if (tokens.size() < 2) {
        fail("usage: board <number> [unusable] [unplugged] <description>");
        return Line::Nothing;
    }
    const auto number = integer(tokens[1].text, 1, MaxBoard, "board");
    if (!number)
        return Line::Nothing;
    if (std::any_of(m_boards.begin(), m_boards.end(),
                    [&](const Scenario::Board& b) { return b.number == *number; })) {
        fail("board " + textExcerpt(tokens[1].text) + " is already declared");
        return Line::Nothing;
    }
    Scenario::Board board;
    board.number = static_cast<int>(*number);
    std::size_t i = 2;
    for (; i < tokens.size(); ++i) {
        if (tokens[i].text == "unusable")
            board.usable = false;
        else if (tokens[i].text == "unplugged")
            board.plugged = false;
        else
            break;
    }
    if (i < tokens.size()) {
        board.description = std::string(text.substr(tokens[i].pos));
        while (isSpace(board.description.back()))
            board.description.pop_back();
    }
    if (board.description.size() > Scenario::MaxDescriptionLength) {
        fail("the description is longer than " + std::to_string(Scenario::MaxDescriptionLength) +
             " characters");
        return Line::Nothing;
    }
    if (m_boards.empty())
        m_state.board = board.number;
    m_boards.push_back(board);
    return Line::Nothing;
}

ScenarioParser::Line ScenarioParser::use(const Tokens& tokens)
{
    if (tokens.size() != 2)
        fail("usage: use <board>");
    else if (const auto number = declaredBoard(tokens[1].text))
        m_state.board = *number;
    return Line::Nothing;
}

ScenarioParser::Line ScenarioParser::prefix(const Tokens& tokens)
{
    if (tokens.size() != 2 || (tokens[1].text != "on" && tokens[1].text != "off"))
        fail("usage: prefix on|off");
    else
        m_state.prefixed = tokens[1].text == "on";
    return Line::Nothing;
}

ScenarioParser::Line ScenarioParser::wait(const Tokens& tokens, Scenario::Command& command)
{
    if (tokens.size() >= 2 && tokens[1].text == "callback") {
        if (tokens.size() < 3 || tokens.size() > 4) {
            fail("usage: wait callback <board> [<timeout ms>]");
            return Line::Nothing;
        }
        const auto number = declaredBoard(tokens[2].text);
        if (!number)
            return Line::Nothing;
        const auto timeout = tokens.size() < 4
                                 ? std::optional<long>(Scenario::DefaultCallbackTimeoutMs)
                                 : integer(tokens[3].text, 0, MaxWaitMs, "timeout");
        if (!timeout)
            return Line::Nothing;
        command.op = Scenario::Op::WaitCallback;
        command.board = *number;
        command.amount = static_cast<int>(*timeout);
    } else if (tokens.size() >= 2 && tokens[1].text == "file") {
        if (tokens.size() < 3 || tokens.size() > 4) {
            fail("usage: wait file <path> [<timeout ms>]");
            return Line::Nothing;
        }
        const auto timeout = tokens.size() < 4 ? std::optional<long>(Scenario::DefaultFileTimeoutMs)
                                               : integer(tokens[3].text, 0, MaxWaitMs, "timeout");
        if (!timeout)
            return Line::Nothing;
        command.op = Scenario::Op::WaitFile;
        command.path = tokens[2].text;
        command.amount = static_cast<int>(*timeout);
    } else {
        if (tokens.size() != 2) {
            fail("usage: wait <ms>, wait callback <board> [<timeout ms>] or wait file "
                 "<path> [<timeout ms>]");
            return Line::Nothing;
        }
        const auto ms = integer(tokens[1].text, 0, MaxWaitMs, "wait");
        if (!ms)
            return Line::Nothing;
        command.op = Scenario::Op::Wait;
        command.amount = static_cast<int>(*ms);
    }
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::raw(const Tokens& tokens, Scenario::Command& command)
{
    std::string digits;
    for (std::size_t i = 1; i < tokens.size(); ++i)
        digits += tokens[i].text;
    if (digits.empty()) {
        fail("usage: raw <hex bytes>");
        return Line::Nothing;
    }
    if (!needsBoard())
        return Line::Nothing;
    const auto bad =
        std::find_if(digits.begin(), digits.end(), [](char c) { return hexDigit(c) < 0; });
    if (bad != digits.end()) {
        fail(quoted(std::string(1, *bad)) + " is not a hex digit");
        return Line::Nothing;
    }
    if (digits.size() % 2 != 0) {
        fail("odd number of hex digits");
        return Line::Nothing;
    }
    command.op = Scenario::Op::Raw;
    command.board = m_state.board;
    command.bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2)
        command.bytes.push_back(
            static_cast<uint8_t>(hexDigit(digits[i]) * 16 + hexDigit(digits[i + 1])));
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::pen(const Tokens& tokens, Scenario::Command& command)
{
    if (tokens.size() < 4) {
        fail("usage: pen <index> <x> <y> [tip] [button] [bit2]");
        return Line::Nothing;
    }
    if (!needsBoard())
        return Line::Nothing;
    command.op = Scenario::Op::Pen;
    command.board = m_state.board;
    command.prefixed = m_state.prefixed;
    const auto index = integer(tokens[1].text, 0, 15, "pen index");
    const auto x = index ? value(tokens[2].text, "x") : std::nullopt;
    const auto y = x ? value(tokens[3].text, "y") : std::nullopt;
    if (!y)
        return Line::Nothing;
    command.pen = static_cast<int>(*index);
    command.x = *x;
    command.y = *y;
    for (std::size_t i = 4; i < tokens.size(); ++i) {
        const std::string& flag = tokens[i].text;
        if (flag == "tip") {
            command.penFlags |= Scenario::Tip;
        } else if (flag == "button") {
            command.penFlags |= Scenario::Button;
        } else if (flag == "bit2") {
            command.penFlags |= Scenario::Bit2;
        } else {
            fail("unknown pen flag " + quoted(flag) + " (tip, button or bit2)");
            return Line::Nothing;
        }
    }
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::contacts(const Tokens& tokens, Scenario::Op op,
                                              Scenario::Command& command)
{
    const bool touch = op == Scenario::Op::Touch;
    const std::size_t fields = touch ? 5 : 6;
    const char* usage = touch ? "usage: touch [<id> down|up <x> <y> <size> [; ...]]"
                              : "usage: eraser [<id> down|up <x> <y> <width> <height> [; ...]]";
    if (!needsBoard())
        return Line::Nothing;
    command.op = op;
    command.board = m_state.board;
    command.prefixed = m_state.prefixed;
    std::size_t i = 1;
    while (i < tokens.size()) {
        Tokens group;
        for (; i < tokens.size() && tokens[i].text != ";"; ++i)
            group.push_back(tokens[i]);
        const bool separator = i < tokens.size();
        ++i;
        if (group.size() != fields || (group[1].text != "down" && group[1].text != "up") ||
            (separator && i >= tokens.size())) {
            fail(usage);
            return Line::Nothing;
        }
        Scenario::Contact contact;
        const auto id = integer(group[0].text, 0, 127, "contact id");
        const auto x = id ? value(group[2].text, "x") : std::nullopt;
        const auto y = x ? value(group[3].text, "y") : std::nullopt;
        const auto width = y ? value(group[4].text, touch ? "size" : "width") : std::nullopt;
        const auto height = !width  ? std::nullopt
                            : touch ? std::optional<Scenario::Value>(Scenario::Value())
                                    : value(group[5].text, "height");
        if (!height)
            return Line::Nothing;
        contact.id = static_cast<int>(*id);
        contact.down = group[1].text == "down";
        contact.x = *x;
        contact.y = *y;
        contact.width = *width;
        contact.height = *height;
        command.contacts.push_back(contact);
    }
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::plug(const Tokens& tokens, Scenario::Op op,
                                          Scenario::Command& command)
{
    if (tokens.size() != 2) {
        fail(op == Scenario::Op::Plug ? "usage: plug <board>" : "usage: unplug <board>");
        return Line::Nothing;
    }
    const auto number = declaredBoard(tokens[1].text);
    if (!number)
        return Line::Nothing;
    command.op = op;
    command.board = *number;
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::repeat(const Tokens& tokens, Scenario::Command& command)
{
    if (tokens.size() > 2) {
        fail("usage: repeat [<count>]");
        return Line::Nothing;
    }
    const auto count = tokens.size() < 2 ? std::optional<long>(Scenario::Forever)
                                         : integer(tokens[1].text, 0, MaxRepeat, "repeat");
    if (!count)
        return Line::Nothing;
    if (m_state.repeatLines.size() >= MaxNesting) {
        fail("repeats nested more than " + std::to_string(MaxNesting) + " deep");
        return Line::Nothing;
    }
    command.op = Scenario::Op::Repeat;
    command.amount = static_cast<int>(*count);
    m_state.repeatLines.push_back(m_line);
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::end(const Tokens& tokens)
{
    if (tokens.size() != 1) {
        fail("usage: end");
        return Line::Nothing;
    }
    if (m_state.repeatLines.empty()) {
        fail("end without repeat");
        return Line::Nothing;
    }
    m_state.repeatLines.pop_back();
    return Line::End;
}

ScenarioParser::Line ScenarioParser::play(const Tokens& tokens, Scenario::Command& command)
{
    if (tokens.size() < 2 || tokens.size() > 3) {
        fail("usage: play <recording> [<speed>]");
        return Line::Nothing;
    }
    if (!needsBoard())
        return Line::Nothing;
    command.op = Scenario::Op::Play;
    command.board = m_state.board;
    command.path = tokens[1].text;
    if (tokens.size() == 3) {
        const std::string& text = tokens[2].text;
        const char* end = text.data() + text.size();
        const auto [ptr, error] = std::from_chars(text.data(), end, command.speed);
        if (error != std::errc() || ptr != end || !(command.speed >= Scenario::MinSpeed) ||
            !(command.speed <= Scenario::MaxSpeed)) {
            fail("speed " + quoted(text) + " is not a number from 0.01 to 10000");
            return Line::Nothing;
        }
    }
    return Line::Command;
}
