#include "strokesview.h"

#include "erase.h"
#include "pen.h"
#include "touch.h"

#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace {

// The largest view size seen so far, over all resizes: the images are never
// smaller, so a resize back and forth allocates nothing.
int largestWidth = 0;
int largestHeight = 0;

// Where the scene is stale is noted per segment and taken at the next
// repaint; a window that is not shown takes none. Beyond this many (a
// quarter of a megabyte, far more than a frame's) they are merged into one.
constexpr std::size_t MostStaleRects = 16384;

// How many segments at most go into the layer at once: a few milliseconds
// of painting, within a frame.
constexpr std::size_t MostFlattenedAtOnce = 1024;

bool close(double a, double b)
{
    return std::abs(a - b) <= 1e-12;
}

bool samePoint(const QPointF& a, const QPointF& b)
{
    return close(a.x(), b.x()) && close(a.y(), b.y());
}

// Draws a segment: a dot when it does not move, else a line with round caps.
void drawSegment(QPainter& painter, const StrokesView::StrokeSegment& segment, const QColor& color)
{
    const float w = segment.halfWidth;
    if (samePoint(segment.line.p1(), segment.line.p2())) {
        QPainterPath dot;
        dot.addEllipse(segment.line.p1(), w, w);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QBrush(color, Qt::SolidPattern));
        painter.drawPath(dot);
    } else {
        painter.setPen(QPen(QBrush(color, Qt::SolidPattern), 2 * w, Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        painter.drawLine(segment.line);
    }
}

// The eraser paints white, which clears the strokes to transparent.
bool isEraser(const QColor& color)
{
    return color == QColor(Qt::white);
}

// Paints the first count segments of the stroke as they were painted live.
void replay(QPainter& painter, const StrokesView::Stroke& stroke, std::size_t count)
{
    painter.setCompositionMode(isEraser(stroke.color) ? QPainter::CompositionMode_Clear
                                                      : QPainter::CompositionMode_SourceOver);
    for (std::size_t i = 0; i < count; ++i)
        drawSegment(painter, stroke.segments[i], stroke.color);
}

// Drops the first count segments, and the spare room of a list that
// shrank to less than half of it.
void dropFront(std::vector<StrokesView::StrokeSegment>& segments, std::size_t count)
{
    segments.erase(segments.begin(), segments.begin() + std::ptrdiff_t(count));
    if (segments.capacity() > 2 * segments.size() + 16)
        segments.shrink_to_fit();
}

// Replaces the image by one of the largest size when it is missing or too
// small; true when it did.
bool grow(QImage*& image, QImage::Format format)
{
    if (image && image->width() >= largestWidth && image->height() >= largestHeight)
        return false;
    QImage* grown = new QImage(largestWidth, largestHeight, format);
    delete image;
    image = grown;
    return true;
}

// The same, keeping what the image holds at its top left, the rest
// transparent.
void growKeeping(QImage*& image)
{
    QImage* old = image;
    image = nullptr;
    grow(image, old->format());
    image->fill(0);
    QPainter painter(image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, *old);
    delete old;
}

} // namespace

bool StrokesView::StrokeSegment::operator==(const StrokeSegment& other) const
{
    return samePoint(line.p1(), other.line.p1()) && samePoint(line.p2(), other.line.p2()) &&
           halfWidth == other.halfWidth;
}

StrokesView::StrokesView() : ItemView(false)
{
    // The background image covers every pixel, so the widget's own white
    // fill underneath it would only cost time.
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(this, &ItemView::out_pen_event, this, &StrokesView::my_pen_event);
    connect(this, &ItemView::out_touch_event, this, &StrokesView::my_touch_event);
    connect(this, &ItemView::out_erase_event, this, &StrokesView::my_erase_event);
}

StrokesView::~StrokesView()
{
    delete strokesImage;
    delete backgroundImage;
    delete sceneImage;
    delete flattenedImage;
}

void StrokesView::my_pen_event(const Quorvel::Controls& event)
{
    handleContact<Pen>(event, QColor(255, 0, 0, 32), Qt::red);
}

void StrokesView::my_touch_event(const std::vector<Quorvel::Controls>& event)
{
    for (const Quorvel::Controls& contact : event)
        handleContact<Touch>(contact, QColor(0, 255, 0, 32), Qt::green);
}

void StrokesView::my_erase_event(const std::vector<Quorvel::Controls>& event)
{
    for (const Quorvel::Controls& contact : event)
        handleContact<Erase>(contact, QColor(0, 0, 255, 32), Qt::white);
}

template <typename Marker>
void StrokesView::handleContact(const Quorvel::Controls& event, const QColor& markerColor,
                                const QColor& strokeColor)
{
    const auto found = markers.find(event.key());
    if (found != markers.end()) {
        const std::shared_ptr<EventItem> marker = found->second;
        if (event.buttons != 0) {
            marker->setControls(event);
        } else {
            markers.erase(found);
            if (marker->view)
                marker->view->removeItem(marker.get());
        }
    } else if (showInfoTags && event.buttons != 0) {
        auto marker = std::make_shared<Marker>(event.pos, markerColor);
        marker->setControls(event);
        addItem(marker);
        markers.emplace(event.key(), std::move(marker));
    }
    addStrokePoint(event, strokeColor);
}

void StrokesView::addStrokePoint(const Quorvel::Controls& event, const QColor& color)
{
    auto found = contactStrokes.find(event.key());
    if (found == contactStrokes.end() || found->second.state == 0) {
        // A hovering pen draws nothing, and leaves nothing behind.
        if (event.buttons == 0) {
            if (found != contactStrokes.end())
                contactStrokes.erase(found);
            return;
        }
        ContactStroke begun;
        begun.state = 1;
        begun.last = event.pos;
        begun.current.color = color;
        begun.begun = ++strokesBegun;
        found = contactStrokes.insert_or_assign(event.key(), std::move(begun)).first;
    }
    ContactStroke& contact = found->second;
    float w = float(std::max(event.radiusX, event.radiusY));
    if (w == 0)
        w = strokeWidth;
    const StrokeSegment segment{QLineF(contact.last, event.pos), w};
    std::vector<StrokeSegment>& segments = contact.current.segments;
    // A contact that rests reports the same point again and again.
    const bool repeated = !segments.empty() && segments.back() == segment;

    if (event.buttons != 0) {
        if (repeated)
            return;
        segments.push_back(segment);
        ++kept;
        paintSegment(segment, color);
        contact.last = event.pos;
        keepBudget();
        return;
    }
    if (!repeated) {
        segments.push_back(segment);
        ++kept;
        paintSegment(segment, color);
    }
    // The stroke's entry in the list counts as a segment more.
    finishedStrokes.push_back(std::move(contact.current));
    ++kept;
    contactStrokes.erase(found);
    keepBudget();
}

void StrokesView::setSegmentBudget(std::size_t segments)
{
    budget = segments;
    keepBudget();
}

std::vector<StrokesView::ContactStroke*> StrokesView::drawingStrokes()
{
    std::vector<ContactStroke*> drawing;
    for (auto& entry : contactStrokes)
        if (entry.second.state == 1)
            drawing.push_back(&entry.second);
    std::sort(drawing.begin(), drawing.end(),
              [](const ContactStroke* a, const ContactStroke* b) { return a->begun < b->begun; });
    return drawing;
}

void StrokesView::keepBudget()
{
    if (kept <= budget)
        return;
    // Below the budget by a little, so that the layer is painted into a batch
    // at a time rather than at every segment.
    flatten(kept - budget + std::min(budget / 4, MostFlattenedAtOnce));
}

// The oldest go first: the finished strokes in the order they ended, then
// the strokes still being drawn in the order they began, each keeping its
// newest segment, which the next record is compared with. What lies beyond
// the strokes image is lost with them: the view was never that large.
void StrokesView::flatten(std::size_t count)
{
    if (!flattenedImage && strokesImage) {
        flattenedImage = new QImage(strokesImage->size(), QImage::Format_ARGB32_Premultiplied);
        flattenedImage->fill(0);
    }
    QPainter painter;
    if (flattenedImage) {
        painter.begin(flattenedImage);
        painter.setRenderHint(QPainter::Antialiasing);
    }
    std::size_t whole = 0;
    for (; whole < finishedStrokes.size() && count > 0; ++whole) {
        Stroke& stroke = finishedStrokes[whole];
        const std::size_t size = stroke.segments.size();
        if (count < size + 1) {
            if (painter.isActive())
                replay(painter, stroke, count);
            dropFront(stroke.segments, count);
            kept -= count;
            count = 0;
            break;
        }
        if (painter.isActive())
            replay(painter, stroke, size);
        kept -= size + 1;
        count -= size + 1;
    }
    finishedStrokes.erase(finishedStrokes.begin(), finishedStrokes.begin() + std::ptrdiff_t(whole));
    for (ContactStroke* contact : drawingStrokes()) {
        if (count == 0)
            break;
        Stroke& stroke = contact->current;
        const std::size_t older = stroke.segments.empty() ? 0 : stroke.segments.size() - 1;
        const std::size_t n = std::min(count, older);
        if (painter.isActive())
            replay(painter, stroke, n);
        dropFront(stroke.segments, n);
        kept -= n;
        count -= n;
    }
}

void StrokesView::paintSegment(const StrokeSegment& segment, const QColor& color)
{
    // Before the first resize there is no image: the segment is only
    // recorded, and the first resize replays it.
    if (strokesImage) {
        QPainter painter(strokesImage);
        painter.setRenderHint(QPainter::Antialiasing);
        if (isEraser(color))
            painter.setCompositionMode(QPainter::CompositionMode_Clear);
        drawSegment(painter, segment, color);
    }
    // The rectangle spanned by the ends, grown by the stroke's half-width and
    // a pixel. Built from the ends' least and greatest coordinates: QRect's
    // normalized() leaves a rectangle from x to x - 1 as it is, which missed
    // the column left of a segment that moved one pixel left.
    const int k = int(segment.halfWidth + 1.0f);
    const QLineF& line = segment.line;
    const int x1 = int(line.x1());
    const int y1 = int(line.y1());
    const int x2 = int(line.x2());
    const int y2 = int(line.y2());
    const QRect area = QRect(QPoint(std::min(x1, x2), std::min(y1, y2)),
                             QPoint(std::max(x1, x2), std::max(y1, y2)))
                           .adjusted(-k, -k, k, k);
    if (staleScene.size() >= MostStaleRects) {
        QRect merged;
        for (const QRect& rect : staleScene)
            merged |= rect;
        staleScene = {merged};
    }
    staleScene.push_back(area);
    addDirty(area);
}

void StrokesView::clearStrokes()
{
    finishedStrokes.clear();
    // What a contact that is down drew so far is cleared as well, so that it
    // does not come back with the next replay.
    for (auto& entry : contactStrokes)
        entry.second.current.segments = {};
    kept = 0;
    delete flattenedImage;
    flattenedImage = nullptr;
    redrawStrokes();
    addDirty(QRect(0, 0, width(), height()));
}

void StrokesView::redrawStrokes()
{
    if (!strokesImage)
        return;
    staleScene = {QRect(QPoint(), strokesImage->size())};
    strokesImage->fill(0);
    QPainter painter(strokesImage);
    if (flattenedImage) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, *flattenedImage);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    for (const Stroke& stroke : finishedStrokes)
        replay(painter, stroke, stroke.segments.size());
    // A contact still down keeps what it drew so far.
    for (const ContactStroke* contact : drawingStrokes())
        replay(painter, contact->current, contact->current.segments.size());
}

void StrokesView::toggleBackgroundMode(BackgroundMode mode)
{
    backgroundMode = backgroundMode == int(mode) ? int(BackgroundMode::None) : int(mode);
    drawBackground();
    update();
}

void StrokesView::drawBackground()
{
    if (!backgroundImage)
        return;
    staleScene = {QRect(QPoint(), backgroundImage->size())};
    backgroundImage->fill(0xffffff);
    if (!patternPainter)
        return;
    QPainter painter(backgroundImage);
    patternPainter(painter, BackgroundMode(backgroundMode), backgroundImage->size(), size());
}

void StrokesView::setPatternPainter(PatternPainter painter)
{
    patternPainter = std::move(painter);
    drawBackground();
}

void StrokesView::setOverlay(const QImage* image)
{
    if (image == overlayImage)
        return;
    overlayImage = image;
    overlayChanged(QRect(QPoint(), size()));
}

void StrokesView::setOverlayOnTop(const QRect& rect)
{
    if (rect == overlayOnTop)
        return;
    addDirty(QRegion(rect) + overlayOnTop);
    overlayOnTop = rect;
}

void StrokesView::overlayChanged(const QRegion& region)
{
    for (const QRect& rect : region)
        staleScene.push_back(rect);
    addDirty(region);
}

// The overlay is part of the scene rather than painted at every repaint: it
// is blended again only where the scene is stale, not wherever a marker
// moves.
void StrokesView::composeScene()
{
    if (!sceneImage || staleScene.empty())
        return;
    QPainter painter(sceneImage);
    painter.setClipRegion(unite(staleScene));
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, *backgroundImage);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(0, 0, *strokesImage);
    if (overlayImage)
        painter.drawImage(0, 0, *overlayImage);
    staleScene.clear();
}

void StrokesView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    composeScene();
    if (sceneImage)
        painter.drawImage(0, 0, *sceneImage);
    paintItems(painter);
    if (!overlayImage || !event->region().intersects(overlayOnTop))
        return;
    // Opaque there: copied rather than blended, and only where the repaint
    // meets it, not the whole part at every marker that moves.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect& rect : event->region() & overlayOnTop)
        painter.drawImage(rect.topLeft(), *overlayImage, rect);
}

void StrokesView::resizeEvent(QResizeEvent* event)
{
    ItemView::resizeEvent(event);
    largestWidth = std::max(largestWidth, width());
    largestHeight = std::max(largestHeight, height());
    if (grow(strokesImage, QImage::Format_ARGB32_Premultiplied)) {
        if (flattenedImage)
            growKeeping(flattenedImage);
        redrawStrokes();
    }
    grow(backgroundImage, QImage::Format_RGB32);
    grow(sceneImage, QImage::Format_RGB32);
    drawBackground();
}
