#include "systemtouch.h"

#include <algorithm>
#include <cmath>

using namespace InputCode;

namespace {

constexpr uint8_t PenType = 0x21;
constexpr uint8_t TouchType = 0x45;
constexpr uint8_t DownBit = 0x80;
constexpr std::size_t PenPacketSize = 9;
constexpr std::size_t TouchContactSize = 7;
constexpr int PenKeys = 128;
constexpr int32_t MaxTrackingId = 65535;

int32_t word(const uint8_t* bytes)
{
    return std::min<int32_t>(bytes[0] | bytes[1] << 8, SystemTouch::Maximum);
}

} // namespace

InputDevice SystemTouch::device(int32_t xResolution, int32_t yResolution)
{
    InputDevice device;
    device.name = "norvaboardex touchscreen";
    device.bus = 0x06; // BUS_VIRTUAL
    device.properties.insert(InputPropDirect);
    device.enable(EvKey, BtnTouch);
    for (const uint16_t code : {AbsX, AbsY, AbsMtPositionX, AbsMtPositionY}) {
        const bool x = code == AbsX || code == AbsMtPositionX;
        device.axes[code] = {0, Maximum, 0, 0, x ? xResolution : yResolution};
        device.enable(EvAbs, code);
    }
    device.axes[AbsMtSlot] = {0, Slots - 1, 0, 0, 0};
    device.axes[AbsMtTrackingId] = {0, MaxTrackingId, 0, 0, 0};
    device.enable(EvAbs, AbsMtSlot);
    device.enable(EvAbs, AbsMtTrackingId);
    return device;
}

std::pair<int32_t, int32_t> SystemTouch::resolutionOf(const InputDevice& device)
{
    const bool touch = device.axis(AbsMtPositionX) && device.axis(AbsMtPositionY);
    const auto resolution = [](const InputDevice::Axis* axis) -> int32_t {
        const double range = axis ? double(axis->maximum) - axis->minimum : 0;
        if (!axis || axis->resolution <= 0 || range <= 0)
            return 0;
        return int32_t(std::lround(Maximum * double(axis->resolution) / range));
    };
    return {resolution(device.axis(touch ? AbsMtPositionX : AbsX)),
            resolution(device.axis(touch ? AbsMtPositionY : AbsY))};
}

std::vector<InputDevice::Event> SystemTouch::events(const uint8_t* bytes, std::size_t length,
                                                    const Wanted& wanted)
{
    std::vector<InputDevice::Event> events;
    if (!bytes || length < 2)
        return events;
    if (bytes[1] == PenType && length >= PenPacketSize) {
        const int pen = bytes[2] & 0x7F;
        contact(events, {PenKeys + pen, bool(bytes[2] & DownBit), word(bytes + 3), word(bytes + 5)},
                !wanted || wanted(true, pen));
    } else if (bytes[1] == TouchType) {
        for (std::size_t at = 2; at + TouchContactSize <= length; at += TouchContactSize) {
            const int id = bytes[at] & 0x7F;
            contact(events,
                    {id, bool(bytes[at] & DownBit), word(bytes + at + 1), word(bytes + at + 3)},
                    !wanted || wanted(false, id));
        }
    }
    if (events.empty())
        return events;
    // The contact down longest is also the single-touch pointer.
    const bool touching = !m_order.empty();
    if (touching) {
        const auto [x, y] = m_positions[m_order.front()];
        events.push_back({0, EvAbs, AbsX, x, 0});
        events.push_back({0, EvAbs, AbsY, y, 0});
    }
    if (touching != m_touching)
        events.push_back({0, EvKey, BtnTouch, touching ? 1 : 0, 0});
    m_touching = touching;
    events.push_back({0, EvSyn, SynReport, 0, 0});
    return events;
}

void SystemTouch::contact(std::vector<InputDevice::Event>& events, const Contact& c, bool wanted)
{
    auto found = m_slots.find(c.key);
    if (found == m_slots.end()) {
        if (!c.down) {
            m_refused.erase(c.key);
            return;
        }
        if (m_refused.count(c.key))
            return;
        if (!wanted) {
            m_refused.insert(c.key);
            return;
        }
        int slot = 0;
        while (slot < Slots && std::any_of(m_slots.begin(), m_slots.end(),
                                           [&](const auto& taken) { return taken.second == slot; }))
            ++slot;
        // More contacts than slots: the desktop does not get this one, nor
        // later the middle of its stroke as a touch of its own.
        if (slot == Slots) {
            m_refused.insert(c.key);
            return;
        }
        found = m_slots.emplace(c.key, slot).first;
        m_order.push_back(c.key);
        events.push_back({0, EvAbs, AbsMtSlot, slot, 0});
        events.push_back({0, EvAbs, AbsMtTrackingId, m_nextTrackingId, 0});
        m_nextTrackingId = (m_nextTrackingId + 1) % (MaxTrackingId + 1);
    } else {
        events.push_back({0, EvAbs, AbsMtSlot, found->second, 0});
    }
    events.push_back({0, EvAbs, AbsMtPositionX, c.x, 0});
    events.push_back({0, EvAbs, AbsMtPositionY, c.y, 0});
    if (c.down) {
        m_positions[c.key] = {c.x, c.y};
    } else {
        events.push_back({0, EvAbs, AbsMtTrackingId, -1, 0});
        m_slots.erase(found);
        m_positions.erase(c.key);
        m_order.erase(std::find(m_order.begin(), m_order.end(), c.key));
    }
}
