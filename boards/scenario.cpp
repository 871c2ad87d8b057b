#include "scenario.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <sstream>

namespace {

constexpr long MaxUnits = 65535;
constexpr long MaxBoard = 999;
constexpr long MaxWaitMs = 3600000;
constexpr long MaxRepeat = 1000000;
constexpr long MaxTurns = 100;
// Deeper nesting would only deepen the recursion that runs and frees it.
constexpr std::size_t MaxNesting = 100;
constexpr uint8_t PenType = 0x21;
constexpr uint8_t TouchType = 0x45;
constexpr uint8_t EraserType = 0x46;
constexpr uint8_t PrefixMarker = 0x41;
constexpr uint8_t DownBit = 0x80;
constexpr double TwoPi = 6.283185307179586;

struct Token
{
    std::string text;
    std::size_t pos = 0;
};

bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Words are separated by white space; ';' is a word of its own; a parenthesis
// keeps its contents, spaces dropped, in one word, as in "sin(100, 20)".
std::vector<Token> tokenize(const std::string& text)
{
    std::vector<Token> tokens;
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

void appendLittleEndian(std::vector<uint8_t>& packet, uint16_t value)
{
    packet.push_back(static_cast<uint8_t>(value & 0xFF));
    packet.push_back(static_cast<uint8_t>(value >> 8));
}

class Parser
{
public:
    explicit Parser(Scenario& scenario) : m_scenario(scenario), m_open{&scenario.commands} {}

    void parseLine(int number, std::string text);
    void finish();

private:
    using Tokens = std::vector<Token>;

    void fail(const std::string& message) { m_scenario.diagnostics.push_back({m_line, message}); }
    std::optional<long> integer(const std::string& text, long min, long max, const char* what);
    std::optional<Scenario::Value> value(const std::string& text, const char* what);
    std::optional<int> declaredBoard(const std::string& text);
    bool needsBoard();
    void add(Scenario::Command command);

    void board(const Tokens& tokens, const std::string& text);
    void use(const Tokens& tokens);
    void prefix(const Tokens& tokens);
    void wait(const Tokens& tokens);
    void raw(const Tokens& tokens);
    void pen(const Tokens& tokens);
    void contacts(const Tokens& tokens, Scenario::Op op);
    void plug(const Tokens& tokens, Scenario::Op op);
    void repeat(const Tokens& tokens);
    void end(const Tokens& tokens);
    void play(const Tokens& tokens);

    Scenario& m_scenario;
    // The command lists that are being filled: the scenario's own, then the
    // body of each repeat that is still open.
    std::vector<std::vector<Scenario::Command>*> m_open;
    std::vector<int> m_repeatLines;
    int m_line = 0;
    int m_board = 0;
    bool m_prefixed = false;
};

void Parser::parseLine(int number, std::string text)
{
    m_line = number;
    text = text.substr(0, text.find('#'));
    const Tokens tokens = tokenize(text);
    if (tokens.empty())
        return;
    const std::string& command = tokens[0].text;
    if (command == "board")
        board(tokens, text);
    else if (command == "use")
        use(tokens);
    else if (command == "prefix")
        prefix(tokens);
    else if (command == "wait")
        wait(tokens);
    else if (command == "raw")
        raw(tokens);
    else if (command == "pen")
        pen(tokens);
    else if (command == "touch")
        contacts(tokens, Scenario::Op::Touch);
    else if (command == "eraser")
        contacts(tokens, Scenario::Op::Eraser);
    else if (command == "plug")
        plug(tokens, Scenario::Op::Plug);
    else if (command == "unplug")
        plug(tokens, Scenario::Op::Unplug);
    else if (command == "repeat")
        repeat(tokens);
    else if (command == "end")
        end(tokens);
    else if (command == "play")
        play(tokens);
    else
        fail("unknown command '" + command + "'");
}

void Parser::finish()
{
    // An open repeat still runs, up to the end of the text.
    for (const int line : m_repeatLines)
        m_scenario.diagnostics.push_back({line, "repeat without end"});
    std::stable_sort(m_scenario.diagnostics.begin(), m_scenario.diagnostics.end(),
                     [](const auto& a, const auto& b) { return a.line < b.line; });
}

std::optional<long> Parser::integer(const std::string& text, long min, long max, const char* what)
{
    const std::optional<long> number = toInteger(text);
    if (!number) {
        fail(std::string(what) + " '" + text + "' is not a whole number");
        return std::nullopt;
    }
    if (*number < min || *number > max) {
        fail(std::string(what) + " " + text + " is out of range " + std::to_string(min) + ".." +
             std::to_string(max));
        return std::nullopt;
    }
    return number;
}

std::optional<Scenario::Value> Parser::value(const std::string& text, const char* what)
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
            fail(std::string(what) + " '" + text + "' must be " + text.substr(0, 3) +
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
            fail(std::string(what) + " '" + text + "' leaves the range 0.." +
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

std::optional<int> Parser::declaredBoard(const std::string& text)
{
    const auto number = integer(text, 1, MaxBoard, "board");
    if (!number)
        return std::nullopt;
    const auto& boards = m_scenario.boards;
    if (std::none_of(boards.begin(), boards.end(),
                     [&](const Scenario::Board& b) { return b.number == *number; })) {
        fail("board " + text + " is not declared");
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

bool Parser::needsBoard()
{
    if (m_board == 0)
        fail("no board declared yet");
    return m_board != 0;
}

void Parser::add(Scenario::Command command)
{
    command.line = m_line;
    m_open.back()->push_back(std::move(command));
}

void Parser::board(const Tokens& tokens, const std::string& text)
{
    if (m_open.size() > 1)
        return fail("a board cannot be declared inside a repeat");
    if (tokens.size() < 2)
        return fail("usage: board <number> [unusable] [unplugged] <description>");
    const auto number = integer(tokens[1].text, 1, MaxBoard, "board");
    if (!number)
        return;
    auto& boards = m_scenario.boards;
    if (std::any_of(boards.begin(), boards.end(),
                    [&](const Scenario::Board& b) { return b.number == *number; }))
        return fail("board " + tokens[1].text + " is already declared");
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
        board.description = text.substr(tokens[i].pos);
        while (isSpace(board.description.back()))
            board.description.pop_back();
    }
    if (board.description.size() > Scenario::MaxDescriptionLength)
        return fail("the description is longer than " +
                    std::to_string(Scenario::MaxDescriptionLength) + " characters");
    if (boards.empty())
        m_board = board.number;
    boards.push_back(board);
}

void Parser::use(const Tokens& tokens)
{
    if (tokens.size() != 2)
        return fail("usage: use <board>");
    if (const auto number = declaredBoard(tokens[1].text))
        m_board = *number;
}

void Parser::prefix(const Tokens& tokens)
{
    if (tokens.size() != 2 || (tokens[1].text != "on" && tokens[1].text != "off"))
        return fail("usage: prefix on|off");
    m_prefixed = tokens[1].text == "on";
}

void Parser::wait(const Tokens& tokens)
{
    Scenario::Command command;
    if (tokens.size() >= 2 && tokens[1].text == "callback") {
        if (tokens.size() < 3 || tokens.size() > 4)
            return fail("usage: wait callback <board> [<timeout ms>]");
        const auto number = declaredBoard(tokens[2].text);
        if (!number)
            return;
        const auto timeout = tokens.size() < 4
                                 ? std::optional<long>(Scenario::DefaultCallbackTimeoutMs)
                                 : integer(tokens[3].text, 0, MaxWaitMs, "timeout");
        if (!timeout)
            return;
        command.op = Scenario::Op::WaitCallback;
        command.board = *number;
        command.amount = static_cast<int>(*timeout);
    } else if (tokens.size() >= 2 && tokens[1].text == "file") {
        if (tokens.size() < 3 || tokens.size() > 4)
            return fail("usage: wait file <path> [<timeout ms>]");
        const auto timeout = tokens.size() < 4 ? std::optional<long>(Scenario::DefaultFileTimeoutMs)
                                               : integer(tokens[3].text, 0, MaxWaitMs, "timeout");
        if (!timeout)
            return;
        command.op = Scenario::Op::WaitFile;
        command.path = tokens[2].text;
        command.amount = static_cast<int>(*timeout);
    } else {
        if (tokens.size() != 2)
            return fail("usage: wait <ms>, wait callback <board> [<timeout ms>] or wait file "
                        "<path> [<timeout ms>]");
        const auto ms = integer(tokens[1].text, 0, MaxWaitMs, "wait");
        if (!ms)
            return;
        command.op = Scenario::Op::Wait;
        command.amount = static_cast<int>(*ms);
    }
    add(std::move(command));
}

void Parser::raw(const Tokens& tokens)
{
    std::string digits;
    for (std::size_t i = 1; i < tokens.size(); ++i)
        digits += tokens[i].text;
    if (digits.empty())
        return fail("usage: raw <hex bytes>");
    if (!needsBoard())
        return;
    const auto bad =
        std::find_if(digits.begin(), digits.end(), [](char c) { return hexDigit(c) < 0; });
    if (bad != digits.end())
        return fail(std::string("'") + *bad + "' is not a hex digit");
    if (digits.size() % 2 != 0)
        return fail("odd number of hex digits");
    Scenario::Command command;
    command.op = Scenario::Op::Raw;
    command.board = m_board;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        command.bytes.push_back(
            static_cast<uint8_t>(hexDigit(digits[i]) * 16 + hexDigit(digits[i + 1])));
    add(std::move(command));
}

void Parser::pen(const Tokens& tokens)
{
    if (tokens.size() < 4)
        return fail("usage: pen <index> <x> <y> [tip] [button] [bit2]");
    if (!needsBoard())
        return;
    Scenario::Command command;
    command.op = Scenario::Op::Pen;
    command.board = m_board;
    command.prefixed = m_prefixed;
    const auto index = integer(tokens[1].text, 0, 15, "pen index");
    const auto x = index ? value(tokens[2].text, "x") : std::nullopt;
    const auto y = x ? value(tokens[3].text, "y") : std::nullopt;
    if (!y)
        return;
    command.pen = static_cast<int>(*index);
    command.x = *x;
    command.y = *y;
    for (std::size_t i = 4; i < tokens.size(); ++i) {
        const std::string& flag = tokens[i].text;
        if (flag == "tip")
            command.penFlags |= Scenario::Tip;
        else if (flag == "button")
            command.penFlags |= Scenario::Button;
        else if (flag == "bit2")
            command.penFlags |= Scenario::Bit2;
        else
            return fail("unknown pen flag '" + flag + "' (tip, button or bit2)");
    }
    add(std::move(command));
}

void Parser::contacts(const Tokens& tokens, Scenario::Op op)
{
    const bool touch = op == Scenario::Op::Touch;
    const std::size_t fields = touch ? 5 : 6;
    const char* usage = touch ? "usage: touch [<id> down|up <x> <y> <size> [; ...]]"
                              : "usage: eraser [<id> down|up <x> <y> <width> <height> [; ...]]";
    if (!needsBoard())
        return;
    Scenario::Command command;
    command.op = op;
    command.board = m_board;
    command.prefixed = m_prefixed;
    std::size_t i = 1;
    while (i < tokens.size()) {
        Tokens group;
        for (; i < tokens.size() && tokens[i].text != ";"; ++i)
            group.push_back(tokens[i]);
        const bool separator = i < tokens.size();
        ++i;
        if (group.size() != fields || (group[1].text != "down" && group[1].text != "up"))
            return fail(usage);
        if (separator && i >= tokens.size())
            return fail(usage);
        Scenario::Contact contact;
        const auto id = integer(group[0].text, 0, 127, "contact id");
        const auto x = id ? value(group[2].text, "x") : std::nullopt;
        const auto y = x ? value(group[3].text, "y") : std::nullopt;
        const auto width = y ? value(group[4].text, touch ? "size" : "width") : std::nullopt;
        const auto height = !width  ? std::nullopt
                            : touch ? std::optional<Scenario::Value>(Scenario::Value())
                                    : value(group[5].text, "height");
        if (!height)
            return;
        contact.id = static_cast<int>(*id);
        contact.down = group[1].text == "down";
        contact.x = *x;
        contact.y = *y;
        contact.width = *width;
        contact.height = *height;
        command.contacts.push_back(contact);
    }
    add(std::move(command));
}

void Parser::plug(const Tokens& tokens, Scenario::Op op)
{
    if (tokens.size() != 2)
        return fail(op == Scenario::Op::Plug ? "usage: plug <board>" : "usage: unplug <board>");
    const auto number = declaredBoard(tokens[1].text);
    if (!number)
        return;
    Scenario::Command command;
    command.op = op;
    command.board = *number;
    add(std::move(command));
}

void Parser::repeat(const Tokens& tokens)
{
    if (tokens.size() > 2)
        return fail("usage: repeat [<count>]");
    const auto count = tokens.size() < 2 ? std::optional<long>(Scenario::Forever)
                                         : integer(tokens[1].text, 0, MaxRepeat, "repeat");
    if (!count)
        return;
    if (m_open.size() > MaxNesting)
        return fail("repeats nested more than " + std::to_string(MaxNesting) + " deep");
    Scenario::Command command;
    command.op = Scenario::Op::Repeat;
    command.amount = static_cast<int>(*count);
    add(std::move(command));
    m_open.push_back(&m_open.back()->back().body);
    m_repeatLines.push_back(m_line);
}

void Parser::end(const Tokens& tokens)
{
    if (tokens.size() != 1)
        return fail("usage: end");
    if (m_open.size() == 1)
        return fail("end without repeat");
    m_open.pop_back();
    m_repeatLines.pop_back();
}

void Parser::play(const Tokens& tokens)
{
    if (tokens.size() < 2 || tokens.size() > 3)
        return fail("usage: play <recording> [<speed>]");
    if (!needsBoard())
        return;
    Scenario::Command command;
    command.op = Scenario::Op::Play;
    command.board = m_board;
    command.path = tokens[1].text;
    if (tokens.size() == 3) {
        const std::string& text = tokens[2].text;
        const char* end = text.data() + text.size();
        const auto [ptr, error] = std::from_chars(text.data(), end, command.speed);
        if (error != std::errc() || ptr != end || !(command.speed >= Scenario::MinSpeed) ||
            !(command.speed <= Scenario::MaxSpeed))
            return fail("speed '" + text + "' is not a number from 0.01 to 10000");
    }
    add(std::move(command));
}

} // namespace

uint16_t Scenario::Value::at(double t) const
{
    double v = from;
    switch (kind) {
    case Kind::Constant:
        break;
    case Kind::Ramp:
        v = from + (to - from) * t;
        break;
    case Kind::Sin:
        v = from + to * std::sin(TwoPi * turns * t);
        break;
    case Kind::Cos:
        v = from + to * std::cos(TwoPi * turns * t);
        break;
    }
    return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, MaxUnits));
}

std::vector<uint8_t> Scenario::Command::packet(double t) const
{
    std::vector<uint8_t> packet;
    switch (op) {
    case Op::Raw:
        return bytes;
    case Op::Pen:
        packet = {8, PenType, 0x00};
        appendLittleEndian(packet, x.at(t));
        appendLittleEndian(packet, y.at(t));
        packet.push_back(static_cast<uint8_t>(penFlags | (pen << 3)));
        break;
    case Op::Touch:
    case Op::Eraser: {
        const bool touch = op == Op::Touch;
        packet.push_back(static_cast<uint8_t>(2 + contacts.size() * (touch ? 7 : 9)));
        packet.push_back(touch ? TouchType : EraserType);
        for (const Contact& contact : contacts) {
            packet.push_back(static_cast<uint8_t>(contact.id | (contact.down ? DownBit : 0)));
            appendLittleEndian(packet, contact.x.at(t));
            appendLittleEndian(packet, contact.y.at(t));
            appendLittleEndian(packet, contact.width.at(t));
            if (!touch)
                appendLittleEndian(packet, contact.height.at(t));
        }
        break;
    }
    default:
        return {};
    }
    if (prefixed) {
        const uint8_t prefix[] = {static_cast<uint8_t>(packet.size() + 3), PrefixMarker, 0x00};
        packet.insert(packet.begin(), std::begin(prefix), std::end(prefix));
    }
    return packet;
}

Scenario Scenario::parse(const std::string& text)
{
    Scenario scenario;
    Parser parser(scenario);
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);)
        parser.parseLine(++number, line);
    parser.finish();
    return scenario;
}

const char* Scenario::demoText()
{
    return R"(# One board; a red circle, two green waves and an eraser, over and over.
board 1 hid<NORVA-SIM-1> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>
wait callback 1
# Give the visualiser's window a moment to come up and take the input.
wait 700
repeat
  # The pen draws a circle round the middle of the screen.
  repeat 120
    pen 0 cos(16384,5600) sin(16384,10000) tip
    wait 9
  end
  pen 0 21984 16384
  wait 400
  # Two fingers draw waves across the screen.
  repeat 100
    touch 1 down 2000..30000 sin(7000,2500,2) 300; 2 down 2000..30000 sin(26000,2500,2) 300
    wait 9
  end
  touch 1 up 30000 7000 300; 2 up 30000 26000 300
  wait 400
  # The eraser wipes diagonally across both.
  repeat 80
    eraser 1 down 1000..31000 3000..29000 2400 1600
    wait 9
  end
  eraser 1 up 31000 29000 2400 1600
  wait 1500
end
)";
}
