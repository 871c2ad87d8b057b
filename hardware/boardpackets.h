#pragma once

#include "norvahardware.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <cstddef>

// The byte layout of what a board sends and of what the system sends back.
// Every function is a pure function of its input and accepts any bytes.
namespace BoardPackets {

enum class Kind
{
    Ignored,
    Pen,
    Touch,
    Erase,
    TouchStatus
};

constexpr int PenPacketSize = 8;
constexpr int TouchContactSize = 7;
constexpr int EraseContactSize = 9;
constexpr int TouchStatusPacketSize = 8;
constexpr int SingleContactPacketSize = 9;
// The outgoing touch packet is built in a 255-byte buffer with an 8-bit length.
constexpr int MaxContactsPerTouchPacket = 36;
// The description text in the driver's device record, NUL included.
constexpr std::size_t DescriptionCapacity = 515;

// The bytes of one delivery from the driver, copied as they are. No board
// sends a packet of 2 GiB or more: such a length gives no packet.
QByteArray delivery(const unsigned char* bytes, quint32 length);
// Drops the optional three-byte prefix (byte 1 = 'A').
QByteArray stripPrefix(const QByteArray& bytes);

// Which decoder a packet (prefix removed) belongs to.
Kind classify(const QByteArray& packet);

NorvaHardware::PenEvent decodePen(const QByteArray& packet);
NorvaHardware::TouchEvent decodeTouch(const QByteArray& packet);
NorvaHardware::EraseEvent decodeErase(const QByteArray& packet);
// Leaves status untouched unless the packet is an 8-byte touch-status packet.
void decodeTouchStatus(const QByteArray& packet, NorvaHardware::TouchStatus& status);

// The driver's device information record: its size, and the fields of it
// that the system uses.
constexpr std::size_t DeviceRecordSize = 1128;
using DeviceRecord = std::array<char, DeviceRecordSize>;

struct DeviceEntry
{
    // Only a record that marks its device with 1 describes a usable board.
    bool usable = false;
    qint32 device = 0;
    NorvaHardware::DeviceInfo info;
};

// A zero-filled record with the version field the driver expects.
DeviceRecord emptyDeviceRecord();
// What a record filled by the driver says; the description is read up to its
// NUL, never past the record's end.
DeviceEntry readDeviceRecord(const DeviceRecord& record);

// The text between the first '<' after the first occurrence of tag and the
// next '>'; empty when any of the three is missing.
QByteArray tagValue(const QByteArray& description, const char* tag);
// Reads the description up to its NUL, but never past capacity bytes.
NorvaHardware::DeviceInfo parseDescription(const char* text,
                                           std::size_t capacity = DescriptionCapacity);

// The 9-byte single-contact packet that hands a pen back to the system.
QByteArray singleContactPacket(const NorvaHardware::PenEvent& pen);
// Touch packets of at most MaxContactsPerTouchPacket contacts each, in list
// order; an empty list gives no packet. Byte 0 of each is its own length.
QList<QByteArray> touchPackets(const NorvaHardware::TouchEvent& contacts);

QByteArray penModeCommand(quint8 pen, qint32 mode);
QByteArray plCommand(qint32 on);

} // namespace BoardPackets
