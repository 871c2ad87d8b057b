#pragma once

#include "inputdevice.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

// The touchscreen through which the contacts that the visualiser hands back
// reach the desktop: its description (multi-touch with slots, board units
// 0..32767 over the whole screen) and the events that each handed-back
// packet becomes. Pens handed back are contacts of their own.
class SystemTouch
{
public:
    static constexpr int Slots = 32;
    static constexpr int32_t Maximum = 32767;

    // The resolutions in board units per millimetre, 0 where not known.
    static InputDevice device(int32_t xResolution = 0, int32_t yResolution = 0);
    // The resolutions of a touchscreen whose axes span the device's: the
    // screen is as many millimetres wide and high as the device's axes.
    static std::pair<int32_t, int32_t> resolutionOf(const InputDevice& device);

    // Whether a contact that comes down is handed to the desktop: a touch by
    // its id, a pen by its index.
    using Wanted = std::function<bool(bool pen, int id)>;

    // The events of one packet as the system's touch packets and pen
    // single-contact packets are laid out; a packet of another kind, or cut
    // short, gives none. Contacts that are not wanted are left out from
    // their start to their lift.
    std::vector<InputDevice::Event> events(const uint8_t* bytes, std::size_t length,
                                           const Wanted& wanted = {});

private:
    struct Contact
    {
        int key = 0;
        bool down = false;
        int32_t x = 0;
        int32_t y = 0;
    };

    void contact(std::vector<InputDevice::Event>& events, const Contact& contact, bool wanted);

    // Slots by contact key: touch ids, and 128 + the pen index for pens.
    std::map<int, int> m_slots;
    // Contacts that came down unwanted or while every slot was taken: the
    // desktop gets none of their stroke, not its end either.
    std::set<int> m_refused;
    // The keys of the contacts down, oldest first: the oldest is the
    // desktop's single-touch pointer.
    std::vector<int> m_order;
    std::map<int, std::pair<int32_t, int32_t>> m_positions;
    int32_t m_nextTrackingId = 0;
    bool m_touching = false;
};
