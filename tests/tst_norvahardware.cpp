// NorvaHardware against the simulated board library (libnorvaboardex from
// boards/): enumeration, plug-and-play, packets from the driver's thread,
// and every command as the driver's call log (NORVABOARD_LOG) shows it.
// attachWithoutDriver runs alone with no driver library on the library path,
// detachRacesPlugAndPlay alone with tests/drivers/notifying on it.

#include "boardpackets.h"
#include "driverplatform.h"
#include "norvahardware.h"
#include "notifyingdriver.h"
#include "simulatedboard.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

QString hexPointer(const void* pointer)
{
    return QStringLiteral("0x") + QString::number(quintptr(pointer), 16);
}

bool driverOnLibraryPath()
{
    const DriverPlatform::ModuleHandle module = DriverPlatform::loadDriver();
    if (module == nullptr)
        return false;
    DriverPlatform::freeDriver(module);
    return true;
}

NorvaHardware::TouchEvent contacts(int count)
{
    NorvaHardware::TouchEvent event;
    for (int i = 0; i < count; ++i) {
        NorvaHardware::TouchContact c;
        c.id = quint8(i);
        c.x = 0x100 + i;
        c.y = 0x200 + i;
        c.size = 99;
        c.down = i % 2 == 0;
        event.append(c);
    }
    return event;
}

// The callback address that the hardware object registered, read from the log.
QString registered(const QStringList& calls, const QString& entryPoint, const void* context)
{
    const QRegularExpression line(
        QStringLiteral("^%1\\(.*(0x[0-9a-f]+), %2\\)$")
            .arg(entryPoint, QRegularExpression::escape(hexPointer(context))));
    for (const QString& call : calls) {
        const QRegularExpressionMatch match = line.match(call);
        if (match.hasMatch())
            return match.captured(1);
    }
    return QString();
}

} // namespace

class TestNorvaHardware : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void attachWithoutDriver();
    void noBoards();
    void enumerationAndCommands();
    void passThroughPackets();
    void packetsArriveQueuedInGuiThread();
    void plugAndPlayReEnumerates();
    void plugAndPlayDuringFirstEnumeration();
    void commandsDuringPacketsAndPlugAndPlay();
    void detachRacesPlugAndPlay();

private:
    bool driverFound = false;
};

void TestNorvaHardware::initTestCase()
{
    driverFound = driverOnLibraryPath();
}

void TestNorvaHardware::attachWithoutDriver()
{
    if (driverFound)
        QSKIP("a driver library is on the library path; run alone without one");
    NorvaHardware hardware;
    QSignalSpy enumerated(&hardware, &NorvaHardware::deviceEnumerated);
    QSignalSpy counted(&hardware, &NorvaHardware::deviceEnumCount);
    QSignalSpy pnp(&hardware, &NorvaHardware::pnpEvent);

    QVERIFY(!hardware.attachDriver());
    QVERIFY(!hardware.attachDriver());
    // Without a board every command finds nothing to send to.
    hardware.sendPenModeCommand(0, 2);
    hardware.sendPlCommand(1);
    hardware.setPenDestination(1, 1);
    hardware.setTouchDestination(1);
    hardware.sendPenToSystem(NorvaHardware::PenEvent());
    hardware.sendTouchesToSystem(contacts(3));
    hardware.detachDriver();
    QCOMPARE(enumerated.count() + counted.count() + pnp.count(), 0);
}

void TestNorvaHardware::noBoards()
{
    QVERIFY2(driverFound, "the simulated board must be on the library path");
    SimulatedBoard board("# nothing plugged in\n");
    NorvaHardware hardware;
    QSignalSpy enumerated(&hardware, &NorvaHardware::deviceEnumerated);
    QSignalSpy counted(&hardware, &NorvaHardware::deviceEnumCount);

    QVERIFY(hardware.attachDriver());
    QCOMPARE(enumerated.count(), 0);
    QCOMPARE(counted.count(), 1);
    QCOMPARE(counted.at(0).at(0).toInt(), 0);

    hardware.sendPlCommand(1);
    hardware.sendPenToSystem(NorvaHardware::PenEvent());
    hardware.sendTouchesToSystem(contacts(1));
    const QStringList calls = board.take();
    QCOMPARE(calls.size(), 4);
    QCOMPARE(calls.at(0), QStringLiteral("norvaAttach() = 1"));
    QVERIFY(calls.at(1).startsWith("norvaSetPnpCallback("));
    QCOMPARE(calls.at(2), QStringLiteral("norvaAttach() = 1"));
    QCOMPARE(calls.at(3), QStringLiteral("norvaGetDeviceCount() = 0"));
}

void TestNorvaHardware::enumerationAndCommands()
{
    QVERIFY2(driverFound, "the simulated board must be on the library path");
    SimulatedBoard board("board 1 hid<NORVA-SIM-1> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>\n"
                         "board 2 unusable hid<BROKEN> vid<1> pid<2>\n"
                         "board 3 hid<NORVA-SIM-3> vid<0a1b> pid<00FF> xp<2> xt<10>\n");
    auto hardware = std::make_unique<NorvaHardware>();
    const QString self = hexPointer(hardware.get());
    QSignalSpy enumerated(hardware.get(), &NorvaHardware::deviceEnumerated);
    QSignalSpy counted(hardware.get(), &NorvaHardware::deviceEnumCount);

    QVERIFY(hardware->attachDriver());
    // The second board does not mark itself usable: skipped, but counted.
    QCOMPARE(enumerated.count(), 2);
    QCOMPARE(enumerated.at(0).at(0).toInt(), 0);
    QCOMPARE(enumerated.at(1).at(0).toInt(), 2);
    const auto first = enumerated.at(0).at(1).value<NorvaHardware::DeviceInfo>();
    QCOMPARE(first.hid, QStringLiteral("NORVA-SIM-1"));
    QCOMPARE(first.vid, 0x1f2e);
    QCOMPARE(first.pid, 0x42);
    QCOMPARE(first.xp, 4);
    QCOMPARE(first.xt, 20);
    QCOMPARE(first.xl, 1);
    const auto third = enumerated.at(1).at(1).value<NorvaHardware::DeviceInfo>();
    QCOMPARE(third.hid, QStringLiteral("NORVA-SIM-3"));
    QCOMPARE(third.pid, 255);
    QCOMPARE(third.xl, 0);
    QCOMPARE(counted.count(), 1);
    QCOMPARE(counted.at(0).at(0).toInt(), 3);

    QStringList calls = board.take();
    const QString pnp = registered(calls, "norvaSetPnpCallback", hardware.get());
    const QString packets = registered(calls, "norvaSetCallback", hardware.get());
    QVERIFY(!pnp.isEmpty());
    QVERIFY(!packets.isEmpty());
    QRegularExpression record("^norvaEnumDeviceInfo\\((\\d), 0x[0-9a-f]+\\) = 1$");
    const QStringList expected = {
        "norvaAttach() = 1",
        "norvaSetPnpCallback(" + pnp + ", " + self + ")",
        "norvaAttach() = 1",
        "norvaGetDeviceCount() = 3",
        "norvaEnumDeviceInfo(0, *) = 1",
        "norvaSetCallback(1001, " + packets + ", " + self + ")",
        "norvaSetXferMask(1001, 255)",
        "norvaEnumDeviceInfo(1, *) = 1",
        "norvaEnumDeviceInfo(2, *) = 1",
        "norvaSetCallback(1003, " + packets + ", " + self + ")",
        "norvaSetXferMask(1003, 255)",
    };
    QCOMPARE(calls.size(), expected.size());
    for (int i = 0; i < calls.size(); ++i) {
        if (expected.at(i).startsWith("norvaEnumDeviceInfo")) {
            const QRegularExpressionMatch match = record.match(calls.at(i));
            QVERIFY2(match.hasMatch(), qPrintable(calls.at(i)));
            QCOMPARE(match.captured(1), expected.at(i).mid(20, 1));
        } else {
            QCOMPARE(calls.at(i), expected.at(i));
        }
    }

    // Every command goes to both accepted boards, in enumeration order.
    hardware->sendPenModeCommand(0, 2);
    hardware->sendPenModeCommand(3, 12);
    hardware->sendPlCommand(1);
    hardware->sendPlCommand(2);
    hardware->setPenDestination(3, 1);
    hardware->setTouchDestination(2);
    calls = board.take();
    const QStringList commands = {
        "norvaWritePacket(1001, 3a504e30320d, 6) = 6",
        "norvaWritePacket(1003, 3a504e30320d, 6) = 6",
        "norvaWritePacket(1001, 3a504e3331320d, 7) = 7",
        "norvaWritePacket(1003, 3a504e3331320d, 7) = 7",
        "norvaWritePacket(1001, 3a504c310d, 5) = 5",
        "norvaWritePacket(1003, 3a504c310d, 5) = 5",
        "norvaWritePacket(1001, 3a504c300d, 5) = 5",
        "norvaWritePacket(1003, 3a504c300d, 5) = 5",
        "norvaSetPointingDeviceDestination(1001, 3, 0, 1)",
        "norvaSetPointingDeviceDestination(1003, 3, 0, 1)",
        "norvaSetTouchDestination(1001, 2)",
        "norvaSetTouchDestination(1003, 2)",
    };
    QCOMPARE(calls, commands);

    // Detaching clears every callback first; the library's unloading then
    // detaches once more and calls nothing else.
    hardware->detachDriver();
    QCOMPARE(board.take(),
             QStringList({"norvaClearCallback(0, " + pnp + ", " + self + ") = 1",
                          "norvaClearCallback(1001, " + packets + ", " + self + ") = 1",
                          "norvaClearCallback(1003, " + packets + ", " + self + ") = 1",
                          "norvaDetach()"}));
    hardware->sendPlCommand(0);
    hardware.reset();
    QCOMPARE(board.take(), QStringList({"norvaDetach()"}));
}

void TestNorvaHardware::passThroughPackets()
{
    QVERIFY2(driverFound, "the simulated board must be on the library path");
    SimulatedBoard board("board 1 hid<A>\nboard 2 hid<B>\n");
    NorvaHardware hardware;
    QVERIFY(hardware.attachDriver());
    board.take();

    NorvaHardware::PenEvent pen;
    pen.pen = 1;
    pen.x = 0x1234;
    pen.y = 0x5678;
    pen.tip = true;
    pen.button = true;
    hardware.sendPenToSystem(pen);
    hardware.sendTouchesToSystem(NorvaHardware::TouchEvent());
    hardware.sendTouchesToSystem(contacts(2));
    QCOMPARE(board.take(), QStringList({"norvaSendTouchPacketToSystem(1001, 9, 092181341278560000)",
                                        "norvaSendTouchPacketToSystem(1001, 16, "
                                        "10458000010002000001010101020000)"}));

    // 40 contacts do not fit one packet: 36, then 4, each with its own length,
    // all to the first board.
    const NorvaHardware::TouchEvent many = contacts(40);
    hardware.sendTouchesToSystem(many);
    const QList<QByteArray> packets = BoardPackets::touchPackets(many);
    QCOMPARE(packets.size(), 2);
    QCOMPARE(board.take(), QStringList({"norvaSendTouchPacketToSystem(1001, 254, " +
                                            QString::fromLatin1(packets.at(0).toHex()) + ")",
                                        "norvaSendTouchPacketToSystem(1001, 30, " +
                                            QString::fromLatin1(packets.at(1).toHex()) + ")"}));
    QVERIFY(packets.at(1).startsWith(QByteArray::fromHex("1e45a4")));
}

void TestNorvaHardware::packetsArriveQueuedInGuiThread()
{
    QVERIFY2(driverFound, "the simulated board must be on the library path");
    SimulatedBoard board("board 1 hid<A>\n"
                         "wait callback 1\n"
                         "pen 1 4660 22136 tip button\n"
                         "touch 5 down 16 32 48\n"
                         "eraser 2 down 100 200 30 40; 3 up 1 2 3 4\n"
                         "raw 00 a5 ff 80 7f 00 01 fe\n"
                         "raw 07 21 00 34 12 78 56 0b\n"
                         "prefix on\n"
                         "raw 08 21 00 01 00 02 00 01\n"
                         "prefix off\n"
                         "raw 00 a5 01 02 03 04 05 06\n");
    NorvaHardware hardware;
    QObject receiver;
    QThread* const gui = QThread::currentThread();
    QList<QThread*> emittedOn;
    QList<QThread*> receivedOn;
    QList<NorvaHardware::PenEvent> pens;
    QList<NorvaHardware::TouchEvent> touches;
    QList<NorvaHardware::EraseEvent> erasers;
    QList<int> statusIds;
    QList<NorvaHardware::TouchStatus> statuses;

    connect(&hardware, &NorvaHardware::penEvent, &receiver, [&](NorvaHardware::PenEvent ev) {
        receivedOn.append(QThread::currentThread());
        pens.append(ev);
    });
    connect(&hardware, &NorvaHardware::touchEvent, &receiver, [&](NorvaHardware::TouchEvent ev) {
        receivedOn.append(QThread::currentThread());
        touches.append(ev);
    });
    connect(&hardware, &NorvaHardware::eraseEvent, &receiver, [&](NorvaHardware::EraseEvent ev) {
        receivedOn.append(QThread::currentThread());
        erasers.append(ev);
    });
    connect(&hardware, &NorvaHardware::touchStatus, &receiver,
            [&](int id, NorvaHardware::TouchStatus status) {
                receivedOn.append(QThread::currentThread());
                statusIds.append(id);
                statuses.append(status);
            });
    // Only this list is written on the emitting thread; it is read after
    // detachDriver, which ends the driver's threads.
    connect(
        &hardware, &NorvaHardware::penEvent, &receiver,
        [&] { emittedOn.append(QThread::currentThread()); }, Qt::DirectConnection);

    QVERIFY(hardware.attachDriver());
    QTRY_COMPARE(statuses.size(), 2);
    hardware.detachDriver();

    QCOMPARE(receivedOn.size(), 6);
    for (QThread* thread : receivedOn)
        QCOMPARE(thread, gui);
    QCOMPARE(emittedOn.size(), 2);
    QVERIFY(emittedOn.at(0) != gui);

    QCOMPARE(pens.size(), 2);
    QCOMPARE(pens.at(0).pen, quint8(1));
    QCOMPARE(pens.at(0).x, 4660);
    QCOMPARE(pens.at(0).y, 22136);
    QVERIFY(pens.at(0).tip);
    QVERIFY(pens.at(0).button);
    QVERIFY(!pens.at(0).statusBit2);
    // The prefixed packet lost its three leading bytes.
    QCOMPARE(pens.at(1).x, 1);
    QCOMPARE(pens.at(1).y, 2);
    QVERIFY(pens.at(1).tip);

    QCOMPARE(touches.size(), 1);
    QCOMPARE(touches.at(0).size(), 1);
    QCOMPARE(touches.at(0).at(0).id, quint8(5));
    QVERIFY(touches.at(0).at(0).down);
    QCOMPARE(touches.at(0).at(0).x, 16);
    QCOMPARE(touches.at(0).at(0).y, 32);
    QCOMPARE(touches.at(0).at(0).size, 48);

    QCOMPARE(erasers.size(), 1);
    QCOMPARE(erasers.at(0).size(), 2);
    QCOMPARE(erasers.at(0).at(0).width, 30);
    QCOMPARE(erasers.at(0).at(1).id, quint8(3));
    QVERIFY(!erasers.at(0).at(1).down);

    const std::array<qint32, 6> first{-1, -128, 127, 0, 1, -2};
    QCOMPARE(statuses.at(0).values, first);
    QCOMPARE(statuses.at(1).values[5], 6);
    // Each status carries the driver's tag of its packet: the simulated board
    // numbers the packets it sends 1, 2, 3, ...
    QCOMPARE(statusIds, QList<int>({4, 7}));
}

void TestNorvaHardware::plugAndPlayReEnumerates()
{
    QVERIFY2(driverFound, "the simulated board must be on the library path");
    SimulatedBoard board("board 1 hid<A>\n"
                         "board 2 hid<B>\n"
                         "wait callback 2\n"
                         "unplug 1\n");
    NorvaHardware hardware;
    const QString self = hexPointer(&hardware);
    QObject receiver;
    QStringList order;
    QList<int> indexes;
    QList<int> counts;
    connect(&hardware, &NorvaHardware::pnpEvent, &receiver, [&] { order << "pnp"; });
    connect(&hardware, &NorvaHardware::deviceEnumerated, &receiver,
            [&](int index, NorvaHardware::DeviceInfo info) {
                order << "enumerated " + info.hid;
                indexes << index;
            });
    connect(&hardware, &NorvaHardware::deviceEnumCount, &receiver, [&](int count) {
        order << "count";
        counts << count;
    });

    QVERIFY(hardware.attachDriver());
    QTRY_COMPARE(counts.size(), 2);
    QCOMPARE(order, QStringList(
                        {"enumerated A", "enumerated B", "count", "pnp", "enumerated B", "count"}));
    QCOMPARE(indexes, QList<int>({0, 1, 0}));
    QCOMPARE(counts, QList<int>({2, 1}));

    // Both packet callbacks are cleared, then the driver is attached and
    // enumerated again, and only the remaining board is registered.
    const QStringList calls = board.take();
    const QString packets = registered(calls, "norvaSetCallback", &hardware);
    const int pnp = calls.indexOf(QRegularExpression("^norvaClearCallback\\(1001,.*"));
    QVERIFY(pnp > 0);
    QCOMPARE(calls.at(pnp), "norvaClearCallback(1001, " + packets + ", " + self + ") = 0");
    QCOMPARE(calls.at(pnp + 1), "norvaClearCallback(1002, " + packets + ", " + self + ") = 1");
    QCOMPARE(calls.at(pnp + 2), QStringLiteral("norvaAttach() = 1"));
    QCOMPARE(calls.at(pnp + 3), QStringLiteral("norvaGetDeviceCount() = 1"));
    QVERIFY(calls.at(pnp + 4).startsWith("norvaEnumDeviceInfo(0, "));
    QCOMPARE(calls.at(pnp + 5), "norvaSetCallback(1002, " + packets + ", " + self + ")");
    QCOMPARE(calls.at(pnp + 6), QStringLiteral("norvaSetXferMask(1002, 255)"));
    QCOMPARE(calls.size(), pnp + 7);

    hardware.setTouchDestination(4);
    QCOMPARE(board.take(), QStringList({"norvaSetTouchDestination(1002, 4)"}));
}

void TestNorvaHardware::plugAndPlayDuringFirstEnumeration()
{
    QVERIFY2(driverFound, "the simulated board must be on the library path");
    // The notification comes as soon as the first board is registered, while
    // the first enumeration may still be at work: whatever the timing, the
    // boards end up in the list once each.
    SimulatedBoard board("board 1 hid<A>\n"
                         "board 2 hid<B>\n"
                         "wait callback 1\n"
                         "unplug 2\n");
    NorvaHardware hardware;
    // Not a QSignalSpy: that records on the emitting thread.
    QObject receiver;
    QList<int> counts;
    connect(&hardware, &NorvaHardware::deviceEnumCount, &receiver,
            [&](int count) { counts << count; });
    QVERIFY(hardware.attachDriver());
    QTRY_COMPARE(counts.size(), 2);
    QCOMPARE(counts.at(1), 1);

    board.take();
    hardware.setTouchDestination(4);
    QCOMPARE(board.take(), QStringList({"norvaSetTouchDestination(1001, 4)"}));
}

void TestNorvaHardware::commandsDuringPacketsAndPlugAndPlay()
{
    QVERIFY2(driverFound, "the simulated board must be on the library path");
    // Packets as fast as the driver sends them, and a board that keeps coming
    // and going, while the GUI thread keeps sending commands; then the
    // hardware object is destroyed in the middle of it all.
    SimulatedBoard board("board 1 hid<A>\n"
                         "board 2 hid<B>\n"
                         "wait callback 1\n"
                         "repeat\n"
                         "  pen 0 0..65535 100 tip\n"
                         "  touch 1 down 10 20 30; 2 down 40 50 60\n"
                         "  raw 00 a5 01 02 03 04 05 06\n"
                         "  unplug 2\n"
                         "  pen 0 0..65535 200\n"
                         "  plug 2\n"
                         "  wait 1\n"
                         "end\n");
    auto hardware = std::make_unique<NorvaHardware>();
    QObject receiver;
    int packets = 0;
    int plugAndPlay = 0;
    connect(hardware.get(), &NorvaHardware::penEvent, &receiver, [&] { ++packets; });
    connect(hardware.get(), &NorvaHardware::touchEvent, &receiver, [&] { ++packets; });
    connect(hardware.get(), &NorvaHardware::touchStatus, &receiver, [&] { ++packets; });
    connect(hardware.get(), &NorvaHardware::pnpEvent, &receiver, [&] { ++plugAndPlay; });

    QVERIFY(hardware->attachDriver());
    NorvaHardware::PenEvent pen;
    pen.tip = true;
    int rounds = 0;
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && (packets < 200 || plugAndPlay < 20)) {
        ++rounds;
        hardware->sendPenModeCommand(quint8(rounds % 4), 2);
        hardware->setPenDestination(rounds % 4 + 1, 1);
        hardware->setTouchDestination(1);
        hardware->sendPlCommand(1);
        pen.x = rounds;
        hardware->sendPenToSystem(pen);
        hardware->sendTouchesToSystem(contacts(rounds % 50));
        QCoreApplication::processEvents();
    }
    hardware.reset();
    QVERIFY2(packets >= 200, qPrintable(QString::number(packets)));
    QVERIFY2(plugAndPlay >= 20, qPrintable(QString::number(plugAndPlay)));

    // Commands only ever went to boards that enumeration had accepted.
    const QRegularExpression command(
        "^norva(WritePacket|SetPointingDeviceDestination|SetTouchDestination|"
        "SendTouchPacketToSystem)\\((\\d+), ");
    int sent = 0;
    for (const QString& call : board.calls()) {
        const QRegularExpressionMatch match = command.match(call);
        if (!match.hasMatch())
            continue;
        ++sent;
        const QString device = match.captured(2);
        QVERIFY2(device == "1001" || device == "1002", qPrintable(call));
    }
    QVERIFY(sent > 0);
}

void TestNorvaHardware::detachRacesPlugAndPlay()
{
    NotifyingDriver driver;
    if (!driver.present())
        QSKIP("run alone with tests/drivers/notifying on the library path");
    auto hardware = std::make_unique<NorvaHardware>();
    QVERIFY(hardware->attachDriver());

    // The notification is inside the driver, clearing the board's callback,
    // when the detach comes; the driver's clearing waits for nothing.
    driver.notify();
    QTRY_VERIFY(driver.calls().filter(QStringLiteral("norvaClearCallback(1001")).size() == 1);
    hardware->detachDriver();
    driver.settle();
    hardware.reset();

    // The notification's enumeration ran to its end before the detach, and
    // nothing called the driver after it but the unloading's second detach.
    const QStringList calls = driver.calls();
    const int detach = calls.indexOf(QStringLiteral("norvaDetach()"));
    QVERIFY(detach > 0);
    QCOMPARE(calls.mid(detach), QStringList({"norvaDetach()", "norvaDetach()"}));
    QCOMPARE(calls.mid(detach - 2, 2).filter(QStringLiteral("norvaClearCallback(")).size(), 2);
    QCOMPARE(calls.filter(QStringLiteral("norvaSetXferMask(1001, 255)")).size(), 2);
}

QTEST_GUILESS_MAIN(TestNorvaHardware)
#include "tst_norvahardware.moc"
