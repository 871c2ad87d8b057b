#include "boardpackets.h"
#include "norvahardware.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cstring>

using namespace BoardPackets;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QByteArray delivered(const QByteArray& bytes)
{
    return stripPrefix(
        delivery(reinterpret_cast<const unsigned char*>(bytes.constData()), quint32(bytes.size())));
}

NorvaHardware::TouchContact touch(quint8 id, qint32 x, qint32 y, bool down)
{
    NorvaHardware::TouchContact c;
    c.id = id;
    c.x = x;
    c.y = y;
    c.size = 1234; // never sent back
    c.down = down;
    return c;
}

} // namespace

class TestBoardPackets : public QObject
{
    Q_OBJECT

private slots:
    void prefixRule_data();
    void prefixRule();
    void classification_data();
    void classification();
    void penDecoding();
    void touchDecoding();
    void eraseDecoding();
    void touchStatusDecoding();
    void deviceDescription_data();
    void deviceDescription();
    void descriptionSize_data();
    void descriptionSize();
    void descriptionIsBoundedWithoutNul();
    void deviceRecordFields();
    void oversizedLengthGivesNoPacket();
    void singleContactPacket();
    void touchPacketsSplitAtCapacity_data();
    void touchPacketsSplitAtCapacity();
    void boardCommands();
    void dispatchEmitsOneSignalPerPacket();
    void metaTypesRegisteredUnderTheirNames();
    void anyBytesAreHandled();
};

void TestBoardPackets::prefixRule_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("packet");
    QTest::newRow("prefixed pen") << hex("0041000821003412785600") << hex("0821003412785600");
    QTest::newRow("two bytes with A kept") << hex("0041") << hex("0041");
    QTest::newRow("exactly the prefix") << hex("004100") << QByteArray();
    QTest::newRow("no marker") << hex("0821003412785600") << hex("0821003412785600");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestBoardPackets::prefixRule()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, packet);
    QCOMPARE(delivered(bytes), packet);
}

void TestBoardPackets::classification_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("kind");
    QTest::newRow("pen") << hex("0821003412785600") << int(Kind::Pen);
    QTest::newRow("pen with wrong byte 0") << hex("0721003412785600") << int(Kind::Ignored);
    QTest::newRow("9-byte single contact") << hex("092180341278560000") << int(Kind::Ignored);
    QTest::newRow("7-byte pen") << hex("08210034127856") << int(Kind::Ignored);
    QTest::newRow("touch of 2 bytes") << hex("0245") << int(Kind::Touch);
    QTest::newRow("touch of 3 bytes") << hex("004500") << int(Kind::Touch);
    QTest::newRow("erase") << hex("0046") << int(Kind::Erase);
    QTest::newRow("touch status") << hex("00A5FF807F0001FE") << int(Kind::TouchStatus);
    QTest::newRow("touch status of 9 bytes") << hex("00A5FF807F0001FE00") << int(Kind::Ignored);
    QTest::newRow("one byte") << hex("45") << int(Kind::Ignored);
    QTest::newRow("empty") << QByteArray() << int(Kind::Ignored);
    QTest::newRow("unknown type") << hex("0833000000000000") << int(Kind::Ignored);
}

void TestBoardPackets::classification()
{
    QFETCH(QByteArray, packet);
    QFETCH(int, kind);
    QCOMPARE(int(classify(packet)), kind);
}

void TestBoardPackets::penDecoding()
{
    NorvaHardware::PenEvent ev = decodePen(hex("082100341278560B"));
    QCOMPARE(int(ev.pen), 1);
    QCOMPARE(ev.x, 0x1234);
    QCOMPARE(ev.y, 0x5678);
    QVERIFY(ev.tip);
    QVERIFY(ev.button);
    QVERIFY(!ev.statusBit2);

    ev = decodePen(hex("08210000000000FF"));
    QCOMPARE(int(ev.pen), 15);
    QVERIFY(ev.tip && ev.button && ev.statusBit2);

    ev = decodePen(hex("082100FFFFFFFF04"));
    QCOMPARE(ev.x, 65535);
    QCOMPARE(ev.y, 65535);
    QCOMPARE(int(ev.pen), 0);
    QVERIFY(!ev.tip && !ev.button && ev.statusBit2);
}

void TestBoardPackets::touchDecoding()
{
    NorvaHardware::TouchEvent ev = decodeTouch(hex("094585100020003000"));
    QCOMPARE(ev.size(), 1);
    QCOMPARE(int(ev[0].id), 5);
    QVERIFY(ev[0].down);
    QCOMPARE(ev[0].x, 16);
    QCOMPARE(ev[0].y, 32);
    QCOMPARE(ev[0].size, 48);

    // A trailing incomplete contact is lost, the whole one kept.
    ev = decodeTouch(hex("09458510002000300077"));
    QCOMPARE(ev.size(), 1);

    QVERIFY(decodeTouch(hex("0245")).isEmpty());

    ev = decodeTouch(hex("1045"
                         "7FFFFFFFFFFFFF"
                         "00000100020003"));
    QCOMPARE(ev.size(), 2);
    QCOMPARE(int(ev[0].id), 127);
    QVERIFY(!ev[0].down);
    QCOMPARE(ev[0].x, 65535);
    QCOMPARE(ev[0].y, 65535);
    QCOMPARE(ev[0].size, 65535);
    QCOMPARE(int(ev[1].id), 0);
    QCOMPARE(ev[1].x, 256);
    QCOMPARE(ev[1].y, 512);
    QCOMPARE(ev[1].size, 768);
}

void TestBoardPackets::eraseDecoding()
{
    const NorvaHardware::EraseEvent ev = decodeErase(hex("1446"
                                                         "830100020003000400"
                                                         "05FFFF0000FFFF0100"));
    QCOMPARE(ev.size(), 2);
    QCOMPARE(int(ev[0].id), 3);
    QVERIFY(ev[0].down);
    QCOMPARE(ev[0].x, 1);
    QCOMPARE(ev[0].y, 2);
    QCOMPARE(ev[0].width, 3);
    QCOMPARE(ev[0].height, 4);
    QCOMPARE(int(ev[1].id), 5);
    QVERIFY(!ev[1].down);
    QCOMPARE(ev[1].x, 65535);
    QCOMPARE(ev[1].y, 0);
    QCOMPARE(ev[1].width, 65535);
    QCOMPARE(ev[1].height, 1);

    QVERIFY(decodeErase(hex("0046")).isEmpty());
    QCOMPARE(decodeErase(hex("0B4683010002000300040099")).size(), 1);
}

void TestBoardPackets::touchStatusDecoding()
{
    NorvaHardware::TouchStatus status;
    decodeTouchStatus(hex("00A5FF807F0001FE"), status);
    const std::array<qint32, 6> expected{-1, -128, 127, 0, 1, -2};
    QCOMPARE(status.values, expected);

    // A packet that is no touch-status packet leaves the record as it was.
    decodeTouchStatus(hex("00A5000000000000FF"), status);
    QCOMPARE(status.values, expected);
    decodeTouchStatus(hex("0045000000000000"), status);
    QCOMPARE(status.values, expected);
}

void TestBoardPackets::deviceDescription_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("hid");
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<int>("xp");
    QTest::addColumn<int>("xt");
    QTest::addColumn<int>("xl");
    QTest::newRow("well formed") << QByteArray("hid<ABC> vid<0a1b> pid<00FF> xp<4> xt<20>") << "ABC"
                                 << 2587 << 255 << 4 << 20 << 0;
    QTest::newRow("empty") << QByteArray() << "" << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("no closing bracket")
        << QByteArray("xl<7> hid<ABC xp<3") << "" << 0 << 0 << 0 << 0 << 7;
    QTest::newRow("no opening bracket after tag")
        << QByteArray("vid<12> xp") << "" << 0x12 << 0 << 0 << 0 << 0;
    QTest::newRow("tag inside another value")
        << QByteArray("hid<vid> xt<5>") << "vid" << 5 << 0 << 0 << 5 << 0;
    QTest::newRow("not a number") << QByteArray("vid<zz> xp<4a>") << "" << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("case sensitive") << QByteArray("VID<10> xp<2>") << "" << 0 << 0 << 2 << 0 << 0;
    QTest::newRow("empty value") << QByteArray("xp<> xt<9>") << "" << 0 << 0 << 0 << 9 << 0;
}

void TestBoardPackets::deviceDescription()
{
    QFETCH(QByteArray, text);
    const NorvaHardware::DeviceInfo info = parseDescription(text.constData(), text.size() + 1);
    QTEST(info.hid, "hid");
    QTEST(int(info.vid), "vid");
    QTEST(int(info.pid), "pid");
    QTEST(int(info.xp), "xp");
    QTEST(int(info.xt), "xt");
    QTEST(int(info.xl), "xl");
}

void TestBoardPackets::descriptionSize_data()
{
    // An invalid size stands for none.
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QSizeF>("millimetres");
    QTest::newRow("tenths") << QByteArray("vid<056a> mm<464.8,255.6> hid<A>")
                            << QSizeF(464.8, 255.6);
    QTest::newRow("absent") << QByteArray("vid<056a> xt<10> hid<A>") << QSizeF();
    QTest::newRow("one number") << QByteArray("mm<300> hid<A>") << QSizeF();
    QTest::newRow("decimal comma") << QByteArray("mm<464,8,255,6>") << QSizeF();
    QTest::newRow("zero") << QByteArray("mm<0,169>") << QSizeF();
    QTest::newRow("infinite") << QByteArray("mm<inf,169>") << QSizeF();
}

void TestBoardPackets::descriptionSize()
{
    QFETCH(QByteArray, text);
    QFETCH(QSizeF, millimetres);
    const NorvaHardware::DeviceInfo info = parseDescription(text.constData(), text.size() + 1);
    QCOMPARE(info.millimetres.has_value(), millimetres.isValid());
    if (millimetres.isValid())
        QCOMPARE(*info.millimetres, millimetres);
    // Whatever its tags, the text itself is kept as it was.
    QCOMPARE(info.description, QString::fromLatin1(text));
}

void TestBoardPackets::descriptionIsBoundedWithoutNul()
{
    // A description that fills its 515 bytes without a NUL: the tag whose
    // closing bracket lies beyond the bound has no value.
    QByteArray record(DescriptionCapacity + 64, 'x');
    const QByteArray head = "xp<12> xt<";
    record.replace(0, head.size(), head);
    record.replace(int(DescriptionCapacity), 4, "34>");
    const NorvaHardware::DeviceInfo info = parseDescription(record.constData());
    QCOMPARE(info.xp, 12);
    QCOMPARE(info.xt, 0);
    QCOMPARE(info.description, QString::fromLatin1(record.left(int(DescriptionCapacity))));

    // Bytes after the NUL are not part of the description.
    const QByteArray withNul("xp<1>\0xt<2>", 11);
    QCOMPARE(parseDescription(withNul.constData(), withNul.size()).xt, 0);
    QCOMPARE(parseDescription(withNul.constData(), withNul.size()).description,
             QStringLiteral("xp<1>"));
}

void TestBoardPackets::deviceRecordFields()
{
    DeviceRecord record = emptyDeviceRecord();
    QCOMPARE(record[0], char(9));
    QVERIFY(std::all_of(record.begin() + 1, record.end(), [](char c) { return c == 0; }));

    const qint32 usable = 1;
    const qint32 device = 0x12345678;
    std::memcpy(record.data() + 4, &usable, 4);
    std::memcpy(record.data() + 20, &device, 4);
    const QByteArray text = "hid<R> xp<2> xt<10>";
    std::memcpy(record.data() + 613, text.constData(), size_t(text.size()));
    DeviceEntry entry = readDeviceRecord(record);
    QVERIFY(entry.usable);
    QCOMPARE(entry.device, device);
    QCOMPARE(entry.info.hid, QStringLiteral("R"));
    QCOMPARE(entry.info.xt, 10);

    // Only 1 marks a usable board; a description filling the record to its
    // last byte is read up to there.
    const qint32 other = 0x101;
    std::memcpy(record.data() + 4, &other, 4);
    std::fill(record.begin() + 613, record.end(), 'x');
    const QByteArray tail = "xl<77>";
    std::memcpy(record.end() - tail.size(), tail.constData(), size_t(tail.size()));
    entry = readDeviceRecord(record);
    QVERIFY(!entry.usable);
    QCOMPARE(entry.info.xl, 77);
}

void TestBoardPackets::oversizedLengthGivesNoPacket()
{
    // A length no board sends must not be taken as a count of bytes to copy.
    const unsigned char bytes[] = {0x08, 0x21, 0x00};
    QVERIFY(delivery(bytes, 0x80000000u).isEmpty());
    QVERIFY(delivery(bytes, 0xFFFFFFFFu).isEmpty());
}

void TestBoardPackets::singleContactPacket()
{
    NorvaHardware::PenEvent pen;
    pen.pen = 3;
    pen.x = 0x1234;
    pen.y = 0xFFFF;
    pen.tip = true;
    pen.button = true;
    pen.statusBit2 = true;
    QCOMPARE(BoardPackets::singleContactPacket(pen), hex("0921833412FFFF0000"));

    pen.tip = false;
    QCOMPARE(BoardPackets::singleContactPacket(pen), hex("0921033412FFFF0000"));
    QCOMPARE(classify(BoardPackets::singleContactPacket(pen)), Kind::Ignored);
}

void TestBoardPackets::touchPacketsSplitAtCapacity_data()
{
    QTest::addColumn<int>("contacts");
    QTest::addColumn<QList<int>>("lengths");
    QTest::newRow("none") << 0 << QList<int>();
    QTest::newRow("one") << 1 << QList<int>{9};
    QTest::newRow("full") << 36 << QList<int>{254};
    QTest::newRow("one over") << 37 << QList<int>{254, 9};
    QTest::newRow("two and a bit") << 75 << QList<int>{254, 254, 23};
}

void TestBoardPackets::touchPacketsSplitAtCapacity()
{
    QFETCH(int, contacts);
    QFETCH(QList<int>, lengths);
    NorvaHardware::TouchEvent event;
    for (int i = 0; i < contacts; ++i)
        event.append(touch(quint8(i % 128), 100 + i, 0x8000 + i, i % 2 == 0));

    const QList<QByteArray> packets = touchPackets(event);
    QCOMPARE(packets.size(), lengths.size());
    int next = 0;
    for (int p = 0; p < packets.size(); ++p) {
        const QByteArray& packet = packets[p];
        QCOMPARE(packet.size(), lengths[p]);
        QCOMPARE(quint8(packet[0]), quint8(lengths[p]));
        QCOMPARE(quint8(packet[1]), quint8(0x45));
        // Each packet decodes back to its share of the list, in order.
        const NorvaHardware::TouchEvent decoded = decodeTouch(packet);
        for (const NorvaHardware::TouchContact& c : decoded) {
            const NorvaHardware::TouchContact& sent = event[next++];
            QCOMPARE(c.id, sent.id);
            QCOMPARE(c.down, sent.down);
            QCOMPARE(c.x, sent.x);
            QCOMPARE(c.y, sent.y);
            QCOMPARE(c.size, 0);
        }
    }
    QCOMPARE(next, contacts);
}

void TestBoardPackets::boardCommands()
{
    QCOMPARE(penModeCommand(0, 2), QByteArray(":PN02\r"));
    QCOMPARE(penModeCommand(3, 2), QByteArray(":PN32\r"));
    QCOMPARE(penModeCommand(12, 10), QByteArray(":PN1210\r"));
    QCOMPARE(plCommand(1), QByteArray(":PL1\r"));
    QCOMPARE(plCommand(0), QByteArray(":PL0\r"));
    QCOMPARE(plCommand(2), QByteArray(":PL0\r"));
    QCOMPARE(plCommand(-1), QByteArray(":PL0\r"));
}

void TestBoardPackets::dispatchEmitsOneSignalPerPacket()
{
    NorvaHardware hardware;
    QSignalSpy pens(&hardware, &NorvaHardware::penEvent);
    QSignalSpy touches(&hardware, &NorvaHardware::touchEvent);
    QSignalSpy erases(&hardware, &NorvaHardware::eraseEvent);
    QSignalSpy statuses(&hardware, &NorvaHardware::touchStatus);

    hardware.dispatchPacket(delivered(hex("0041000821003412785609")));
    hardware.dispatchPacket(hex("0245"));
    hardware.dispatchPacket(hex("1446830100020003000400"));
    hardware.dispatchPacket(hex("00A5FF807F0001FE"));
    hardware.dispatchPacket(hex("092180341278560000"));
    hardware.dispatchPacket(QByteArray());

    QCOMPARE(pens.count(), 1);
    const auto pen = pens[0][0].value<NorvaHardware::PenEvent>();
    QCOMPARE(int(pen.pen), 1);
    QCOMPARE(pen.x, 0x1234);
    QVERIFY(pen.tip && !pen.button);

    QCOMPARE(touches.count(), 1);
    QVERIFY(touches[0][0].value<NorvaHardware::TouchEvent>().isEmpty());
    QCOMPARE(erases.count(), 1);
    QCOMPARE(erases[0][0].value<NorvaHardware::EraseEvent>().size(), 1);
    QCOMPARE(statuses.count(), 1);
    QCOMPARE(statuses[0][1].value<NorvaHardware::TouchStatus>().values[1], -128);
}

void TestBoardPackets::metaTypesRegisteredUnderTheirNames()
{
    NorvaHardware::registerMetaTypes();
    const char* names[] = {"NorvaHardware::DeviceInfo", "NorvaHardware::TouchContact",
                           "NorvaHardware::TouchEvent", "NorvaHardware::TouchStatus",
                           "NorvaHardware::PenEvent",   "NorvaHardware::EraseContact",
                           "NorvaHardware::EraseEvent"};
    for (const char* name : names)
        QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
    QCOMPARE(QMetaType::type("NorvaHardware::TouchEvent"),
             qMetaTypeId<QList<NorvaHardware::TouchContact>>());
    // The list types convert to Qt's sequential iterable.
    const QVariant list = QVariant::fromValue(decodeTouch(hex("094585100020003000")));
    QVERIFY(list.canConvert<QVariantList>());
    QCOMPARE(list.value<QSequentialIterable>().size(), 1);
}

void TestBoardPackets::anyBytesAreHandled()
{
    // Every length from 0 up, random content, and every type byte: each
    // packet is classified and decoded consistently with its length.
    QRandomGenerator random(20261208);
    NorvaHardware hardware;
    int signalsSeen = 0;
    connect(&hardware, &NorvaHardware::penEvent, [&] { ++signalsSeen; });
    connect(&hardware, &NorvaHardware::touchEvent, [&] { ++signalsSeen; });
    connect(&hardware, &NorvaHardware::eraseEvent, [&] { ++signalsSeen; });
    connect(&hardware, &NorvaHardware::touchStatus, [&] { ++signalsSeen; });

    int expectedSignals = 0;
    for (int length = 0; length <= 600; ++length) {
        for (int round = 0; round < 8; ++round) {
            // The packet lives in a buffer of exactly its length, so a read
            // outside it shows up under the address sanitizer.
            std::vector<unsigned char> bytes(static_cast<size_t>(length));
            for (unsigned char& b : bytes)
                b = quint8(random.bounded(256));
            if (length >= 2)
                bytes[1] = quint8(round < 4 ? 0x41 + round : random.bounded(256));
            const QByteArray packet = stripPrefix(delivery(bytes.data(), quint32(length)));
            const Kind kind = classify(packet);
            if (kind == Kind::Touch)
                QCOMPARE(decodeTouch(packet).size(), qMax(0, (packet.size() - 2) / 7));
            if (kind == Kind::Erase)
                QCOMPARE(decodeErase(packet).size(), qMax(0, (packet.size() - 2) / 9));
            if (kind != Kind::Ignored)
                ++expectedSignals;
            hardware.dispatchPacket(packet);
        }
    }
    QCOMPARE(signalsSeen, expectedSignals);
    QVERIFY(expectedSignals > 0);
}

QTEST_GUILESS_MAIN(TestBoardPackets)
#include "tst_boardpackets.moc"
