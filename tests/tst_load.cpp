// The whole input path under load: the simulated board floods four pens and
// twenty touches at 2000 reports a second each, ten times a board's rate,
// while a second board comes or goes every 100 ms and the dialog runs its
// frame cycle with info tags on. Every report must reach the adapter's
// receivers in order, nothing may be lost past the driver's callback, and
// memory must stay bounded.

#include "cachepool.h"
#include "inputqueue.h"
#include "norvahardware.h"
#include "quorvel.h"
#include "simulatedboard.h"
#include "stdoutcapture.h"
#include "streamcapture.h"
#include "strokesview.h"
#include "visualviewdialog.h"

#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <limits>
#include <malloc.h>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int Pens = 4;
constexpr int Touches = 20;
// Each phase lasts 100 waits of 1 ms with two rounds of reports per wait,
// then a slot that lifts every contact; a plug-and-play change ends it.
constexpr int Phases = 50;
constexpr int WaitsPerPhase = 100;
constexpr int RoundsPerWait = 2;
constexpr int SlotsPerPhase = WaitsPerPhase * RoundsPerWait + 1;
constexpr int Slots = Phases * SlotsPerPhase;
// A slot's packets in the order the board sends them: the pens, then the
// packet with every touch.
constexpr int PacketsPerSlot = Pens + 1;
// The x of a report tells its slot: pens move right, touches left, one
// board unit a slot, so no report repeats the one before it.
constexpr int PenX0 = 1000;
constexpr int TouchX0 = 31000;

int penY(int pen)
{
    return 4000 + pen * 2000;
}

int touchY(int id)
{
    return 13000 + id * 900;
}

bool isLiftSlot(int slot)
{
    return slot % SlotsPerPhase == SlotsPerPhase - 1;
}

QByteArray number(int value)
{
    return QByteArray::number(value);
}

// The reports of one slot, or a ramp over a phase's draw slots: from slot
// `first`, every `RoundsPerWait` slots for the rounds of a `repeat`.
QByteArray reports(int first, bool down)
{
    const int last = first + (WaitsPerPhase - 1) * RoundsPerWait;
    const auto value = [down](int from, int to) {
        return down ? number(from) + ".." + number(to) : number(from);
    };
    QByteArray lines;
    for (int pen = 0; pen < Pens; ++pen)
        lines += "pen " + number(pen) + " " + value(PenX0 + first, PenX0 + last) + " " +
                 number(penY(pen)) + (down ? " tip\n" : "\n");
    lines += "touch";
    for (int id = 0; id < Touches; ++id)
        lines += QByteArray(id ? ";" : "") + " " + number(id) + (down ? " down " : " up ") +
                 value(TouchX0 - first, TouchX0 - last) + " " + number(touchY(id)) + " 200";
    return lines + "\n";
}

QByteArray floodScenario(const QString& ready)
{
    QByteArray text = "board 1 hid<LOAD> xp<4> xt<20>\n"
                      "board 2 hid<COMES-AND-GOES> xp<1> xt<1>\n"
                      "wait callback 1\n"
                      "wait file " +
                      QFile::encodeName(ready) + "\n";
    for (int phase = 0; phase < Phases; ++phase) {
        const int base = phase * SlotsPerPhase;
        text += "repeat " + number(WaitsPerPhase) + "\n";
        for (int round = 0; round < RoundsPerWait; ++round)
            text += reports(base + round, true);
        text += "wait 1\nend\n" + reports(base + SlotsPerPhase - 1, false);
        text += phase % 2 == 0 ? "unplug 2\n" : "plug 2\nwait callback 2\n";
    }
    // Touch-status packets, which the adapter ignores, mark the end.
    return text + "repeat\nraw 00 a5 00 00 00 00 00 00\nwait 5\nend\n";
}

// Peak and current resident memory from /proc/self/status, and the heap in
// use, which (unlike the resident figure) counts no freed memory that the
// allocator keeps; all in kB.
struct Memory
{
    qint64 peakKb = 0;
    qint64 residentKb = 0;
    qint64 heapKb = 0;

    QString text() const
    {
        return QStringLiteral("peak %1 kB, resident %2 kB, heap in use %3 kB")
            .arg(peakKb)
            .arg(residentKb)
            .arg(heapKb);
    }

    static Memory now()
    {
        QFile status("/proc/self/status");
        Memory m;
        if (!status.open(QIODevice::ReadOnly))
            return m;
        const QString text = QString::fromLatin1(status.readAll());
        const auto field = [&text](const char* name) {
            const QRegularExpression line(QStringLiteral("^%1:\\s*(\\d+) kB$").arg(name),
                                          QRegularExpression::MultilineOption);
            return line.match(text).captured(1).toLongLong();
        };
        m.peakKb = field("VmHWM");
        m.residentKb = field("VmRSS");
        m.heapKb = qint64(mallinfo2().uordblks / 1024);
        return m;
    }
};

// A list for every contact's slots, its memory allocated and touched now,
// so that the test's own bookkeeping does not count as growth.
std::map<int, std::vector<int>> contactLists()
{
    std::map<int, std::vector<int>> lists;
    for (int id = 0; id < Pens + Touches; ++id) {
        std::vector<int>& list = lists[id < Pens ? ~id : Quorvel::TouchIdBase + id - Pens];
        list.assign(Slots, 0);
        list.clear();
    }
    return lists;
}

// What the hardware object emits, taken on the driver's thread: per contact
// the slots of its reports in arrival order, and which packets arrived.
class DriverSide : public QObject
{
public:
    explicit DriverSide(NorvaHardware* hardware)
        : reportSlots(contactLists()), arrived(Slots * PacketsPerSlot, false)
    {
        connect(
            hardware, &NorvaHardware::penEvent, this,
            [this](const NorvaHardware::PenEvent& ev) {
                const int slot = ev.x - PenX0;
                std::lock_guard<std::mutex> lock(mutex);
                take(~qint32(ev.pen), slot, ev.tip, slot * PacketsPerSlot + ev.pen);
            },
            Qt::DirectConnection);
        connect(
            hardware, &NorvaHardware::touchEvent, this,
            [this](const NorvaHardware::TouchEvent& ev) {
                std::lock_guard<std::mutex> lock(mutex);
                if (ev.size() != Touches) {
                    faults << QStringLiteral("a touch packet of %1 contacts").arg(ev.size());
                    return;
                }
                const int slot = TouchX0 - ev.front().x;
                for (const NorvaHardware::TouchContact& c : ev) {
                    if (TouchX0 - c.x != slot || c.y != touchY(c.id))
                        faults << QStringLiteral("touch %1 out of its packet's slot").arg(c.id);
                    take(Quorvel::TouchIdBase + c.id, slot, c.down, -1);
                }
                mark(slot * PacketsPerSlot + Pens);
            },
            Qt::DirectConnection);
        connect(
            hardware, &NorvaHardware::touchStatus, this,
            [this] {
                std::lock_guard<std::mutex> lock(mutex);
                ended = true;
            },
            Qt::DirectConnection);
        connect(
            hardware, &NorvaHardware::pnpEvent, this,
            [this] {
                std::lock_guard<std::mutex> lock(mutex);
                ++plugAndPlay;
            },
            Qt::DirectConnection);
    }

    bool hasEnded()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return ended;
    }

    int plugAndPlayCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return plugAndPlay;
    }

    // Read once the end is seen: only touch-status packets follow.
    std::map<int, std::vector<int>> reportSlots;
    std::vector<bool> arrived;
    QStringList faults;
    int lifts = 0;

private:
    void take(int id, int slot, bool down, int packet)
    {
        if (slot < 0 || slot >= Slots || down == isLiftSlot(slot)) {
            faults << QStringLiteral("contact %1: unexpected report at slot %2").arg(id).arg(slot);
            return;
        }
        reportSlots[id].push_back(slot);
        if (!down)
            ++lifts;
        if (packet >= 0)
            mark(packet);
    }

    void mark(int packet)
    {
        if (arrived[packet])
            faults << QStringLiteral("packet %1 arrived twice").arg(packet);
        arrived[packet] = true;
    }

    std::mutex mutex;
    bool ended = false;
    int plugAndPlay = 0;
};

// The runs of consecutive packets, in the order the board sent them, that
// never reached the hardware object.
int lostRuns(const std::vector<bool>& arrived, int* lost)
{
    int runs = 0;
    *lost = 0;
    for (std::size_t i = 0; i < arrived.size(); ++i) {
        if (arrived[i])
            continue;
        ++*lost;
        if (i == 0 || arrived[i - 1])
            ++runs;
    }
    return runs;
}

} // namespace

class TestLoad : public QObject
{
    Q_OBJECT

private slots:
    void floodWithPlugAndPlay();
    void floodBeyondCapacity();
};

void TestLoad::floodWithPlugAndPlay()
{
    QTemporaryDir dir;
    const QString ready = dir.filePath("ready");
    SimulatedBoard board(floodScenario(ready));
    StdoutCapture printed;
    // Declared first, so that it goes after the dialog has ended the driver's
    // thread that calls it.
    std::unique_ptr<DriverSide> driverSide;
    auto dialog = std::make_unique<VisualViewDialog>();
    dialog->setGeometry(dialog->screen()->geometry());
    QTRY_COMPARE(dialog->geometry(), dialog->screen()->geometry());
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    auto* view = dialog->findChild<StrokesView*>();
    auto* adapter = dialog->findChild<Quorvel*>();
    auto* hardware = dialog->findChild<NorvaHardware*>();
    auto* queue = dialog->findChild<InputQueue*>();
    QVERIFY(view && adapter && hardware && queue);
    QVERIFY(view->showInfoTags);
    // Every stroke kept, so that each lift can be counted.
    view->setSegmentBudget(std::numeric_limits<std::size_t>::max());

    driverSide = std::make_unique<DriverSide>(hardware);
    // Every call into the driver takes the lock that its thread takes before
    // each packet. ThreadSanitizer, which does not see Qt's own locks, then
    // sees the connections made before the first packet.
    hardware->setTouchDestination(1);
    // In the GUI thread, after the dialog's own handling: the slot of every
    // record, and whether the dialog claimed it.
    std::map<int, std::vector<int>> received = contactLists();
    int unclaimed = 0;
    const auto slotOf = [](const Quorvel::Controls& c) {
        const int x = qRound(c.pos.x() * 32768);
        return c.id < 0 ? x - PenX0 : TouchX0 - x;
    };
    connect(adapter, &Quorvel::out_quorvel_pen_event, this, [&](const Quorvel::Controls& c) {
        received[c.id].push_back(slotOf(c));
        unclaimed += !(c.flags & Quorvel::Controls::Claimed);
    });
    connect(adapter, &Quorvel::out_quorvel_touch_event, this,
            [&](const std::vector<Quorvel::Controls>& records) {
                for (const Quorvel::Controls& c : records) {
                    received[c.id].push_back(slotOf(c));
                    unclaimed += !(c.flags & Quorvel::Controls::Claimed);
                }
            });

    const Memory before = Memory::now();
    qInfo("memory at the start: %s", qPrintable(before.text()));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(QFile(ready).open(QIODevice::WriteOnly));
    QTRY_VERIFY_WITH_TIMEOUT(driverSide->hasEnded(), 60000);
    const qint64 floodMs = clock.elapsed();
    int delivered = 0;
    for (const auto& [id, list] : driverSide->reportSlots)
        delivered += int(list.size());
    // A contact that dropped packets would have moved ends with a lift where
    // it was: the same slot again, which no report of the board repeats.
    const auto fromBoard = [&received](int id) {
        std::vector<int> reported = received[id];
        reported.erase(std::unique(reported.begin(), reported.end()), reported.end());
        return reported;
    };
    const auto receivedCount = [&] {
        qint64 count = queue->droppedReports();
        for (const auto& entry : received)
            count += qint64(fromBoard(entry.first).size());
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(receivedCount(), qint64(delivered), 30000);
    QTRY_COMPARE(driverSide->plugAndPlayCount(), Phases);
    const Memory after = Memory::now();
    qInfo("memory at the end: %s", qPrintable(after.text()));

    QVERIFY2(driverSide->faults.isEmpty(), qPrintable(driverSide->faults.join('\n')));
    // Per contact, in the order sent, every record the hardware emitted, but
    // for what the input queue dropped: none while the program keeps up, as
    // it does but for the sanitised builds.
    qInfo("%lld packets dropped", qint64(queue->droppedPackets()));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    QCOMPARE(queue->droppedPackets(), 0);
#endif
    QVERIFY(queue->mostReportsWaited() <= InputQueue::MostWaitingReports);
    QCOMPARE(int(driverSide->reportSlots.size()), Pens + Touches);
    for (const auto& [id, sent] : driverSide->reportSlots) {
        for (std::size_t i = 1; i < sent.size(); ++i)
            QVERIFY2(sent[i] > sent[i - 1], qPrintable(QString::number(id)));
        const std::vector<int> got = fromBoard(id);
        if (queue->droppedPackets() == 0)
            QCOMPARE(got, sent);
        else
            QVERIFY(std::includes(sent.begin(), sent.end(), got.begin(), got.end()));
    }
    QCOMPARE(unclaimed, 0);
    QVERIFY(board.calls().filter(QRegularExpression("^norvaSendTouchPacketToSystem")).isEmpty());

    // The driver drops what comes while the hardware object re-registers its
    // callbacks after a plug-and-play change: at most one run of packets per
    // change, none before the first.
    int lost = 0;
    const int runs = lostRuns(driverSide->arrived, &lost);
    qInfo("%d reports in %d packets sent in %lld ms, %d packets lost in %d runs over %d "
          "plug-and-play changes",
          Slots * (Pens + Touches), Slots * PacketsPerSlot, floodMs, lost, runs, Phases);
    QVERIFY(runs <= Phases);
    for (int packet = 0; packet < SlotsPerPhase * PacketsPerSlot; ++packet)
        QVERIFY(driverSide->arrived[packet]);

    // Every stroke ended with its lift (or where packets were dropped); no
    // marker is left.
    if (queue->droppedPackets() == 0)
        QCOMPARE(int(view->finishedStrokes.size()), driverSide->lifts);
    for (const auto& entry : view->contactStrokes)
        QCOMPARE(entry.second.state, 0);
    QVERIFY(view->markers.empty());
    QVERIFY(view->items.empty());
    // The driver's side counts a notification as the hardware object emits
    // it; the adapter prints it once the input queue has handed it on in the
    // GUI thread, which for the last one may not have happened yet.
    QTRY_COMPARE(printed.text().count("PnP event.\n"), Phases);

    // The strokes stay until they are cleared: their memory is left out.
    qint64 strokeKb = qint64(view->finishedStrokes.capacity() * sizeof(StrokesView::Stroke));
    for (const StrokesView::Stroke& stroke : view->finishedStrokes)
        strokeKb += qint64(stroke.segments.capacity() * sizeof(StrokesView::StrokeSegment));
    strokeKb /= 1024;
    // So do the caches of markers gone, kept for new ones, up to a bound.
    const qint64 keptKb = qint64(CachePool::keptBytes() / 1024);
    qInfo("strokes hold %lld kB, kept caches %lld kB", strokeKb, keptKb);
    // A sanitizer's allocator makes the figures meaningless.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // The heap grows by about 2 MB besides the strokes and the kept caches
    // (laid-out tag lines among it), the resident memory by about 8 MB as
    // the allocator's arenas and Qt's caches warm up. A leak of 80 bytes a
    // packet or 20 a report would pass 4 MB.
    QVERIFY2(after.heapKb - before.heapKb - strokeKb - keptKb < 4 * 1024,
             qPrintable(QString::number(after.heapKb - before.heapKb)));
    QVERIFY2(after.residentKb - before.residentKb < 24 * 1024,
             qPrintable(QString::number(after.residentKb - before.residentKb)));
#endif
}

void TestLoad::floodBeyondCapacity()
{
    // Thirty-six touches of absurd size in every packet, as fast as the board
    // sends them: each report paints a stroke across the whole screen, and
    // the board sends a hundred times what the program can draw. The last
    // packet lifts them all.
    constexpr int Packets = 1500;
    constexpr int Contacts = 36;
    QByteArray down = "touch";
    QByteArray up = "touch";
    for (int id = 0; id < Contacts; ++id) {
        const QByteArray from = number(id * 800);
        down += QByteArray(id ? ";" : "") + " " + number(id) + " down " + from + "..30000 " + from +
                "..20000 65535";
        up += QByteArray(id ? ";" : "") + " " + number(id) + " up 30000 20000 65535";
    }
    QTemporaryDir dir;
    const QString ready = dir.filePath("ready");
    SimulatedBoard board("board 1 hid<FLOOD> xp<4> xt<36>\nwait callback 1\nwait file " +
                         QFile::encodeName(ready) + "\nrepeat " + number(Packets) + "\n" + down +
                         "\nend\n" + up + "\n");
    StdoutCapture printed;
    StreamCapture errors(std::cerr);
    auto dialog = std::make_unique<VisualViewDialog>();
    dialog->setGeometry(dialog->screen()->geometry());
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    auto* view = dialog->findChild<StrokesView*>();
    auto* hardware = dialog->findChild<NorvaHardware*>();
    auto* queue = dialog->findChild<InputQueue*>();
    QVERIFY(view && hardware && queue);

    std::atomic<int> emitted{0};
    connect(
        hardware, &NorvaHardware::touchEvent, this,
        [&](const NorvaHardware::TouchEvent& ev) { emitted += ev.size(); }, Qt::DirectConnection);
    hardware->setTouchDestination(1);
    qint64 handedOn = 0;
    connect(queue, &InputQueue::touchEvent, this,
            [&](const NorvaHardware::TouchEvent& ev) { handedOn += ev.size(); });
    // Repaints and a key while input still waits.
    struct Probe : QObject
    {
        InputQueue* queue = nullptr;
        int repaintsWhileWaiting = 0;
        int waitingAtKey = -1;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint && queue->reportsWaiting() > 0)
                ++repaintsWhileWaiting;
            if (event->type() == QEvent::KeyPress)
                waitingAtKey = queue->reportsWaiting();
            return false;
        }
    } probe;
    probe.queue = queue;
    view->installEventFilter(&probe);
    dialog->installEventFilter(&probe);

    QVERIFY(QFile(ready).open(QIODevice::WriteOnly));
    QTRY_VERIFY_WITH_TIMEOUT(queue->droppedPackets() > 0 && queue->reportsWaiting() > 0, 20000);
    QCoreApplication::postEvent(dialog.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_G, {}));
    QTRY_VERIFY_WITH_TIMEOUT(probe.waitingAtKey >= 0, 20000);
    QVERIFY2(probe.waitingAtKey > 0, "the key waited for the flood to be drawn");
    QCOMPARE(view->backgroundMode, int(BackgroundMode::Grid));

    QTRY_VERIFY_WITH_TIMEOUT(emitted == (Packets + 1) * Contacts && queue->reportsWaiting() == 0 &&
                                 errors.text().endsWith(" packets of input.\n"),
                             60000);
    qInfo("%d reports: %lld drawn, %lld dropped in %lld packets; at most %d waited", int(emitted),
          handedOn, qint64(queue->droppedReports()), qint64(queue->droppedPackets()),
          queue->mostReportsWaited());
    QCOMPARE(handedOn + queue->droppedReports(), qint64(emitted));
    QVERIFY(queue->mostReportsWaited() <= InputQueue::MostWaitingReports);
    QVERIFY(probe.repaintsWhileWaiting > 0);

    // One line when dropping starts, and one with the count when it stops,
    // for each run of drops.
    const QStringList lines = errors.text().split('\n', Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty() && lines.size() % 2 == 0);
    qint64 counted = 0;
    const QRegularExpression stop(QStringLiteral("^Dropped (\\d+) packets of input\\.$"));
    for (int i = 0; i < lines.size(); i += 2) {
        QCOMPARE(lines.at(i), QStringLiteral("Input arrives faster than it can be drawn: "
                                             "dropping whole packets."));
        const QRegularExpressionMatch match = stop.match(lines.at(i + 1));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i + 1)));
        counted += match.captured(1).toLongLong();
    }
    QCOMPARE(counted, qint64(queue->droppedPackets()));

    // Every contact ended, lifted or where the drops left it.
    QVERIFY(view->markers.empty());
    for (const auto& entry : view->contactStrokes)
        QCOMPARE(entry.second.state, 0);
}

QTEST_MAIN(TestLoad)
#include "tst_load.moc"
