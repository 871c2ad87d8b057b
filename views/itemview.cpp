#include "itemview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTouchEvent>

#include <algorithm>

namespace {

// Smoothing state of the window system's touch points that are down, shared
// by all views. A lifted point's state is that of a new one, and is dropped:
// X11 gives every new touch a number of its own.
std::map<int, PositionFilter> nativeTouchFilters;

} // namespace

ItemView::ItemView(bool transparent) : transparent(transparent)
{
    setAttribute(Qt::WA_MouseTracking);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAutoFillBackground(!transparent);
    setStyleSheet(transparent ? QStringLiteral("background-color: transparent;")
                              : QStringLiteral("background-color: white;"));
    setAttribute(Qt::WA_TranslucentBackground, transparent);
}

void ItemView::addItem(std::shared_ptr<Item> item)
{
    item->view = this;
    items.push_back(std::move(item));
}

void ItemView::removeItem(Item* item)
{
    const auto it =
        std::find_if(items.begin(), items.end(),
                     [item](const std::shared_ptr<Item>& p) { return p.get() == item; });
    if (it == items.end())
        return;
    item->dirty |= Item::DirtyGeometry;
    item->scheduleRefresh();
    item->waitRefresh();
    item->view = nullptr;
    items.erase(it);
}

void ItemView::addDirty(const QRect& rect)
{
    std::lock_guard<std::mutex> lock(dirtyMutex);
    dirtyRects.push_back(rect);
}

void ItemView::addDirty(const QRegion& region)
{
    std::lock_guard<std::mutex> lock(dirtyMutex);
    dirtyRects.insert(dirtyRects.end(), region.begin(), region.end());
}

QRegion ItemView::takeDirty()
{
    std::vector<QRect> taken;
    {
        std::lock_guard<std::mutex> lock(dirtyMutex);
        taken.swap(dirtyRects);
        dirtyRects.reserve(taken.capacity());
    }
    return unite(taken);
}

QRegion ItemView::unite(const std::vector<QRect>& rects)
{
    std::vector<QRegion> regions(rects.begin(), rects.end());
    for (std::size_t step = 1; step < regions.size(); step *= 2)
        for (std::size_t i = 0; i + step < regions.size(); i += 2 * step)
            regions[i] |= regions[i + step];
    return regions.empty() ? QRegion() : regions.front();
}

std::shared_ptr<Item> ItemView::itemAt(const Quorvel::Controls& event)
{
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        const std::shared_ptr<Item>& item = *it;
        if (item->hitTestable && item->contains(item->mapFromView(event.pos)))
            return item;
    }
    return nullptr;
}

Quorvel::Controls ItemView::mappedInto(const Item& item, const Quorvel::Controls& event) const
{
    Quorvel::Controls mapped = event;
    mapped.pos = item.mapFromView(event.pos);
    return mapped;
}

void ItemView::in_pen_event(const Quorvel::Controls& event)
{
    auto captured = penCapture.find(event.key());
    if (captured == penCapture.end())
        captured = penCapture.emplace(event.key(), itemAt(event)).first;
    if (const std::shared_ptr<Item> target = captured->second)
        target->handlePen(mappedInto(*target, event));
    else
        emit out_pen_event(event);

    if (event.buttons != 0)
        return;
    penCapture.erase(event.key());
    const std::shared_ptr<Item> now = itemAt(event);
    std::shared_ptr<Item>& hovered = penHover[event.key()];
    const std::shared_ptr<Item> before = hovered;
    hovered = now;
    if (now == before)
        return;
    if (now)
        now->handlePen(mappedInto(*now, event));
    if (before) {
        Quorvel::Controls left = mappedInto(*before, event);
        left.flags |= Quorvel::Controls::HoverLeft;
        before->handlePen(left);
    }
}

template <typename Signal>
void ItemView::dispatchBatch(const std::vector<Quorvel::Controls>& events, CaptureMap& capture,
                             BatchMap& batches,
                             void (Item::*handle)(std::vector<Quorvel::Controls>&), Signal signal)
{
    for (const Quorvel::Controls& event : events) {
        auto captured = capture.find(event.key());
        if (captured == capture.end())
            captured = capture.emplace(event.key(), itemAt(event)).first;
        Item* target = captured->second.get();
        batches[target].push_back(target ? mappedInto(*target, event) : event);
    }
    // The batch of records that no item takes is kept with its room for the
    // next call; those of items are dropped, as items come and go.
    for (auto it = batches.begin(); it != batches.end();) {
        auto& [item, batch] = *it;
        if (item) {
            (item->*handle)(batch);
            it = batches.erase(it);
            continue;
        }
        if (!batch.empty())
            emit(this->*signal)(batch);
        batch.clear();
        ++it;
    }
    for (const Quorvel::Controls& event : events) {
        if (event.buttons == 0)
            capture.erase(event.key());
    }
}

void ItemView::in_touch_event(const std::vector<Quorvel::Controls>& event)
{
    dispatchBatch(event, touchCapture, touchBatches, &Item::handleTouch,
                  &ItemView::out_touch_event);
}

void ItemView::in_erase_event(const std::vector<Quorvel::Controls>& event)
{
    dispatchBatch(event, eraseCapture, eraseBatches, &Item::handleErase,
                  &ItemView::out_erase_event);
}

bool ItemView::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // A mouse event made up from a touch: the touch itself arrives too.
        if (mouse->source() != Qt::MouseEventNotSynthesized) {
            event->ignore();
            return false;
        }
        Quorvel::Controls record;
        record.id = -1;
        record.flags = Quorvel::Controls::WindowSystem;
        record.buttons = int(mouse->buttons() & (Qt::LeftButton | Qt::RightButton));
        record.pos = record.viewPos = QPointF(mouse->pos());
        in_pen_event(record);
        return true;
    }
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd: {
        std::vector<Quorvel::Controls> records;
        for (const QTouchEvent::TouchPoint& point : static_cast<QTouchEvent*>(event)->touchPoints())
            records.push_back(
                nativeTouch(point.id(), point.pos(), !(point.state() & Qt::TouchPointReleased)));
        in_touch_event(records);
        return true;
    }
    case QEvent::TouchCancel: {
        // The window system took the sequence away (a gesture, a grab, lost
        // focus): every point that is down lifts where it was last seen.
        std::vector<Quorvel::Controls> records;
        const std::map<int, QPointF> down = nativeTouchesDown;
        for (const auto& [id, pos] : down)
            records.push_back(nativeTouch(id, pos, false));
        if (!records.empty())
            in_touch_event(records);
        return true;
    }
    default:
        return QWidget::event(event);
    }
}

Quorvel::Controls ItemView::nativeTouch(int id, const QPointF& pos, bool down)
{
    if (down)
        nativeTouchesDown[id] = pos;
    else
        nativeTouchesDown.erase(id);
    Quorvel::Controls record;
    record.id = id;
    record.flags = Quorvel::Controls::WindowSystem;
    record.buttons = down ? 1 : 0;
    record.pos = record.viewPos = nativeTouchFilters[id].follow(pos, down, TouchDeadZone);
    if (!down)
        nativeTouchFilters.erase(id);
    return record;
}

void ItemView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    for (const std::shared_ptr<Item>& item : items)
        item->dirty |= Item::DirtyBounds | Item::DirtyCache | Item::DirtyGeometry;
}

void ItemView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    paintItems(painter);
}

void ItemView::paintItems(QPainter& painter)
{
    for (const std::shared_ptr<Item>& item : items)
        item->paint(&painter);
}
