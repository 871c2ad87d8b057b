// The dialog while a board gone wrong floods it (bench/flood.scenario: random
// packets as fast as the simulated board sends them, with plug-and-play
// changes), info tags on: how often the view repaints, how long the event
// loop can be kept from other events (a key waits at most that long), and
// what the input queue held back and dropped.
//
// Counters: repaints a second and the longest gap between two repaints, the
// longest turn of the event loop, in milliseconds; the most contact reports
// that waited at once, and the packets and reports dropped.

#include "activedialog.h"
#include "inputqueue.h"
#include "quorvel.h"
#include "strokesview.h"
#include "visualviewdialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iostream>
#include <sstream>

namespace {

constexpr int FloodMs = 8000;

// Notes the time of every repaint of the view.
class PaintProbe : public QObject
{
public:
    explicit PaintProbe(QWidget* view) { view->installEventFilter(this); }

    int paints = 0;
    qint64 longestGapMs = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            if (paints++ > 0)
                longestGapMs = std::max(longestGapMs, sinceLast.elapsed());
            sinceLast.start();
        }
        return false;
    }

private:
    QElapsedTimer sinceLast;
};

void BM_Flood(benchmark::State& state)
{
    qputenv("NORVABOARD_SCENARIO", FLOOD_SCENARIO);
    for (auto _ : state) {
        const auto dialog = activeDialog();
        if (!dialog) {
            state.SkipWithError("the dialog never became active");
            return;
        }
        auto* queue = dialog->findChild<InputQueue*>();
        PaintProbe probe(dialog->findChild<StrokesView*>());

        // A timer that fires at every turn of the event loop.
        QElapsedTimer sinceTurn;
        qint64 longestTurnMs = 0;
        QTimer turns;
        QObject::connect(&turns, &QTimer::timeout,
                         [&] { longestTurnMs = std::max(longestTurnMs, sinceTurn.restart()); });
        turns.start(0);
        sinceTurn.start();

        QElapsedTimer flood;
        flood.start();
        while (flood.elapsed() < FloodMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        turns.stop();

        state.counters["paints_per_s"] = probe.paints * 1000.0 / FloodMs;
        state.counters["longest_paint_gap_ms"] = double(probe.longestGapMs);
        state.counters["longest_turn_ms"] = double(longestTurnMs);
        state.counters["most_reports_waited"] = queue->mostReportsWaited();
        state.counters["packets_dropped"] = double(queue->droppedPackets());
        state.counters["reports_dropped"] = double(queue->droppedReports());
    }
}

} // namespace

BENCHMARK(BM_Flood)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
