#include "boardpackets.h"

#include <QList>
#include <QtNumeric>

#include <cstring>
#include <limits>

namespace BoardPackets {

namespace {

quint8 byteAt(const QByteArray& packet, int offset)
{
    return static_cast<quint8>(packet.at(offset));
}

// Unsigned little-endian 16-bit field, widened so that 0xFFFF stays 65535.
qint32 word(const QByteArray& packet, int offset)
{
    return qint32(byteAt(packet, offset)) | (qint32(byteAt(packet, offset + 1)) << 8);
}

void putWord(QByteArray& packet, int offset, qint32 value)
{
    packet[offset] = char(value & 0xFF);
    packet[offset + 1] = char((value >> 8) & 0xFF);
}

// "<width>,<height>", both positive; none for anything else.
std::optional<QSizeF> millimetresOf(const QByteArray& value)
{
    const QList<QByteArray> parts = value.split(',');
    if (parts.size() != 2)
        return std::nullopt;
    bool widthOk = false;
    bool heightOk = false;
    const QSizeF size(parts[0].toDouble(&widthOk), parts[1].toDouble(&heightOk));
    if (!widthOk || !heightOk || !qIsFinite(size.width()) || !qIsFinite(size.height()) ||
        size.width() <= 0 || size.height() <= 0)
        return std::nullopt;
    return size;
}

constexpr quint8 PrefixMarker = 0x41;
constexpr int PrefixSize = 3;
constexpr quint8 PenType = 0x21;
constexpr quint8 TouchType = 0x45;
constexpr quint8 EraseType = 0x46;
constexpr quint8 TouchStatusType = 0xA5;
constexpr quint8 DownBit = 0x80;

constexpr std::size_t RecordVersionOffset = 0;
constexpr std::size_t RecordUsableOffset = 4;
constexpr std::size_t RecordDeviceOffset = 20;
constexpr std::size_t RecordDescriptionOffset = 613;
constexpr qint32 RecordVersion = 9;
// The description closes the record.
static_assert(RecordDescriptionOffset + DescriptionCapacity == DeviceRecordSize);

qint32 recordField(const DeviceRecord& record, std::size_t offset)
{
    qint32 value = 0;
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

} // namespace

QByteArray delivery(const unsigned char* bytes, quint32 length)
{
    if (bytes == nullptr || length == 0 || length > quint32(std::numeric_limits<int>::max()))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(bytes), int(length));
}

QByteArray stripPrefix(const QByteArray& bytes)
{
    if (bytes.size() >= PrefixSize && byteAt(bytes, 1) == PrefixMarker)
        return bytes.mid(PrefixSize);
    return bytes;
}

Kind classify(const QByteArray& packet)
{
    const int n = packet.size();
    if (n < 2)
        return Kind::Ignored;
    const quint8 type = byteAt(packet, 1);
    if (n == PenPacketSize && byteAt(packet, 0) == PenPacketSize && type == PenType)
        return Kind::Pen;
    if (type == TouchType)
        return Kind::Touch;
    if (type == EraseType)
        return Kind::Erase;
    if (n == TouchStatusPacketSize && type == TouchStatusType)
        return Kind::TouchStatus;
    return Kind::Ignored;
}

NorvaHardware::PenEvent decodePen(const QByteArray& packet)
{
    NorvaHardware::PenEvent ev;
    if (packet.size() < PenPacketSize)
        return ev;
    const quint8 status = byteAt(packet, 7);
    ev.pen = (status >> 3) & 0x0F;
    ev.x = word(packet, 3);
    ev.y = word(packet, 5);
    ev.tip = status & 0x01;
    ev.button = status & 0x02;
    ev.statusBit2 = status & 0x04;
    return ev;
}

NorvaHardware::TouchEvent decodeTouch(const QByteArray& packet)
{
    NorvaHardware::TouchEvent contacts;
    const int count = (packet.size() - 2) / TouchContactSize;
    for (int i = 0; i < count; ++i) {
        const int at = 2 + TouchContactSize * i;
        NorvaHardware::TouchContact c;
        c.id = byteAt(packet, at) & 0x7F;
        c.down = byteAt(packet, at) & DownBit;
        c.x = word(packet, at + 1);
        c.y = word(packet, at + 3);
        c.size = word(packet, at + 5);
        contacts.append(c);
    }
    return contacts;
}

NorvaHardware::EraseEvent decodeErase(const QByteArray& packet)
{
    NorvaHardware::EraseEvent contacts;
    const int count = (packet.size() - 2) / EraseContactSize;
    for (int i = 0; i < count; ++i) {
        const int at = 2 + EraseContactSize * i;
        NorvaHardware::EraseContact c;
        c.id = byteAt(packet, at) & 0x7F;
        c.down = byteAt(packet, at) & DownBit;
        c.x = word(packet, at + 1);
        c.y = word(packet, at + 3);
        c.width = word(packet, at + 5);
        c.height = word(packet, at + 7);
        contacts.append(c);
    }
    return contacts;
}

void decodeTouchStatus(const QByteArray& packet, NorvaHardware::TouchStatus& status)
{
    if (packet.size() != TouchStatusPacketSize || byteAt(packet, 1) != TouchStatusType)
        return;
    for (int i = 0; i < 6; ++i)
        status.values[i] = qint32(static_cast<qint8>(packet.at(2 + i)));
}

DeviceRecord emptyDeviceRecord()
{
    DeviceRecord record{};
    std::memcpy(record.data() + RecordVersionOffset, &RecordVersion, sizeof RecordVersion);
    return record;
}

DeviceEntry readDeviceRecord(const DeviceRecord& record)
{
    DeviceEntry entry;
    entry.usable = recordField(record, RecordUsableOffset) == 1;
    entry.device = recordField(record, RecordDeviceOffset);
    entry.info = parseDescription(record.data() + RecordDescriptionOffset);
    return entry;
}

QByteArray tagValue(const QByteArray& description, const char* tag)
{
    const int start = description.indexOf(tag);
    if (start < 0)
        return QByteArray();
    const int open = description.indexOf('<', start);
    if (open < 0)
        return QByteArray();
    const int close = description.indexOf('>', open);
    if (close < 0)
        return QByteArray();
    return description.mid(open + 1, close - open - 1);
}

NorvaHardware::DeviceInfo parseDescription(const char* text, std::size_t capacity)
{
    NorvaHardware::DeviceInfo info;
    if (text == nullptr)
        return info;
    const void* nul = std::memchr(text, 0, capacity);
    const std::size_t length = nul ? std::size_t(static_cast<const char*>(nul) - text) : capacity;
    const QByteArray description(text, int(length));

    // A failed conversion leaves 0, as toInt promises.
    info.hid = QString::fromLatin1(tagValue(description, "hid"));
    info.vid = tagValue(description, "vid").toInt(nullptr, 16);
    info.pid = tagValue(description, "pid").toInt(nullptr, 16);
    info.xp = tagValue(description, "xp").toInt(nullptr, 10);
    info.xt = tagValue(description, "xt").toInt(nullptr, 10);
    info.xl = tagValue(description, "xl").toInt(nullptr, 10);
    // Where a malformed number reads as 0, a malformed size reads as none.
    info.millimetres = millimetresOf(tagValue(description, "mm"));
    info.description = QString::fromLatin1(description);
    return info;
}

QByteArray singleContactPacket(const NorvaHardware::PenEvent& pen)
{
    QByteArray packet(SingleContactPacketSize, '\0');
    packet[0] = char(SingleContactPacketSize);
    packet[1] = char(PenType);
    packet[2] = char(pen.pen | (pen.tip ? DownBit : 0));
    putWord(packet, 3, pen.x);
    putWord(packet, 5, pen.y);
    return packet;
}

QList<QByteArray> touchPackets(const NorvaHardware::TouchEvent& contacts)
{
    QList<QByteArray> packets;
    for (int first = 0; first < contacts.size(); first += MaxContactsPerTouchPacket) {
        const int count = qMin(MaxContactsPerTouchPacket, contacts.size() - first);
        const int length = 2 + TouchContactSize * count;
        QByteArray packet(length, '\0');
        packet[0] = char(length);
        packet[1] = char(TouchType);
        for (int i = 0; i < count; ++i) {
            const NorvaHardware::TouchContact& c = contacts.at(first + i);
            const int at = 2 + TouchContactSize * i;
            packet[at] = char(c.id | (c.down ? DownBit : 0));
            putWord(packet, at + 1, c.x);
            putWord(packet, at + 3, c.y);
        }
        packets.append(packet);
    }
    return packets;
}

QByteArray penModeCommand(quint8 pen, qint32 mode)
{
    return ":PN" + QByteArray::number(pen) + QByteArray::number(mode) + '\r';
}

QByteArray plCommand(qint32 on)
{
    return QByteArray(on == 1 ? ":PL1" : ":PL0") + '\r';
}

} // namespace BoardPackets
