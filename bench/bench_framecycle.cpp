// One frame cycle of the dialog with live markers that all change every
// frame: new record, refresh, wait, take the dirty region and repaint it
// into a full-HD image through the view's own painting.
//
// Baseline: one std::async thread per item refresh and tag text filled as an
// outline path. Current: the items' own refresh pool and glyph-cache text.

#include "pen.h"
#include "strokesview.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

#include <benchmark/benchmark.h>

#include <future>
#include <memory>
#include <utility>
#include <vector>

namespace {

// A marker whose tag text is built with QPainterPath::addText and filled.
class PathTextPen : public Pen
{
public:
    using Pen::Pen;

    void updateShape() override
    {
        EventItem::updateShape();
        textPath = QPainterPath();
        for (int k = 0; k < tagLines.size(); ++k)
            textPath.addText(tagTopLeft + QPointF(0, (k + 1) * lineHeight), font, tagLines.at(k));
    }

    // The whole cache rendered anew at every refresh, through draw().
    void renderCache() override { Item::renderCache(); }

    void draw(QPainter* painter) override
    {
        // Ellipse, box and crosshair as usual, then the text as a path.
        const QStringList lines = std::exchange(tagLines, {});
        EventItem::draw(painter);
        tagLines = lines;
        painter->setPen(Qt::NoPen);
        painter->setBrush(QBrush(Qt::black, Qt::SolidPattern));
        painter->drawPath(textPath);
    }

    QPainterPath textPath;
};

// The baseline's refresh: a new thread per item unless it only moves.
struct AsyncRefresh
{
    void schedule(const std::vector<std::shared_ptr<Item>>& items)
    {
        futures.resize(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            Item* item = items[i].get();
            if (item->dirty == Item::DirtyGeometry)
                item->refresh();
            else
                futures[i] = std::async(std::launch::async, [item] { item->refresh(); });
        }
    }

    void wait()
    {
        for (std::future<void>& f : futures)
            if (f.valid())
                f.wait();
    }

    std::vector<std::future<void>> futures;
};

struct PoolRefresh
{
    void schedule(const std::vector<std::shared_ptr<Item>>& items)
    {
        for (const auto& item : items)
            item->scheduleRefresh();
    }

    void wait(const std::vector<std::shared_ptr<Item>>& items)
    {
        for (const auto& item : items)
            item->waitRefresh();
    }
};

Quorvel::Controls touchRecord(int id, QPointF pos, double radius)
{
    Quorvel::Controls c;
    c.id = id;
    c.buttons = 1;
    c.radiusX = c.radiusY = radius;
    c.pos = c.viewPos = pos;
    return c;
}

// Markers spread over the screen in 8 columns and 5 rows, each moving by a
// fraction of a pixel and changing its radius a little every frame.
template <typename Marker, typename Refresh, typename Wait>
void frameCycle(benchmark::State& state, Refresh&& schedule, Wait&& wait)
{
    StrokesView view;
    view.resize(1920, 1080);
    view.show();
    QApplication::processEvents();
    QImage screen(1920, 1080, QImage::Format_RGB32);

    const int count = int(state.range(0));
    std::vector<std::shared_ptr<EventItem>> markers;
    for (int i = 0; i < count; ++i) {
        const QPointF home(200 + 240 * (i % 8), 160 + 216 * (i / 8));
        auto marker = std::make_shared<Marker>(home, QColor(0, 255, 0, 32));
        marker->setControls(touchRecord(256 + i, home, 12));
        view.addItem(marker);
        markers.push_back(std::move(marker));
    }

    int frame = 0;
    for (auto _ : state) {
        ++frame;
        for (int i = 0; i < count; ++i) {
            const QPointF home(200 + 240 * (i % 8), 160 + 216 * (i / 8));
            const double step = (frame % 16) * 0.37;
            markers[i]->setControls(
                touchRecord(256 + i, home + QPointF(step, step / 2), 10 + (frame % 5)));
        }
        schedule(view.items);
        wait(view.items);
        const QRegion dirty = view.takeDirty();
        view.render(&screen, dirty.boundingRect().topLeft(), dirty);
        benchmark::DoNotOptimize(screen.constBits());
    }
    state.counters["markers"] = count;
}

void BM_FrameCycle_Baseline(benchmark::State& state)
{
    AsyncRefresh refresh;
    frameCycle<PathTextPen>(
        state, [&](const auto& items) { refresh.schedule(items); },
        [&](const auto&) { refresh.wait(); });
}

void BM_FrameCycle_Pool(benchmark::State& state)
{
    PoolRefresh refresh;
    frameCycle<Pen>(
        state, [&](const auto& items) { refresh.schedule(items); },
        [&](const auto& items) { refresh.wait(items); });
}

} // namespace

BENCHMARK(BM_FrameCycle_Baseline)
    ->Arg(1)
    ->Arg(10)
    ->Arg(40)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FrameCycle_Pool)
    ->Arg(1)
    ->Arg(10)
    ->Arg(40)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
