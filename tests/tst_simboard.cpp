#include "norvaboardex.h"
#include "scenario.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>

namespace {

// The simulated board as any host sees it: loaded by path, entry points
// looked up by name.
#define NORVA_ENTRY(name) decltype(&::name) name = resolve<decltype(&::name)>(#name)

struct Driver
{
    void* handle = dlopen(SIMBOARD_LIBRARY, RTLD_NOW | RTLD_LOCAL);

    template <typename Function> Function resolve(const char* name) const
    {
        return handle ? reinterpret_cast<Function>(dlsym(handle, name)) : nullptr;
    }

    NORVA_ENTRY(norvaAttach);
    NORVA_ENTRY(norvaDetach);
    NORVA_ENTRY(norvaSetCallback);
    NORVA_ENTRY(norvaClearCallback);
    NORVA_ENTRY(norvaWritePacket);
    NORVA_ENTRY(norvaSetXferMask);
    NORVA_ENTRY(norvaGetDeviceCount);
    NORVA_ENTRY(norvaEnumDeviceInfo);
    NORVA_ENTRY(norvaSetPnpCallback);
    NORVA_ENTRY(norvaSetTouchDestination);
    NORVA_ENTRY(norvaGetTouchDestination);
    NORVA_ENTRY(norvaGetTouchEnabled);
    NORVA_ENTRY(norvaGetLATEDetection);
    NORVA_ENTRY(norvaIsSomethingOnBoard);
    NORVA_ENTRY(norvaOpenSynchronousChannel);
    NORVA_ENTRY(norvaReadSynchronousPacket);
    NORVA_ENTRY(norvaLibraryVersionNumber);
    NORVA_ENTRY(norvaEcho);
    NORVA_ENTRY(norvaInject);
    NORVA_ENTRY(norvaSendTouchPacketToSystem);

    ~Driver() { unload(); }
    void unload()
    {
        if (handle)
            dlclose(handle);
        handle = nullptr;
    }
};

struct Packet
{
    uint32_t tag = 0;
    QByteArray bytes;
    std::thread::id thread;
};

// What one registration of the packet callback received.
struct Recorder
{
    std::mutex mutex;
    QList<Packet> packets;
    // Set once the registration is gone; a packet after that is a fault.
    std::atomic<bool> closed{false};
    std::atomic<int> late{0};
    // When set, the callback clears its own registration at the first packet.
    Driver* clearsItself = nullptr;
    int32_t device = 0;
    int32_t clearResult = -1;

    int count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return packets.size();
    }
    QList<Packet> received()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return packets;
    }
    QList<QByteArray> bytes()
    {
        QList<QByteArray> result;
        for (const Packet& packet : received())
            result.append(packet.bytes.toHex());
        return result;
    }
};

void NORVA_CALLBACK recordPacket(uint32_t tag, const uint8_t* bytes, uint32_t length, void* context)
{
    auto* recorder = static_cast<Recorder*>(context);
    if (recorder->closed)
        ++recorder->late;
    std::lock_guard<std::mutex> lock(recorder->mutex);
    recorder->packets.append({tag, QByteArray(reinterpret_cast<const char*>(bytes), int(length)),
                              std::this_thread::get_id()});
    if (recorder->clearsItself && recorder->packets.size() == 1)
        recorder->clearResult = recorder->clearsItself->norvaClearCallback(
            recorder->device, reinterpret_cast<void*>(&recordPacket), recorder);
}

struct Record
{
    unsigned char bytes[NorvaRecordSize];

    Record(unsigned char fill = 0) { std::memset(bytes, fill, sizeof bytes); }
    int32_t field(int offset) const
    {
        int32_t value;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    }
    QByteArray description() const
    {
        return QByteArray(reinterpret_cast<const char*>(bytes + NorvaRecordDescriptionOffset));
    }
};

// Enumerates like the visualiser: from the test thread at start, and again
// from the plug-and-play thread at every notification.
struct Host
{
    Driver* driver = nullptr;
    Recorder packets;
    std::mutex mutex;
    QList<int32_t> devices;
    QList<int> counts;
    QList<std::thread::id> pnpThreads;
    int enumerated = 0;
    // How long a notification takes before the host starts to enumerate.
    int pnpDelayMs = 0;

    // The bookkeeping comes before the registrations, which may set the
    // scenario going and with it the next notification.
    void enumerate()
    {
        driver->norvaAttach();
        const int count = driver->norvaGetDeviceCount();
        {
            std::lock_guard<std::mutex> lock(mutex);
            counts.append(count);
        }
        for (int index = 0; index < count; ++index) {
            Record info;
            std::memcpy(info.bytes, "\x09\0\0\0", 4);
            if (!driver->norvaEnumDeviceInfo(index, info.bytes) ||
                info.field(NorvaRecordUsableOffset) != 1)
                continue;
            const int32_t device = info.field(NorvaRecordDeviceOffset);
            {
                std::lock_guard<std::mutex> lock(mutex);
                devices.append(device);
            }
            driver->norvaSetCallback(device, &recordPacket, &packets);
            driver->norvaSetXferMask(device, 0xFF);
        }
        std::lock_guard<std::mutex> lock(mutex);
        ++enumerated;
    }

    static void NORVA_CALLBACK pnp(void* context)
    {
        auto* host = static_cast<Host*>(context);
        std::this_thread::sleep_for(std::chrono::milliseconds(host->pnpDelayMs));
        QList<int32_t> devices;
        {
            std::lock_guard<std::mutex> lock(host->mutex);
            host->pnpThreads.append(std::this_thread::get_id());
            devices.swap(host->devices);
        }
        for (const int32_t device : devices)
            host->driver->norvaClearCallback(device, reinterpret_cast<void*>(&recordPacket),
                                             &host->packets);
        host->enumerate();
    }

    int notifications()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return pnpThreads.size();
    }
    int enumerations()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return enumerated;
    }
};

QString pointer(const void* address)
{
    return QStringLiteral("0x") + QString::number(quintptr(address), 16);
}

template <typename Function> QString pointer(Function* function)
{
    return pointer(reinterpret_cast<const void*>(function));
}

QByteArray hexPacket(const Scenario::Command& command, double t = 0)
{
    const std::vector<uint8_t> packet = command.packet(t);
    return QByteArray(reinterpret_cast<const char*>(packet.data()), int(packet.size())).toHex();
}

// A pen packet with the tip down, as the board sends it, in hex.
QByteArray penPacket(int x, int y, bool prefixed = false)
{
    QByteArray packet("\x08\x21\x00", 3);
    for (const int value : {x, y})
        packet += char(value & 0xFF) + QByteArray(1, char(value >> 8));
    packet += '\x01';
    return (prefixed ? QByteArray("\x0b\x41\x00", 3) + packet : packet).toHex();
}

// Standard error sent to a file while this lives, so that what the
// library's threads print can be read at any time.
class StandardErrorFile
{
public:
    explicit StandardErrorFile(const QString& path) : m_file(path)
    {
        m_file.open(QIODevice::WriteOnly);
        std::fflush(stderr);
        dup2(m_file.handle(), 2);
    }
    ~StandardErrorFile()
    {
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
    }
    QByteArray text() const
    {
        QFile file(m_file.fileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    const int m_saved = dup(2);
    QFile m_file;
};

} // namespace

class TestSimBoard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void parsesEveryCommand();
    void buildsPackets_data();
    void buildsPackets();
    void reportsMalformedLines();
    void nestsRepeats();
    void demoIsWellFormed();

    void exportsEveryEntryPoint();
    void noScenarioMeansNoBoard();
    void enumeratesBoards();
    void deliversOnlyToRegisteredCallbacks();
    void waitsForAFile();
    void clearingStopsDelivery();
    void detachAndUnloadStopDelivery();
    void repeatedAttachKeepsScenario();
    void notifiesPlugAndPlayFromItsOwnThread();
    void waitingForACallbackWaitsForNotifications();
    void injectsAndReadsSynchronously();
    void logsEveryCall();
    void playsRecordingsAndReportsDevices();
    void playsRepeatsAsWritten_data();
    void playsRepeatsAsWritten();
    void reportsAGarbageScenarioBriefly();
    void playsALargeScenarioWhileReadingIt();
    void playsAScenarioFromAPipe();

private:
    QString useScenario(const QByteArray& text);

    QTemporaryDir m_dir;
};

void TestSimBoard::init()
{
    qunsetenv("NORVABOARD_SCENARIO");
    qunsetenv("NORVABOARD_LOG");
    qunsetenv("NORVABOARD_DEVICES");
}

void TestSimBoard::cleanup()
{
    init();
}

QString TestSimBoard::useScenario(const QByteArray& text)
{
    static int number = 0;
    QFile file(m_dir.filePath(QStringLiteral("scenario-%1.txt").arg(++number)));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.close();
    qputenv("NORVABOARD_SCENARIO", QFile::encodeName(file.fileName()));
    return file.fileName();
}

void TestSimBoard::parsesEveryCommand()
{
    using Op = Scenario::Op;
    const Scenario scenario = Scenario::parse(R"(# boards first
board 1 hid<A> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>   # trailing comment
board 2 unusable unplugged hid<B>
wait 25
wait callback 1
wait callback 1 500
use 2
prefix on
raw 08 21 0034127856 0b
pen 3 100 200 tip button bit2
touch 5 down 16 32 48; 6 up 1 2 3
eraser 7 down 1 2 3 4
prefix off
touch
plug 2
unplug 2
repeat 3
end
repeat
end
wait file /tmp/ready 700
play rec.events 2.5
)");
    QVERIFY2(scenario.diagnostics.empty(),
             scenario.diagnostics.empty() ? "" : scenario.diagnostics[0].text().c_str());
    QCOMPARE(scenario.boards.size(), std::size_t(2));
    QCOMPARE(scenario.boards[0].number, 1);
    QVERIFY(scenario.boards[0].usable && scenario.boards[0].plugged);
    QCOMPARE(scenario.boards[0].description,
             std::string("hid<A> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>"));
    QCOMPARE(scenario.boards[1].device(), 1002);
    QVERIFY(!scenario.boards[1].usable && !scenario.boards[1].plugged);
    QCOMPARE(scenario.boards[1].description, std::string("hid<B>"));

    const auto& c = scenario.commands;
    const std::vector<Op> ops{Op::Wait,   Op::WaitCallback, Op::WaitCallback, Op::Raw,  Op::Pen,
                              Op::Touch,  Op::Eraser,       Op::Touch,        Op::Plug, Op::Unplug,
                              Op::Repeat, Op::Repeat,       Op::WaitFile,     Op::Play};
    QCOMPARE(c.size(), ops.size());
    for (std::size_t i = 0; i < ops.size(); ++i)
        QVERIFY(c[i].op == ops[i]);
    QCOMPARE(c[0].amount, 25);
    QCOMPARE(c[0].line, 4);
    QCOMPARE(c[1].board, 1);
    QCOMPARE(c[1].amount, Scenario::DefaultCallbackTimeoutMs);
    QCOMPARE(c[2].amount, 500);
    // "use 2" and "prefix on" hold for the lines after them.
    QCOMPARE(c[3].board, 2);
    QCOMPARE(hexPacket(c[3]), QByteArray("082100341278560b"));
    QCOMPARE(c[4].board, 2);
    QVERIFY(c[4].prefixed);
    QVERIFY(!c[7].prefixed);
    QCOMPARE(c[8].board, 2);
    QCOMPARE(c[9].board, 2);
    QCOMPARE(c[10].amount, 3);
    QCOMPARE(c[11].amount, Scenario::Forever);
    QCOMPARE(c[12].path, std::string("/tmp/ready"));
    QCOMPARE(c[12].amount, 700);
    QCOMPARE(c[13].path, std::string("rec.events"));
    QCOMPARE(c[13].speed, 2.5);
    QCOMPARE(c[13].board, 2);
}

void TestSimBoard::buildsPackets_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<double>("progress");
    QTest::addColumn<QByteArray>("packet");

    QTest::newRow("pen") << QByteArray("pen 1 4660 22136 tip button") << 0.0
                         << QByteArray("082100341278560b");
    QTest::newRow("pen index and bit2")
        << QByteArray("pen 15 65535 0 bit2") << 0.0 << QByteArray("082100ffff00007c");
    QTest::newRow("pen hovering") << QByteArray("pen 0 1 2") << 0.0
                                  << QByteArray("0821000100020000");
    QTest::newRow("touch") << QByteArray("touch 5 down 16 32 48") << 0.0
                           << QByteArray("094585100020003000");
    QTest::newRow("two touches") << QByteArray("touch 1 down 1 2 3;2 up 4 5 6") << 0.0
                                 << QByteArray("10458101000200030002040005000600");
    QTest::newRow("no touches") << QByteArray("touch") << 0.0 << QByteArray("0245");
    QTest::newRow("eraser") << QByteArray("eraser 127 down 1 2 3 4") << 0.0
                            << QByteArray("0b46ff0100020003000400");
    QTest::newRow("eraser up") << QByteArray("eraser 3 up 1 2 3 4") << 0.0
                               << QByteArray("0b46030100020003000400");
    QTest::newRow("prefixed pen") << QByteArray("prefix on\npen 0 1 2 tip") << 0.0
                                  << QByteArray("0b41000821000100020001");
    QTest::newRow("raw") << QByteArray("raw 0a0B 0c") << 0.0 << QByteArray("0a0b0c");
    QTest::newRow("ramp start") << QByteArray("pen 0 100..300 0") << 0.0
                                << QByteArray("0821006400000000");
    QTest::newRow("ramp middle") << QByteArray("pen 0 100..300 0") << 0.5
                                 << QByteArray("082100c800000000");
    QTest::newRow("ramp down") << QByteArray("pen 0 300..100 0") << 1.0
                               << QByteArray("0821006400000000");
    QTest::newRow("sine at a quarter") << QByteArray("pen 0 sin(1000,200) cos(1000, 200)") << 0.25
                                       << QByteArray("082100b004e80300");
    QTest::newRow("two turns") << QByteArray("pen 0 sin(1000,200,2) 0") << 0.125
                               << QByteArray("082100b004000000");
}

void TestSimBoard::buildsPackets()
{
    QFETCH(QByteArray, line);
    QFETCH(double, progress);
    QFETCH(QByteArray, packet);
    const Scenario scenario = Scenario::parse("board 1 hid<A>\n" + line.toStdString());
    QVERIFY(scenario.diagnostics.empty());
    QCOMPARE(scenario.commands.size(), std::size_t(1));
    QCOMPARE(hexPacket(scenario.commands[0], progress), packet);
}

void TestSimBoard::reportsMalformedLines()
{
    const Scenario scenario = Scenario::parse(R"(pen 0 1 2
board 0 hid<A>
board 1 hid<A>
board 1 hid<again>
jump 3
wait
wait soon
wait callback 9
pen 16 1 2
pen 0 65536 2
pen 0 1 2 eraser
touch 1 maybe 1 2 3
touch 1 down 1 2 3;
eraser 1 down 1 2 3
raw 0g
raw 123
pen 0 sin(1000,2000) 0
prefix maybe
use 7
end
wait 5
repeat
board 3 hid<C>
play
play rec.events 0
)" + std::string("\x1b[2J\\" + std::string(50, 'z') + "\n"));
    const std::vector<std::pair<int, std::string>> expected{
        {1, "no board declared yet"},
        {2, "board 0 is out of range 1..999"},
        {4, "board 1 is already declared"},
        {5, "unknown command 'jump'"},
        {6, "usage: wait <ms>, wait callback <board> [<timeout ms>] or wait file <path> [<timeout "
            "ms>]"},
        {7, "wait 'soon' is not a whole number"},
        {8, "board 9 is not declared"},
        {9, "pen index 16 is out of range 0..15"},
        {10, "x 65536 is out of range 0..65535"},
        {11, "unknown pen flag 'eraser' (tip, button or bit2)"},
        {12, "usage: touch [<id> down|up <x> <y> <size> [; ...]]"},
        {13, "usage: touch [<id> down|up <x> <y> <size> [; ...]]"},
        {14, "usage: eraser [<id> down|up <x> <y> <width> <height> [; ...]]"},
        {15, "'g' is not a hex digit"},
        {16, "odd number of hex digits"},
        {17, "x 'sin(1000,2000)' leaves the range 0..65535"},
        {18, "usage: prefix on|off"},
        {19, "board 7 is not declared"},
        {20, "end without repeat"},
        {22, "repeat without end"},
        {23, "a board cannot be declared inside a repeat"},
        {24, "usage: play <recording> [<speed>]"},
        {25, "speed '0' is not a number from 0.01 to 10000"},
        // Quoted in part, escaped: nothing but text reaches the terminal.
        {26, "unknown command '\\x1b[2J\\\\" + std::string(35, 'z') + "...'"},
    };
    QCOMPARE(scenario.diagnostics.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QCOMPARE(scenario.diagnostics[i].line, expected[i].first);
        QCOMPARE(scenario.diagnostics[i].message, expected[i].second);
    }
    QCOMPARE(scenario.diagnostics[0].text(), std::string("scenario:1: no board declared yet"));
    // Only the good lines remain: board 1, "wait 5" and the unclosed repeat.
    QCOMPARE(scenario.boards.size(), std::size_t(1));
    QCOMPARE(scenario.commands.size(), std::size_t(2));
    QCOMPARE(scenario.commands[0].line, 21);
    QVERIFY(scenario.commands[1].op == Scenario::Op::Repeat);
    QVERIFY(scenario.commands[1].body.empty());
}

void TestSimBoard::nestsRepeats()
{
    const Scenario scenario = Scenario::parse(R"(board 1 hid<A>
repeat 2
  raw 01
  repeat 0
    raw 02
  end
  wait 1
end
raw 03
)");
    QVERIFY(scenario.diagnostics.empty());
    const auto& c = scenario.commands;
    QCOMPARE(c.size(), std::size_t(2));
    QCOMPARE(c[0].amount, 2);
    QCOMPARE(c[0].body.size(), std::size_t(3));
    QCOMPARE(c[0].body[1].amount, 0);
    QCOMPARE(hexPacket(c[0].body[1].body.at(0)), QByteArray("02"));
    QCOMPARE(hexPacket(c[1]), QByteArray("03"));

    std::string deep;
    for (int i = 0; i < 101; ++i)
        deep += "repeat\n";
    const Scenario tooDeep = Scenario::parse(deep);
    // Lines 1 to 100 open repeats that never end; line 101 is one too many.
    QCOMPARE(tooDeep.diagnostics.size(), std::size_t(101));
    QCOMPARE(tooDeep.diagnostics[100].line, 101);
    QCOMPARE(tooDeep.diagnostics[100].message, std::string("repeats nested more than 100 deep"));
}

void TestSimBoard::demoIsWellFormed()
{
    const Scenario demo = Scenario::parse(Scenario::demoText());
    QVERIFY(demo.diagnostics.empty());
    QCOMPARE(demo.boards.size(), std::size_t(1));
    QCOMPARE(demo.boards[0].description,
             std::string("hid<NORVA-SIM-1> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>"));
    QVERIFY(demo.commands.at(0).op == Scenario::Op::WaitCallback);
    QVERIFY(demo.commands.at(1).op == Scenario::Op::Wait);
    QCOMPARE(demo.commands.at(2).amount, Scenario::Forever);
}

void TestSimBoard::exportsEveryEntryPoint()
{
    Driver driver;
    QVERIFY2(driver.handle, dlerror());
    // The names without their "norva".
    const QStringList names =
        QStringLiteral(
            "Attach Detach Interface SetCallback ClearCallback SendCommand WritePacket "
            "SetXferMask GetDeviceCount EnumDeviceInfo SetPnpCallback "
            "SetPointingDeviceDestination SetPointingDeviceDestinationEx "
            "GetPointingDeviceDestination SetTouchDestination SetTouchDestinationEx "
            "GetTouchDestination SetTouchEnabled GetTouchEnabled "
            "SetTouchSystemRedirectionEnabled GetTouchSystemRedirectionEnabled "
            "SetLATEDetection GetLATEDetection IsSomethingOnBoard SetTwoFingerScroll "
            "OpenSynchronousChannel CloseSynchronousChannel ReadSynchronousPacket "
            "SetCalibrationMode SetCalibrationData SetCalibrationDataEx "
            "SetWirelessCalibrationData GetCalibrationPoints GetHIDCoordinateReportMode "
            "SetHIDCoordinateReportMode LibraryVersionNumber Lock Unlock SerialConnect "
            "SerialDisconnect SerialGetConnected SerialSetStartupMode SerialGetStartupMode "
            "SetDoubleClickDistance SetDriverDebugMode Echo Inject SendTouchPacketToSystem "
            "ReverseButtons")
            .split(' ');
    QCOMPARE(names.size(), 49);
    for (const QString& name : names)
        QVERIFY2(dlsym(driver.handle, ("norva" + name).toLatin1()), qPrintable(name));
    // Nothing but the entry points: the driver's own code stays private.
    QVERIFY(!dlsym(driver.handle, "_ZN11BoardDriver6attachEv"));
}

void TestSimBoard::noScenarioMeansNoBoard()
{
    Driver driver;
    QCOMPARE(driver.norvaAttach(), 1);
    QCOMPARE(driver.norvaGetDeviceCount(), 0);
    Record record(0xAB);
    QVERIFY(!driver.norvaEnumDeviceInfo(0, record.bytes));
    QCOMPARE(record.bytes[NorvaRecordSize - 1], static_cast<unsigned char>(0xAB));
    QVERIFY(!driver.norvaEnumDeviceInfo(0, nullptr));
    QCOMPARE(driver.norvaWritePacket(1001, reinterpret_cast<const uint8_t*>("x"), 1), -1);
    driver.norvaDetach();
    driver.norvaDetach();
}

void TestSimBoard::enumeratesBoards()
{
    useScenario("board 1 hid<ONE> vid<1f2e>\n"
                "board 2 unusable hid<TWO>\n"
                "board 3 unplugged hid<THREE>\n"
                "board 4 hid<FOUR>\n");
    Driver driver;
    driver.norvaAttach();
    QCOMPARE(driver.norvaGetDeviceCount(), 3);

    const QList<std::tuple<int32_t, int32_t, QByteArray>> expected{
        {1, 1001, "hid<ONE> vid<1f2e>"}, {0, 1002, "hid<TWO>"}, {1, 1004, "hid<FOUR>"}};
    for (int index = 0; index < expected.size(); ++index) {
        Record record(0xAB);
        std::memcpy(record.bytes, "\x09\0\0\0", 4);
        QVERIFY(driver.norvaEnumDeviceInfo(index, record.bytes));
        QCOMPARE(record.field(0), 9);
        QCOMPARE(record.field(NorvaRecordUsableOffset), std::get<0>(expected[index]));
        QCOMPARE(record.field(NorvaRecordDeviceOffset), std::get<1>(expected[index]));
        QCOMPARE(record.description(), std::get<2>(expected[index]));
    }
    for (const int index : {3, -1}) {
        Record record(0xAB);
        QVERIFY(!driver.norvaEnumDeviceInfo(index, record.bytes));
        QVERIFY(std::all_of(std::begin(record.bytes), std::end(record.bytes),
                            [](unsigned char b) { return b == 0xAB; }));
    }

    // Per-device entry points know the plugged boards only.
    const auto* command = reinterpret_cast<const uint8_t*>(":PN02\r");
    QCOMPARE(driver.norvaWritePacket(1001, command, 6), 6);
    QCOMPARE(driver.norvaWritePacket(1003, command, 6), -1);
    QCOMPARE(driver.norvaWritePacket(7, command, 6), -1);
    QCOMPARE(driver.norvaWritePacket(1001, nullptr, 6), -1);
    QCOMPARE(driver.norvaGetTouchEnabled(1001), uint8_t(1));
    QCOMPARE(driver.norvaGetLATEDetection(1001), int8_t(0));
    QCOMPARE(driver.norvaGetLATEDetection(7), int8_t(-1));
    driver.norvaSetTouchDestination(1004, 3);
    QCOMPARE(driver.norvaGetTouchDestination(1004), int8_t(3));
    QCOMPARE(driver.norvaGetTouchDestination(1001), int8_t(0));
    driver.norvaDetach();
    QCOMPARE(driver.norvaGetDeviceCount(), 0);
}

void TestSimBoard::deliversOnlyToRegisteredCallbacks()
{
    useScenario(R"(board 1 hid<ONE>
board 2 hid<TWO>
board 3 hid<THREE>
wait callback 2
use 3
raw 03                  # nobody listens to board 3
use 1
pen 1 4660 22136 tip button
touch 5 down 16 32 48
eraser 2 down 1 2 3 4
prefix on
pen 0 1 2
use 2
raw 02
)");
    Driver driver;
    Recorder first, second, other;
    driver.norvaAttach();
    driver.norvaSetCallback(1001, &recordPacket, &first);
    driver.norvaSetCallback(1001, &recordPacket, &second);
    driver.norvaSetCallback(1001, &recordPacket, &second); // registered once only
    driver.norvaSetCallback(1002, &recordPacket, &other);
    QTRY_COMPARE(other.count(), 1);

    const QList<QByteArray> sent{"082100341278560b", "094585100020003000", "0b46820100020003000400",
                                 "0b41000821000100020000"};
    QCOMPARE(first.bytes(), sent);
    QCOMPARE(second.bytes(), sent);
    QCOMPARE(other.bytes(), QList<QByteArray>{"02"});
    const QList<Packet> packets = first.received();
    for (int i = 0; i < packets.size(); ++i) {
        QCOMPARE(packets[i].tag, uint32_t(i + 1));
        QCOMPARE(second.received()[i].tag, uint32_t(i + 1));
        QVERIFY(packets[i].thread != std::this_thread::get_id());
    }
    QCOMPARE(other.received()[0].tag, uint32_t(5));
    // Pen 1, touch 5 and eraser 2 are still down; board 2 sent no contacts.
    QVERIFY(driver.norvaIsSomethingOnBoard(1001));
    QVERIFY(!driver.norvaIsSomethingOnBoard(1002));
    driver.norvaDetach();
}

void TestSimBoard::waitsForAFile()
{
    const QString ready = m_dir.filePath("ready");
    useScenario("board 1 hid<ONE>\nwait callback 1\nwait file " + QFile::encodeName(ready) +
                "\nraw 01\n");
    Driver driver;
    Recorder recorder;
    driver.norvaAttach();
    driver.norvaSetCallback(1001, &recordPacket, &recorder);
    QTest::qWait(100);
    QCOMPARE(recorder.count(), 0);
    QFile file(ready);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QTRY_COMPARE(recorder.count(), 1);
    driver.norvaDetach();
}

void TestSimBoard::clearingStopsDelivery()
{
    useScenario("board 1 hid<ONE>\nwait callback 1\nrepeat\n raw 01\n wait 1\nend\n");
    Driver driver;
    Recorder recorder, selfClearing;
    selfClearing.clearsItself = &driver;
    selfClearing.device = 1001;
    driver.norvaAttach();
    driver.norvaSetCallback(1001, &recordPacket, &selfClearing);
    driver.norvaSetCallback(1001, &recordPacket, &recorder);
    QTRY_VERIFY(recorder.count() >= 5);

    // Clearing from inside the callback neither deadlocks nor lets it run again.
    QCOMPARE(selfClearing.clearResult, 1);
    QCOMPARE(selfClearing.count(), 1);

    void* callback = reinterpret_cast<void*>(&recordPacket);
    QCOMPARE(driver.norvaClearCallback(1001, callback, &recorder), 1);
    recorder.closed = true;
    const int received = recorder.count();
    QCOMPARE(driver.norvaClearCallback(1001, callback, &recorder), 0);
    QTest::qWait(30);
    QCOMPARE(recorder.late.load(), 0);
    QCOMPARE(recorder.count(), received);
    driver.norvaDetach();
}

void TestSimBoard::detachAndUnloadStopDelivery()
{
    useScenario("board 1 hid<ONE>\nwait callback 1\nrepeat\n raw 01\n wait 1\nend\n");
    {
        Driver driver;
        Recorder recorder;
        driver.norvaAttach();
        driver.norvaSetCallback(1001, &recordPacket, &recorder);
        QTRY_VERIFY(recorder.count() >= 3);
        driver.norvaDetach();
        recorder.closed = true;
        QCOMPARE(driver.norvaGetDeviceCount(), 0);

        // Attached again, the scenario starts afresh with its own numbering.
        Recorder again;
        driver.norvaAttach();
        driver.norvaSetCallback(1001, &recordPacket, &again);
        QTRY_VERIFY(again.count() >= 1);
        QCOMPARE(again.received()[0].tag, uint32_t(1));
        QCOMPARE(recorder.late.load(), 0);

        // Unloading without a detach stops the threads too.
        driver.unload();
        again.closed = true;
        QVERIFY(!dlopen(SIMBOARD_LIBRARY, RTLD_NOW | RTLD_NOLOAD));
        QTest::qWait(30);
        QCOMPARE(again.late.load(), 0);
    }
}

void TestSimBoard::repeatedAttachKeepsScenario()
{
    useScenario("board 1 hid<ONE>\nboard 2 hid<TWO>\n"
                "wait callback 1\nraw 01\nwait callback 2\nraw 02\n");
    Driver driver;
    Recorder recorder, other;
    QCOMPARE(driver.norvaAttach(), 1);
    driver.norvaSetCallback(1001, &recordPacket, &recorder);
    QTRY_COMPARE(recorder.count(), 1);
    QCOMPARE(driver.norvaAttach(), 1);
    driver.norvaSetCallback(1002, &recordPacket, &other);
    QTRY_COMPARE(recorder.count(), 2);
    QCOMPARE(recorder.bytes(), (QList<QByteArray>{"01", "02"}));
    QCOMPARE(recorder.received()[1].tag, uint32_t(2));
    driver.norvaDetach();
}

void TestSimBoard::notifiesPlugAndPlayFromItsOwnThread()
{
    useScenario(R"(board 1 hid<ONE>
board 2 unplugged hid<TWO>
wait callback 1
use 2
raw 0a                  # not plugged yet: goes nowhere
plug 2
wait callback 2         # re-registered by the host's notification handler
raw 0b
unplug 1
use 1
raw 0c                  # gone
)");
    Driver driver;
    Host host;
    host.driver = &driver;
    driver.norvaAttach();
    driver.norvaSetPnpCallback(&Host::pnp, &host);
    host.enumerate();
    QTRY_COMPARE(host.notifications(), 2);
    QTRY_COMPARE(host.enumerations(), 3);
    // Injected packets follow the scenario's, so this one comes after "raw 0c".
    const uint8_t last = 0x0d;
    driver.norvaInject(1002, &last, 1);
    QTRY_COMPARE(host.packets.count(), 2);

    QCOMPARE(host.packets.bytes(), (QList<QByteArray>{"0b", "0d"}));
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        QCOMPARE(host.counts, (QList<int>{1, 2, 1}));
        QCOMPARE(host.devices, QList<int32_t>{1002});
        const std::thread::id packetThread = host.packets.received()[0].thread;
        for (const std::thread::id& thread : host.pnpThreads)
            QVERIFY(thread != std::this_thread::get_id() && thread != packetThread);
    }
    QCOMPARE(driver.norvaClearCallback(0, reinterpret_cast<void*>(&Host::pnp), &host), 1);
    QCOMPARE(driver.norvaClearCallback(0, reinterpret_cast<void*>(&Host::pnp), &host), 0);
    driver.norvaDetach();
}

void TestSimBoard::waitingForACallbackWaitsForNotifications()
{
    // Board 1 stays, but a host that enumerates anew registers for it again:
    // its packet waits until the host has done so, not only registered once.
    useScenario("board 1 hid<ONE>\nboard 2 unplugged hid<TWO>\n"
                "wait callback 1\nplug 2\nwait callback 1\nraw 01\n");
    // Unloaded before the host goes, whatever the outcome: the driver waits
    // for the notification under way.
    Host host;
    Driver driver;
    host.driver = &driver;
    host.pnpDelayMs = 300;
    driver.norvaAttach();
    driver.norvaSetPnpCallback(&Host::pnp, &host);
    host.enumerate();
    QTRY_COMPARE(host.packets.count(), 1);
    QCOMPARE(host.enumerations(), 2);
    driver.norvaDetach();
}

void TestSimBoard::injectsAndReadsSynchronously()
{
    useScenario("board 1 hid<ONE>\nwait callback 1\npen 0 1 2 tip\n");
    Driver driver;
    Recorder recorder;
    driver.norvaAttach();
    const int32_t channel = driver.norvaOpenSynchronousChannel(1001, 0, 0);
    QVERIFY(channel > 0);
    QCOMPARE(driver.norvaOpenSynchronousChannel(7, 0, 0), -1);
    driver.norvaSetCallback(1001, &recordPacket, &recorder);
    QTRY_COMPARE(recorder.count(), 1);
    QVERIFY(driver.norvaIsSomethingOnBoard(1001)); // the tip is still down

    const uint8_t injected[] = {0x09, 0x45, 0x85, 0x10, 0x00, 0x20, 0x00, 0x30, 0x00};
    driver.norvaInject(1001, injected, sizeof injected);
    driver.norvaEcho(1001, injected, 2);
    driver.norvaInject(1001, nullptr, 4);
    QTRY_COMPARE(recorder.count(), 3);
    QCOMPARE(recorder.bytes().mid(1), (QList<QByteArray>{"094585100020003000", "0945"}));

    uint8_t buffer[16] = {};
    QCOMPARE(driver.norvaReadSynchronousPacket(1001, channel, buffer, sizeof buffer, 1000), 8);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 8).toHex(),
             QByteArray("0821000100020001"));
    QCOMPARE(driver.norvaReadSynchronousPacket(1001, channel, buffer, 4, 1000), 4);
    QCOMPARE(driver.norvaReadSynchronousPacket(1001, channel, buffer, sizeof buffer, 1000), 2);
    QCOMPARE(driver.norvaReadSynchronousPacket(1001, channel, buffer, sizeof buffer, 0), 0);
    QCOMPARE(driver.norvaReadSynchronousPacket(1001, channel + 1, buffer, sizeof buffer, 0), -1);
    driver.norvaDetach();
}

void TestSimBoard::logsEveryCall()
{
    const QString logPath = m_dir.filePath(QStringLiteral("calls.log"));
    qputenv("NORVABOARD_LOG", QFile::encodeName(logPath));
    useScenario("board 7 hid<SEVEN>\n");
    Recorder recorder;
    int32_t major = 0;
    Record record;
    {
        Driver driver;
        driver.norvaAttach();
        driver.norvaAttach();
        driver.norvaGetDeviceCount();
        driver.norvaEnumDeviceInfo(0, record.bytes);
        driver.norvaSetCallback(1007, &recordPacket, &recorder);
        driver.norvaSetXferMask(1007, 0xFF);
        driver.norvaWritePacket(1007, reinterpret_cast<const uint8_t*>(":PN02\r"), 6);
        driver.norvaWritePacket(1007, nullptr, 3);
        const uint8_t packet[] = {0x09, 0x21, 0x80, 0x34, 0x12, 0x78, 0x56, 0x00, 0x00};
        driver.norvaSendTouchPacketToSystem(1007, 9, packet);
        driver.norvaGetLATEDetection(1007);
        driver.norvaLibraryVersionNumber(&major, nullptr, nullptr, nullptr);
        driver.norvaClearCallback(1007, reinterpret_cast<void*>(&recordPacket), &recorder);
        driver.norvaDetach();
        driver.norvaDetach();
    }
    QCOMPARE(major, 1);
    QFile file(logPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(file.readAll()).split('\n');
    const QStringList expected{
        "norvaAttach() = 1",
        "norvaAttach() = 1",
        "norvaGetDeviceCount() = 1",
        "norvaEnumDeviceInfo(0, " + pointer(record.bytes) + ") = 1",
        "norvaSetCallback(1007, " + pointer(&recordPacket) + ", " + pointer(&recorder) + ")",
        "norvaSetXferMask(1007, 255)",
        "norvaWritePacket(1007, 3a504e30320d, 6) = 6",
        "norvaWritePacket(1007, 0x0, 3) = -1",
        "norvaSendTouchPacketToSystem(1007, 9, 092180341278560000)",
        "norvaGetLATEDetection(1007) = 0",
        "norvaLibraryVersionNumber(" + pointer(&major) + ", 0x0, 0x0, 0x0)",
        "norvaClearCallback(1007, " + pointer(&recordPacket) + ", " + pointer(&recorder) + ") = 1",
        "norvaDetach()",
        "norvaDetach()",
        ""};
    QCOMPARE(lines, expected);
}

void TestSimBoard::playsRecordingsAndReportsDevices()
{
    // A recording beside the scenario, played from it by a relative path,
    // much faster than recorded; its malformed line is reported with the
    // file and line, and the rest plays: a finger down and up.
    QFile recording(m_dir.filePath("finger.events"));
    QVERIFY(recording.open(QIODevice::WriteOnly));
    recording.write("N: Finger\nI: 0003 0001 0002 0000\n"
                    "A: 35 0 100 0 0\nA: 36 0 100 0 0\n"
                    "E: 0.0 0003 0035 100\nE: 0.0 0003 0036 0\nE: 0.0 0000 0002 0\n"
                    "E: 0.0 0000 0000 0\nE: 0.2 0003 0035 nan\nE: 0.2 0000 0000 0\n");
    recording.close();
    useScenario("board 1 hid<ONE>\nwait callback 1\nplay finger.events 1000\n");
    // Devices that are not there, or not input devices, are left out.
    qputenv("NORVABOARD_DEVICES", QFile::encodeName("/nonexistent/event0," + recording.fileName()));
    qputenv("NORVABOARD_GRAB", "0");

    // Standard error, where the library reports, goes to a file meanwhile.
    QFile errors(m_dir.filePath("stderr.txt"));
    QVERIFY(errors.open(QIODevice::WriteOnly));
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(errors.handle(), 2);
    Driver driver;
    Recorder packets;
    driver.norvaAttach();
    const int count = driver.norvaGetDeviceCount();
    driver.norvaSetCallback(1001, &recordPacket, &packets);
    QTRY_COMPARE(packets.count(), 2);
    driver.norvaDetach();

    // The recording alone is a board described by the device, which plays
    // it once at its own pace after its callback and 700 ms.
    qunsetenv("NORVABOARD_DEVICES");
    qputenv("NORVABOARD_SCENARIO", QFile::encodeName(recording.fileName()));
    Recorder alone;
    driver.norvaAttach();
    Record record;
    const bool enumerated = driver.norvaGetDeviceCount() == 1 &&
                            driver.norvaEnumDeviceInfo(0, record.bytes) &&
                            record.field(NorvaRecordDeviceOffset) == 1001;
    driver.norvaSetCallback(1001, &recordPacket, &alone);
    QTRY_COMPARE(alone.count(), 2);
    driver.norvaDetach();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    qunsetenv("NORVABOARD_GRAB");

    QCOMPARE(count, 1);
    QCOMPARE(packets.bytes(), (QList<QByteArray>{"094580ff7f00000000", "094500ff7f00000000"}));
    QVERIFY(enumerated);
    QCOMPARE(record.description(), QByteArray("vid<0001> pid<0002> xp<0> xt<10> hid<Finger>"));
    QCOMPARE(alone.bytes(), packets.bytes());
    errors.close();
    QVERIFY(errors.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromLocal8Bit(errors.readAll()).split('\n', Qt::SkipEmptyParts);
    // Without a /dev/input to watch, as here, that is said too.
    QCOMPARE(lines.size(), QFile::exists("/dev/input") ? 4 : 5);
    QCOMPARE(lines.count(recording.fileName() + ":9: 'nan' is not a 32-bit whole number"), 2);
    QCOMPARE(lines
                 .filter("norvaboardex: /nonexistent/event0: cannot open it (No such file or "
                         "directory)")
                 .size(),
             1);
    QCOMPARE(
        lines.filter("norvaboardex: " + recording.fileName() + ": not an input device (").size(),
        1);
}

void TestSimBoard::playsRepeatsAsWritten_data()
{
    QTest::addColumn<int>("padding");
    // A body whose text is this long is read again from the file for every
    // round instead of being held.
    QTest::newRow("held") << 0;
    QTest::newRow("read again") << (2 << 20);
}

void TestSimBoard::playsRepeatsAsWritten()
{
    // "use" and "prefix" hold for the lines after them in the text, so
    // every round starts as the first did; values follow the innermost
    // counted repeat; a repeat of 0 rounds sends nothing.
    QFETCH(int, padding);
    QByteArray text = "board 1 hid<ONE>\nboard 2 hid<TWO>\nwait callback 1\n"
                      "repeat 3\n"
                      "  pen 0 0..200 5 tip\n"
                      "  repeat 0\n    raw 02\n  end\n"
                      "  repeat 2\n    raw 03\n  end\n"
                      "  use 2\n"
                      "  prefix on\n";
    text += "  raw ff  # " + QByteArray(padding, 'x') + "\n";
    text += "end\nuse 1\npen 0 7 8 tip\n";
    useScenario(text);
    Driver driver;
    Recorder recorder;
    driver.norvaAttach();
    driver.norvaSetCallback(1001, &recordPacket, &recorder);
    QTRY_COMPARE(recorder.count(), 10);
    driver.norvaDetach();
    QCOMPARE(recorder.bytes(),
             (QList<QByteArray>{penPacket(0, 5), "03", "03", penPacket(100, 5), "03", "03",
                                penPacket(200, 5), "03", "03", penPacket(7, 8, true)}));
}

void TestSimBoard::reportsAGarbageScenarioBriefly()
{
    // Lines of random bytes, each starting with an escape (never a command),
    // the first of them 5 MB long, and among them pen lines that still play.
    QByteArray text = "board 1 hid<GARBAGE>\nwait callback 1\n";
    text += '\x1b' + QByteArray(5 << 20, 'x') + '\n';
    QRandomGenerator random(20261209);
    const int garbageLines = 300;
    QList<QByteArray> pens;
    for (int i = 0; i < garbageLines; ++i) {
        QByteArray line(1 + random.bounded(120), '\x1b');
        for (int j = 1; j < line.size(); ++j) {
            do
                line[j] = char(random.bounded(256));
            while (line[j] == '\n');
        }
        text += line + '\n';
        if (i % 60 == 0) {
            text += "pen 0 " + QByteArray::number(100 + i) + " 200 tip\n";
            pens << penPacket(100 + i, 200);
        }
    }
    const QString path = useScenario(text);
    StandardErrorFile errors(m_dir.filePath("garbage-stderr.txt"));
    Driver driver;
    Recorder recorder;
    driver.norvaAttach();
    driver.norvaSetCallback(1001, &recordPacket, &recorder);
    QTRY_VERIFY(errors.text().contains("more problems not listed"));
    QTRY_COMPARE(recorder.count(), pens.size());
    driver.norvaDetach();

    QCOMPARE(recorder.bytes(), pens);
    const QByteArray printed = errors.text();
    const QList<QByteArray> lines = printed.split('\n').mid(0, printed.count('\n'));
    QCOMPARE(lines.size(), int(Scenario::MaxDiagnostics) + 1);
    for (const QByteArray& line : lines) {
        QVERIFY2(line.startsWith(QFile::encodeName(path) + ':'), line.constData());
        QVERIFY2(line.size() < 300, line.left(300).constData());
        QVERIFY2(
            std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7f; }),
            line.toHex().constData());
    }
    // The 5 MB line is quoted in part, escapes and all.
    QVERIFY(lines.first().contains("unknown command '\\x1bxxx"));
    QVERIFY(lines.first().endsWith("...'"));
    QVERIFY(lines.last().endsWith(
        ": " + QByteArray::number(garbageLines + 1 - int(Scenario::MaxDiagnostics)) +
        " more problems not listed"));
}

void TestSimBoard::playsALargeScenarioWhileReadingIt()
{
    // Some 4 MB: a packet a millisecond for minutes, a malformed last line
    // and a board declared at the end.
    QByteArray text = "board 1 hid<LARGE>\nwait callback 1\n";
    for (int i = 0; i < 200000; ++i)
        text += "raw 0a 0b 0c\nwait 1\n";
    text += "malformed\nboard 2 hid<LAST>\n";
    useScenario(text);
    StandardErrorFile errors(m_dir.filePath("large-stderr.txt"));
    Driver driver;
    Recorder recorder;
    driver.norvaAttach();
    // The attach returned before the file was parsed through, yet with
    // every board.
    QVERIFY(!errors.text().contains("malformed"));
    QCOMPARE(driver.norvaGetDeviceCount(), 2);
    driver.norvaSetCallback(1001, &recordPacket, &recorder);
    QTRY_VERIFY(recorder.count() >= 3);
    // A detach while the file is still being read ends it all.
    driver.norvaDetach();
    recorder.closed = true;
    QCOMPARE(driver.norvaGetDeviceCount(), 0);
    QTest::qWait(30);
    QCOMPARE(recorder.late.load(), 0);
    QVERIFY(recorder.bytes().count("0a0b0c") == recorder.count());
}

void TestSimBoard::playsAScenarioFromAPipe()
{
    // NORVABOARD_SCENARIO=<(...) names a pipe, which can be read only once.
    const QByteArray path = QFile::encodeName(m_dir.filePath("pipe"));
    QCOMPARE(mkfifo(path.constData(), 0600), 0);
    std::thread writer([&path] {
        QFile pipe(QFile::decodeName(path));
        if (pipe.open(QIODevice::WriteOnly))
            pipe.write("board 1 hid<PIPE>\nwait callback 1\nraw 01\nrepeat 2\n raw 02\nend\n");
    });
    qputenv("NORVABOARD_SCENARIO", path);
    Driver driver;
    Recorder recorder;
    driver.norvaAttach();
    writer.join();
    QCOMPARE(driver.norvaGetDeviceCount(), 1);
    driver.norvaSetCallback(1001, &recordPacket, &recorder);
    QTRY_COMPARE(recorder.count(), 3);
    driver.norvaDetach();
    QCOMPARE(recorder.bytes(), (QList<QByteArray>{"01", "02", "02"}));
}

QTEST_GUILESS_MAIN(TestSimBoard)
#include "tst_simboard.moc"
