#include "scenario.h"

#include "scenarioreader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>

namespace {

constexpr long MaxUnits = 65535;
constexpr uint8_t PenType = 0x21;
constexpr uint8_t TouchType = 0x45;
constexpr uint8_t EraserType = 0x46;
constexpr uint8_t PrefixMarker = 0x41;
constexpr uint8_t DownBit = 0x80;
constexpr double TwoPi = 6.283185307179586;

void appendLittleEndian(std::vector<uint8_t>& packet, uint16_t value)
{
    packet.push_back(static_cast<uint8_t>(value & 0xFF));
    packet.push_back(static_cast<uint8_t>(value >> 8));
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

Scenario Scenario::parse(const std::string& text, const std::string& file)
{
    Scenario scenario;
    ScenarioReader reader(std::make_unique<std::istringstream>(text), file,
                          [&](const Diagnostic& d) { scenario.diagnostics.push_back(d); });
    reader.readBlock(&scenario.commands, SIZE_MAX);
    // An open repeat still runs, up to the end of the text.
    reader.finish();
    std::stable_sort(scenario.diagnostics.begin(), scenario.diagnostics.end(),
                     [](const auto& a, const auto& b) { return a.line < b.line; });
    scenario.boards = reader.boards();
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
