#include "inputdevice.h"

#include <cstdio>

using namespace InputCode;

namespace {

uint32_t key(uint16_t type, uint16_t code)
{
    return uint32_t(type) << 16 | code;
}

constexpr int SlotsWithoutSlotAxis = 10;
// What the driver's device record holds of a description, without its NUL.
constexpr std::size_t MaxDescriptionLength = 514;

} // namespace

bool InputDevice::has(uint16_t type, uint16_t code) const
{
    return m_codes.count(key(type, code)) != 0;
}

void InputDevice::enable(uint16_t type, uint16_t code)
{
    m_codes.insert(key(type, code));
}

const InputDevice::Axis* InputDevice::axis(uint16_t code) const
{
    const auto found = axes.find(code);
    return found != axes.end() && has(EvAbs, code) ? &found->second : nullptr;
}

InputDevice::TouchProtocol InputDevice::touchProtocol() const
{
    if (axis(AbsMtPositionX) && axis(AbsMtPositionY))
        return axis(AbsMtSlot) ? TouchProtocol::Slots : TouchProtocol::Unslotted;
    // A pen's BTN_TOUCH is its tip.
    if (!hasPen() && has(EvKey, BtnTouch) && axis(AbsX) && axis(AbsY))
        return TouchProtocol::Single;
    return TouchProtocol::None;
}

bool InputDevice::hasPen() const
{
    const bool tool = has(EvKey, BtnToolPen) || has(EvKey, BtnToolRubber) ||
                      has(EvKey, BtnToolBrush) || has(EvKey, BtnToolPencil) ||
                      has(EvKey, BtnToolAirbrush);
    return tool && axis(AbsX) && axis(AbsY);
}

int InputDevice::slotCount() const
{
    const Axis* slot = axis(AbsMtSlot);
    if (!slot || slot->maximum < slot->minimum)
        return 0;
    return int(int64_t(slot->maximum) - slot->minimum + 1);
}

std::string InputDevice::boardDescription() const
{
    const int count = slotCount();
    char tags[64];
    std::snprintf(tags, sizeof tags, "vid<%04x> pid<%04x> xp<%d> xt<%d> hid<", vendor, product,
                  hasPen() ? 1 : 0, count > 0 ? count : SlotsWithoutSlotAxis);
    std::string description = tags;
    for (const char c : name) {
        if (c >= 0x20 && c < 0x7f && c != '<' && c != '>' &&
            description.size() < MaxDescriptionLength - 1)
            description += c;
    }
    return description + '>';
}

std::string InputDevice::identity() const
{
    char ids[32];
    std::snprintf(ids, sizeof ids, "%04x:%04x:%04x:%04x", bus, vendor, product, version);
    return name + '\n' + ids + '\n' + uniq;
}
