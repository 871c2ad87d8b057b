// The input is one delivery from the driver: bytes and their length. It goes
// through the prefix rule, the classification, every decoder and the hardware
// object's dispatch; touch contacts that decode are built into outgoing
// packets, which must decode back to the same contacts.
#include "boardpackets.h"
#include "fuzzcheck.h"
#include "norvahardware.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

bool isBoardUnit(qint32 value)
{
    return value >= 0 && value <= 0xFFFF;
}

// Counts the signals of one dispatch.
struct Dispatcher
{
    NorvaHardware hardware;
    int emitted = 0;

    Dispatcher()
    {
        QObject::connect(&hardware, &NorvaHardware::penEvent, [this] { ++emitted; });
        QObject::connect(&hardware, &NorvaHardware::touchEvent, [this] { ++emitted; });
        QObject::connect(&hardware, &NorvaHardware::eraseEvent, [this] { ++emitted; });
        QObject::connect(&hardware, &NorvaHardware::touchStatus, [this] { ++emitted; });
    }
};

void checkPen(const QByteArray& packet)
{
    const NorvaHardware::PenEvent pen = BoardPackets::decodePen(packet);
    check(pen.pen <= 15 && isBoardUnit(pen.x) && isBoardUnit(pen.y), "pen out of range");
    const QByteArray back = BoardPackets::singleContactPacket(pen);
    check(back.size() == BoardPackets::SingleContactPacketSize && back[0] == char(back.size()),
          "single-contact packet length");
    check(BoardPackets::classify(back) == BoardPackets::Kind::Ignored,
          "single-contact packet taken for board input");
    check(back.mid(3, 4) == packet.mid(3, 4), "single-contact packet position");
    check(quint8(back[2]) == (pen.pen | (pen.tip ? 0x80 : 0)), "single-contact packet pen");
}

void checkTouch(const QByteArray& packet)
{
    const NorvaHardware::TouchEvent contacts = BoardPackets::decodeTouch(packet);
    check(contacts.size() == qMax(0, (packet.size() - 2) / BoardPackets::TouchContactSize),
          "touch contact count");
    NorvaHardware::TouchEvent back;
    const QList<QByteArray> packets = BoardPackets::touchPackets(contacts);
    for (int i = 0; i < packets.size(); ++i) {
        const QByteArray& p = packets[i];
        check(p.size() <= 254 && quint8(p[0]) == p.size() && quint8(p[1]) == 0x45,
              "outgoing touch packet header");
        const int count = (p.size() - 2) / BoardPackets::TouchContactSize;
        check(2 + count * BoardPackets::TouchContactSize == p.size(),
              "outgoing touch packet holds whole contacts");
        // Only the last packet of a split is less than full.
        check(count == BoardPackets::MaxContactsPerTouchPacket || i == packets.size() - 1,
              "touch packets split before they are full");
        back += BoardPackets::decodeTouch(p);
    }
    check(back.size() == contacts.size(), "touch round trip count");
    for (int i = 0; i < back.size(); ++i) {
        const NorvaHardware::TouchContact& a = contacts[i];
        const NorvaHardware::TouchContact& b = back[i];
        check(a.id <= 127 && isBoardUnit(a.x) && isBoardUnit(a.y) && isBoardUnit(a.size),
              "touch contact out of range");
        check(a.id == b.id && a.down == b.down && a.x == b.x && a.y == b.y && b.size == 0,
              "touch round trip contact");
    }
}

void checkErase(const QByteArray& packet)
{
    const NorvaHardware::EraseEvent contacts = BoardPackets::decodeErase(packet);
    check(contacts.size() == qMax(0, (packet.size() - 2) / BoardPackets::EraseContactSize),
          "erase contact count");
    for (const NorvaHardware::EraseContact& c : contacts)
        check(c.id <= 127 && isBoardUnit(c.x) && isBoardUnit(c.y) && isBoardUnit(c.width) &&
                  isBoardUnit(c.height),
              "erase contact out of range");
}

void checkTouchStatus(const QByteArray& packet, BoardPackets::Kind kind)
{
    NorvaHardware::TouchStatus status;
    status.values.fill(1000);
    BoardPackets::decodeTouchStatus(packet, status);
    for (int i = 0; i < 6; ++i) {
        const qint32 expected =
            kind == BoardPackets::Kind::TouchStatus ? qint32(qint8(packet[2 + i])) : 1000;
        check(status.values[i] == expected, "touch status values");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Dispatcher dispatcher;

    // libFuzzer's input is a heap buffer of exactly this size, as the
    // driver's would be: a read past it shows up under the address sanitizer.
    const QByteArray stripped =
        BoardPackets::stripPrefix(BoardPackets::delivery(data, quint32(size)));
    const bool prefixed = size >= 3 && data[1] == 0x41;
    const std::size_t offset = prefixed ? 3 : 0;
    check(std::size_t(stripped.size()) == size - offset &&
              std::memcmp(stripped.constData(), data + offset, size - offset) == 0,
          "prefix rule");

    // The decoders read the packet through a buffer of exactly its length.
    const int n = stripped.size();
    const std::unique_ptr<char[]> exact(new char[std::size_t(n)]);
    std::memcpy(exact.get(), stripped.constData(), std::size_t(n));
    const QByteArray packet = QByteArray::fromRawData(exact.get(), n);

    using BoardPackets::Kind;
    const Kind kind = BoardPackets::classify(packet);
    const quint8 type = n >= 2 ? quint8(packet[1]) : 0;
    Kind expected = Kind::Ignored;
    if (n == 8 && packet[0] == 8 && type == 0x21)
        expected = Kind::Pen;
    else if (n >= 2 && type == 0x45)
        expected = Kind::Touch;
    else if (n >= 2 && type == 0x46)
        expected = Kind::Erase;
    else if (n == 8 && type == 0xA5)
        expected = Kind::TouchStatus;
    check(kind == expected, "classification");

    // Every decoder accepts any bytes, whatever the packet's kind.
    if (kind == Kind::Pen)
        checkPen(packet);
    else
        BoardPackets::decodePen(packet);
    checkTouch(packet);
    checkErase(packet);
    checkTouchStatus(packet, kind);

    dispatcher.emitted = 0;
    dispatcher.hardware.dispatchPacket(stripped, 7);
    check(dispatcher.emitted == (kind == Kind::Ignored ? 0 : 1), "one signal per packet");
    return 0;
}
