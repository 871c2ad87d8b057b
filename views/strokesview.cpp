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
    ContactStroke& contact = contactStrokes[event.key()];
    if (contact.state == 0) {
        // A hovering pen draws nothing.
        if (event.buttons == 0)
            return;
        contact.state = 1;
        contact.last = event.pos;
        contact.current.segments.clear();
        contact.current.color = color;
    }
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
        paintSegment(segment, color);
        contact.last = event.pos;
        return;
    }
    contact.state = 0;
    if (!repeated) {
        segments.push_back(segment);
        paintSegment(segment, color);
    }
    finishedStrokes.push_back(std::move(contact.current));
    contact.current.segments.clear();
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
    staleScene.push_back(area);
    addDirty(area);
}

void StrokesView::clearStrokes()
{
    finishedStrokes.clear();
    // What a contact that is down drew so far is cleared as well, so that it
    // does not come back with the next replay.
    for (auto& entry : contactStrokes)
        entry.second.current.segments.clear();
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
    painter.setRenderHint(QPainter::Antialiasing);
    // Strokes are opaque, so Source paints exactly what SourceOver painted
    // live, edges included.
    for (const Stroke& stroke : finishedStrokes) {
        for (const StrokeSegment& segment : stroke.segments) {
            if (isEraser(stroke.color))
                painter.setCompositionMode(QPainter::CompositionMode_Clear);
            drawSegment(painter, segment, stroke.color);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
        }
    }
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
    if (grow(strokesImage, QImage::Format_ARGB32_Premultiplied))
        redrawStrokes();
    grow(backgroundImage, QImage::Format_RGB32);
    grow(sceneImage, QImage::Format_RGB32);
    drawBackground();
}
