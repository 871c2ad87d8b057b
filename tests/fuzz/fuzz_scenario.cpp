// The input is a scenario text for the simulated board. Every command it
// yields builds its packet at the start, middle and end of its repeat; what a
// pen, touch or eraser command sends must decode, through the system's own
// board packet decoders, to the values the command gives for that moment.
// Every diagnostic is a short line of printable ASCII.
#include "boardpackets.h"
#include "fuzzcheck.h"
#include "scenario.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

QByteArray delivered(const std::vector<uint8_t>& bytes)
{
    return BoardPackets::stripPrefix(BoardPackets::delivery(bytes.data(), quint32(bytes.size())));
}

void checkPacket(const Scenario::Command& command, double t)
{
    using Op = Scenario::Op;
    const std::vector<uint8_t> bytes = command.packet(t);
    switch (command.op) {
    case Op::Raw:
        check(bytes == command.bytes, "raw bytes changed");
        return;
    case Op::Pen: {
        check(bytes.size() == (command.prefixed ? 11u : 8u), "pen packet length");
        const QByteArray packet = delivered(bytes);
        check(BoardPackets::classify(packet) == BoardPackets::Kind::Pen, "pen packet not a pen");
        const NorvaHardware::PenEvent pen = BoardPackets::decodePen(packet);
        check(pen.pen == command.pen && pen.x == command.x.at(t) && pen.y == command.y.at(t) &&
                  pen.tip == bool(command.penFlags & Scenario::Tip) &&
                  pen.button == bool(command.penFlags & Scenario::Button) &&
                  pen.statusBit2 == bool(command.penFlags & Scenario::Bit2),
              "pen packet decodes to another pen");
        return;
    }
    case Op::Touch:
    case Op::Eraser: {
        const bool touch = command.op == Op::Touch;
        const std::size_t contactSize =
            touch ? BoardPackets::TouchContactSize : BoardPackets::EraseContactSize;
        const std::size_t length = 2 + contactSize * command.contacts.size();
        check(bytes.size() == length + (command.prefixed ? 3 : 0), "contact packet length");
        // The length byte, like the prefix's, is the length truncated to 8 bits.
        check(bytes[0] == uint8_t(bytes.size()), "contact packet length byte");
        const QByteArray packet = delivered(bytes);
        check(BoardPackets::classify(packet) ==
                  (touch ? BoardPackets::Kind::Touch : BoardPackets::Kind::Erase),
              "contact packet of another kind");
        const NorvaHardware::TouchEvent touches = BoardPackets::decodeTouch(packet);
        const NorvaHardware::EraseEvent erasers = BoardPackets::decodeErase(packet);
        check(std::size_t(touch ? touches.size() : erasers.size()) == command.contacts.size(),
              "contact count");
        for (std::size_t i = 0; i < command.contacts.size(); ++i) {
            const Scenario::Contact& c = command.contacts[i];
            const int at = int(i);
            if (touch)
                check(touches[at].id == c.id && touches[at].down == c.down &&
                          touches[at].x == c.x.at(t) && touches[at].y == c.y.at(t) &&
                          touches[at].size == c.width.at(t),
                      "touch packet decodes to another contact");
            else
                check(erasers[at].id == c.id && erasers[at].down == c.down &&
                          erasers[at].x == c.x.at(t) && erasers[at].y == c.y.at(t) &&
                          erasers[at].width == c.width.at(t) &&
                          erasers[at].height == c.height.at(t),
                      "eraser packet decodes to another contact");
        }
        return;
    }
    default:
        check(bytes.empty(), "a command that sends nothing built a packet");
        return;
    }
}

void checkCommands(const std::vector<Scenario::Command>& commands, int depth)
{
    check(depth <= 101, "repeats nested too deep");
    for (const Scenario::Command& command : commands) {
        for (const double t : {0.0, 0.5, 1.0})
            checkPacket(command, t);
        check(command.op == Scenario::Op::Repeat || command.body.empty(),
              "a body outside a repeat");
        checkCommands(command.body, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Scenario scenario =
        Scenario::parse(std::string(reinterpret_cast<const char*>(data), size));
    for (const Scenario::Board& board : scenario.boards)
        check(board.number >= 1 && board.number <= 999 &&
                  board.description.size() <= Scenario::MaxDescriptionLength,
              "board out of range");
    for (const Scenario::Diagnostic& d : scenario.diagnostics) {
        check(d.line >= 1 && !d.message.empty(), "diagnostic without a line or a message");
        // Whatever the text, what reaches the terminal is a short line of
        // printable ASCII.
        check(d.message.size() <= 400 && std::all_of(d.message.begin(), d.message.end(),
                                                     [](char c) { return c >= 0x20 && c < 0x7f; }),
              "a diagnostic that is long or not printable");
    }
    checkCommands(scenario.commands, 0);
    return 0;
}
