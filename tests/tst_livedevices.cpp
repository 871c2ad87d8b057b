// Real devices read live by the board library, on devices that umockdev
// emulates from the shared recordings: what a recording gives read live and
// played as a board, which devices "auto" takes, devices that come and go,
// dropped events, several devices at once, detaching while a device sends,
// the desktop's touchscreen and devices that cannot be opened yet.

#include "boardeventsrun.h"
#include "emulateddevices.h"
#include "emulateduinput.h"
#include "eventtranslator.h"
#include "norvahardware.h"
#include "recording.h"
#include "recordings.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <map>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Packets = QStringList;

// Recordings are played with their pauses shortened, so that the suite is
// quicker without any device sending faster than it did, the 81 s one at
// twice its pace as well; one is played as recorded. An emulated device
// holds 4 kB of events: a reader held back longer than that lasts gets
// events cut in two, which a real device never gives.
const QStringList Compressed{"--max-gap", "0.05"};
const QString PacedRecording = QStringLiteral("pen-display-12in-pen-then-eraser.events");
const QString TenFingers = QStringLiteral("touch-display-22in-10-fingers.events");
const QString CanvasTouch = QStringLiteral("canvas-27in-touch-5-fingers.evemu");
const QString SmallPen = QStringLiteral("pen-display-12in-pen-then-eraser.events");
const QString CanvasPen = QStringLiteral("canvas-27in-pen.evemu");
const QString TypeA = QStringLiteral("old-touchscreen-type-a-2-fingers.events");
const QString LongPen = QStringLiteral("pen-display-22in-pen-eraser-buttons.events");

QString hex(const EventTranslator::Packet& packet)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(packet.data()), int(packet.size())).toHex(' '));
}

// What a board that plays these events sends: the packets of every frame,
// then those that lift what is still down at the end.
struct Translation
{
    Packets packets;
    int finishing = 0;
};

Translation translate(const InputDevice& device, const std::vector<InputDevice::Event>& events)
{
    Translation translation;
    EventTranslator translator(device);
    for (const InputDevice::Event& event : events) {
        for (const EventTranslator::Packet& packet : translator.feed(event))
            translation.packets << hex(packet);
    }
    const std::vector<EventTranslator::Packet> last = translator.finish();
    for (const EventTranslator::Packet& packet : last)
        translation.packets << hex(packet);
    translation.finishing = int(last.size());
    return translation;
}

// Of the frames up to this many seconds into the recording, if given.
Translation translate(const QString& file, double until = -1)
{
    Recording recording = Recording::load(recordingPath(file).toStdString());
    if (until >= 0 && !recording.events.empty()) {
        const int64_t last = recording.events.front().time + int64_t(until * 1e6);
        while (!recording.events.empty() && recording.events.back().time > last)
            recording.events.pop_back();
    }
    return translate(recording.device, recording.events);
}

// The packets a run of the board events tool printed with --raw, in order.
Packets packets(BoardEventsRun& run, const QString& kind = {})
{
    Packets found;
    for (const QString& event : run.events()) {
        if (event.contains(" | ") && (kind.isEmpty() || event.section(' ', 1, 1) == kind))
            found << event.section(" | ", 1);
    }
    return found;
}

// The board lines of the latest enumeration: "board <index> device <id> ...".
QStringList boards(BoardEventsRun& run)
{
    QStringList latest;
    for (const QString& event : run.events()) {
        if (event.startsWith("pnp"))
            latest.clear();
        else if (event.startsWith("board "))
            latest << event;
    }
    return latest;
}

// The device id of the board whose description holds the text; -1 if none.
int deviceOf(const QStringList& boardLines, const QString& description)
{
    for (const QString& line : boardLines) {
        if (line.contains(description))
            return line.section(' ', 3, 3).toInt();
    }
    return -1;
}

QProcessEnvironment liveEnvironment(const QString& devices)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("NORVABOARD_SCENARIO");
    environment.insert("NORVABOARD_DEVICES", devices);
    environment.insert("NORVABOARD_GRAB", "0");
    return environment;
}

// Where the ids of a touch or eraser packet's contacts are, with their down
// bit: one contact a byte after every 7 of a touch packet, one at byte 2 of
// an eraser packet.
QList<int> idPositions(const QByteArray& packet)
{
    QList<int> positions;
    if (packet.size() > 2 && packet[1] == 0x45) {
        for (int at = 2; at + 7 <= packet.size(); at += 7)
            positions << at;
    } else if (packet.size() > 2 && packet[1] == 0x46) {
        positions << 2;
    }
    return positions;
}

QByteArray withoutIds(QByteArray packet)
{
    for (const int at : idPositions(packet))
        packet[at] = char(packet[at] & 0x80);
    return packet;
}

// How long a device may take to send what it plays (at most 46 s), long
// enough for a loaded machine; nothing is timed.
constexpr int Patience = 180000;

// The recording played on an emulated device that the board events tool
// reads, unplugged once it has sent what it plays: every packet printed.
void readLive(const QString& file, const QStringList& options, const Translation& expected,
              Packets& live)
{
    EmulatedDevices devices;
    QCOMPARE(devices.add(recordingPath(file), 5, options), QString());
    BoardEventsRun run({"--raw"}, BOARDEVENTS, liveEnvironment(EmulatedDevices::node(5)));
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 1; }));
    QCOMPARE(devices.play(5), QString());
    const int played = expected.packets.size() - expected.finishing;
    // A device given up on sends nothing more: no use waiting the whole time.
    QVERIFY2(run.waitUntil(
                 [&] { return packets(run).size() >= played || run.errors().contains("given up"); },
                 Patience) &&
                 packets(run).size() >= played,
             qPrintable(run.errors()));
    devices.remove(5);
    QVERIFY(run.waitUntil([&] {
        return run.events().contains("pnp") && packets(run).size() >= expected.packets.size();
    }));
    QVERIFY2(run.interrupt() == 0, qPrintable(run.outcome()));
    live = packets(run);
}

} // namespace

class tst_LiveDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordingReadLive_data();
    void recordingReadLive();
    void autoTakesTheDevicesOnScreens();
    void devicesComeAndGo();
    void droppedEventsResynchronise_data();
    void droppedEventsResynchronise();
    void twoDevicesAtOnce_data();
    void twoDevicesAtOnce();
    void detachWhileDeviceSends();
    void unreadableNodeAtHotPlug();
    void handedBackReachesTheDesktop();
    // Run by handedBackReachesTheDesktop() and grabbedOnceNothingIsOnIt() in
    // a process of its own.
    void handBack();
    void grabbedOnceNothingIsOnIt();
    void devicesNamedByLinks();
    void readErrorsOpenTheDeviceAgain();
};

void tst_LiveDevices::initTestCase()
{
    if (!EmulatedDevices::available())
        QSKIP("not run under umockdev-wrapper: no device can be emulated");
    REQUIRE_RECORDINGS();
}

void tst_LiveDevices::recordingReadLive_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("options");
    for (const QString& file :
         QDir(recordingsFolder()).entryList({"*.evemu", "*.events"}, QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(file))
            << file << Compressed + QStringList{"--speed", file == LongPen ? "2" : "1"};
    QTest::newRow("at the recorded pace") << PacedRecording << QStringList();
}

// Read live, a recording gives exactly the packets of the same recording
// played as a board, lifts at the unplug included.
void tst_LiveDevices::recordingReadLive()
{
    QFETCH(QString, file);
    QFETCH(QStringList, options);
    const Translation expected = translate(file);
    Packets live;
    readLive(file, options, expected, live);
    if (!QTest::currentTestFailed())
        QCOMPARE(live, expected.packets);
}

// "auto" takes the devices on a screen, the older touchscreen without
// properties among them, and leaves out a touchpad.
void tst_LiveDevices::autoTakesTheDevicesOnScreens()
{
    EmulatedDevices devices;
    QCOMPARE(devices.add(recordingPath(CanvasTouch), 5), QString());
    QCOMPARE(devices.add(recordingPath(SmallPen), 6), QString());
    QCOMPARE(devices.add(recordingPath(TypeA), 9), QString());
    QCOMPARE(devices.add(recordingPath(CanvasTouch), 7, {"--touchpad", "--name", "Touchpad"}),
             QString());
    // A file that is no such recording makes no device.
    QVERIFY(devices.add(recordingPath("README.md"), 8).contains("not a recording"));
    BoardEventsRun run({}, BOARDEVENTS, liveEnvironment("auto"));
    QVERIFY(run.waitUntil(
        [&] { return !run.events().filter(QRegularExpression("^boards ")).isEmpty(); }));
    const QStringList found = boards(run);
    QCOMPARE(found.size(), 3);
    // Each with its size, from the resolutions that the device gives.
    QVERIFY(deviceOf(found, "mm<595.8,334.4> hid<Advanced Silicon") >= 0);
    QVERIFY(deviceOf(found, "mm<265.1,167.2> hid<Wacom Cintiq 12WX>") >= 0);
    QVERIFY(deviceOf(found, "xt<10> hid<N-Trig MultiTouch>") >= 0);
    QVERIFY2(run.interrupt() == 0, qPrintable(run.outcome()));
}

// A device that appears is a board plugged in; one that goes is unplugged,
// its contacts lifted first; one that comes back, even under another node,
// is the board it was.
void tst_LiveDevices::devicesComeAndGo()
{
    EmulatedDevices devices;
    // Five fingers that stay down, and a pen.
    const QStringList resting = Compressed + QStringList{"--until", "12.6"};
    QCOMPARE(devices.add(recordingPath(CanvasTouch), 5, resting), QString());
    QCOMPARE(devices.add(recordingPath(CanvasPen), 6, Compressed + QStringList{"--until", "2"}),
             QString());
    BoardEventsRun run({"--raw"}, BOARDEVENTS, liveEnvironment("auto"));
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 2; }));
    QCOMPARE(devices.play(5), QString());
    QCOMPARE(devices.play(6), QString());
    const QString touchName = QStringLiteral("hid<Advanced Silicon");
    const QString penName = QStringLiteral("hid<Wacom ISD-V4 Pen>");
    const int touchscreen = deviceOf(boards(run), touchName);
    const int pen = deviceOf(boards(run), penName);
    QVERIFY(touchscreen >= 0 && pen >= 0 && touchscreen != pen);

    // The packets until the fingers rest, then the unplug lifts all five.
    const Translation expected = translate(CanvasTouch, 12.6);
    QCOMPARE(expected.finishing, 1);
    const int played = expected.packets.size() - 1;
    QVERIFY2(run.waitUntil([&] { return packets(run, "touch").size() >= played; }, Patience),
             qPrintable(QString::number(packets(run, "touch").size()) + " of " +
                        QString::number(played) + "\n" + run.errors()));
    devices.remove(5);
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 1; }));
    const QStringList events = run.events();
    const int lift = events.lastIndexOf(QRegularExpression("\\S+ touch .*"));
    QVERIFY(lift >= 0 && lift < events.lastIndexOf("pnp"));
    QCOMPARE(events[lift].count(" up "), 5);
    QCOMPARE(packets(run, "touch"), expected.packets);

    // Back under another node; the pen goes and comes back under the
    // touchscreen's old one.
    QCOMPARE(devices.add(recordingPath(CanvasTouch), 9, resting), QString());
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 2; }));
    QCOMPARE(deviceOf(boards(run), touchName), touchscreen);
    QVERIFY(devices.move(6, 5));
    QVERIFY(
        run.waitUntil([&] { return run.events().count("pnp") == 4 && boards(run).size() == 2; }));
    QCOMPARE(deviceOf(boards(run), penName), pen);
    QCOMPARE(deviceOf(boards(run), touchName), touchscreen);
    QVERIFY2(run.interrupt() == 0, qPrintable(run.outcome()));
}

void tst_LiveDevices::droppedEventsResynchronise_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("length");
    // Four of five fingers lift while events are lost; two touch down.
    QTest::newRow("lifts") << CanvasTouch << 12.99 << 0.027;
    QTest::newRow("touch-downs") << CanvasTouch << 9.90 << 0.14;
    // Both fingers move on while events are lost, and stay the contacts
    // they were.
    QTest::newRow("type A") << TypeA << 1.5 << 0.2;
}

void tst_LiveDevices::droppedEventsResynchronise()
{
    QFETCH(QString, file);
    QFETCH(double, from);
    QFETCH(double, length);
    Recording recording = Recording::load(recordingPath(file).toStdString());
    // The lost frames as libevdev's resynchronisation gives them: for slots,
    // a frame that ends the touches that ended or changed meanwhile, then
    // one with the rest of the state. Without slots it holds no contacts,
    // and the next frame holds them all again: as if the lost frames had
    // never been. Whole frames are lost, from the first at or after from to
    // the first at or after from + length, as the converter drops them.
    using namespace InputCode;
    const bool slotted = recording.device.touchProtocol() == InputDevice::TouchProtocol::Slots;
    std::vector<InputDevice::Event> resynchronised;
    std::vector<InputDevice::Event> lost;
    std::map<int, int> trackingIds;
    std::map<int, int> before;
    int slot = 0;
    const int64_t dropFrom = recording.events.front().time + int64_t(from * 1e6);
    const int64_t dropTo = dropFrom + int64_t(length * 1e6);
    bool inFrame = false;
    bool dropping = false;
    for (const InputDevice::Event& event : recording.events) {
        const bool report = event.type == EvSyn && event.code == SynReport;
        if (!inFrame) {
            const bool losing = event.time >= dropFrom && event.time < dropTo;
            if (losing && !dropping)
                before = trackingIds;
            if (dropping && !losing && slotted) {
                bool ended = false;
                for (const auto& [s, id] : before) {
                    if (id >= 0 && trackingIds[s] != id) {
                        resynchronised.push_back({0, EvAbs, AbsMtSlot, s, 0});
                        resynchronised.push_back({0, EvAbs, AbsMtTrackingId, -1, 0});
                        ended = true;
                    }
                }
                if (ended)
                    resynchronised.push_back({0, EvSyn, SynReport, 0, 0});
                resynchronised.insert(resynchronised.end(), lost.begin(), lost.end());
                resynchronised.push_back({0, EvSyn, SynReport, 0, 0});
            }
            dropping = losing;
        }
        inFrame = !report;
        if (event.type == EvAbs && event.code == AbsMtSlot)
            slot = event.value;
        else if (event.type == EvAbs && event.code == AbsMtTrackingId)
            trackingIds[slot] = event.value;
        if (!dropping)
            resynchronised.push_back(event);
        else if (!report)
            lost.push_back(event);
    }
    const Translation expected = translate(recording.device, resynchronised);

    Packets live;
    readLive(file,
             Compressed + QStringList{"--drop", QString::number(from), QString::number(length)},
             expected, live);
    if (!QTest::currentTestFailed())
        QCOMPARE(live, expected.packets);
}

void tst_LiveDevices::twoDevicesAtOnce_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    // Both give their contacts ids from 0 at the start.
    QTest::newRow("two touchscreens") << CanvasTouch << TypeA;
    QTest::newRow("touchscreen and pen display") << CanvasTouch << SmallPen;
}

// Records do not say which board sent them: every contact down has an id
// that no other contact down holds, and keeps its own path.
void tst_LiveDevices::twoDevicesAtOnce()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    const Translation expected[2] = {translate(first), translate(second)};
    EmulatedDevices devices;
    QCOMPARE(devices.add(recordingPath(first), 5, Compressed), QString());
    QCOMPARE(devices.add(recordingPath(second), 6, Compressed), QString());
    BoardEventsRun run({"--raw"}, BOARDEVENTS,
                       liveEnvironment(EmulatedDevices::node(5) + ',' + EmulatedDevices::node(6)));
    const int total = expected[0].packets.size() + expected[1].packets.size();
    const int played = total - expected[0].finishing - expected[1].finishing;
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 2; }));
    QCOMPARE(devices.play(5), QString());
    QCOMPARE(devices.play(6), QString());
    QVERIFY2(run.waitUntil([&] { return packets(run).size() >= played; }, Patience),
             qPrintable(QString::number(packets(run).size()) + " of " + QString::number(played) +
                        "\n" + run.errors()));
    devices.remove(5);
    devices.remove(6);
    QVERIFY(run.waitUntil([&] { return packets(run).size() >= total; }));
    QVERIFY2(run.interrupt() == 0, qPrintable(run.outcome()));

    // Each packet is the next of one device's but for the ids of its touch
    // and eraser contacts; each contact keeps the live id it got while down.
    int next[2] = {0, 0};
    std::map<std::pair<char, int>, std::pair<int, int>> holders;
    for (const QString& line : packets(run)) {
        const QByteArray live = QByteArray::fromHex(line.toLatin1());
        int device = -1;
        for (int d = 1; d >= 0; --d) {
            if (next[d] < expected[d].packets.size() &&
                withoutIds(QByteArray::fromHex(expected[d].packets[next[d]].toLatin1())) ==
                    withoutIds(live))
                device = d;
        }
        QVERIFY2(device >= 0, qPrintable("a packet of neither device: " + line));
        const QByteArray own =
            QByteArray::fromHex(expected[device].packets[next[device]++].toLatin1());
        for (const int at : idPositions(live)) {
            const std::pair<char, int> id{live[1], live[at] & 0x7f};
            const std::pair<int, int> holder{device, own[at] & 0x7f};
            const auto found = holders.find(id);
            QVERIFY2(found == holders.end() || found->second == holder,
                     qPrintable("id held by another contact: " + line));
            if (live[at] & 0x80)
                holders[id] = holder;
            else
                holders.erase(id);
        }
    }
    QCOMPARE(next[0], expected[0].packets.size());
    QCOMPARE(next[1], expected[1].packets.size());
}

// Attaching and detaching while a device sends: the session outlives the
// thread that reads the device. Run under the sanitizers.
void tst_LiveDevices::detachWhileDeviceSends()
{
    EmulatedDevices devices;
    qputenv("NORVABOARD_GRAB", "0");
    qunsetenv("NORVABOARD_SCENARIO");
    // New devices each round, whose events still come after the detach, few
    // enough for umockdev to hold once nobody reads them; several, so that
    // the devices' thread is often handing a frame over when the detach
    // comes.
    const QStringList sending = Compressed + QStringList{"--until", "0.8"};
    constexpr int Devices = 4;
    for (int round = 0; round < 20; ++round) {
        const int first = 10 + round * Devices;
        QStringList nodes;
        for (int number = first; number < first + Devices; ++number) {
            QCOMPARE(devices.add(recordingPath(TenFingers), number, sending), QString());
            nodes << EmulatedDevices::node(number);
        }
        qputenv("NORVABOARD_DEVICES", nodes.join(',').toUtf8());
        NorvaHardware hardware;
        std::atomic<int> received{0};
        connect(
            &hardware, &NorvaHardware::packetReceived, &hardware, [&] { ++received; },
            Qt::DirectConnection);
        QVERIFY(hardware.attachDriver());
        for (int number = first; number < first + Devices; ++number)
            QCOMPARE(devices.play(number), QString());
        QTRY_VERIFY_WITH_TIMEOUT(received > Devices, 30000);
        hardware.detachDriver();
        for (int number = first; number < first + Devices; ++number)
            devices.remove(number);
    }
    qunsetenv("NORVABOARD_DEVICES");
}

// A node that appears before udev has given it its group is opened once its
// attributes change, with no word about the input group; one that stays
// unreadable is reported once, a second after it appeared. Root opens any
// node, so the case runs as nobody.
void tst_LiveDevices::unreadableNodeAtHotPlug()
{
    if (geteuid() == 0) {
        const QStringList nobody{"--reuid=65534", "--regid=65534", "--clear-groups", "--"};
        const QString self = QCoreApplication::applicationFilePath();
        if (QProcess::execute("setpriv", nobody + QStringList{"test", "-x", self, "-a", "-r",
                                                              recordingPath(CanvasTouch)}) != 0)
            QSKIP(qPrintable("root opens any node, and nobody cannot run " + self));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("UMOCKDEV_DIR");
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("setpriv", nobody + QStringList{self, "unreadableNodeAtHotPlug"});
        QVERIFY(child.waitForFinished(120000));
        const QString output = QString::fromUtf8(child.readAll());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(output));
        QVERIFY2(output.contains("PASS   : tst_LiveDevices::unreadableNodeAtHotPlug()"),
                 qPrintable(output));
        return;
    }
    EmulatedDevices devices;
    // Added under nodes that are not wanted, then moved where they are, as
    // udev makes them: unreadable first.
    QCOMPARE(devices.add(recordingPath(CanvasTouch), 5, {}), QString());
    QCOMPARE(devices.add(recordingPath(SmallPen), 6, {}), QString());
    QCOMPARE(devices.add(recordingPath(CanvasPen), 4, {}), QString());
    BoardEventsRun run({}, BOARDEVENTS,
                       liveEnvironment("/dev/input/event7,/dev/input/event8,"
                                       "/dev/input/event9"));
    QVERIFY(run.waitUntil([&] { return run.events().contains("boards 0 of 0"); }));
    const auto terminal = [&](int number) {
        return QFile::encodeName(
            QFile::symLinkTarget(devices.root() + "/dev/input/event" + QString::number(number)));
    };
    const QByteArray touchscreen = terminal(5);
    QCOMPARE(chmod(touchscreen.constData(), 0), 0);
    QVERIFY(devices.move(5, 7));
    // A readable one after it: once it is a board, the first has been seen.
    QVERIFY(devices.move(4, 9));
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 1; }));
    // udev gives the touchscreen its group.
    QCOMPARE(chmod(touchscreen.constData(), 0600), 0);
    const timespec now[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    const QByteArray node = QFile::encodeName(devices.root() + "/dev/input/event7");
    QCOMPARE(utimensat(AT_FDCWD, node.constData(), now, AT_SYMLINK_NOFOLLOW), 0);
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 2; }));
    QVERIFY(deviceOf(boards(run), "hid<Advanced Silicon") >= 0);
    // The pen never gets it.
    QCOMPARE(chmod(terminal(6).constData(), 0), 0);
    QVERIFY(devices.move(6, 8));
    QVERIFY(run.waitUntil([&] { return run.errors().contains("Permission denied"); }, Patience));
    QVERIFY2(run.interrupt() == 0, qPrintable(run.outcome()));
    const QString hint = QStringLiteral("is the user in the input group?");
    QCOMPARE(run.errors().count(hint), 1);
    QVERIFY(
        run.errors().contains("/dev/input/event8: cannot open it (Permission denied): " + hint));
}

// The desktop's touchscreen on /dev/uinput: made only where it can be, with
// the grabbed device's size, before the devices are grabbed; the contacts
// handed back reach it, the one down longest as the single-touch pointer.
void tst_LiveDevices::handedBackReachesTheDesktop()
{
    EmulatedDevices devices;
    // A screen of 464.8 by 255.6 mm: 70 and 128 board units a millimetre.
    QCOMPARE(devices.add(recordingPath(TenFingers), 5, {}), QString());
    QProcessEnvironment environment = liveEnvironment(EmulatedDevices::node(5));
    environment.remove("NORVABOARD_GRAB");
    environment.insert("LIVEDEVICES_HANDBACK", "1");
    const auto handBack = [&] {
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {"handBack"});
        // The emulated /dev/uinput answers in this thread's event loop.
        [&] { QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 60000); }();
        const QString errors = QString::fromUtf8(child.readAllStandardError());
        const bool passed = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
        return std::make_pair(passed, errors);
    };
    // Where there is no /dev/uinput the devices are not grabbed.
    if (!QFile::exists("/dev/uinput")) {
        const auto [passed, errors] = handBack();
        QVERIFY2(passed, qPrintable(errors));
        QVERIFY(errors.contains("cannot create a touchscreen on /dev/uinput"));
        QCOMPARE(EmulatedDevices::grabsAsked(5), 0);
    }
    EmulatedUinput uinput(devices, 99);
    QCOMPARE(uinput.error(), QString());
    const auto [passed, errors] = handBack();
    QVERIFY2(passed, qPrintable(errors));
    QVERIFY(uinput.created());
    QCOMPARE(EmulatedDevices::grabsAsked(5), 1);
    QCOMPARE(uinput.name(), QByteArray("norvaboardex touchscreen"));
    QCOMPARE(uinput.axis(ABS_MT_POSITION_X).resolution, 70);
    QCOMPARE(uinput.axis(ABS_Y).resolution, 128);
    // The pointer's positions, frame by frame.
    QList<int> pointer;
    for (const EmulatedUinput::Event& event : uinput.events()) {
        if (event.type == EV_ABS && event.code == ABS_X)
            pointer << event.value;
    }
    QCOMPARE(pointer, (QList<int>{1000, 1000, 2000}));
}

void tst_LiveDevices::handBack()
{
    if (!qEnvironmentVariableIsSet("LIVEDEVICES_HANDBACK"))
        QSKIP("run by handedBackReachesTheDesktop() and grabbedOnceNothingIsOnIt()");
    NorvaHardware hardware;
    // As the visualiser hands back what lands outside its window: every
    // touch packet, each with a line on standard output.
    connect(
        &hardware, &NorvaHardware::touchEvent, &hardware,
        [&](const NorvaHardware::TouchEvent& touches) {
            hardware.sendTouchesToSystem(touches);
            std::printf("touch\n");
            std::fflush(stdout);
        },
        Qt::DirectConnection);
    QSignalSpy counts(&hardware, &NorvaHardware::deviceEnumCount);
    QVERIFY(hardware.attachDriver());
    std::printf("attached\n");
    std::fflush(stdout);
    // Until the file that this names exists.
    const QString stop = qEnvironmentVariable("LIVEDEVICES_STOP");
    if (!stop.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(stop), Patience);
        hardware.detachDriver();
        return;
    }
    QCOMPARE(counts.value(0).value(0).toInt(), 1);
    // Contact 5 down, then 3, then 5 lifted and 3.
    const auto contact = [](quint8 id, bool down, qint32 position) {
        NorvaHardware::TouchContact c;
        c.id = id;
        c.down = down;
        c.x = c.y = position;
        return c;
    };
    hardware.sendTouchesToSystem({contact(5, true, 1000)});
    hardware.sendTouchesToSystem({contact(5, true, 1000), contact(3, true, 2000)});
    hardware.sendTouchesToSystem({contact(5, false, 1000), contact(3, true, 2000)});
    hardware.sendTouchesToSystem({contact(3, false, 2000)});
    hardware.detachDriver();
}

// A device that cannot be grabbed (another program holds it) has none of its
// contacts handed back: they reach the desktop from the device. One touched
// when it is opened is grabbed only once nothing is on it, as a grab sends
// the desktop no release; from then on its contacts are handed back.
void tst_LiveDevices::grabbedOnceNothingIsOnIt()
{
    EmulatedDevices devices;
    EmulatedDevices::holdElsewhere(5);
    QCOMPARE(devices.add(recordingPath(TenFingers), 5, Compressed + QStringList{"--until", "3.5"}),
             QString());
    // Four fingers rest when it is opened and lift at 11.2 s; five come down
    // at 12.4 s.
    QCOMPARE(devices.add(recordingPath(CanvasTouch), 6,
                         Compressed + QStringList{"--resting", "10.5", "--until", "12.6"}),
             QString());
    EmulatedUinput uinput(devices, 99);
    QCOMPARE(uinput.error(), QString());
    QTemporaryDir folder;
    const QString stop = folder.filePath("stop");
    QProcessEnvironment environment =
        liveEnvironment(EmulatedDevices::node(5) + ',' + EmulatedDevices::node(6));
    environment.remove("NORVABOARD_GRAB");
    environment.insert("LIVEDEVICES_HANDBACK", "1");
    environment.insert("LIVEDEVICES_STOP", stop);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {"handBack"});
    QString output;
    const auto lines = [&](const QString& line) {
        output += QString::fromUtf8(child.readAllStandardOutput());
        return output.split('\n').count(line);
    };
    // The emulated /dev/uinput answers in this thread's event loop, which
    // the waits run.
    QTRY_VERIFY_WITH_TIMEOUT(lines("attached") == 1, 60000);
    QCOMPARE(EmulatedDevices::grabsAsked(5), 1);
    const Translation taps = translate(TenFingers, 3.5);
    QCOMPARE(devices.play(5), QString());
    QTRY_VERIFY_WITH_TIMEOUT(lines("touch") == taps.packets.size() - taps.finishing, Patience);
    QVERIFY(uinput.events().isEmpty());

    QCOMPARE(EmulatedDevices::grabsAsked(6), 0);
    QCOMPARE(devices.play(6), QString());
    QTRY_VERIFY_WITH_TIMEOUT(EmulatedDevices::grabsAsked(6) == 1, Patience);
    QTRY_VERIFY_WITH_TIMEOUT(!uinput.events().isEmpty(), Patience);

    QFile(stop).open(QIODevice::WriteOnly);
    QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 60000);
    const QString errors = QString::fromUtf8(child.readAllStandardError());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable(errors));
    QVERIFY2(errors.contains("/dev/input/event5: cannot grab it (Device or resource busy): its "
                             "contacts reach the desktop from the device, and none are handed "
                             "back"),
             qPrintable(errors));
}

// Devices given by a link, as people give them because links outlive a
// reboot: the device goes with its node and comes back with its link, under
// another node, as the board it was. udev removes the folder of links with
// its last link, and makes it again for the next.
void tst_LiveDevices::devicesNamedByLinks()
{
    EmulatedDevices devices;
    const QString links = devices.root() + "/dev/input/by-id";
    const auto link = [&](int number) {
        const QByteArray target = "../event" + QByteArray::number(number);
        return QDir().mkpath(links) &&
               symlink(target.constData(), QFile::encodeName(links + "/touch").constData()) == 0;
    };
    QCOMPARE(devices.add(recordingPath(CanvasTouch), 5), QString());
    QVERIFY(link(5));
    BoardEventsRun run({}, BOARDEVENTS, liveEnvironment("/dev/input/by-id/touch"));
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 1; }));
    const int board = deviceOf(boards(run), "hid<Advanced Silicon");
    devices.remove(5);
    QVERIFY(QDir(links).removeRecursively());
    QVERIFY(run.waitUntil([&] { return run.events().contains("pnp") && boards(run).isEmpty(); }));
    QCOMPARE(devices.add(recordingPath(CanvasTouch), 7), QString());
    QVERIFY(link(7));
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 1; }));
    QCOMPARE(deviceOf(boards(run), "hid<Advanced Silicon"), board);
    QVERIFY2(run.interrupt() == 0, qPrintable(run.outcome()));
}

// A read error closes a device whose node is still there only for a moment:
// it is opened again a second later, as the board it was, and given up on
// after three tries.
void tst_LiveDevices::readErrorsOpenTheDeviceAgain()
{
    EmulatedDevices devices;
    QCOMPARE(devices.add(recordingPath(CanvasTouch), 5), QString());
    BoardEventsRun run({}, BOARDEVENTS, liveEnvironment(EmulatedDevices::node(5)));
    QVERIFY(run.waitUntil([&] { return boards(run).size() == 1; }));
    const QString board = boards(run).first();
    // Ten bytes, no whole event, now and every 300 ms: each time that it is
    // opened again, it fails again.
    const QByteArray garbage = QByteArray(10, 'x') + "\n";
    QCOMPARE(devices.sendScript(5, "r 0 " + garbage + QByteArray("r 300 " + garbage).repeated(30)),
             QString());
    QVERIFY(run.waitUntil([&] { return run.errors().contains("given up"); }, Patience));
    QVERIFY(run.waitUntil([&] { return boards(run).isEmpty(); }));
    QVERIFY2(run.interrupt() == 0, qPrintable(run.outcome()));
    QCOMPARE(run.errors(),
             QString("norvaboardex: /dev/input/event5: cannot read it (Invalid argument): opening "
                     "it again\n"
                     "norvaboardex: /dev/input/event5: given up after 3 tries: it is left out "
                     "until it is plugged in again\n"));
    // Unplugged at each failure, plugged in again at each try.
    QCOMPARE(run.events().count("pnp"), 7);
    for (const QString& event : run.events()) {
        if (event.startsWith("board "))
            QCOMPARE(event, board);
    }
}

QTEST_GUILESS_MAIN(tst_LiveDevices)
#include "tst_livedevices.moc"
