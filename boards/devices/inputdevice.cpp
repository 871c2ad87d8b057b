#include "inputdevice.h"

#include <cmath>
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

// Millimetres to one decimal, without a trailing ".0"; in whole tenths, as
// the host program's locale may write a decimal comma, which would split the tag.
std::string millimetreText(double value)
{
    const long long tenths = std::llround(value * 10);
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0)
        text += '.' + std::to_string(tenths % 10);
    return text;
}

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

bool InputDevice::isOnScreen() const
{
    return isDirect() || (properties.empty() && !hasPen() &&
                          touchProtocol() != TouchProtocol::None && !has(EvKey, BtnToolFinger));
}

int InputDevice::slotCount() const
{
    const Axis* slot = axis(AbsMtSlot);
    if (!slot || slot->maximum < slot->minimum)
        return 0;
    return int(int64_t(slot->maximum) - slot->minimum + 1);
}

std::optional<InputDevice::Size> InputDevice::millimetres() const
{
    const bool touch =
        touchProtocol() == TouchProtocol::Slots || touchProtocol() == TouchProtocol::Unslotted;
    const Axis* x = axis(touch ? AbsMtPositionX : AbsX);
    const Axis* y = axis(touch ? AbsMtPositionY : AbsY);
    const auto length = [](const Axis* axis) {
        const double range = axis ? double(axis->maximum) - axis->minimum : 0;
        return axis && axis->resolution > 0 && range > 0 ? range / axis->resolution : 0.0;
    };
    const Size size{length(x), length(y)};
    if (size.width <= 0 || size.height <= 0)
        return std::nullopt;
    return size;
}

std::string InputDevice::boardDescription() const
{
    const int count = slotCount();
    char tags[64];
    std::snprintf(tags, sizeof tags, "vid<%04x> pid<%04x> xp<%d> xt<%d> ", vendor, product,
                  hasPen() ? 1 : 0, count > 0 ? count : SlotsWithoutSlotAxis);
    std::string description = tags;
    if (const auto size = millimetres())
        description +=
            "mm<" + millimetreText(size->width) + ',' + millimetreText(size->height) + "> ";
    description += "hid<";
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
