// Every recording of a real device played by the board library, through the
// hardware object, into the adapter: what reaches the adapter follows the
// recording frame by frame. The expectations come from the recording's own
// events and the axis ranges written below, not from the library's code.

#include "inputqueue.h"
#include "quorvel.h"
#include "recordings.h"
#include "simulatedboard.h"
#include "stdoutcapture.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

using Controls = Quorvel::Controls;

namespace {

// 100 times faster than recorded: the six recordings take 1.4 s together.
constexpr int Speed = 100;

struct Position
{
    long x = 0;
    long y = 0;
    bool operator<(const Position& o) const { return x != o.x ? x < o.x : y < o.y; }
    bool operator==(const Position& o) const { return x == o.x && y == o.y; }
};

// A pen or eraser record, or the contacts down, after one frame.
struct Tool
{
    bool present = false;
    Position at;
    int buttons = 0;
    bool operator==(const Tool& o) const
    {
        return present == o.present && at == o.at && buttons == o.buttons;
    }
};
using Touches = std::vector<Position>;

// Consecutive equal states are one: the adapter drops a record that repeats.
template <typename State> void append(std::vector<State>& states, const State& state)
{
    if (states.empty() || !(states.back() == state))
        states.push_back(state);
}

bool near(const Position& a, const Position& b)
{
    return std::abs(a.x - b.x) <= 1 && std::abs(a.y - b.y) <= 1;
}

struct Expected
{
    std::vector<Touches> touches;
    std::vector<Tool> pen;
    std::vector<Tool> eraser;
    int eraserStrokes = 0;
};

// Reads the recording's events as the kernel defines them: slots (type B),
// contacts ended by SYN_MT_REPORT (type A), or a pen with its tools.
Expected expectedFrames(const QString& path, const QString& protocol, double xMin, double xMax,
                        double yMin, double yMax)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    struct Event
    {
        unsigned type, code;
        int value;
    };
    std::vector<Event> events;
    char line[256];
    Event e;
    while (file.readLine(line, sizeof line) > 0) {
        if (std::sscanf(line, "E: %*s %x %x %d", &e.type, &e.code, &e.value) == 3)
            events.push_back(e);
    }
    const auto scaled = [&](int x, int y) {
        return Position{std::lround((x - xMin) * 32767 / (xMax - xMin)),
                        std::lround((y - yMin) * 32767 / (yMax - yMin))};
    };
    // Keys that are released before they are pressed were held at the start.
    std::map<int, bool> keys;
    for (auto e = events.rbegin(); e != events.rend(); ++e)
        if (e->type == 1)
            keys[e->code] = e->value == 0;

    Expected expected;
    std::map<int, std::array<int, 3>> slotValues; // tracking id, x, y
    int slot = 0;
    std::array<int, 3> contact{};
    Touches typeA;
    std::map<int, int> abs;
    Tool pen, eraser;
    for (const Event& e : events) {
        if (e.type == 1)
            keys[e.code] = e.value != 0;
        if (e.type == 3) {
            abs[e.code] = e.value;
            if (e.code == 0x2f)
                slot = e.value;
            else if (e.code == 0x39)
                slotValues[slot][0] = e.value;
            else if (e.code == 0x35)
                slotValues[slot][1] = contact[1] = e.value;
            else if (e.code == 0x36)
                slotValues[slot][2] = contact[2] = e.value;
        }
        if (e.type == 0 && e.code == 2)
            typeA.push_back(scaled(contact[1], contact[2]));
        if (e.type != 0 || e.code != 0)
            continue;
        if (protocol == "B") {
            Touches down;
            for (const auto& [number, s] : slotValues)
                if (s[0] >= 0)
                    down.push_back(scaled(s[1], s[2]));
            std::sort(down.begin(), down.end());
            append(expected.touches, down);
        } else if (protocol == "A") {
            std::sort(typeA.begin(), typeA.end());
            append(expected.touches, typeA);
            typeA.clear();
        } else {
            const bool rubber = keys[0x141];
            const bool inRange =
                !rubber && (keys[0x140] || keys[0x142] || keys[0x143] || keys[0x144]);
            if (inRange)
                pen = {true, scaled(abs[0], abs[1]), (keys[0x14a] ? 1 : 0) | (keys[0x14b] ? 2 : 0)};
            else
                pen.buttons = 0;
            if (pen.present)
                append(expected.pen, pen);
            const bool erasing = rubber && keys[0x14a];
            if (erasing && !eraser.buttons)
                ++expected.eraserStrokes;
            if (erasing)
                eraser = {true, scaled(abs[0], abs[1]), 1};
            else
                eraser.buttons = 0;
            if (eraser.present)
                append(expected.eraser, eraser);
        }
    }
    return expected;
}

Position boardPosition(const Controls& c)
{
    return {std::lround(c.pos.x() * 32768), std::lround(c.pos.y() * 32768)};
}

// What the adapter emitted, with each contact's life.
struct Received
{
    std::vector<Touches> touches;
    std::vector<Tool> pen;
    std::vector<Tool> eraser;
    std::set<int> down;
    int lives = 0;
    int mostAtOnce = 0;
    int hovers = 0;
    int hoverButtons = 0;
    int eraserStrokes = 0;

    void touch(std::vector<Controls>& records)
    {
        Touches now;
        for (Controls& c : records) {
            c.flags |= Controls::Claimed;
            if (c.buttons != 0) {
                now.push_back(boardPosition(c));
                lives += down.insert(c.id).second ? 1 : 0;
            } else {
                QVERIFY2(down.erase(c.id) == 1, "a contact lifted that was not down");
            }
        }
        mostAtOnce = std::max(mostAtOnce, int(down.size()));
        std::sort(now.begin(), now.end());
        append(touches, now);
    }
    void penRecord(Controls& c)
    {
        c.flags |= Controls::Claimed;
        hovers += c.buttons == 0 ? 1 : 0;
        hoverButtons += c.buttons == 2 ? 1 : 0;
        append(pen, Tool{true, boardPosition(c), c.buttons});
    }
    void erase(std::vector<Controls>& records)
    {
        for (Controls& c : records) {
            c.flags |= Controls::Claimed;
            if (c.buttons != 0 && (eraser.empty() || eraser.back().buttons == 0))
                ++eraserStrokes;
            append(eraser, Tool{true, boardPosition(c), c.buttons});
        }
    }
};

template <typename State, typename Near>
void compareFrames(const std::vector<State>& received, const std::vector<State>& expected,
                   Near same)
{
    QCOMPARE(received.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        QVERIFY2(same(received[i], expected[i]),
                 qPrintable(QStringLiteral("frame %1 differs").arg(i)));
}

} // namespace

class TestRecordingReplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_RECORDINGS(); }
    void everyRecordingIsFollowed_data();
    void everyRecordingIsFollowed();
};

void TestRecordingReplay::everyRecordingIsFollowed_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QList<double>>("axes");
    QTest::addColumn<int>("lives");
    QTest::addColumn<int>("mostAtOnce");
    QTest::addColumn<int>("eraserStrokes");
    QTest::addColumn<bool>("buttons");

    // The axes as the recordings' descriptions give them.
    QTest::newRow("touch-display-22in-10-fingers.events")
        << "B" << QList<double>{0, 4648, 0, 2556} << 66 << 10 << 0 << false;
    QTest::newRow("canvas-27in-touch-5-fingers.evemu")
        << "B" << QList<double>{0, 32767, 0, 32767} << 12 << 5 << 0 << false;
    QTest::newRow("old-touchscreen-type-a-2-fingers.events")
        << "A" << QList<double>{0, 9600, 0, 7200} << 2 << 2 << 0 << false;
    QTest::newRow("canvas-27in-pen.evemu")
        << "pen" << QList<double>{0, 59674, 0, 33566} << 0 << 0 << 0 << true;
    QTest::newRow("pen-display-22in-pen-eraser-buttons.events")
        << "pen" << QList<double>{0, 95840, 0, 54260} << 0 << 0 << 5 << true;
    QTest::newRow("pen-display-12in-pen-then-eraser.events")
        << "pen" << QList<double>{0, 53020, 0, 33440} << 0 << 0 << 1 << false;
}

void TestRecordingReplay::everyRecordingIsFollowed()
{
    QFETCH(QString, protocol);
    QFETCH(QList<double>, axes);
    QFETCH(int, lives);
    QFETCH(int, mostAtOnce);
    QFETCH(int, eraserStrokes);
    QFETCH(bool, buttons);
    const QString path = recordingPath(QTest::currentDataTag());
    QVERIFY2(QFile::exists(path), qPrintable(path));

    // A touch-status packet marks the end.
    SimulatedBoard board("board 1 hid<REPLAY> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>\n"
                         "wait callback 1\n"
                         "play " +
                         QFile::encodeName(path) + " " + QByteArray::number(Speed) +
                         "\n"
                         "raw 08 a5 00 00 00 00 00 00\n");
    StdoutCapture output;
    Quorvel adapter;
    Received received;
    connect(&adapter, &Quorvel::out_quorvel_touch_event,
            [&](std::vector<Controls>& records) { received.touch(records); });
    connect(&adapter, &Quorvel::out_quorvel_pen_event, [&](Controls& c) { received.penRecord(c); });
    connect(&adapter, &Quorvel::out_quorvel_erase_event,
            [&](std::vector<Controls>& records) { received.erase(records); });
    bool ended = false;
    connect(adapter.findChild<NorvaHardware*>(), &NorvaHardware::touchStatus, &adapter,
            [&] { ended = true; });
    QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
    // The packets before the end were queued for the adapter by then; on a
    // slow machine some still wait their turn.
    const InputQueue* input = adapter.findChild<InputQueue*>();
    QVERIFY(input);
    QTRY_COMPARE_WITH_TIMEOUT(input->reportsWaiting(), 0, 30000);

    const Expected expected = expectedFrames(path, protocol, axes[0], axes[1], axes[2], axes[3]);
    compareFrames(received.touches, expected.touches, [](const Touches& a, const Touches& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), near);
    });
    const auto sameTool = [](const Tool& a, const Tool& b) {
        return a.buttons == b.buttons && near(a.at, b.at);
    };
    compareFrames(received.pen, expected.pen, sameTool);
    compareFrames(received.eraser, expected.eraser, sameTool);
    // Each contact keeps its id from touch-down to lift, and every one ends.
    QCOMPARE(received.lives, lives);
    QCOMPARE(received.mostAtOnce, mostAtOnce);
    QVERIFY(received.down.empty());
    QCOMPARE(received.eraserStrokes, eraserStrokes);
    QCOMPARE(expected.eraserStrokes, eraserStrokes);
    if (protocol == "pen") {
        QVERIFY(received.hovers > 0);
        QCOMPARE(received.pen.back().buttons, 0);
        QCOMPARE(received.hoverButtons > 0, buttons);
    }
}

QTEST_MAIN(TestRecordingReplay)
#include "tst_recordingreplay.moc"
