// Recordings read into events and translated into board packets: what real
// files hold, malformed ones, device kinds and descriptions, and each touch
// protocol, pens and erasers, checked through the system's own decoders.

#include "boardpackets.h"
#include "directorywatcher.h"
#include "eventtranslator.h"
#include "recording.h"
#include "recordings.h"
#include "session.h"
#include "streamcapture.h"
#include "systemtouch.h"

#include <QTemporaryDir>
#include <QTest>

#include <map>

#include <poll.h>

namespace {

using Packets = std::vector<EventTranslator::Packet>;

// The B: line of the keys a device has.
std::string keys(std::initializer_list<int> codes)
{
    std::vector<int> mask(InputCode::KeyMax / 8 + 1, 0);
    for (const int code : codes)
        mask[std::size_t(code / 8)] |= 1 << (code % 8);
    std::string line = "B: 01";
    for (const int byte : mask)
        line += QStringLiteral(" %1").arg(byte, 2, 16, QLatin1Char('0')).toStdString();
    return line + "\n";
}

// A two-finger type B screen with slots, the size in the same units as x.
const std::string SlotsDevice = "N: Slots\n"
                                "I: 0003 1234 5678 0001\n"
                                "P: 02\n" +
                                keys({InputCode::BtnTouch}) +
                                "A: 00 0 1000 0 0\n"
                                "A: 01 0 1000 0 0\n"
                                "A: 2f 0 1 0 0\n"
                                "A: 30 0 1000 0 0\n"
                                "A: 35 0 1000 0 0\n"
                                "A: 36 0 1000 0 0\n"
                                "A: 39 0 65535 0 0\n";

Recording read(const std::string& text)
{
    return Recording::parse(text, "test.events");
}

// Frames as "E:" lines, one event a line: "<type> <code> <value>".
std::string events(const QStringList& lines)
{
    std::string text;
    for (const QString& line : lines)
        text += "E: 0.000100 " + line.toStdString() + "\n";
    return text;
}

Packets translate(const Recording& recording)
{
    EventTranslator translator(recording.device);
    Packets packets;
    for (const InputDevice::Event& event : recording.events) {
        const Packets frame = translator.feed(event);
        packets.insert(packets.end(), frame.begin(), frame.end());
    }
    return packets;
}

QByteArray bytes(const EventTranslator::Packet& packet)
{
    return QByteArray(reinterpret_cast<const char*>(packet.data()), int(packet.size()));
}

NorvaHardware::TouchEvent touches(const EventTranslator::Packet& packet)
{
    return BoardPackets::classify(bytes(packet)) == BoardPackets::Kind::Touch
               ? BoardPackets::decodeTouch(bytes(packet))
               : NorvaHardware::TouchEvent();
}

} // namespace

class TestBoardInput : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatRealFilesHold();
    void malformedLinesAreReportedAndTheRestKept();
    void deviceKindsAndDescriptions_data();
    void deviceKindsAndDescriptions();
    void sizeFromThePositionAxes();
    void slotsKeepIdsAndSplitLongPackets();
    void slotsStartFromTheDeviceAtOpen();
    void unslottedContactsFollowTheNearest();
    void hoveringAndPalmContactsAreNotTouches();
    void droppedEvents_data();
    void droppedEvents();
    void penHoverButtonsAndEraser();
    void contactsHandedBackToTheDesktop();
    void liveBacklogIsBounded_data();
    void liveBacklogIsBounded();
    void watcherSeesNodesComeAndGo();
};

void TestBoardInput::readsWhatRealFilesHold()
{
    // Resolutions from the '#' header where the A: lines lack them; decimal
    // values with leading zeros; comments after events; a pen that is in
    // range when the recording starts releases its tool first.
    const Recording r = read("# EVEMU 1.1\n"
                             "#   Event type 3 (EV_ABS)\n"
                             "#     Event code 0 (ABS_X)\n"
                             "#       Resolution 200\n"
                             "#     Event code 1 (ABS_Y)\n"
                             "#       Resolution 100\n"
                             "N: Pen\nI: 0003 056a 00c6 0100\n" +
                             keys({InputCode::BtnToolPen}) +
                             "A: 00 0 1000 4 0\nA: 01 -50 50 4 0 7\n"
                             "E: 12.000005 0003 0001 -012\t# EV_ABS / ABS_Y -12\n"
                             "E: 12.5 0001 0140 0000 # EV_KEY / BTN_TOOL_PEN 0\n");
    QVERIFY(r.diagnostics.empty());
    QCOMPARE(r.device.axis(0)->resolution, 200);
    QCOMPARE(r.device.axis(1)->resolution, 7);
    QCOMPARE(r.device.axis(1)->minimum, -50);
    QCOMPARE(r.events.size(), std::size_t(2));
    QCOMPARE(r.events[0].value, -12);
    QCOMPARE(r.events[0].time, 12000005);
    QCOMPARE(r.events[1].time, 12500000);
    QCOMPARE(r.events[1].line, 13);
    QVERIFY(r.device.initialKeys.count(InputCode::BtnToolPen));
    QVERIFY(r.device.hasPen());

    // A .desc file beside the events, as for type A recordings.
    QCOMPARE(Recording::descriptionPath("/a.b/old.events"), std::string("/a.b/old.desc"));
    QCOMPARE(Recording::descriptionPath("/a.b/old"), std::string("/a.b/old.desc"));
    QVERIFY(Recording::isRecording("N: x\n") && Recording::isRecording("# EVEMU 1.3\n"));
    QVERIFY(!Recording::isRecording("board 1 hid<A>\n# N: x\n"));
}

void TestBoardInput::malformedLinesAreReportedAndTheRestKept()
{
    const Recording r = Recording::parse(SlotsDevice + "E: 0.1 0003 0035 0x10\n"
                                                       "E: 0.1 0003 0034 5\n"
                                                       "what is this\n"
                                                       "E: 0.1 0003 0035 500\n"
                                                       "A: 36 9 1 0 0\n"
                                                       "E: 0.1 0000 0000 0\n",
                                         "bad.events");
    QStringList messages;
    for (const Recording::Diagnostic& d : r.diagnostics)
        messages << QString::fromStdString(d.text());
    QCOMPARE(messages, (QStringList{"bad.events:12: '0x10' is not a 32-bit whole number",
                                    "bad.events:13: axis 0x34 is not described (its events are "
                                    "left out)",
                                    "bad.events:14: not a line of a recording: 'what is this'",
                                    "bad.events:16: axis 0x36 has its minimum above its maximum"}));
    QCOMPARE(r.events.size(), std::size_t(2));

    const Recording early = read("E: 0.1 0003 0035 1\nE: 0.2 0003 0035 1\nN: late\n");
    QCOMPARE(early.diagnostics.size(), std::size_t(1));
    QVERIFY(early.diagnostics[0].message.find("before the device description") !=
            std::string::npos);
    QVERIFY(early.events.empty());

    // A flood of bad lines is counted, not listed.
    const Recording flood = read(std::string(100, '\n') + std::string(50, '?') + "\n" + [] {
        std::string lines;
        for (int i = 0; i < 30; ++i)
            lines += "X: bad\n";
        return lines;
    }());
    QCOMPARE(flood.diagnostics.size(), Recording::MaxDiagnostics + 1);
    QCOMPARE(flood.diagnostics.back().message, std::string("11 more problems not listed"));
    QCOMPARE(flood.diagnostics.back().line, 121);

    // What a message quotes of a line is short, and escaped where it is not
    // printable ASCII, so that a file of garbage sends nothing to the
    // terminal but text.
    const Recording garbage = read("\x1b[2J\x07\\" + std::string(100, 'z') + "\n");
    QCOMPARE(garbage.diagnostics.at(0).message,
             "not a line of a recording: '\\x1b[2J\\x07\\\\" + std::string(34, 'z') + "...'");

    const Recording missing = Recording::load("/nonexistent/recording.events");
    QCOMPARE(missing.diagnostics.size(), std::size_t(1));
    QCOMPARE(missing.diagnostics[0].text(),
             std::string("/nonexistent/recording.events:0: cannot read the recording"));
}

void TestBoardInput::deviceKindsAndDescriptions_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("direct");
    QTest::addColumn<QString>("description");
    // The size in mm that the host reads from it; invalid for none.
    QTest::addColumn<QSizeF>("millimetres");
    using P = InputDevice::TouchProtocol;
    QTest::newRow("slots, 4648 x 2556 at 10/mm")
        << "touch-display-22in-10-fingers.events" << int(P::Slots) << true
        << "vid<056a> pid<005d> xp<0> xt<10> mm<464.8,255.6> hid<Wacom DTH2242 Finger>"
        << QSizeF(464.8, 255.6);
    QTest::newRow("five slots, 32767 at 55 and 98/mm, a name beyond ASCII")
        << "canvas-27in-touch-5-fingers.evemu" << int(P::Slots) << true
        << "vid<2575> pid<0204> xp<0> xt<5> mm<595.8,334.4> hid<Advanced Silicon S.A. CoolTouch "
           "System>"
        << QSizeF(595.8, 334.4);
    QTest::newRow("type A from its .desc, no resolutions")
        << "old-touchscreen-type-a-2-fingers.events" << int(P::Unslotted) << false
        << "vid<1b96> pid<0001> xp<0> xt<10> hid<N-Trig MultiTouch>" << QSizeF();
    QTest::newRow("pen, resolutions from the header")
        << "pen-display-22in-pen-eraser-buttons.events" << int(P::None) << true
        << "vid<056a> pid<005b> xp<1> xt<10> mm<479.2,271.3> hid<Wacom Cintiq 22HDT Pen>"
        << QSizeF(479.2, 271.3);
    QTest::newRow("pen, 59674 x 33566 at 100/mm rounded")
        << "canvas-27in-pen.evemu" << int(P::None) << true
        << "vid<056a> pid<4200> xp<1> xt<10> mm<596.7,335.7> hid<Wacom ISD-V4 Pen>"
        << QSizeF(596.7, 335.7);
}

void TestBoardInput::deviceKindsAndDescriptions()
{
    QFETCH(QString, file);
    QFETCH(int, protocol);
    QFETCH(bool, direct);
    QFETCH(QString, description);
    QFETCH(QSizeF, millimetres);
    REQUIRE_RECORDINGS();
    const Recording r = Recording::load(recordingPath(file).toStdString());
    QVERIFY(r.diagnostics.empty());
    QCOMPARE(int(r.device.touchProtocol()), protocol);
    QCOMPARE(r.device.isDirect(), direct);
    QVERIFY(r.device.isBoard());
    QCOMPARE(QString::fromStdString(r.device.boardDescription()), description);
    // The board's own reading of its description.
    const NorvaHardware::DeviceInfo info =
        BoardPackets::parseDescription(r.device.boardDescription().c_str());
    QCOMPARE(info.vid, int(r.device.vendor));
    QCOMPARE(info.xp, r.device.hasPen() ? 1 : 0);
    QCOMPARE(info.millimetres.value_or(QSizeF()), millimetres);

    // Angle brackets in a name cannot make a tag; keys alone make no board.
    InputDevice odd = r.device;
    odd.name = "xt<99> <hid>";
    QVERIFY(odd.boardDescription().find("xt<99>") == std::string::npos);
    QCOMPARE(BoardPackets::parseDescription(odd.boardDescription().c_str()).xt,
             r.device.slotCount() > 0 ? r.device.slotCount() : 10);
    InputDevice keyboard;
    keyboard.enable(InputCode::EvKey, InputCode::BtnTouch);
    QVERIFY(!keyboard.isBoard());
}

void TestBoardInput::sizeFromThePositionAxes()
{
    // Touch positions come from the multi-touch axes, so ABS_X and ABS_Y
    // say nothing of a touch board's size; each axis needs its resolution.
    Recording touch = read(SlotsDevice);
    touch.device.axes[InputCode::AbsX].resolution = 1;
    touch.device.axes[InputCode::AbsY].resolution = 1;
    QCOMPARE(touch.device.boardDescription(),
             std::string("vid<1234> pid<5678> xp<0> xt<2> hid<Slots>"));
    touch.device.axes[InputCode::AbsMtPositionX].resolution = 4;
    touch.device.axes[InputCode::AbsMtPositionY].resolution = 3;
    QCOMPARE(touch.device.boardDescription(),
             std::string("vid<1234> pid<5678> xp<0> xt<2> mm<250,333.3> hid<Slots>"));
    touch.device.axes[InputCode::AbsMtPositionY].resolution = 0;
    QVERIFY(!touch.device.millimetres());
}

void TestBoardInput::slotsKeepIdsAndSplitLongPackets()
{
    // Finger 1 down with a size, finger 2 joins, finger 1 lifts and a new
    // one takes its slot in the same frame: a new id, never the lifted one.
    const Recording r =
        read(SlotsDevice +
             events({"0003 0039 7", "0003 0035 500", "0003 0036 1000", "0003 0030 100",
                     "0000 0000 0", "0003 002f 1", "0003 0039 8", "0003 0035 0", "0003 0036 0",
                     "0000 0000 0", "0003 002f 0", "0003 0039 9", "0000 0000 0"}));
    const Packets packets = translate(r);
    QCOMPARE(packets.size(), std::size_t(3));
    const NorvaHardware::TouchEvent first = touches(packets[0]);
    QCOMPARE(first.size(), 1);
    QVERIFY(first[0].down);
    QCOMPARE(first[0].x, 16384);
    QCOMPARE(first[0].y, 32767);
    // Half of 100 units on a 1000-unit axis: 50 / 1000 of the screen.
    QCOMPARE(first[0].size, 1638);
    const NorvaHardware::TouchEvent second = touches(packets[1]);
    QCOMPARE(second.size(), 2);
    QCOMPARE(second[0].id, first[0].id);
    QVERIFY(second[1].id != first[0].id && second[1].down);
    const NorvaHardware::TouchEvent third = touches(packets[2]);
    QCOMPARE(third.size(), 3);
    QSet<int> ids;
    for (const NorvaHardware::TouchContact& c : third)
        ids.insert(c.id);
    QCOMPARE(ids.size(), 3);
    QVERIFY(!third[2].down && third[2].id == first[0].id && third[2].x == 16384);

    // Forty fingers at once: packets of at most 36 contacts, each a whole
    // board packet; the resolutions convert the size into x units.
    Recording many = read(SlotsDevice);
    many.device.axes[InputCode::AbsMtSlot].maximum = 39;
    many.device.axes[InputCode::AbsMtPositionX].resolution = 10;
    many.device.axes[InputCode::AbsMtTouchMajor].resolution = 5;
    QStringList lines;
    for (int slot = 0; slot < 40; ++slot)
        lines << QStringLiteral("0003 002f %1").arg(slot)
              << QStringLiteral("0003 0039 %1").arg(slot) << "0003 0030 100";
    many.events = read(SlotsDevice + events(lines << "0000 0000 0")).events;
    const Packets split = translate(many);
    QCOMPARE(split.size(), std::size_t(2));
    QCOMPARE(split[0].size(), std::size_t(254));
    QCOMPARE(split[0][0], uint8_t(254));
    QCOMPARE(touches(split[1]).size(), 4);
    QCOMPARE(touches(split[1])[0].size, 3277);
}

void TestBoardInput::slotsStartFromTheDeviceAtOpen()
{
    using namespace InputCode;
    // When the device is opened a finger rests in slot 2, the slot being
    // reported, with a touch major that is never sent again. It moves, a
    // finger comes in slot 0, and it lifts.
    Recording r =
        read(SlotsDevice + events({"0003 0035 500", "0000 0000 0", "0003 002f 0", "0003 0039 9",
                                   "0003 0035 100", "0003 0036 100", "0000 0000 0", "0003 002f 2",
                                   "0003 0039 -1", "0000 0000 0"}));
    r.device.axes[AbsMtSlot].maximum = 3;
    r.device.initialSlot = 2;
    r.device.initialSlots.assign(4, {{AbsMtTrackingId, -1}});
    r.device.initialSlots[2] = {
        {AbsMtTrackingId, 5}, {AbsMtPositionX, 250}, {AbsMtPositionY, 500}, {AbsMtTouchMajor, 100}};
    const Packets packets = translate(r);
    QCOMPARE(packets.size(), std::size_t(3));
    const NorvaHardware::TouchEvent moved = touches(packets[0]), joined = touches(packets[1]),
                                    lifted = touches(packets[2]);
    QCOMPARE(moved.size(), 1);
    QVERIFY(moved[0].down && moved[0].x == 16384 && moved[0].y == 16384);
    QCOMPARE(moved[0].size, 1638);
    QCOMPARE(joined.size(), 2);
    QVERIFY(joined[0].id != moved[0].id && joined[0].down && joined[0].x == 3277);
    QVERIFY(joined[1].id == moved[0].id && joined[1].down && joined[1].x == 16384);
    QCOMPARE(lifted.size(), 2);
    QVERIFY(lifted[0].id == joined[0].id && lifted[0].down);
    QVERIFY(lifted[1].id == moved[0].id && !lifted[1].down && lifted[1].x == 16384);
}

void TestBoardInput::unslottedContactsFollowTheNearest()
{
    const std::string device = "N: A\nI: 0003 1b96 0001 0000\n"
                               "A: 35 0 1000 0 0\nA: 36 0 1000 0 0\n";
    const auto contact = [](int x, int y) {
        return QStringList{QStringLiteral("0003 0035 %1").arg(x),
                           QStringLiteral("0003 0036 %1").arg(y), "0000 0002 0"};
    };
    // Two fingers, reported in the other order in the next frame; one lifts,
    // a new one comes far away, then an empty report lifts them all.
    const Recording r =
        read(device +
             events(contact(100, 100) + contact(900, 900) + QStringList{"0000 0000 0"} +
                    contact(890, 880) + contact(110, 120) + QStringList{"0000 0000 0"} +
                    contact(120, 130) + QStringList{"0000 0000 0"} + contact(120, 130) +
                    contact(500, 0) + QStringList{"0000 0000 0", "0000 0002 0", "0000 0000 0"}));
    const Packets packets = translate(r);
    QCOMPARE(packets.size(), std::size_t(5));
    const NorvaHardware::TouchEvent f1 = touches(packets[0]), f2 = touches(packets[1]),
                                    f3 = touches(packets[2]), f4 = touches(packets[3]),
                                    f5 = touches(packets[4]);
    const int a = f1[0].id, b = f1[1].id;
    QVERIFY(a != b);
    QCOMPARE(f2[0].id, b);
    QCOMPARE(f2[1].id, a);
    QCOMPARE(f3.size(), 2);
    QVERIFY(f3[0].id == a && f3[0].down && f3[1].id == b && !f3[1].down);
    QCOMPARE(f4.size(), 2);
    QVERIFY(f4[1].id != a && f4[1].id != b && f4[1].down);
    QCOMPARE(f5.size(), 2);
    QVERIFY(!f5[0].down && !f5[1].down);
}

void TestBoardInput::hoveringAndPalmContactsAreNotTouches()
{
    // Down, a move, hovering lifts it where it was; down again is a new
    // contact, a palm lifts it, a finger again is a new one.
    const auto expectLifecycle = [](const Packets& packets) {
        QCOMPARE(packets.size(), std::size_t(6));
        std::vector<NorvaHardware::TouchContact> c;
        for (const EventTranslator::Packet& packet : packets) {
            QCOMPARE(touches(packet).size(), 1);
            c.push_back(touches(packet)[0]);
        }
        QVERIFY(c[0].down && c[0].x == 3277);
        QVERIFY(c[1].down && c[1].id == c[0].id && c[1].x == 6553);
        QVERIFY(!c[2].down && c[2].id == c[0].id && c[2].x == 6553);
        QVERIFY(c[3].down && c[3].id != c[0].id && c[3].x == 9830);
        QVERIFY(!c[4].down && c[4].id == c[3].id && c[4].x == 9830);
        QVERIFY(c[5].down && c[5].id != c[3].id);
    };
    const std::string hoverAxes = "A: 37 0 2 0 0\nA: 3b 0 10 0 0\n";
    // A slot's contact hovers first, which sends nothing.
    expectLifecycle(translate(
        read(SlotsDevice + hoverAxes +
             events({"0003 0039 1", "0003 0035 100", "0003 0036 100", "0003 003b 5", "0000 0000 0",
                     "0003 003b 0", "0000 0000 0", "0003 0035 200", "0000 0000 0", "0003 003b 3",
                     "0003 0035 300", "0000 0000 0", "0003 003b 0", "0000 0000 0", "0003 0037 2",
                     "0000 0000 0", "0003 0037 0", "0000 0000 0"}))));

    // Unslotted, beside a contact that hovers far away throughout.
    const auto contact = [](int x, int distance, int tool) {
        return QStringList{QStringLiteral("0003 0035 %1").arg(x),
                           QStringLiteral("0003 0036 %1").arg(x),
                           QStringLiteral("0003 003b %1").arg(distance),
                           QStringLiteral("0003 0037 %1").arg(tool), "0000 0002 0"};
    };
    const QStringList hovering = contact(900, 5, 0), report{"0000 0000 0"};
    expectLifecycle(translate(read(
        "N: A\nI: 0003 1b96 0001 0000\nA: 35 0 1000 0 0\nA: 36 0 1000 0 0\n" + hoverAxes +
        events(contact(100, 0, 0) + hovering + report + contact(200, 0, 0) + hovering + report +
               contact(300, 3, 0) + hovering + report + contact(300, 0, 0) + hovering + report +
               contact(300, 0, 2) + hovering + report + contact(400, 0, 0) + hovering + report))));
}

void TestBoardInput::droppedEvents_data()
{
    QTest::addColumn<QByteArray>("device");
    // The events fed, then those of libevdev's replay after lost events and
    // those that come after it, split by " | "; the touch packets they give.
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("packets");
    // Down at 600; a frame cut short by SYN_DROPPED changes nothing, and the
    // next frame moves on from the last whole one.
    QTest::newRow("single touch")
        << QByteArray::fromStdString("N: One\nI: 0003 0001 0002 0000\n" +
                                     keys({InputCode::BtnTouch}) +
                                     "A: 00 100 1100 0 0\nA: 01 0 500 0 0\n")
        << "0003 0000 600, 0003 0001 250, 0001 014a 1, 0000 0000 0, 0003 0000 1100, 0000 0003 0, "
           "0003 0001 0, 0001 014a 0, 0000 0000 0, 0003 0001 500, 0000 0000 0, 0001 014a 0, "
           "0000 0000 0"
        << "0 down 16384 16384 / 0 down 16384 32767 / 0 up 16384 32767";
    // The last whole frame ends on slot 1; the lost frames selected slot 0,
    // which the frames after them do not say again: their values are left
    // out until the next ABS_MT_SLOT, in the rest of the cut frame or later.
    const QString twoFingers = "0003 002f 0, 0003 0039 1, 0003 0035 100, 0000 0000 0, "
                               "0003 002f 1, 0003 0039 2, 0003 0035 900, 0000 0000 0, "
                               "0000 0003 0, 0003 0035 910, ";
    const QString twoDown = "0 down 3277 0 / 0 down 3277 0, 1 down 29490 0 / ";
    QTest::newRow("slot unknown after the gap")
        << QByteArray::fromStdString(SlotsDevice)
        << twoFingers + "0000 0000 0, 0003 0035 120, 0000 0000 0, 0003 002f 1, 0003 0035 920, "
                        "0000 0000 0"
        << twoDown + "0 down 3277 0, 1 down 29490 0 / 0 down 3277 0, 1 down 30146 0";
    QTest::newRow("slot given in the cut frame")
        << QByteArray::fromStdString(SlotsDevice)
        << twoFingers + "0003 002f 0, 0000 0000 0, 0003 0035 140, 0000 0000 0"
        << twoDown + "0 down 4587 0, 1 down 29490 0";
    // Without slots libevdev's replay holds no contacts, only what changed of
    // BTN_TOUCH, ABS_X and ABS_Y; BTN_TOUCH 0 lifts them all.
    QTest::newRow("type A lifted")
        << QByteArray::fromStdString("N: A\nI: 0003 1b96 0001 0000\n" +
                                     keys({InputCode::BtnTouch}) +
                                     "A: 00 0 1000 0 0\nA: 01 0 1000 0 0\n"
                                     "A: 35 0 1000 0 0\nA: 36 0 1000 0 0\n")
        << "0003 0035 100, 0003 0036 100, 0000 0002 0, 0003 0035 900, 0003 0036 900, 0000 0002 0, "
           "0001 014a 1, 0000 0000 0 | 0001 014a 0, 0000 0000 0 | 0003 0035 500, 0003 0036 500, "
           "0000 0002 0, 0001 014a 1, 0000 0000 0"
        << "0 down 3277 3277, 1 down 29490 29490 / 0 up 3277 3277, 1 up 29490 29490 / "
           "2 down 16384 16384";
}

void TestBoardInput::droppedEvents()
{
    QFETCH(QByteArray, device);
    QFETCH(QString, events);
    QFETCH(QString, packets);
    const QStringList parts = events.split(" | ");
    const auto eventsOf = [&](int part) {
        return read(device.toStdString() +
                    ::events(parts.value(part).split(", ", Qt::SkipEmptyParts)))
            .events;
    };
    EventTranslator translator(read(device.toStdString()).device);
    Packets translated;
    const auto take = [&](const Packets& frame) {
        translated.insert(translated.end(), frame.begin(), frame.end());
    };
    for (const InputDevice::Event& event : eventsOf(0))
        take(translator.feed(event));
    take(translator.resynchronise(eventsOf(1)));
    for (const InputDevice::Event& event : eventsOf(2))
        take(translator.feed(event));
    QStringList described;
    for (const EventTranslator::Packet& packet : translated) {
        QStringList contacts;
        for (const NorvaHardware::TouchContact& c : touches(packet))
            contacts << QStringLiteral("%1 %2 %3 %4")
                            .arg(c.id)
                            .arg(c.down ? "down" : "up")
                            .arg(c.x)
                            .arg(c.y);
        described << contacts.join(", ");
    }
    QCOMPARE(described.join(" / "), packets);
}

void TestBoardInput::penHoverButtonsAndEraser()
{
    const std::string device =
        "N: Pen\nI: 0003 056a 0001 0000\n" +
        keys({InputCode::BtnToolPen, InputCode::BtnToolRubber, InputCode::BtnTouch,
              InputCode::BtnStylus, InputCode::BtnStylus2}) +
        "A: 00 0 59674 4 0 100\nA: 01 0 33566 4 0 100\n";
    const auto pen = [](const EventTranslator::Packet& p) {
        return BoardPackets::decodePen(bytes(p));
    };
    const Recording r =
        read(device + events({"0003 0000 29837", "0003 0001 0",     "0001 0140 1", "0000 0000 0",
                              "0001 014b 1",     "0000 0000 0",     "0001 014a 1", "0001 014c 1",
                              "0000 0000 0",     "0003 0000 59674", "0001 0140 0", "0001 014a 0",
                              "0001 014b 0",     "0001 014c 0",     "0000 0000 0", "0001 0141 1",
                              "0001 014a 1",     "0000 0000 0",     "0001 014a 0", "0000 0000 0",
                              "0001 0141 0",     "0000 0000 0"}));
    const Packets packets = translate(r);
    QCOMPARE(packets.size(), std::size_t(6));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(BoardPackets::classify(bytes(packets[std::size_t(i)])), BoardPackets::Kind::Pen);
    // Hover, a button in hover, the tip with both buttons, out of range
    // where it last was.
    QVERIFY(!pen(packets[0]).tip && !pen(packets[0]).button && pen(packets[0]).x == 16384);
    QVERIFY(!pen(packets[1]).tip && pen(packets[1]).button);
    QVERIFY(pen(packets[2]).tip && pen(packets[2]).button && pen(packets[2]).statusBit2);
    QVERIFY(!pen(packets[3]).tip && !pen(packets[3]).button && pen(packets[3]).x == 16384);
    // The eraser end touches and lifts: 10 mm at 100 units a millimetre.
    const NorvaHardware::EraseEvent erasing = BoardPackets::decodeErase(bytes(packets[4]));
    QCOMPARE(erasing.size(), 1);
    QVERIFY(erasing[0].down && erasing[0].x == 32767);
    QCOMPARE(erasing[0].width, 549);
    QCOMPARE(erasing[0].height, 976);
    QVERIFY(!BoardPackets::decodeErase(bytes(packets[5]))[0].down);

    // Without resolutions the eraser is a hundredth of the screen; a
    // recording that ends with the pen down is lifted at the end.
    Recording plain = read(device + events({"0001 0140 1", "0001 014a 1", "0000 0000 0",
                                            "0001 0140 0", "0001 0141 1", "0000 0000 0"}));
    plain.device.axes[InputCode::AbsX].resolution = 0;
    EventTranslator translator(plain.device);
    for (const InputDevice::Event& event : plain.events)
        translator.feed(event);
    QVERIFY(translator.anythingDown());
    const Packets end = translator.finish();
    QCOMPARE(end.size(), std::size_t(1));
    const NorvaHardware::EraseEvent lifted = BoardPackets::decodeErase(bytes(end[0]));
    QVERIFY(!lifted[0].down && lifted[0].width == 328);
    QVERIFY(!translator.anythingDown());
}

void TestBoardInput::contactsHandedBackToTheDesktop()
{
    const InputDevice device = SystemTouch::device();
    QVERIFY(device.isDirect());
    QCOMPARE(device.touchProtocol(), InputDevice::TouchProtocol::Slots);
    QCOMPARE(device.slotCount(), SystemTouch::Slots);

    SystemTouch touch;
    const auto events = [&](const QByteArray& hex) {
        const QByteArray packet = QByteArray::fromHex(hex);
        QStringList lines;
        for (const InputDevice::Event& e : touch.events(
                 reinterpret_cast<const uint8_t*>(packet.data()), std::size_t(packet.size())))
            lines << QStringLiteral("%1 %2 %3").arg(e.type).arg(e.code, 2, 16).arg(e.value);
        return lines.join(", ");
    };
    // Two touches down (one beyond the screen), the first lifts, a pen
    // comes and takes the free slot, then everything lifts.
    QCOMPARE(events("1045"
                    "83640000020000"
                    "85ffff90010000"),
             QString("3 2f 0, 3 39 0, 3 35 100, 3 36 512, 3 2f 1, 3 39 1, 3 35 32767, 3 36 400, "
                     "3  0 100, 3  1 512, 1 14a 1, 0  0 0"));
    QCOMPARE(events("0945"
                    "03640000020000"),
             QString("3 2f 0, 3 35 100, 3 36 512, 3 39 -1, 3  0 32767, 3  1 400, 0  0 0"));
    QCOMPARE(events("0921"
                    "81"
                    "0a000b000000"),
             QString("3 2f 0, 3 39 2, 3 35 10, 3 36 11, 3  0 32767, 3  1 400, 0  0 0"));
    QCOMPARE(events("1045"
                    "05ffff90010000"
                    "07000000000000"),
             QString("3 2f 1, 3 35 32767, 3 36 400, 3 39 -1, 3  0 10, 3  1 11, 0  0 0"));
    QCOMPARE(events("0921"
                    "01"
                    "0a000b000000"),
             QString("3 2f 0, 3 35 10, 3 36 11, 3 39 -1, 1 14a 0, 0  0 0"));
    // Packets of other kinds, or cut short, give nothing.
    QCOMPARE(events("0921"
                    "81"
                    "0a00"),
             QString());
    QCOMPARE(events("0846"
                    "810a000b00"),
             QString());

    // Contact i at (100 + i, 200). Beyond the 32 slots: the 33rd contact is
    // refused at its start and stays so until its lift, even when a slot is
    // free meanwhile; the next new contact gets that slot.
    const auto packet = [](const QList<std::pair<int, bool>>& contacts) {
        QByteArray bytes = QByteArray(1, char(2 + 7 * contacts.size())) + '\x45';
        for (const auto& [id, down] : contacts)
            bytes += char(id | (down ? 0x80 : 0)) + QByteArray(1, char(100 + id)) +
                     QByteArray::fromHex("00c800") + QByteArray(2, 0);
        return bytes.toHex();
    };
    QList<std::pair<int, bool>> full;
    for (int id = 0; id <= SystemTouch::Slots; ++id)
        full << std::make_pair(id, true);
    QCOMPARE(events(packet(full)).count("3 2f"), SystemTouch::Slots);
    QCOMPARE(events(packet({{0, false}, {32, true}})),
             QString("3 2f 0, 3 35 100, 3 36 200, 3 39 -1, 3  0 101, 3  1 200, 0  0 0"));
    QCOMPARE(events(packet({{32, false}})), QString());
    QCOMPARE(events(packet({{40, true}})),
             QString("3 2f 0, 3 39 35, 3 35 140, 3 36 200, 3  0 101, 3  1 200, 0  0 0"));
}

void TestBoardInput::liveBacklogIsBounded_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("ten fingers") << "touch-display-22in-10-fingers.events";
    QTest::newRow("pen and eraser") << "pen-display-12in-pen-then-eraser.events";
}

// A host that stalls while a device sends: the board's packets wait within
// a bound, past which only lifts are kept, of contacts that the host was
// sent down, so that every one of them ends; the others are counted once it
// has caught up.
void TestBoardInput::liveBacklogIsBounded()
{
    QFETCH(QString, file);
    REQUIRE_RECORDINGS();
    const Recording r = Recording::load(recordingPath(file).toStdString());
    const std::string node = "/dev/input/event5";
    Session session;
    session.plugLive(node, r.device);
    EventTranslator translator(r.device);
    std::size_t sent = 0;
    const StreamCapture errors(std::cerr);
    const auto send = [&](const Packets& packets) {
        sent += packets.size();
        QVERIFY(session.queueLive(node, packets, translator.anythingDown()));
    };
    for (const InputDevice::Event& event : r.events)
        send(translator.feed(event));
    send(translator.finish());
    const std::size_t queued = session.injected.size();
    QVERIFY(queued > LiveBacklog::Capacity && queued < sent);

    // Contacts by packet type and id, as the host sees them: down or not.
    std::map<int, bool> down;
    for (std::size_t i = 0; i < queued; ++i) {
        const EventTranslator::Packet& packet = session.injected[i].second;
        // A pen's index and tip; each touch or eraser contact's id and down
        // bit.
        std::vector<std::pair<int, bool>> contacts;
        if (packet[1] == 0x21)
            contacts.emplace_back(packet[2], packet[7] & 1);
        for (std::size_t at = 2; packet[1] != 0x21 && at < packet.size();
             at += packet[1] == 0x45 ? 7 : 9)
            contacts.emplace_back(packet[1] << 8 | (packet[at] & 0x7f), packet[at] & 0x80);
        for (const auto& [contact, isDown] : contacts) {
            // Past the bound, a lift of a contact that is down.
            QVERIFY(i < LiveBacklog::Capacity || (!isDown && down[contact]));
            down[contact] = isDown;
        }
    }
    for (const auto& [contact, isDown] : down)
        QVERIFY(!isDown);
    QCOMPARE(errors.text(), QString());
    session.injected.clear();
    QVERIFY(session.queueLive(node, {}, false));
    QCOMPARE(errors.text(),
             QStringLiteral("norvaboardex: /dev/input/event5: %1 packets dropped while the host "
                            "did not keep up\n")
                 .arg(sent - queued));
}

void TestBoardInput::watcherSeesNodesComeAndGo()
{
    QTemporaryDir dir;
    const auto touch = [&](const QString& name) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly);
    };
    QVERIFY(touch("event1") && touch("mouse0"));
    DirectoryWatcher watcher(dir.path().toStdString(), "event");
    QVERIFY(watcher.watching());
    const std::string folder = dir.path().toStdString();
    QCOMPARE(watcher.current(), std::vector<std::string>{folder + "/event1"});

    const auto changes = [&] {
        QStringList seen;
        pollfd fd{watcher.descriptor(), POLLIN, 0};
        while (poll(&fd, 1, 5000) > 0) {
            for (const DirectoryWatcher::Change& change : watcher.changes())
                seen << QString::fromStdString(change.path.substr(folder.size() + 1)) +
                            (change.present ? "+" : "-");
            if (seen.size() >= 2)
                break;
        }
        return seen;
    };
    QVERIFY(touch("event7") && touch("mouse1"));
    QVERIFY(QFile::remove(dir.filePath("event1")));
    QCOMPARE(changes(), (QStringList{"event7+", "event1-"}));
    // Permissions that change, as when a node gets its group, count as there.
    QVERIFY(QFile::setPermissions(dir.filePath("event7"), QFile::ReadOwner));
    QVERIFY(QFile::rename(dir.filePath("event7"), dir.filePath("moved")));
    QCOMPARE(changes(), (QStringList{"event7+", "event7-"}));

    DirectoryWatcher missing("/nonexistent", "event");
    QVERIFY(!missing.watching() && !missing.error().empty());
}

QTEST_MAIN(TestBoardInput)
#include "tst_boardinput.moc"
