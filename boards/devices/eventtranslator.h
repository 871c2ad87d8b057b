#pragma once

#include "contactids.h"
#include "inputdevice.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <vector>

// Turns the events of one input device, frame by frame, into the packets of a
// board: positions scaled from the device's axes to 0..32767 over the whole
// screen, touch contacts with ids 0..127 that last from touch-down to lift,
// pens with their tip and buttons, the eraser end as eraser contacts. Its
// packets depend on nothing but the device and the events fed, so recordings
// and live devices are translated alike.
class EventTranslator
{
public:
    using Packet = std::vector<uint8_t>;

    static constexpr int32_t BoardMaximum = 32767;
    static constexpr int MaxContactsPerPacket = 36;
    static constexpr double EraserMillimetres = 10.0;

    // ids: shared with the translators of other devices whose contacts
    // reach the same host, by default the translator's own; the ids taken
    // say holder as theirs.
    explicit EventTranslator(const InputDevice& device, std::shared_ptr<ContactIds> ids = {},
                             int holder = 0);
    ~EventTranslator();
    EventTranslator(const EventTranslator&) = delete;
    EventTranslator& operator=(const EventTranslator&) = delete;

    // Takes one event; the SYN_REPORT that ends a frame gives the frame's
    // packets. After a SYN_DROPPED the events up to the next SYN_REPORT are
    // dropped, and the state is that of the last whole frame, but for the
    // slot being reported: the lost frames may have selected another, which
    // later frames do not say again, so it is unknown until the next
    // ABS_MT_SLOT, and the values of contacts before it are left out.
    std::vector<Packet> feed(const InputDevice::Event& event);
    // After the device lost events, the events that bring the state up to
    // date instead (libevdev's after a SYN_DROPPED: frames of what changed,
    // none when nothing did). Without slots they hold no contacts: BTN_TOUCH
    // 0 lifts every one, else they stay as they were until the next frame,
    // which reports them all.
    std::vector<Packet> resynchronise(const std::vector<InputDevice::Event>& events);
    // Lifts every contact still down and takes the pen out of range.
    std::vector<Packet> finish();
    bool anythingDown() const;
    // Whether the device reported nothing on or above it at the end of the
    // last frame: no contact in a slot, no tool in range, no BTN_TOUCH.
    bool idle() const;

private:
    struct Contact
    {
        int32_t x = 0;
        int32_t y = 0;
        int32_t major = 0;
        int32_t trackingId = -1;
        int32_t distance = 0;
        int32_t toolType = 0;

        // Board contacts do not hover: a contact above the surface, or a
        // palm, is not a touch.
        bool touching() const { return distance <= 0 && toolType != InputCode::MtToolPalm; }
    };

    // What the device has reported so far, as a reader of its events knows it.
    struct State
    {
        // Fixed-size, as the state is copied at every frame.
        std::bitset<InputCode::KeyMax + 1> keys;
        std::array<int32_t, InputCode::AbsMax + 1> values{};
        std::vector<Contact> slotContacts;
        int slot = 0;
        // Unslotted devices: the contacts of the frame so far, and the values
        // of the one being reported.
        std::vector<Contact> reported;
        Contact current;
        // Whether the one being reported has values: an empty SYN_MT_REPORT
        // is no contact.
        bool currentHasValues = false;

        bool key(uint16_t code) const;
        int32_t value(uint16_t code) const;
    };

    // A contact as the board reports it.
    struct BoardContact
    {
        int id = 0;
        bool down = false;
        uint16_t x = 0;
        uint16_t y = 0;
        uint16_t size = 0;
    };

    // A contact of the device that is down, with its board id.
    struct Held
    {
        Contact contact;
        int id = 0;
    };

    void apply(const InputDevice::Event& event);
    // One of InputDevice::SlotCodes.
    void setContactValue(Contact& contact, uint16_t code, int32_t value) const;
    std::vector<Packet> frame();
    std::vector<Contact> contactsNow() const;
    // Matches the device's contacts now to those held, giving ids to new
    // ones; returns the board contacts of the frame, lifts included.
    std::vector<BoardContact> trackContacts(const std::vector<Contact>& now);
    BoardContact boardContact(const Contact& contact, int id, bool down) const;
    void penPackets(std::vector<Packet>& packets);
    static void appendTouchPackets(std::vector<Packet>& packets,
                                   const std::vector<BoardContact>& contacts);

    InputDevice::TouchProtocol m_protocol;
    bool m_hasPen = false;
    bool m_hasTouchKey = false;
    // ABS_MT_TOUCH_MAJOR, or ABS_MT_WIDTH_MAJOR where the device has only that.
    uint16_t m_majorCode = 0;
    InputDevice::Axis m_touchX, m_touchY, m_penX, m_penY;
    // Board units of size per unit of the major axis.
    double m_sizeScale = 0;
    uint16_t m_eraserWidth = 0;
    uint16_t m_eraserHeight = 0;

    State m_state;
    State m_frame;
    bool m_dropping = false;
    bool m_resynchronising = false;

    std::vector<Held> m_held;
    std::shared_ptr<ContactIds> m_ids;
    int m_holder = 0;
    // Where the pen and the eraser end were last, and what they did; their
    // ids while in range or down, else -1.
    int m_penId = -1;
    bool m_penTip = false;
    uint16_t m_penX16 = 0, m_penY16 = 0;
    int m_eraserId = -1;
    uint16_t m_eraserX = 0, m_eraserY = 0;
};
