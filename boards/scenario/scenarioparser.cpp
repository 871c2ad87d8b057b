#include "scenarioparser.h"

#include "textexcerpt.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr long MaxBoard = 999;
constexpr long MaxWaitMs = 3600000;
constexpr long MaxRepeat = 1000000;
// Deeper nesting would only deepen the recursion that runs it.
constexpr std::size_t MaxNesting = 100;

} // namespace

ScenarioParser::ScenarioParser(std::string file, Report report)
    : m_file(std::move(file)), m_report(std::move(report))
{
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
    const ScenarioWords words(text.substr(0, text.find('#')), m_file, number, m_report);
    if (words.empty())
        return Line::Nothing;
    command = Scenario::Command();
    command.line = number;
    const std::string& name = words[0];
    if (name == "board")
        return board(words);
    if (name == "use")
        return use(words);
    if (name == "prefix")
        return prefix(words);
    if (name == "wait")
        return wait(words, command);
    if (name == "raw")
        return raw(words, command);
    if (name == "pen")
        return pen(words, command);
    if (name == "touch")
        return contacts(words, Scenario::Op::Touch, command);
    if (name == "eraser")
        return contacts(words, Scenario::Op::Eraser, command);
    if (name == "plug")
        return plug(words, Scenario::Op::Plug, command);
    if (name == "unplug")
        return plug(words, Scenario::Op::Unplug, command);
    if (name == "repeat")
        return repeat(words, command);
    if (name == "end")
        return end(words);
    if (name == "play")
        return play(words, command);
    words.fail("unknown command " + ScenarioWords::quoted(name));
    return Line::Nothing;
}

void ScenarioParser::finish()
{
    for (const int line : m_state.repeatLines) {
        if (m_report)
            m_report({m_file, line, "repeat without end"});
    }
}

std::optional<int> ScenarioParser::declaredBoard(const ScenarioWords& words, std::size_t i) const
{
    const auto number = words.integer(words[i], 1, MaxBoard, "board");
    if (!number)
        return std::nullopt;
    if (std::none_of(m_boards.begin(), m_boards.end(),
                     [&](const Scenario::Board& b) { return b.number == *number; })) {
        words.fail("board " + textExcerpt(words[i]) + " is not declared");
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

bool ScenarioParser::needsBoard(const ScenarioWords& words) const
{
    if (m_state.board == 0)
        words.fail("no board declared yet");
    return m_state.board != 0;
}

ScenarioParser::Line ScenarioParser::board(const ScenarioWords& words)
{
    if (!m_state.repeatLines.empty()) {
        words.fail("a board cannot be declared inside a repeat");
        return Line::Nothing;
    }
    if (words.size() < 2) {
        words.fail("usage: board <number> [unusable] [unplugged] <description>");
        return Line::Nothing;
    }
    const auto number = words.integer(words[1], 1, MaxBoard, "board");
    if (!number)
        return Line::Nothing;
    if (std::any_of(m_boards.begin(), m_boards.end(),
                    [&](const Scenario::Board& b) { return b.number == *number; })) {
        words.fail("board " + textExcerpt(words[1]) + " is already declared");
        return Line::Nothing;
    }
    Scenario::Board board;
    board.number = static_cast<int>(*number);
    std::size_t i = 2;
    for (; i < words.size(); ++i) {
        if (words[i] == "unusable")
            board.usable = false;
        else if (words[i] == "unplugged")
            board.plugged = false;
        else
            break;
    }
    if (i < words.size())
        board.description = words.from(i);
    if (board.description.size() > Scenario::MaxDescriptionLength) {
        words.fail("the description is longer than " +
                   std::to_string(Scenario::MaxDescriptionLength) + " characters");
        return Line::Nothing;
    }
    if (m_boards.empty())
        m_state.board = board.number;
    m_boards.push_back(board);
    return Line::Nothing;
}

ScenarioParser::Line ScenarioParser::use(const ScenarioWords& words)
{
    if (words.size() != 2)
        words.fail("usage: use <board>");
    else if (const auto number = declaredBoard(words, 1))
        m_state.board = *number;
    return Line::Nothing;
}

ScenarioParser::Line ScenarioParser::prefix(const ScenarioWords& words)
{
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
        words.fail("usage: prefix on|off");
    else
        m_state.prefixed = words[1] == "on";
    return Line::Nothing;
}

ScenarioParser::Line ScenarioParser::wait(const ScenarioWords& words, Scenario::Command& command)
{
    if (words.size() >= 2 && words[1] == "callback") {
        if (words.size() < 3 || words.size() > 4) {
            words.fail("usage: wait callback <board> [<timeout ms>]");
            return Line::Nothing;
        }
        const auto number = declaredBoard(words, 2);
        if (!number)
            return Line::Nothing;
        const auto timeout = words.size() < 4
                                 ? std::optional<long>(Scenario::DefaultCallbackTimeoutMs)
                                 : words.integer(words[3], 0, MaxWaitMs, "timeout");
        if (!timeout)
            return Line::Nothing;
        command.op = Scenario::Op::WaitCallback;
        command.board = *number;
        command.amount = static_cast<int>(*timeout);
    } else if (words.size() >= 2 && words[1] == "file") {
        if (words.size() < 3 || words.size() > 4) {
            words.fail("usage: wait file <path> [<timeout ms>]");
            return Line::Nothing;
        }
        const auto timeout = words.size() < 4 ? std::optional<long>(Scenario::DefaultFileTimeoutMs)
                                              : words.integer(words[3], 0, MaxWaitMs, "timeout");
        if (!timeout)
            return Line::Nothing;
        command.op = Scenario::Op::WaitFile;
        command.path = words[2];
        command.amount = static_cast<int>(*timeout);
    } else {
        if (words.size() != 2) {
            words.fail("usage: wait <ms>, wait callback <board> [<timeout ms>] or wait file "
                       "<path> [<timeout ms>]");
            return Line::Nothing;
        }
        const auto ms = words.integer(words[1], 0, MaxWaitMs, "wait");
        if (!ms)
            return Line::Nothing;
        command.op = Scenario::Op::Wait;
        command.amount = static_cast<int>(*ms);
    }
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::raw(const ScenarioWords& words, Scenario::Command& command)
{
    std::string digits;
    for (std::size_t i = 1; i < words.size(); ++i)
        digits += words[i];
    if (digits.empty()) {
        words.fail("usage: raw <hex bytes>");
        return Line::Nothing;
    }
    if (!needsBoard(words))
        return Line::Nothing;
    std::optional<std::vector<uint8_t>> bytes = words.bytes(digits);
    if (!bytes)
        return Line::Nothing;
    command.op = Scenario::Op::Raw;
    command.board = m_state.board;
    command.bytes = std::move(*bytes);
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::pen(const ScenarioWords& words, Scenario::Command& command)
{
    if (words.size() < 4) {
        words.fail("usage: pen <index> <x> <y> [tip] [button] [bit2]");
        return Line::Nothing;
    }
    if (!needsBoard(words))
        return Line::Nothing;
    command.op = Scenario::Op::Pen;
    command.board = m_state.board;
    command.prefixed = m_state.prefixed;
    const auto index = words.integer(words[1], 0, 15, "pen index");
    const auto x = index ? words.value(words[2], "x") : std::nullopt;
    const auto y = x ? words.value(words[3], "y") : std::nullopt;
    if (!y)
        return Line::Nothing;
    command.pen = static_cast<int>(*index);
    command.x = *x;
    command.y = *y;
    for (std::size_t i = 4; i < words.size(); ++i) {
        const std::string& flag = words[i];
        if (flag == "tip") {
            command.penFlags |= Scenario::Tip;
        } else if (flag == "button") {
            command.penFlags |= Scenario::Button;
        } else if (flag == "bit2") {
            command.penFlags |= Scenario::Bit2;
        } else {
            words.fail("unknown pen flag " + ScenarioWords::quoted(flag) +
                       " (tip, button or bit2)");
            return Line::Nothing;
        }
    }
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::contacts(const ScenarioWords& words, Scenario::Op op,
                                              Scenario::Command& command)
{
    const bool touch = op == Scenario::Op::Touch;
    const std::size_t fields = touch ? 5 : 6;
    const char* usage = touch ? "usage: touch [<id> down|up <x> <y> <size> [; ...]]"
                              : "usage: eraser [<id> down|up <x> <y> <width> <height> [; ...]]";
    if (!needsBoard(words))
        return Line::Nothing;
    command.op = op;
    command.board = m_state.board;
    command.prefixed = m_state.prefixed;
    std::size_t i = 1;
    while (i < words.size()) {
        // A contact's words, up to the next ';'.
        const std::size_t first = i;
        while (i < words.size() && words[i] != ";")
            ++i;
        const std::size_t count = i - first;
        const bool separator = i < words.size();
        ++i;
        if (count != fields || (words[first + 1] != "down" && words[first + 1] != "up") ||
            (separator && i >= words.size())) {
            words.fail(usage);
            return Line::Nothing;
        }
        const auto field = [&](std::size_t k) -> const std::string& { return words[first + k]; };
        Scenario::Contact contact;
        const auto id = words.integer(field(0), 0, 127, "contact id");
        const auto x = id ? words.value(field(2), "x") : std::nullopt;
        const auto y = x ? words.value(field(3), "y") : std::nullopt;
        const auto width = y ? words.value(field(4), touch ? "size" : "width") : std::nullopt;
        const auto height = !width  ? std::nullopt
                            : touch ? std::optional<Scenario::Value>(Scenario::Value())
                                    : words.value(field(5), "height");
        if (!height)
            return Line::Nothing;
        contact.id = static_cast<int>(*id);
        contact.down = field(1) == "down";
        contact.x = *x;
        contact.y = *y;
        contact.width = *width;
        contact.height = *height;
        command.contacts.push_back(contact);
    }
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::plug(const ScenarioWords& words, Scenario::Op op,
                                          Scenario::Command& command)
{
    if (words.size() != 2) {
        words.fail(op == Scenario::Op::Plug ? "usage: plug <board>" : "usage: unplug <board>");
        return Line::Nothing;
    }
    const auto number = declaredBoard(words, 1);
    if (!number)
        return Line::Nothing;
    command.op = op;
    command.board = *number;
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::repeat(const ScenarioWords& words, Scenario::Command& command)
{
    if (words.size() > 2) {
        words.fail("usage: repeat [<count>]");
        return Line::Nothing;
    }
    const auto count = words.size() < 2 ? std::optional<long>(Scenario::Forever)
                                        : words.integer(words[1], 0, MaxRepeat, "repeat");
    if (!count)
        return Line::Nothing;
    if (m_state.repeatLines.size() >= MaxNesting) {
        words.fail("repeats nested more than " + std::to_string(MaxNesting) + " deep");
        return Line::Nothing;
    }
    command.op = Scenario::Op::Repeat;
    command.amount = static_cast<int>(*count);
    m_state.repeatLines.push_back(words.line());
    return Line::Command;
}

ScenarioParser::Line ScenarioParser::end(const ScenarioWords& words)
{
    if (words.size() != 1) {
        words.fail("usage: end");
        return Line::Nothing;
    }
    if (m_state.repeatLines.empty()) {
        words.fail("end without repeat");
        return Line::Nothing;
    }
    m_state.repeatLines.pop_back();
    return Line::End;
}

ScenarioParser::Line ScenarioParser::play(const ScenarioWords& words, Scenario::Command& command)
{
    if (words.size() < 2 || words.size() > 3) {
        words.fail("usage: play <recording> [<speed>]");
        return Line::Nothing;
    }
    if (!needsBoard(words))
        return Line::Nothing;
    command.op = Scenario::Op::Play;
    command.board = m_state.board;
    command.path = words[1];
    if (words.size() == 3) {
        const std::string& text = words[2];
        const char* end = text.data() + text.size();
        const auto [ptr, error] = std::from_chars(text.data(), end, command.speed);
        if (error != std::errc() || ptr != end || !(command.speed >= Scenario::MinSpeed) ||
            !(command.speed <= Scenario::MaxSpeed)) {
            words.fail("speed " + ScenarioWords::quoted(text) +
                       " is not a number from 0.01 to 10000");
            return Line::Nothing;
        }
    }
    return Line::Command;
}
