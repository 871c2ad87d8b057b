#pragma once

#include "item.h"
#include "positionfilter.h"
#include "quorvel.h"

#include <QRegion>
#include <QWidget>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

// A widget that shows a z-ordered list of items over its own background and
// routes contact records to them. A contact goes to the item under its first
// record (capture); records that no item takes leave through the out_
// signals. Mouse and native touch events of the widget become records too.
class ItemView : public QWidget
{
    Q_OBJECT

public:
    explicit ItemView(bool transparent);

    // Puts the item on top.
    void addItem(std::shared_ptr<Item> item);
    // Reports the area the item covered for repainting, then drops it.
    void removeItem(Item* item);

    // Called from refresh threads as well as from the GUI thread.
    void addDirty(const QRect& rect);
    void addDirty(const QRegion& region);
    // The area to repaint since the last call; only while no refresh runs.
    QRegion takeDirty();

    virtual std::shared_ptr<Item> itemAt(const Quorvel::Controls& event);

    // The union of the rectangles, taken pairwise: uniting them one by one
    // costs the square of their number, and a frame has hundreds.
    static QRegion unite(const std::vector<QRect>& rects);

    // Painting order: the first item is painted first.
    std::vector<std::shared_ptr<Item>> items;

    // Native touch points trail the finger by at most this many pixels.
    static constexpr double TouchDeadZone = 3;

signals:
    void out_pen_event(const Quorvel::Controls& event);
    void out_touch_event(const std::vector<Quorvel::Controls>& event);
    void out_erase_event(const std::vector<Quorvel::Controls>& event);

public slots:
    virtual void in_pen_event(const Quorvel::Controls& event);
    virtual void in_touch_event(const std::vector<Quorvel::Controls>& event);
    virtual void in_erase_event(const std::vector<Quorvel::Controls>& event);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // Items render only what the view shows: a new size shows other parts.
    void resizeEvent(QResizeEvent* event) override;
    void paintItems(QPainter& painter);

private:
    // Keyed by origin and id: the window system's ids overlap the board's.
    using CaptureMap = std::map<Quorvel::Controls::Key, std::shared_ptr<Item>>;
    using BatchMap = std::map<Item*, std::vector<Quorvel::Controls>>;

    // Hands each record to the item that captured its contact, one batch
    // per item; records without item leave through the signal.
    template <typename Signal>
    void dispatchBatch(const std::vector<Quorvel::Controls>& events, CaptureMap& capture,
                       BatchMap& batches, void (Item::*handle)(std::vector<Quorvel::Controls>&),
                       Signal signal);
    Quorvel::Controls mappedInto(const Item& item, const Quorvel::Controls& event) const;
    // The record of a native touch point, smoothed; keeps track of the points
    // that are down.
    Quorvel::Controls nativeTouch(int id, const QPointF& pos, bool down);

    bool transparent;
    // The rectangles added since the last take, united when taken.
    std::vector<QRect> dirtyRects;
    std::mutex dirtyMutex;
    CaptureMap penCapture;
    CaptureMap penHover;
    CaptureMap touchCapture;
    CaptureMap eraseCapture;
    BatchMap touchBatches;
    BatchMap eraseBatches;
    // The native touch points that are down, at their last reported position:
    // a cancelled touch sequence carries no points, yet they must end.
    std::map<int, QPointF> nativeTouchesDown;
};
