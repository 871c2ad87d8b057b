#pragma once

#include "backgroundmode.h"
#include "eventitem.h"
#include "itemview.h"

#include <QColor>
#include <QImage>
#include <QLineF>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

// The view the dialog shows: a background image (test pattern or help), the
// strokes that every contact paints along its path (pen red, touch green,
// the eraser clears) and the live contact markers on top.
//
// The strokes are kept as segments, so that they can be painted again from
// scratch when the view grows, but only up to a budget: beyond it the oldest
// go into a layer of the strokes image's size, which a repaint from scratch
// draws first. A session of days thus keeps as much, and repaints as fast,
// as one of a few minutes.
class StrokesView : public ItemView
{
    Q_OBJECT

public:
    // One painted piece of a stroke; the line is painted 2 * halfWidth wide.
    struct StrokeSegment
    {
        QLineF line;
        float halfWidth = 0;

        bool operator==(const StrokeSegment& other) const;
    };

    struct Stroke
    {
        std::vector<StrokeSegment> segments;
        QColor color;
    };

    // The drawing state of one contact identifier, kept while it draws.
    struct ContactStroke
    {
        int state = 0; // 1 while the contact draws
        QPointF last;
        Stroke current;
        // The strokes still being drawn are painted again in the order they
        // began.
        std::uint64_t begun = 0;
    };

    // The kept segments are what the view paints again when it grows, a few
    // microseconds each: this many take about 0.4 s. They are 2.6 MB (40
    // bytes each; up to twice that with the lists' spare room, and the layer
    // of 8.3 MB on a 1920x1080 screen once it is needed): 14 s of a board at
    // its full rate (4 pens and 20 touches at 200 reports a second), 5.5
    // minutes of one contact.
    static constexpr std::size_t DefaultSegmentBudget = 65536;

    using PatternPainter = std::function<void(QPainter& painter, BackgroundMode mode,
                                              const QSize& imageSize, const QSize& viewSize)>;

    StrokesView();
    ~StrokesView() override;

    void addStrokePoint(const Quorvel::Controls& event, const QColor& color);
    // Empties the strokes, the layer of the oldest among them too.
    void clearStrokes();
    // Paints the strokes again into an emptied strokes image: the layer of
    // the oldest, the finished strokes kept in the order they ended, then
    // the strokes still being drawn in the order they began.
    void redrawStrokes();

    // The most segments kept, a finished stroke counting as one more (its
    // entry in the list weighs as much as a segment); the oldest beyond it go
    // into the layer, a few at a time so that no frame waits long for it.
    void setSegmentBudget(std::size_t segments);
    // What the strokes keep now, counted as the budget counts it.
    std::size_t keptSegments() const { return kept; }

    // Switches to the mode, or back to None if it is already shown.
    void toggleBackgroundMode(BackgroundMode mode);
    void drawBackground();
    // The painter of every mode, None (plain white) included, so that what
    // it adds to all of them shows there too; called with a painter open on
    // the white background image.
    void setPatternPainter(PatternPainter painter);
    // An image drawn over the strokes as part of the scene, at the view's
    // top left, or none; and where it changed, to be composed and shown
    // again there.
    void setOverlay(const QImage* image);
    const QImage* overlay() const { return overlayImage; }
    void overlayChanged(const QRegion& region);
    // The part of the overlay that no marker hides (a box of figures),
    // opaque: it is painted again over the markers wherever they repaint.
    void setOverlayOnTop(const QRect& rect);

    std::vector<Stroke> finishedStrokes;
    // Both maps are keyed by origin and id, for all three kinds: the mouse
    // and native touch points never touch a board contact's marker or stroke.
    // Both hold only the contacts that are down: X11 gives every new touch a
    // number of its own.
    std::map<Quorvel::Controls::Key, std::shared_ptr<EventItem>> markers;
    QImage* strokesImage = nullptr;
    std::map<Quorvel::Controls::Key, ContactStroke> contactStrokes;
    // The half-width of a segment whose record has no radius.
    float strokeWidth = 3.0f;
    // Whether contacts that touch down get a marker.
    bool showInfoTags = true;
    int backgroundMode = int(BackgroundMode::Help);
    QImage* backgroundImage = nullptr;
    // The background with the strokes over it, as the view shows them: a
    // repaint copies it instead of blending the strokes again. Brought up
    // to date where it is stale before each repaint.
    QImage* sceneImage = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void my_pen_event(const Quorvel::Controls& event);
    void my_touch_event(const std::vector<Quorvel::Controls>& event);
    void my_erase_event(const std::vector<Quorvel::Controls>& event);

private:
    template <typename Marker>
    void handleContact(const Quorvel::Controls& event, const QColor& markerColor,
                       const QColor& strokeColor);
    void paintSegment(const StrokeSegment& segment, const QColor& color);
    void composeScene();
    // The strokes still being drawn, in the order they began.
    std::vector<ContactStroke*> drawingStrokes();
    // Keeps the segments within the budget.
    void keepBudget();
    // Paints the oldest segments, as many as the count, into the layer in
    // the order a repaint paints them, and drops them.
    void flatten(std::size_t count);

    // Where the scene is older than the background or the strokes.
    std::vector<QRect> staleScene;

    PatternPainter patternPainter;
    const QImage* overlayImage = nullptr;
    QRect overlayOnTop;

    std::size_t budget = DefaultSegmentBudget;
    std::size_t kept = 0;
    std::uint64_t strokesBegun = 0;
    // The oldest segments, painted as a repaint paints them and dropped;
    // null until the budget was first reached.
    QImage* flattenedImage = nullptr;
};
