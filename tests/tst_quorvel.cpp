// The input adapter against the simulated board: the configuration at start,
// after enumerations and at shutdown as the driver's call log shows it, the
// progress lines, and the claim protocol with its hand-back to the system.
// negativeCountEndsEveryContact runs alone with tests/drivers/notifying.

#include "boardpackets.h"
#include "notifyingdriver.h"
#include "quorvel.h"
#include "simulatedboard.h"
#include "stdoutcapture.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Controls = Quorvel::Controls;

namespace {

constexpr int Device = 1001;
const QByteArray OneBoard = "board 1 hid<NORVA-SIM-1> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>\n";

QString writeLine(const QByteArray& command)
{
    return QStringLiteral("norvaWritePacket(%1, %2, %3) = %3")
        .arg(Device)
        .arg(QString::fromLatin1(command.toHex()))
        .arg(command.size());
}

// What configuring the boards sends: flag 1 at start, 0 at shutdown.
QStringList configuration(int flag)
{
    QStringList lines;
    for (int pen = 0; pen < 4; ++pen) {
        lines << writeLine(BoardPackets::penModeCommand(quint8(pen), 2));
        lines << QStringLiteral("norvaSetPointingDeviceDestination(%1, %2, 0, %3)")
                     .arg(Device)
                     .arg(pen + 1)
                     .arg(flag);
    }
    lines << QStringLiteral("norvaSetTouchDestination(%1, %2)").arg(Device).arg(flag);
    lines << writeLine(BoardPackets::plCommand(flag));
    return lines;
}

QStringList only(const QStringList& calls, const QString& prefix)
{
    QStringList matching;
    for (const QString& call : calls)
        if (call.startsWith(prefix))
            matching << call;
    return matching;
}

QString handedOn(const QByteArray& packet)
{
    return QStringLiteral("norvaSendTouchPacketToSystem(%1, %2, %3)")
        .arg(Device)
        .arg(packet.size())
        .arg(QString::fromLatin1(packet.toHex()));
}

NorvaHardware::PenEvent pen(quint8 index, qint32 x, qint32 y, bool tip)
{
    NorvaHardware::PenEvent ev;
    ev.pen = index;
    ev.x = x;
    ev.y = y;
    ev.tip = tip;
    return ev;
}

NorvaHardware::TouchContact touch(quint8 id, qint32 x, qint32 y, bool down)
{
    NorvaHardware::TouchContact c;
    c.id = id;
    c.x = x;
    c.y = y;
    c.size = 300;
    c.down = down;
    return c;
}

NorvaHardware::EraseContact eraser(quint8 id, qint32 x, qint32 y, bool down)
{
    NorvaHardware::EraseContact c;
    c.id = id;
    c.x = x;
    c.y = y;
    c.width = 2000;
    c.height = 1000;
    c.down = down;
    return c;
}

// Claims the records whose id is in the set, and keeps a copy of every
// emission as the receivers saw it.
struct Receiver
{
    QSet<int> claim;
    QList<std::vector<Controls>> seen;

    void take(std::vector<Controls>& records)
    {
        for (Controls& c : records)
            if (claim.contains(c.id))
                c.flags |= Controls::Claimed;
        seen << records;
    }

    QList<int> ids(int emission) const
    {
        QList<int> list;
        for (const Controls& c : seen.at(emission))
            list << c.id;
        return list;
    }
};

} // namespace

class TestQuorvel : public QObject
{
    Q_OBJECT

private slots:
    void startConfiguresAndPrints();
    void burstOfEnumerationsConfiguresOnce();
    void plugAndPlayReconfigures();
    void shutdownRestoresRoutingAndCancelsPendingConfiguration();
    void claimedPenIsNeverHandedOn();
    void unclaimedPenIsHandedOnUntilItsLift();
    void touchContactsClaimedOneByOne();
    void emptyTouchPacketOffersHeldContactsAgain();
    void unclaimedErasersAreNeverHandedOn();
    void manyUnclaimedTouchesSplitIntoPackets();
    void noUsableBoardLeftEndsEveryContact();
    void negativeCountEndsEveryContact();
};

void TestQuorvel::startConfiguresAndPrints()
{
    SimulatedBoard board(OneBoard);
    StdoutCapture output;
    QElapsedTimer clock;
    clock.start();
    auto adapter = std::make_unique<Quorvel>();

    QCOMPARE(output.text(), QStringLiteral("Found device that supports up to 4 pens & 20 touches.\n"
                                           "Enumerated 1 devices.\n"));
    const QStringList start = board.take();
    QVERIFY(start.size() > 10);
    QCOMPARE(start.first(), QStringLiteral("norvaAttach() = 1"));
    QVERIFY(start.filter(QRegularExpression("^norvaSetCallback\\(1001, ")).size() == 1);
    QCOMPARE(start.mid(start.size() - 10), configuration(1));

    // The enumeration inside the constructor starts the delayed configuration.
    QTRY_COMPARE_WITH_TIMEOUT(board.calls().size(), start.size() + 10, 5000);
    QVERIFY(clock.elapsed() >= 1900);
    QCOMPARE(board.take(), configuration(1));
}

void TestQuorvel::burstOfEnumerationsConfiguresOnce()
{
    SimulatedBoard board(OneBoard);
    StdoutCapture output;
    Quorvel adapter;
    board.take();

    adapter.in_device_enum_count(3);
    QTest::qWait(1000);
    QVERIFY(board.take().isEmpty());
    adapter.in_device_enum_count(3);
    const int taken = board.calls().size();
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(board.calls().size() > taken, 5000);
    QVERIFY(clock.elapsed() >= 1900);
    QCOMPARE(board.take(), configuration(1));
    // Nothing else is pending.
    QTest::qWait(2200);
    QVERIFY(board.take().isEmpty());
    QVERIFY(
        output.text().endsWith(QStringLiteral("Enumerated 3 devices.\nEnumerated 3 devices.\n")));
}

void TestQuorvel::plugAndPlayReconfigures()
{
    // The board goes away only once the start-up configuration has reached it.
    QTemporaryDir dir;
    const QString ready = dir.filePath("ready");
    SimulatedBoard board(OneBoard + "wait callback 1\nwait file " + QFile::encodeName(ready) +
                         "\nunplug 1\nwait 20\nplug 1\n");
    StdoutCapture output;
    Quorvel adapter;
    QFile readyFile(ready);
    QVERIFY(readyFile.open(QIODevice::WriteOnly));
    const QString found = QStringLiteral("Found device that supports up to 4 pens & 20 touches.\n");
    QTRY_COMPARE_WITH_TIMEOUT(output.text(),
                              found + "Enumerated 1 devices.\n" + "PnP event.\n" +
                                  "Enumerated 0 devices.\n" + "PnP event.\n" + found +
                                  "Enumerated 1 devices.\n",
                              5000);
    // One configuration for the board now present, after the last count.
    const QStringList sinceStart = board.take();
    QTRY_VERIFY_WITH_TIMEOUT(board.calls().size() >= sinceStart.size() + 10, 5000);
    const QStringList all = board.calls();
    QCOMPARE(all.mid(all.size() - 10), configuration(1));
    QCOMPARE(only(all, "norvaWritePacket(1001, 3a504c31").size(), 2);
}

void TestQuorvel::shutdownRestoresRoutingAndCancelsPendingConfiguration()
{
    SimulatedBoard board(OneBoard);
    StdoutCapture output;
    auto adapter = std::make_unique<Quorvel>();
    board.take();
    adapter.reset();

    // The whole tail: routing given back, every callback cleared, then the
    // detach and the second one as the library goes; nothing after them.
    const QStringList shutdown = board.take();
    QCOMPARE(shutdown.size(), 14);
    QCOMPARE(shutdown.mid(0, 10), configuration(0));
    QVERIFY(shutdown.at(10).startsWith(QStringLiteral("norvaClearCallback(0, 0x")));
    QVERIFY(shutdown.at(11).startsWith(QStringLiteral("norvaClearCallback(1001, 0x")));
    QCOMPARE(shutdown.mid(12), QStringList({"norvaDetach()", "norvaDetach()"}));
    // The configuration that was pending at shutdown never comes.
    QTest::qWait(2300);
    QVERIFY(board.take().isEmpty());
}

void TestQuorvel::claimedPenIsNeverHandedOn()
{
    SimulatedBoard board(OneBoard);
    StdoutCapture output;
    Quorvel adapter;
    QList<Controls> seen;
    connect(&adapter, &Quorvel::out_quorvel_pen_event, [&](Controls& c) {
        c.flags |= Controls::Claimed;
        seen << c;
    });
    board.take();

    adapter.in_pen_event(pen(1, 1000, 2000, true));
    adapter.in_pen_event(pen(1, 1000, 2000, true)); // a repeat
    adapter.in_pen_event(pen(1, 1100, 2000, true));
    adapter.in_pen_event(pen(1, 1100, 2000, false));

    QCOMPARE(seen.size(), 3);
    QCOMPARE(seen[0].id, -2);
    QCOMPARE(seen[0].buttons, 1);
    QCOMPARE(seen[0].pos, QPointF(1000 / 32768.0, 2000 / 32768.0));
    QCOMPARE(seen[2].buttons, 0);
    QVERIFY(only(board.take(), "norvaSendTouchPacketToSystem").isEmpty());
}

void TestQuorvel::unclaimedPenIsHandedOnUntilItsLift()
{
    SimulatedBoard board(OneBoard);
    StdoutCapture output;
    Quorvel adapter;
    QList<Controls> seen;
    connect(&adapter, &Quorvel::out_quorvel_pen_event, [&](Controls& c) { seen << c; });
    board.take();

    const QList<NorvaHardware::PenEvent> stroke{pen(2, 500, 500, true), pen(2, 600, 500, true),
                                                pen(2, 700, 500, false), pen(2, 800, 500, false)};
    for (const NorvaHardware::PenEvent& ev : stroke)
        adapter.in_pen_event(ev);
    adapter.in_pen_event(stroke.last()); // a repeat causes nothing

    // Offered at touch-down, then handed on up to and including the lift;
    // the next record is offered again (and, unclaimed, handed on).
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].pos.x(), 500 / 32768.0);
    QCOMPARE(seen[1].pos.x(), 800 / 32768.0);
    QStringList expected;
    for (const NorvaHardware::PenEvent& ev : stroke)
        expected << handedOn(BoardPackets::singleContactPacket(ev));
    QCOMPARE(only(board.take(), "norvaSendTouchPacketToSystem"), expected);
}

void TestQuorvel::touchContactsClaimedOneByOne()
{
    SimulatedBoard board(OneBoard);
    StdoutCapture output;
    Quorvel adapter;
    Receiver receiver;
    receiver.claim = {256 + 10};
    connect(&adapter, &Quorvel::out_quorvel_touch_event,
            [&](std::vector<Controls>& records) { receiver.take(records); });
    board.take();

    // Both offered; 11 is not claimed and goes to the system.
    adapter.in_touch_event({touch(10, 100, 100, true), touch(11, 900, 900, true)});
    QCOMPARE(receiver.seen.size(), 1);
    QCOMPARE(receiver.ids(0), (QList<int>{266, 267}));
    QCOMPARE(only(board.take(), "norvaSendTouchPacketToSystem"),
             QStringList{handedOn(BoardPackets::touchPackets({touch(11, 900, 900, true)})[0])});

    // While 11 is down it is only handed on.
    adapter.in_touch_event({touch(10, 120, 100, true), touch(11, 920, 900, true)});
    QCOMPARE(receiver.ids(1), QList<int>{266});
    QCOMPARE(only(board.take(), "norvaSendTouchPacketToSystem"),
             QStringList{handedOn(BoardPackets::touchPackets({touch(11, 920, 900, true)})[0])});

    // A packet that repeats the last set causes nothing at all.
    adapter.in_touch_event({touch(10, 120, 100, true), touch(11, 920, 900, true)});
    QCOMPARE(receiver.seen.size(), 2);
    QVERIFY(board.take().isEmpty());

    // 11 lifts: the lift goes to the system, then 11 is offered again.
    adapter.in_touch_event({touch(11, 930, 900, false)});
    QCOMPARE(receiver.ids(2), QList<int>{266});
    adapter.in_touch_event({touch(11, 940, 900, true)});
    QCOMPARE(receiver.ids(3), (QList<int>{266, 267}));
    QCOMPARE(only(board.take(), "norvaSendTouchPacketToSystem").size(), 2);

    // 10 lifts: one emission with buttons 0, after which it is no longer
    // held; 11, still with the system, is not offered.
    adapter.in_touch_event({touch(10, 120, 100, false), touch(11, 950, 900, true)});
    QCOMPARE(receiver.seen.size(), 5);
    QCOMPARE(receiver.ids(4), QList<int>{266});
    QCOMPARE(receiver.seen[4].front().buttons, 0);
    adapter.in_touch_event({touch(11, 960, 900, true)});
    QCOMPARE(receiver.seen.size(), 5);
    QCOMPARE(only(board.take(), "norvaSendTouchPacketToSystem").size(), 2);
}

void TestQuorvel::emptyTouchPacketOffersHeldContactsAgain()
{
    SimulatedBoard board(OneBoard);
    StdoutCapture output;
    Quorvel adapter;
    Receiver receiver;
    receiver.claim = {256 + 20};
    connect(&adapter, &Quorvel::out_quorvel_touch_event,
            [&](std::vector<Controls>& records) { receiver.take(records); });

    adapter.in_touch_event({touch(20, 300, 300, true)});
    QCOMPARE(receiver.seen.size(), 1);
    // The held contact differs from the last set only by its claimed bit...
    adapter.in_touch_event({});
    QCOMPARE(receiver.seen.size(), 1);
    // ...but an empty packet after a different set offers the held one again.
    adapter.in_touch_event({touch(21, 50, 50, false)});
    const int before = receiver.seen.size();
    adapter.in_touch_event({});
    QCOMPARE(receiver.seen.size(), before + 1);
    QCOMPARE(receiver.ids(before), QList<int>{276});
    QCOMPARE(only(board.calls(), "norvaSendTouchPacketToSystem").size(), 1);
}

void TestQuorvel::unclaimedErasersAreNeverHandedOn()
{
    SimulatedBoard board(OneBoard);
    StdoutCapture output;
    Quorvel adapter;
    Receiver receiver;
    connect(&adapter, &Quorvel::out_quorvel_erase_event,
            [&](std::vector<Controls>& records) { receiver.take(records); });
    board.take();

    adapter.in_erase_event({eraser(3, 1000, 1000, true)});
    adapter.in_erase_event({eraser(3, 1100, 1000, true)});
    adapter.in_erase_event({eraser(3, 1200, 1000, false)});
    adapter.in_erase_event({eraser(3, 1300, 1000, true)});

    // Offered once, then held back while down, offered again after its lift.
    QCOMPARE(receiver.seen.size(), 2);
    QCOMPARE(receiver.seen[0].front().id, 515);
    QCOMPARE(receiver.seen[0].front().radiusX, 2000 / 32768.0);
    QCOMPARE(receiver.seen[1].front().pos.x(), 1300 / 32768.0);
    QVERIFY(only(board.take(), "norvaSendTouchPacketToSystem").isEmpty());
}

void TestQuorvel::manyUnclaimedTouchesSplitIntoPackets()
{
    SimulatedBoard board(OneBoard);
    StdoutCapture output;
    Quorvel adapter;
    board.take();

    NorvaHardware::TouchEvent many;
    for (int i = 0; i < 40; ++i)
        many << touch(quint8(40 + i), 100 * i, 200 * i, true);
    adapter.in_touch_event(many);

    QStringList expected;
    for (const QByteArray& packet : BoardPackets::touchPackets(many))
        expected << handedOn(packet);
    QCOMPARE(expected.size(), 2);
    QCOMPARE(only(board.take(), "norvaSendTouchPacketToSystem"), expected);
}

namespace {

void touchFile(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace

void TestQuorvel::noUsableBoardLeftEndsEveryContact()
{
    // Pens 5 and 6, touches 30 and 31 and eraser 4 are down when the only
    // usable board goes; an unusable one stays, so the driver counts 1.
    QTemporaryDir dir;
    const QString gone = dir.filePath("gone");
    const QString back = dir.filePath("back");
    SimulatedBoard board(OneBoard +
                         "board 2 unusable hid<UNUSABLE>\n"
                         "wait callback 1\n"
                         "pen 5 700 800 tip\n"
                         "pen 6 900 800 tip\n"
                         "touch 30 down 100 100 300; 31 down 200 200 300\n"
                         "eraser 4 down 300 300 2000 1000\n"
                         "wait file " +
                         QFile::encodeName(gone) + "\nunplug 1\nwait file " +
                         QFile::encodeName(back) + "\nplug 1\n");
    StdoutCapture output;
    Quorvel adapter;
    // Pen 5 and touch 30 are the dialog's, pen 6 and touch 31 the system's.
    Receiver touches;
    touches.claim = {256 + 30};
    Receiver erasers;
    erasers.claim = {512 + 4};
    QList<Controls> pens;
    connect(&adapter, &Quorvel::out_quorvel_touch_event,
            [&](std::vector<Controls>& records) { touches.take(records); });
    connect(&adapter, &Quorvel::out_quorvel_erase_event,
            [&](std::vector<Controls>& records) { erasers.take(records); });
    connect(&adapter, &Quorvel::out_quorvel_pen_event, [&](Controls& c) {
        if (c.id == -6)
            c.flags |= Controls::Claimed;
        pens << c;
    });
    QTRY_VERIFY(pens.size() == 2 && touches.seen.size() == 1 && erasers.seen.size() == 1);

    touchFile(gone);
    QTRY_COMPARE(pens.size(), 3);
    QVERIFY(output.text().endsWith(QStringLiteral("PnP event.\nEnumerated 1 devices.\n")));
    QCOMPARE(pens[2].id, -6);
    QCOMPARE(pens[2].buttons, 0);
    QCOMPARE(pens[2].pos, pens[0].pos);
    QCOMPARE(touches.seen.size(), 2);
    QCOMPARE(touches.ids(1), QList<int>{286});
    QCOMPARE(touches.seen[1].front().buttons, 0);
    QCOMPARE(touches.seen[1].front().pos, touches.seen[0].front().pos);
    QCOMPARE(erasers.seen.size(), 2);
    QCOMPARE(erasers.seen[1].front().buttons, 0);

    // Back where they were, all are new contacts, offered again; what the
    // system had is not handed on without being offered first.
    touchFile(back);
    QTRY_VERIFY(output.text().endsWith(QStringLiteral("Enumerated 2 devices.\n")));
    board.take();
    touches.claim = {256 + 30, 256 + 31};
    adapter.in_pen_event(pen(5, 700, 800, true));
    adapter.in_pen_event(pen(6, 900, 800, true));
    adapter.in_touch_event({touch(30, 100, 100, true), touch(31, 200, 200, true)});
    adapter.in_erase_event({eraser(4, 300, 300, true)});
    QCOMPARE(pens.size(), 5);
    QCOMPARE(pens[3].id, -6);
    QCOMPARE(pens[3].buttons, 1);
    QCOMPARE(pens[4].id, -7);
    QCOMPARE(touches.ids(2), (QList<int>{286, 287}));
    QCOMPARE(erasers.seen.size(), 3);
    // Pen 6 stays unclaimed: handed on after its offer, as a new contact.
    QCOMPARE(only(board.take(), "norvaSendTouchPacketToSystem").size(), 1);
}

void TestQuorvel::negativeCountEndsEveryContact()
{
    NotifyingDriver driver;
    if (!driver.present())
        QSKIP("run alone with tests/drivers/notifying on the library path");
    StdoutCapture output;
    Quorvel adapter;
    QList<Controls> pens;
    Receiver touches;
    touches.claim = {256 + 7};
    connect(&adapter, &Quorvel::out_quorvel_pen_event, [&](Controls& c) {
        c.flags |= Controls::Claimed;
        pens << c;
    });
    connect(&adapter, &Quorvel::out_quorvel_touch_event,
            [&](std::vector<Controls>& records) { touches.take(records); });

    // Pen 0 at (1000, 2000) with its tip down, touch 7 down.
    driver.deliver(QByteArray::fromHex("082100e803d00701"));
    driver.deliver(BoardPackets::touchPackets({touch(7, 4000, 5000, true)}).front());
    QTRY_VERIFY(pens.size() == 1 && touches.seen.size() == 1);

    driver.setDeviceCount(-1);
    driver.notify();
    QTRY_VERIFY(pens.size() == 2 && touches.seen.size() == 2);
    QVERIFY(output.text().endsWith(QStringLiteral("PnP event.\nEnumerated -1 devices.\n")));
    QCOMPARE(pens[1].buttons, 0);
    QCOMPARE(pens[1].pos, pens[0].pos);
    QCOMPARE(touches.seen[1].front().id, 263);
    QCOMPARE(touches.seen[1].front().buttons, 0);
}

QTEST_GUILESS_MAIN(TestQuorvel)
#include "tst_quorvel.moc"
