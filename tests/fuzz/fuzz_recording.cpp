// The input is a recording of an input device, its device description first
// when a line "===" splits it in two (as a .desc file beside the events).
// Every event it yields is translated into board packets, and the recording's
// end lifts what is down: each packet must decode through the system's own
// board packet decoders into contacts in the board's ranges, with no contact
// id twice in one packet, and nothing may be left down.
#include "boardpackets.h"
#include "eventtranslator.h"
#include "fuzzcheck.h"
#include "recording.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::bitset<128> touchesDown;
std::bitset<128> erasersDown;

void checkPacket(const EventTranslator::Packet& bytes)
{
    check(!bytes.empty() && bytes.size() <= 254 && bytes[0] == bytes.size(), "packet length byte");
    const QByteArray packet =
        BoardPackets::stripPrefix(BoardPackets::delivery(bytes.data(), quint32(bytes.size())));
    check(packet.size() == int(bytes.size()), "a packet taken for a prefixed one");
    switch (BoardPackets::classify(packet)) {
    case BoardPackets::Kind::Pen: {
        const NorvaHardware::PenEvent pen = BoardPackets::decodePen(packet);
        check(pen.x <= 32767 && pen.y <= 32767, "pen off the screen");
        return;
    }
    case BoardPackets::Kind::Touch: {
        const NorvaHardware::TouchEvent contacts = BoardPackets::decodeTouch(packet);
        check(!contacts.isEmpty() && contacts.size() <= 36 &&
                  packet.size() == 2 + 7 * contacts.size(),
              "touch packet contacts");
        std::bitset<128> seen;
        for (const NorvaHardware::TouchContact& c : contacts) {
            check(c.x <= 32767 && c.y <= 32767, "touch off the screen");
            check(!seen[c.id], "a contact id twice in one packet");
            seen[c.id] = true;
            touchesDown[c.id] = c.down;
        }
        return;
    }
    case BoardPackets::Kind::Erase: {
        const NorvaHardware::EraseEvent contacts = BoardPackets::decodeErase(packet);
        check(contacts.size() == 1 && packet.size() == 11, "eraser packet");
        check(contacts[0].x <= 32767 && contacts[0].y <= 32767, "eraser off the screen");
        erasersDown[contacts[0].id] = contacts[0].down;
        return;
    }
    default:
        check(false, "a packet of no kind");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find("\n===\n");
    const Recording recording = split == std::string::npos
                                    ? Recording::parse(input, "fuzz.events")
                                    : Recording::parse(input.substr(split + 5), "fuzz.events",
                                                       input.substr(0, split), "fuzz.desc");
    check(recording.diagnostics.size() <= Recording::MaxDiagnostics + 1, "too many diagnostics");
    for (const Recording::Diagnostic& d : recording.diagnostics)
        check(d.line >= 1 && !d.message.empty(), "diagnostic without a line or a message");

    touchesDown.reset();
    erasersDown.reset();
    EventTranslator translator(recording.device);
    for (const InputDevice::Event& event : recording.events) {
        for (const EventTranslator::Packet& packet : translator.feed(event))
            checkPacket(packet);
    }
    for (const EventTranslator::Packet& packet : translator.finish())
        checkPacket(packet);
    check(touchesDown.none() && erasersDown.none() && !translator.anythingDown(),
          "a contact left down");
    return 0;
}
