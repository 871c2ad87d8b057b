#include "item.h"

#include "cachepool.h"
#include "itemview.h"

#include <QCoreApplication>
#include <QPainter>
#include <QThreadPool>
#include <QtMath>

#include <cmath>
#include <memory>

namespace {

QThreadPool* pool = nullptr;

// Stops the refresh threads while the application still exists: each thread
// holds its own font cache, which must go before the font database does.
void stopRefreshPool()
{
    delete pool;
    pool = nullptr;
}

// Refreshes run on a few persistent threads rather than a new thread per
// item and tick: starting a thread costs more than rendering a marker, and
// a fresh thread begins with an empty glyph cache.
QThreadPool* refreshPool()
{
    if (!pool) {
        pool = new QThreadPool;
        pool->setExpiryTimeout(-1);
        qAddPostRoutine(stopRefreshPool);
    }
    return pool;
}

double fraction(double v)
{
    return v - std::floor(v);
}

} // namespace

Item::RefreshTask::RefreshTask(Item* item) : task([item] { item->refresh(); })
{
    setAutoDelete(false);
}

void Item::RefreshTask::run()
{
    queued.load(std::memory_order_acquire);
    const std::shared_ptr<RefreshTask> keep = shared_from_this();
    task();
}

std::future<void> Item::RefreshTask::future()
{
    return task.get_future();
}

Item::Item(const QPointF& position, float rotation, float scale)
    : position(position), rotation(rotation), scale(scale)
{
    updateTransform();
}

Item::~Item()
{
    waitRefresh();
    CachePool::give(cache);
}

void Item::updateBounds()
{
    QTransform t;
    t.rotate(drawnRotation);
    t.scale(drawnScale, drawnScale);
    bounds = t.map(shape).boundingRect().adjusted(-1, -1, 3, 3);
    placeCache();
    paintedParts = {rendered};
}

void Item::placeCache()
{
    // An item larger than the view (a contact of absurd size) has only what
    // the view shows rendered and kept: no cache is larger than the view.
    // Others keep all of theirs, which needs no new rendering for a move.
    rendered = bounds;
    if (view && (bounds.width() > view->width() || bounds.height() > view->height()))
        rendered &= QRectF(view->rect())
                        .translated(-std::floor(drawnPosition.x()), -std::floor(drawnPosition.y()));
    clippedToView = rendered != bounds;
    if (rendered.isEmpty())
        return;
    // The cache covers the rendered part in whole pixels and never shrinks,
    // so a contact whose size changes does not reallocate on every tick.
    const int width = qCeil(rendered.width());
    const int height = qCeil(rendered.height());
    if (!cache || width > cache->width() || height > cache->height()) {
        QImage* grown = CachePool::take(cache ? qMax(width, cache->width()) : width,
                                        cache ? qMax(height, cache->height()) : height);
        CachePool::give(cache);
        cache = grown;
    }
    cacheOrigin = QPointF(std::floor(rendered.left()), std::floor(rendered.top()));
}

void Item::updateTransform()
{
    transform = QTransform::fromTranslate(position.x(), position.y());
    transform.rotate(rotation, Qt::ZAxis);
    transform.scale(scale, scale);
    inverse = transform.inverted();
}

void Item::setShape(const QPainterPath& path)
{
    shape = path;
    shapeRect = path.boundingRect();
}

QPointF Item::mapFromView(const QPointF& point) const
{
    return inverse.map(point);
}

bool Item::contains(const QPointF& point) const
{
    return shapeRect.contains(point) && shape.contains(point);
}

void Item::scheduleRefresh()
{
    // Never two refreshes of one item at a time.
    waitRefresh();
    // A cache that holds only what the view showed must follow a move.
    if (clippedToView && (dirty & DirtyGeometry))
        dirty |= DirtyBounds | DirtyCache;
    if (dirty == DirtyGeometry || dirty == 0 || refreshIsCheap()) {
        refresh();
        return;
    }
    refreshTask = std::make_shared<RefreshTask>(this);
    refreshFuture = refreshTask->future();
    refreshTask->queued.store(true, std::memory_order_release);
    refreshPool()->start(refreshTask.get());
}

bool Item::refreshIsCheap() const
{
    return false;
}

void Item::waitRefresh()
{
    // The GUI thread would only wait: a refresh that no pool thread has
    // started yet runs here instead.
    if (refreshTask && pool && pool->tryTake(refreshTask.get()))
        refreshTask->run();
    if (refreshFuture.valid())
        refreshFuture.get();
    refreshTask.reset();
}

void Item::refresh()
{
    if (!view)
        return;
    drawnPosition = position;
    drawnRotation = rotation;
    drawnScale = scale;
    if (dirty & DirtyShape)
        updateShape();
    if (dirty & DirtyBounds)
        updateBounds();
    if (dirty & DirtyCache)
        renderCache();
    if (dirty & DirtyGeometry) {
        std::vector<QRect> now;
        QRegion area;
        for (const QRectF& part : paintedParts) {
            const QRectF moved = part.translated(drawnPosition);
            now.emplace_back(int(moved.left() - 1), int(moved.top() - 1), int(moved.width() + 1),
                             int(moved.height() + 1));
            area |= now.back();
        }
        // A part that moved a little is repainted as one rectangle over its
        // old and new places: fewer rectangles for the frame to unite, at the
        // cost of two small corners.
        for (std::size_t i = 0; i < std::max(now.size(), screenParts.size()); ++i) {
            if (i < now.size() && i < screenParts.size() && now[i].intersects(screenParts[i])) {
                view->addDirty(now[i] | screenParts[i]);
                continue;
            }
            if (i < now.size())
                view->addDirty(now[i]);
            if (i < screenParts.size())
                view->addDirty(screenParts[i]);
        }
        screenParts = std::move(now);
        screenArea = area;
        screenRect = area.boundingRect();
    }
    dirty = 0;
}

QPointF Item::cacheOffset() const
{
    return QPointF(fraction(drawnPosition.x()) - cacheOrigin.x(),
                   fraction(drawnPosition.y()) - cacheOrigin.y());
}

void Item::renderCache()
{
    if (!cache || rendered.isEmpty())
        return;
    cache->fill(0);
    QPainter painter(cache);
    painter.translate(cacheOffset());
    painter.rotate(drawnRotation);
    painter.scale(drawnScale, drawnScale);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(&painter);
}

void Item::paint(QPainter* painter)
{
    if (!cache || rendered.isEmpty())
        return;
    const QPoint at(int(std::floor(drawnPosition.x()) + cacheOrigin.x()),
                    int(std::floor(drawnPosition.y()) + cacheOrigin.y()));
    painter->drawImage(at, *cache, QRect(0, 0, int(rendered.width()), int(rendered.height())));
}
