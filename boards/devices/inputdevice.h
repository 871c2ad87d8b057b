#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The event types and codes of the Linux input protocol that boards are made
// from (the kernel's numbers, so that this builds where its headers are not).
namespace InputCode {
constexpr uint16_t EvSyn = 0x00;
constexpr uint16_t EvKey = 0x01;
constexpr uint16_t EvAbs = 0x03;
constexpr uint16_t EvMax = 0x1f;

constexpr uint16_t SynReport = 0;
constexpr uint16_t SynMtReport = 2;
constexpr uint16_t SynDropped = 3;

constexpr uint16_t BtnToolPen = 0x140;
constexpr uint16_t BtnToolRubber = 0x141;
constexpr uint16_t BtnToolBrush = 0x142;
constexpr uint16_t BtnToolPencil = 0x143;
constexpr uint16_t BtnToolAirbrush = 0x144;
constexpr uint16_t BtnToolFinger = 0x145;
constexpr uint16_t BtnTouch = 0x14a;
constexpr uint16_t BtnStylus = 0x14b;
constexpr uint16_t BtnStylus2 = 0x14c;
constexpr uint16_t BtnToolQuadtap = 0x14f;
constexpr uint16_t KeyMax = 0x2ff;

constexpr uint16_t AbsX = 0x00;
constexpr uint16_t AbsY = 0x01;
constexpr uint16_t AbsMtSlot = 0x2f;
constexpr uint16_t AbsMtTouchMajor = 0x30;
constexpr uint16_t AbsMtWidthMajor = 0x32;
constexpr uint16_t AbsMtPositionX = 0x35;
constexpr uint16_t AbsMtPositionY = 0x36;
constexpr uint16_t AbsMtToolType = 0x37;
constexpr uint16_t AbsMtTrackingId = 0x39;
constexpr uint16_t AbsMtDistance = 0x3b;
constexpr uint16_t AbsMax = 0x3f;

constexpr int32_t MtToolPalm = 2;

constexpr uint16_t InputPropDirect = 0x01;
constexpr uint16_t InputPropMax = 0x1f;
} // namespace InputCode

// What a Linux input device says about itself (name, identity, the codes it
// sends, its axes and properties), read from a recording or from the device,
// and what kind of board it makes.
class InputDevice
{
public:
    struct Axis
    {
        int32_t minimum = 0;
        int32_t maximum = 0;
        int32_t fuzz = 0;
        int32_t flat = 0;
        // Units per millimetre; 0 when the device does not say.
        int32_t resolution = 0;
    };

    // One event; time in microseconds.
    struct Event
    {
        int64_t time = 0;
        uint16_t type = 0;
        uint16_t code = 0;
        int32_t value = 0;
        // Where a recording holds it (0 for a live device).
        int line = 0;
    };

    enum class TouchProtocol
    {
        None,
        // Multi-touch with slots (type B).
        Slots,
        // Multi-touch without slots, each contact ended by SYN_MT_REPORT (type A).
        Unslotted,
        // One contact: BTN_TOUCH with ABS_X and ABS_Y.
        Single
    };

    std::string name;
    // Where a live device says it is connected, and its serial number, when
    // it gives them (recordings do not).
    std::string phys;
    std::string uniq;
    uint16_t bus = 0;
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t version = 0;
    std::map<uint16_t, Axis> axes;
    std::set<uint16_t> properties;
    // The keys held at the start, and the absolute values then.
    std::set<uint16_t> initialKeys;
    std::map<uint16_t, int32_t> initialValues;
    // The slot being reported at the start, and each slot's values of the
    // codes in SlotCodes then; empty where the slots start empty (recordings).
    int initialSlot = 0;
    std::vector<std::map<uint16_t, int32_t>> initialSlots;

    // The per-slot codes that make a contact.
    static constexpr uint16_t SlotCodes[] = {InputCode::AbsMtTrackingId, InputCode::AbsMtPositionX,
                                             InputCode::AbsMtPositionY,  InputCode::AbsMtTouchMajor,
                                             InputCode::AbsMtWidthMajor, InputCode::AbsMtToolType,
                                             InputCode::AbsMtDistance};

    bool has(uint16_t type, uint16_t code) const;
    void enable(uint16_t type, uint16_t code);
    const Axis* axis(uint16_t code) const;

    TouchProtocol touchProtocol() const;
    // A pen or an eraser end with a position.
    bool hasPen() const;
    bool isDirect() const { return properties.count(InputCode::InputPropDirect) != 0; }
    // On a screen, as far as the device says: direct, or a touch device
    // with no properties at all that is not a touchpad (no BTN_TOOL_FINGER),
    // as older touchscreens are; a pen only where it is direct.
    bool isOnScreen() const;
    // Touch or pen input: something a board can be made of.
    bool isBoard() const { return touchProtocol() != TouchProtocol::None || hasPen(); }
    // 0 without slots.
    int slotCount() const;

    struct Size
    {
        double width = 0;
        double height = 0;
    };
    // The size in millimetres of what the board's positions span: the
    // multi-touch position axes of a touch device, else ABS_X and ABS_Y, as
    // the translator scales them. None where either lacks a resolution.
    std::optional<Size> millimetres() const;

    // The board's description text: vid, pid, xp (1 with a pen), xt (the
    // slots, or 10), mm (the size in millimetres, where known) and, last,
    // hid with the name in printable ASCII without angle brackets, so that
    // no tag can be found inside it.
    std::string boardDescription() const;
    // What tells this device from others whatever node it has: name, bus,
    // vendor, product, version and unique id. The same for two devices of
    // one model without a unique id, which only phys tells apart.
    std::string identity() const;

private:
    std::set<uint32_t> m_codes;
};
