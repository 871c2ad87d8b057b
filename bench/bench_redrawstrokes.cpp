// Painting the strokes again from scratch, as the view does when it grows,
// after a minute, ten minutes and an hour of a board at its full rate: 4 pens
// and 20 touches at 200 reports a second each, all moving, each lifting after
// 2 s of drawing and touching down again at once, at staggered times. The
// view's images only grow, so a Return does not repaint from scratch:
// redrawStrokes is called directly. Feeding an hour takes minutes; each
// session is fed once, the first time it is measured.

#include "strokesview.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>

namespace {

constexpr int ReportsPerSecond = 200;
constexpr int StrokeReports = 2 * ReportsPerSecond;
constexpr double Pi = 3.14159265358979323846;
// A touch of 300 board units on a 1920-pixel-wide screen.
constexpr double TouchRadius = 300.0 / 32768 * 1920;

Quorvel::Controls record(int id, const QPointF& pos, bool down, double radius)
{
    Quorvel::Controls c;
    c.id = id;
    c.buttons = down ? 1 : 0;
    c.radiusX = c.radiusY = radius;
    c.pos = c.viewPos = pos;
    return c;
}

// Contact i at report r: a Lissajous figure round its own place, so that its
// strokes cross themselves and their neighbours without retracing.
QPointF place(int i, int r, const QPointF& centre, double radius)
{
    const double t = double(r) / ReportsPerSecond;
    return centre +
           radius * QPointF(std::cos(2 * Pi * t / 3.0 + i), std::sin(2 * Pi * t / 3.7 + i));
}

// The last report of each 2 s stroke lifts, a contact's strokes offset from
// the others'.
bool down(int i, int r)
{
    return (r + 17 * i) % StrokeReports != StrokeReports - 1;
}

void feed(StrokesView& view, int minutes)
{
    const int rounds = minutes * 60 * ReportsPerSecond;
    std::vector<Quorvel::Controls> touches(20);
    for (int r = 0; r < rounds; ++r) {
        for (int p = 0; p < 4; ++p) {
            const QPointF centre(480 + 960 * (p % 2), 270 + 540 * (p / 2));
            view.in_pen_event(record(-1 - p, place(p, r, centre, 250), down(p, r), 0));
        }
        for (int k = 0; k < 20; ++k) {
            const QPointF centre(192 + 384 * (k % 5), 135 + 270 * (k / 5));
            touches[k] = record(256 + k, place(4 + k, r, centre, 120), down(4 + k, r), TouchRadius);
        }
        view.in_touch_event(touches);
        // The dialog takes the dirty region at every frame.
        if (r % 3 == 0)
            view.takeDirty();
    }
}

// What the strokes keep: their segments, and a stroke's entry in the list.
std::size_t segmentsKept(const StrokesView& view)
{
    std::size_t segments = 0;
    for (const StrokesView::Stroke& stroke : view.finishedStrokes)
        segments += stroke.segments.size() + 1;
    for (const auto& entry : view.contactStrokes)
        segments += entry.second.current.segments.size();
    return segments;
}

// The views fed so far, by minutes; they go before the application does.
std::map<int, std::unique_ptr<StrokesView>> sessions;

StrokesView& session(int minutes)
{
    std::unique_ptr<StrokesView>& view = sessions[minutes];
    if (!view) {
        view = std::make_unique<StrokesView>();
        view->showInfoTags = false;
        view->resize(1920, 1080);
        view->show();
        QApplication::processEvents();
        QElapsedTimer fed;
        fed.start();
        const std::clock_t cpu = std::clock();
        feed(*view, minutes);
        std::cerr << minutes << " min of reports fed in " << fed.elapsed() / 1000.0 << " s, "
                  << double(std::clock() - cpu) / CLOCKS_PER_SEC << " s of processor time\n";
    }
    return *view;
}

void BM_RedrawStrokes(benchmark::State& state)
{
    StrokesView& view = session(int(state.range(0)));
    for (auto _ : state) {
        view.redrawStrokes();
        benchmark::DoNotOptimize(view.strokesImage->constBits());
    }
    state.counters["minutes"] = double(state.range(0));
    state.counters["segments"] = double(segmentsKept(view));
}

} // namespace

BENCHMARK(BM_RedrawStrokes)->Arg(1)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    sessions.clear();
    return 0;
}
