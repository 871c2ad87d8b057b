#include "eventtranslator.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <tuple>

using namespace InputCode;
using Protocol = InputDevice::TouchProtocol;

namespace {

constexpr uint8_t PenType = 0x21;
constexpr uint8_t TouchType = 0x45;
constexpr uint8_t EraserType = 0x46;
constexpr uint8_t DownBit = 0x80;
constexpr int TouchContactSize = 7;
constexpr int EraserContactSize = 9;
// Slots past this many would have no contact id left to get.
constexpr int MaxSlots = 256;
constexpr double BoardUnitsPerScreen = 32768.0;
constexpr double EraserFractionOfAxis = 0.01;
constexpr uint16_t PenTools[] = {BtnToolPen, BtnToolBrush, BtnToolPencil, BtnToolAirbrush};

uint16_t clampUnits(double value, double maximum)
{
    return uint16_t(std::clamp(std::lround(value), 0L, long(maximum)));
}

// The axis's minimum to 0, its maximum to 32767.
uint16_t scale(int32_t value, const InputDevice::Axis& axis)
{
    const double range = double(axis.maximum) - axis.minimum;
    if (range <= 0)
        return 0;
    return clampUnits((double(value) - axis.minimum) * EventTranslator::BoardMaximum / range,
                      EventTranslator::BoardMaximum);
}

bool isContactCode(uint16_t code)
{
    return std::find(std::begin(InputDevice::SlotCodes), std::end(InputDevice::SlotCodes), code) !=
           std::end(InputDevice::SlotCodes);
}

void putWord(EventTranslator::Packet& packet, uint16_t value)
{
    packet.push_back(uint8_t(value & 0xFF));
    packet.push_back(uint8_t(value >> 8));
}

InputDevice::Axis axisOf(const InputDevice& device, uint16_t code)
{
    const InputDevice::Axis* axis = device.axis(code);
    return axis ? *axis : InputDevice::Axis();
}

// The eraser's extent along an axis: about 10 mm where the axis has a
// resolution, else a hundredth of it.
uint16_t eraserExtent(const InputDevice::Axis& axis)
{
    const double range = double(axis.maximum) - axis.minimum;
    if (range <= 0)
        return 0;
    const double units = axis.resolution > 0 ? EventTranslator::EraserMillimetres * axis.resolution
                                             : range * EraserFractionOfAxis;
    return clampUnits(units * BoardUnitsPerScreen / range, 65535);
}

} // namespace

bool EventTranslator::State::key(uint16_t code) const
{
    return code < keys.size() && keys[code];
}

int32_t EventTranslator::State::value(uint16_t code) const
{
    return code < values.size() ? values[code] : 0;
}

EventTranslator::EventTranslator(const InputDevice& device, std::shared_ptr<ContactIds> ids,
                                 int holder)
    : m_protocol(device.touchProtocol()), m_hasPen(device.hasPen()),
      m_hasTouchKey(device.has(EvKey, BtnTouch)), m_touchX(axisOf(device, AbsMtPositionX)),
      m_touchY(axisOf(device, AbsMtPositionY)), m_penX(axisOf(device, AbsX)),
      m_penY(axisOf(device, AbsY)), m_ids(ids ? std::move(ids) : std::make_shared<ContactIds>()),
      m_holder(holder)
{
    if (m_protocol == Protocol::Single) {
        m_touchX = m_penX;
        m_touchY = m_penY;
    }
    m_majorCode = device.axis(AbsMtTouchMajor) ? AbsMtTouchMajor : AbsMtWidthMajor;
    const InputDevice::Axis* major = device.axis(m_majorCode);
    const double range = double(m_touchX.maximum) - m_touchX.minimum;
    if (major && range > 0 && m_protocol != Protocol::Single) {
        // Half the major axis is the radius, in x units where both axes say
        // how long their units are.
        m_sizeScale = 0.5 * BoardUnitsPerScreen / range;
        if (major->resolution > 0 && m_touchX.resolution > 0)
            m_sizeScale *= double(m_touchX.resolution) / major->resolution;
    }
    m_eraserWidth = eraserExtent(m_penX);
    m_eraserHeight = eraserExtent(m_penY);
    if (m_protocol == Protocol::Slots) {
        m_state.slotContacts.resize(std::size_t(std::min(device.slotCount(), MaxSlots)));
        // Fingers already down are new contacts in the first frame, as
        // nothing is held yet.
        m_state.slot = device.initialSlot;
        for (std::size_t slot = 0;
             slot < std::min(m_state.slotContacts.size(), device.initialSlots.size()); ++slot) {
            for (const auto& [code, value] : device.initialSlots[slot])
                setContactValue(m_state.slotContacts[slot], code, value);
        }
    }
    for (const uint16_t key : device.initialKeys) {
        if (key < m_state.keys.size())
            m_state.keys[key] = true;
    }
    for (const auto& [code, value] : device.initialValues) {
        if (code < m_state.values.size())
            m_state.values[code] = value;
    }
    m_frame = m_state;
}

EventTranslator::~EventTranslator()
{
    // What this device still holds is free for the others.
    for (const Held& held : m_held)
        m_ids->release(ContactIds::Touch, held.id);
    m_ids->release(ContactIds::Pen, m_penId);
    m_ids->release(ContactIds::Eraser, m_eraserId);
}

std::vector<EventTranslator::Packet> EventTranslator::feed(const InputDevice::Event& event)
{
    if (event.type != EvSyn) {
        if (!m_dropping)
            apply(event);
        else if (m_protocol == Protocol::Slots && event.type == EvAbs && event.code == AbsMtSlot)
            m_state.slot = event.value;
        return {};
    }
    switch (event.code) {
    case SynMtReport:
        if (!m_dropping && m_protocol == Protocol::Unslotted && m_state.currentHasValues) {
            m_state.reported.push_back(m_state.current);
            m_state.current.trackingId = -1;
            m_state.currentHasValues = false;
        }
        return {};
    case SynDropped:
        m_state = m_frame;
        m_state.slot = -1;
        m_dropping = true;
        return {};
    case SynReport:
        if (m_dropping) {
            const int slot = m_state.slot;
            m_state = m_frame;
            m_state.slot = slot;
            m_dropping = false;
            return {};
        }
        {
            std::vector<Packet> packets = frame();
            m_state.reported.clear();
            m_frame = m_state;
            return packets;
        }
    default:
        return {};
    }
}

std::vector<EventTranslator::Packet>
EventTranslator::resynchronise(const std::vector<InputDevice::Event>& events)
{
    std::vector<Packet> packets;
    m_resynchronising = true;
    for (const InputDevice::Event& event : events) {
        const std::vector<Packet> frame = feed(event);
        packets.insert(packets.end(), frame.begin(), frame.end());
    }
    m_resynchronising = false;
    m_state.current = {};
    m_state.currentHasValues = false;
    m_frame = m_state;
    return packets;
}

void EventTranslator::apply(const InputDevice::Event& event)
{
    if (event.type == EvKey) {
        if (event.code < m_state.keys.size())
            m_state.keys[event.code] = event.value != 0;
        return;
    }
    if (event.type != EvAbs)
        return;
    Contact* contact = nullptr;
    if (m_protocol == Protocol::Slots) {
        if (event.code == AbsMtSlot) {
            m_state.slot = event.value;
            return;
        }
        if (m_state.slot >= 0 && std::size_t(m_state.slot) < m_state.slotContacts.size())
            contact = &m_state.slotContacts[std::size_t(m_state.slot)];
    } else if (m_protocol == Protocol::Unslotted) {
        contact = &m_state.current;
    }
    if (isContactCode(event.code)) {
        if (contact) {
            m_state.currentHasValues = m_protocol == Protocol::Unslotted;
            setContactValue(*contact, event.code, event.value);
        }
        return;
    }
    if (event.code < m_state.values.size())
        m_state.values[event.code] = event.value;
}

void EventTranslator::setContactValue(Contact& contact, uint16_t code, int32_t value) const
{
    if (code == AbsMtPositionX)
        contact.x = value;
    else if (code == AbsMtPositionY)
        contact.y = value;
    else if (code == AbsMtTrackingId)
        contact.trackingId = value;
    else if (code == m_majorCode)
        contact.major = value;
    else if (code == AbsMtDistance)
        contact.distance = value;
    else if (code == AbsMtToolType)
        contact.toolType = value;
}

std::vector<EventTranslator::Packet> EventTranslator::frame()
{
    std::vector<Packet> packets;
    if (m_resynchronising && m_protocol == Protocol::Unslotted) {
        if (m_hasTouchKey && !m_state.key(BtnTouch))
            appendTouchPackets(packets, trackContacts({}));
    } else if (m_protocol != Protocol::None) {
        appendTouchPackets(packets, trackContacts(contactsNow()));
    }
    penPackets(packets);
    return packets;
}

std::vector<EventTranslator::Contact> EventTranslator::contactsNow() const
{
    std::vector<Contact> now;
    switch (m_protocol) {
    case Protocol::Slots:
        for (std::size_t slot = 0; slot < m_state.slotContacts.size(); ++slot) {
            Contact contact = m_state.slotContacts[slot];
            if (contact.trackingId < 0 || !contact.touching())
                continue;
            // A slot's contact is the same while its tracking id is.
            contact.trackingId = int32_t(slot) << 16 ^ (contact.trackingId & 0xFFFF);
            now.push_back(contact);
        }
        break;
    case Protocol::Unslotted:
        std::copy_if(m_state.reported.begin(), m_state.reported.end(), std::back_inserter(now),
                     [](const Contact& contact) { return contact.touching(); });
        break;
    case Protocol::Single:
        if (m_state.key(BtnTouch))
            now.push_back({m_state.value(AbsX), m_state.value(AbsY), 0, 0});
        break;
    case Protocol::None:
        break;
    }
    return now;
}

std::vector<EventTranslator::BoardContact>
EventTranslator::trackContacts(const std::vector<Contact>& now)
{
    std::vector<int> match(now.size(), -1);
    std::vector<bool> taken(m_held.size(), false);
    // Contacts with a tracking id are the held contact with the same id.
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (now[i].trackingId < 0)
            continue;
        for (std::size_t h = 0; h < m_held.size(); ++h) {
            if (!taken[h] && m_held[h].contact.trackingId == now[i].trackingId) {
                match[i] = int(h);
                taken[h] = true;
                break;
            }
        }
    }
    // Those without are the nearest held one, nearest pairs first.
    std::vector<std::tuple<int64_t, std::size_t, std::size_t>> pairs;
    for (std::size_t i = 0; i < now.size(); ++i) {
        for (std::size_t h = 0; h < m_held.size(); ++h) {
            if (now[i].trackingId >= 0 || m_held[h].contact.trackingId >= 0)
                continue;
            const int64_t dx = int64_t(now[i].x) - m_held[h].contact.x;
            const int64_t dy = int64_t(now[i].y) - m_held[h].contact.y;
            pairs.emplace_back(dx * dx + dy * dy, i, h);
        }
    }
    std::sort(pairs.begin(), pairs.end());
    for (const auto& [distance, i, h] : pairs) {
        if (match[i] < 0 && !taken[h]) {
            match[i] = int(h);
            taken[h] = true;
        }
    }

    std::vector<BoardContact> contacts;
    std::vector<Held> held;
    for (std::size_t i = 0; i < now.size(); ++i) {
        const int id = match[i] >= 0 ? m_held[std::size_t(match[i])].id
                                     : m_ids->take(ContactIds::Touch, m_holder);
        if (id < 0)
            continue;
        held.push_back({now[i], id});
        contacts.push_back(boardContact(now[i], id, true));
    }
    // The ids of lifted contacts are free again only after this frame.
    for (std::size_t h = 0; h < m_held.size(); ++h) {
        if (taken[h])
            continue;
        contacts.push_back(boardContact(m_held[h].contact, m_held[h].id, false));
        m_ids->release(ContactIds::Touch, m_held[h].id);
    }
    m_held = std::move(held);
    return contacts;
}

EventTranslator::BoardContact EventTranslator::boardContact(const Contact& contact, int id,
                                                            bool down) const
{
    BoardContact c;
    c.id = id;
    c.down = down;
    c.x = scale(contact.x, m_touchX);
    c.y = scale(contact.y, m_touchY);
    c.size = clampUnits(contact.major * m_sizeScale, 65535);
    return c;
}

void EventTranslator::penPackets(std::vector<Packet>& packets)
{
    if (!m_hasPen)
        return;
    const bool rubber = m_state.key(BtnToolRubber);
    const bool pen = !rubber && std::any_of(std::begin(PenTools), std::end(PenTools),
                                            [&](uint16_t tool) { return m_state.key(tool); });
    const uint16_t x = scale(m_state.value(AbsX), m_penX);
    const uint16_t y = scale(m_state.value(AbsY), m_penY);
    const bool tip = m_state.key(BtnTouch);
    if (pen && m_penId < 0)
        m_penId = m_ids->take(ContactIds::Pen, m_holder);
    if (m_penId >= 0) {
        // Out of range, the pen's last record hovers where it was.
        const uint8_t status =
            pen ? uint8_t((tip ? 0x01 : 0) | (m_state.key(BtnStylus) ? 0x02 : 0) |
                          (m_state.key(BtnStylus2) ? 0x04 : 0))
                : 0;
        if (pen) {
            m_penX16 = x;
            m_penY16 = y;
        }
        Packet packet{8, PenType, uint8_t(m_penId)};
        putWord(packet, m_penX16);
        putWord(packet, m_penY16);
        packet.push_back(status);
        packets.push_back(std::move(packet));
        m_penTip = pen && tip;
        if (!pen) {
            m_ids->release(ContactIds::Pen, m_penId);
            m_penId = -1;
        }
    }
    const bool erasing = rubber && tip;
    if (erasing && m_eraserId < 0)
        m_eraserId = m_ids->take(ContactIds::Eraser, m_holder);
    if (m_eraserId >= 0) {
        if (erasing) {
            m_eraserX = x;
            m_eraserY = y;
        }
        Packet packet{2 + EraserContactSize, EraserType,
                      uint8_t(m_eraserId | (erasing ? DownBit : 0))};
        putWord(packet, m_eraserX);
        putWord(packet, m_eraserY);
        putWord(packet, m_eraserWidth);
        putWord(packet, m_eraserHeight);
        packets.push_back(std::move(packet));
        if (!erasing) {
            m_ids->release(ContactIds::Eraser, m_eraserId);
            m_eraserId = -1;
        }
    }
}

void EventTranslator::appendTouchPackets(std::vector<Packet>& packets,
                                         const std::vector<BoardContact>& contacts)
{
    for (std::size_t first = 0; first < contacts.size(); first += MaxContactsPerPacket) {
        const std::size_t count =
            std::min<std::size_t>(MaxContactsPerPacket, contacts.size() - first);
        Packet packet{uint8_t(2 + TouchContactSize * count), TouchType};
        for (std::size_t i = first; i < first + count; ++i) {
            const BoardContact& c = contacts[i];
            packet.push_back(uint8_t(c.id | (c.down ? DownBit : 0)));
            putWord(packet, c.x);
            putWord(packet, c.y);
            putWord(packet, c.size);
        }
        packets.push_back(std::move(packet));
    }
}

std::vector<EventTranslator::Packet> EventTranslator::finish()
{
    std::vector<Packet> packets;
    std::vector<BoardContact> lifts;
    for (const Held& held : m_held) {
        lifts.push_back(boardContact(held.contact, held.id, false));
        m_ids->release(ContactIds::Touch, held.id);
    }
    m_held.clear();
    appendTouchPackets(packets, lifts);
    m_state.keys.reset();
    m_frame = m_state;
    penPackets(packets);
    return packets;
}

bool EventTranslator::anythingDown() const
{
    return !m_held.empty() || m_penTip || m_eraserId >= 0;
}

bool EventTranslator::idle() const
{
    // BTN_TOOL_PEN to BTN_TOOL_QUADTAP: the tools in range, the fingers that
    // touchpads and older touchscreens count, the tip and the pen's buttons.
    for (uint16_t key = BtnToolPen; key <= BtnToolQuadtap; ++key) {
        if (m_frame.key(key))
            return false;
    }
    return m_held.empty() &&
           std::none_of(m_frame.slotContacts.begin(), m_frame.slotContacts.end(),
                        [](const Contact& contact) { return contact.trackingId >= 0; });
}
