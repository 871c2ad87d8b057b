// Latency of board input: from the packet callback on the driver's thread to
// the stroke segment painted into the strokes view and its region repainted,
// while the simulated board floods 4 pens and 20 touches at a given rate of
// reports per second each. Every report moves its contact, so none is
// dropped as a repeat.
//
// Counters: median and 99th percentile latency in milliseconds, and the
// reports per second that reached the view. The system keeps up with a rate
// while what reaches the view matches what the board sends and the latency
// stays within a few frames.

#include "activedialog.h"
#include "norvahardware.h"
#include "quorvel.h"
#include "strokesview.h"
#include "visualviewdialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Pens = 4;
constexpr int Touches = 20;
constexpr double FloodSeconds = 2.0;

// One round sends a report of every contact; rounds between waits of 1 ms
// or more reach the rate asked for. Each wait's rounds lie a board unit apart
// across the path, and the path moves along between waits, so that no report
// repeats the one before it.
QByteArray floodScenario(const QString& ready, int reportsPerSecond)
{
    const int roundsPerWait = std::max(1, reportsPerSecond / 1000);
    const int waitMs = std::max(1, 1000 / reportsPerSecond);
    const int rounds = int(FloodSeconds * reportsPerSecond);
    QByteArray body;
    for (int j = 0; j < roundsPerWait; ++j) {
        for (int pen = 0; pen < Pens; ++pen)
            body += "  pen " + QByteArray::number(pen) + " 1000..31000 " +
                    QByteArray::number(4000 + pen * 2000 + j) + " tip\n";
        body += "  touch";
        for (int id = 0; id < Touches; ++id)
            body += QByteArray(id ? ";" : "") + " " + QByteArray::number(id) +
                    " down 31000..1000 " + QByteArray::number(13000 + id * 900 + j) + " 200";
        body += "\n";
    }
    return "board 1 hid<BENCH> xp<4> xt<20>\nwait callback 1\nwait file " +
           QFile::encodeName(ready) + "\nrepeat " + QByteArray::number(rounds / roundsPerWait) +
           "\n" + body + "  wait " + QByteArray::number(waitMs) + "\nend\n";
}

// Pairs each report taken on the driver's thread with the moment its segment
// is on the screen.
class LatencyProbe : public QObject
{
public:
    LatencyProbe(NorvaHardware* hardware, StrokesView* view) : view(view)
    {
        connect(
            hardware, &NorvaHardware::penEvent, this,
            [this](const NorvaHardware::PenEvent& ev) { sent(~qint32(ev.pen)); },
            Qt::DirectConnection);
        connect(
            hardware, &NorvaHardware::touchEvent, this,
            [this](const NorvaHardware::TouchEvent& ev) {
                for (const NorvaHardware::TouchContact& c : ev)
                    sent(Quorvel::TouchIdBase + c.id);
            },
            Qt::DirectConnection);
        // Connected after the view's own handling: the segment is painted.
        connect(view, &ItemView::out_pen_event, this,
                [this](const Quorvel::Controls& c) { painted(c.id); });
        connect(view, &ItemView::out_touch_event, this,
                [this](const std::vector<Quorvel::Controls>& records) {
                    for (const Quorvel::Controls& c : records)
                        painted(c.id);
                });
        view->installEventFilter(this);
    }

    std::vector<double> latenciesMs;
    int reachedView = 0;
    int overtaken = 0;
    int sentCount = 0;
    Clock::time_point firstSent, lastSent, lastShown;

    double sentPerSecond() const { return perSecond(sentCount, lastSent); }
    double shownPerSecond() const { return perSecond(int(latenciesMs.size()), lastShown); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == view && event->type() == QEvent::Paint) {
            const Clock::time_point now = Clock::now();
            if (!onItsWay.empty())
                lastShown = now;
            std::lock_guard<std::mutex> lock(mutex);
            for (const auto& [id, index] : onItsWay) {
                const std::vector<Clock::time_point>& times = reports[id];
                if (index < times.size())
                    latenciesMs.push_back(
                        std::chrono::duration<double, std::milli>(now - times[index]).count());
                else
                    ++overtaken;
            }
            onItsWay.clear();
        }
        return false;
    }

private:
    void sent(int id)
    {
        const Clock::time_point now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        if (sentCount++ == 0)
            firstSent = now;
        lastSent = now;
        reports[id].push_back(now);
    }

    double perSecond(int count, Clock::time_point last) const
    {
        const double seconds = std::chrono::duration<double>(last - firstSent).count();
        return seconds > 0 ? count / seconds : 0;
    }

    // The n-th record of a contact that reaches the view is its n-th report.
    // The adapter's queued connection precedes this probe's on the driver's
    // thread, so a record may reach the view, and rarely even the screen,
    // before its report is noted: such a report is counted as overtaken and
    // left out of the latencies.
    void painted(int id)
    {
        onItsWay.emplace_back(id, shownOf[id]++);
        ++reachedView;
    }

    StrokesView* view;
    std::mutex mutex;
    std::map<int, std::vector<Clock::time_point>> reports;
    std::map<int, size_t> shownOf;
    std::vector<std::pair<int, size_t>> onItsWay;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * (values.size() - 1) + 0.5))];
}

void BM_BoardInputLatency(benchmark::State& state)
{
    const int rate = int(state.range(0));
    QTemporaryDir dir;
    const QString ready = dir.filePath("ready");
    QFile scenario(dir.filePath("flood.txt"));
    if (!scenario.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the scenario");
        return;
    }
    scenario.write(floodScenario(ready, rate));
    scenario.close();
    qputenv("NORVABOARD_SCENARIO", QFile::encodeName(scenario.fileName()));

    for (auto _ : state) {
        const auto dialog = activeDialog();
        if (!dialog) {
            state.SkipWithError("the dialog never became active");
            return;
        }
        auto* view = dialog->findChild<StrokesView*>();
        auto* hardware = dialog->findChild<NorvaHardware*>();
        LatencyProbe probe(hardware, view);
        const int expected = int(FloodSeconds * rate) / std::max(1, rate / 1000) *
                             std::max(1, rate / 1000) * (Pens + Touches);

        QFile(ready).open(QIODevice::WriteOnly);
        // Until nothing more arrives for half a second.
        QElapsedTimer quietFor;
        quietFor.start();
        int seen = 0;
        while (quietFor.elapsed() < 500) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (probe.reachedView != seen) {
                seen = probe.reachedView;
                quietFor.restart();
            }
        }

        state.counters["median_ms"] = percentile(probe.latenciesMs, 0.5);
        state.counters["p99_ms"] = percentile(probe.latenciesMs, 0.99);
        state.counters["sent_per_s"] = probe.sentPerSecond();
        state.counters["shown_per_s"] = probe.shownPerSecond();
        state.counters["shown_share"] = double(probe.reachedView) / expected;
        state.counters["overtaken"] = probe.overtaken;
    }
}

} // namespace

BENCHMARK(BM_BoardInputLatency)
    ->ArgName("reports_per_s")
    ->Arg(200)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(12000)
    ->Arg(24000)
    ->Arg(48000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
