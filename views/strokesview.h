#pragma once

#include "backgroundmode.h"
#include "eventitem.h"
#include "itemview.h"

#include <QColor>
#include <QImage>
#include <QLineF>

#include <functional>
#include <map>
#include <memory>
#include <vector>

// The view the dialog shows: a background image (test pattern or help), the
// strokes that every contact paints along its path (pen red, touch green,
// the eraser clears) and the live contact markers on top.
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

    // The drawing state of one contact identifier.
    struct ContactStroke
    {
        int state = 0; // 1 while the contact draws
        QPointF last;
        Stroke current;
    };

    using PatternPainter = std::function<void(QPainter& painter, BackgroundMode mode,
                                              const QSize& imageSize, const QSize& viewSize)>;

    StrokesView();
    ~StrokesView() override;

    void addStrokePoint(const Quorvel::Controls& event, const QColor& color);
    void clearStrokes();
    // Paints every finished stroke again into an emptied strokes image.
    void redrawStrokes();

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

    // Where the scene is older than the background or the strokes.
    std::vector<QRect> staleScene;

    PatternPainter patternPainter;
    const QImage* overlayImage = nullptr;
    QRect overlayOnTop;
};
