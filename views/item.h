#pragma once

#include "quorvel.h"

#include <QImage>
#include <QObject>
#include <QPainterPath>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QRegion>
#include <QRunnable>
#include <QTransform>

#include <atomic>
#include <future>
#include <memory>
#include <vector>

class ItemView;
class QPainter;

// A drawable object shown by an ItemView. Changes only mark the item dirty;
// the refresh at the next tick rebuilds what is dirty off the GUI thread,
// re-renders the pre-rendered cache and reports the covered screen area.
class Item : public QObject
{
    Q_OBJECT

public:
    enum DirtyFlag
    {
        DirtyGeometry = 1,
        DirtyCache = 2,
        DirtyBounds = 4,
        DirtyShape = 8
    };
    static constexpr int DirtyAll = DirtyGeometry | DirtyCache | DirtyBounds | DirtyShape;

    Item(const QPointF& position, float rotation, float scale);
    ~Item() override;

    // Input for a contact that this item captured or that hovers over it;
    // pos is in item coordinates, viewPos in view coordinates.
    virtual void handlePen(const Quorvel::Controls& event) = 0;
    virtual void handleTouch(std::vector<Quorvel::Controls>& events) = 0;
    virtual void handleErase(std::vector<Quorvel::Controls>& events) = 0;

    // Rebuilds the outline and the drawing paths, then calls setShape().
    virtual void updateShape() = 0;
    // Draws the item in item coordinates.
    virtual void draw(QPainter* painter) = 0;
    // Computes the bounds, sizes the cache, and the parts that the item
    // paints (by default its bounds).
    virtual void updateBounds();
    // Clips the bounds to what the view shows, and sizes and places the
    // cache for that part.
    void placeCache();

    void updateTransform();
    void setShape(const QPainterPath& path);
    QPointF mapFromView(const QPointF& point) const;
    bool contains(const QPointF& point) const;

    // GUI thread only. A refresh that only moves the item, has nothing to do
    // or is cheap runs at once; any other runs on the refresh thread pool.
    void scheduleRefresh();
    // Whether the coming refresh costs less than handing it to a thread.
    virtual bool refreshIsCheap() const;
    void waitRefresh();
    void refresh();
    // Where the cache's pixel (0, 0) lies relative to the item's whole-pixel
    // position: the position's fraction is baked into the cache.
    QPointF cacheOffset() const;
    virtual void renderCache();
    // Copies the cache to the painter at whole-pixel coordinates.
    void paint(QPainter* painter);

    // A refresh queued on the pool; done when refreshFuture is ready. The
    // thread that runs it keeps it alive until it has left run(), so the
    // item may drop it as soon as the future is ready.
    class RefreshTask : public QRunnable, public std::enable_shared_from_this<RefreshTask>
    {
    public:
        explicit RefreshTask(Item* item);
        void run() override;
        std::future<void> future();

        // Set by the GUI thread as it hands the task to the pool: the pool's
        // own lock is Qt's, which the C++ memory model (and ThreadSanitizer)
        // does not see, so the item's state is published through this.
        std::atomic<bool> queued{false};

    private:
        std::packaged_task<void()> task;
    };

    std::future<void> refreshFuture;
    std::shared_ptr<RefreshTask> refreshTask;
    QPointF position;
    float rotation;
    float scale;
    QImage* cache = nullptr;
    QPointF cacheOrigin;
    QRectF bounds;
    // The part of the bounds that the cache holds: all of it, unless the view
    // shows less.
    QRectF rendered;
    bool clippedToView = false;
    QPointF drawnPosition;
    float drawnRotation = 0;
    float drawnScale = 1;
    QPainterPath shape;
    QRectF shapeRect;
    QTransform transform;
    QTransform inverse;
    // What the item covered on screen when last refreshed: the painted parts
    // in whole pixels, and their bounding rectangle.
    QRegion screenArea;
    QRect screenRect;
    std::vector<QRect> screenParts;
    // The parts of the bounds that the item paints, in item coordinates: a
    // move repaints only these.
    std::vector<QRectF> paintedParts;
    ItemView* view = nullptr;
    int dirty = DirtyAll;
    bool hitTestable = true;
};
