#include "contactrecord.h"
#include "strokesview.h"

#include <QPainter>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

namespace {

using Records = std::vector<Quorvel::Controls>;

const QRgb Transparent = 0;
const QRgb Red = qRgb(255, 0, 0);
const QRgb Green = qRgb(0, 255, 0);
const QRgb White = qRgb(255, 255, 255);

// A contact moving in a straight line in 24 reports, then lifting unless it
// stays down; pens have ids below 0, erasers from 512.
struct Line
{
    int id;
    QPointF from;
    QPointF to;
    double radius;
    bool lift = true;
};
using Lines = std::vector<Line>;

void draw(StrokesView& view, const Line& line)
{
    for (int i = 0; i <= (line.lift ? 25 : 24); ++i) {
        const Quorvel::Controls r = contactRecord(
            line.id, line.from + (line.to - line.from) * std::min(i, 24) / 24, i < 25, line.radius);
        if (line.id < 0)
            view.in_pen_event(r);
        else if (line.id < Quorvel::EraseIdBase)
            view.in_touch_event({r});
        else
            view.in_erase_event({r});
    }
}

} // namespace

Q_DECLARE_METATYPE(Lines)

class TestStrokesView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void penDrawsDotThenLinesOfDefaultWidth();
    void widthFromRadiiAndFromStrokeWidth();
    void strokesShowOverTheBackground();
    void eraserClearsToTheBackground();
    void restingContactPaintsOnce();
    void touchDownAndLiftAtOnePointIsOneDot();
    void strokesSurviveResizes();
    void flatteningKeepsTheScreen_data();
    void flatteningKeepsTheScreen();
    void clearStrokesEmptiesTheImage();
    void markersOnlyWhileDown();
    void showInfoTagsAppliesAtTouchDown();
    void markersArePaintedOnTop();
    void backgroundModes();
    void nativeTouchDraws();
    void nativeAndBoardContactsStayApart();
    void cancelledNativeTouchesEnd();
    void repaintOfWhatChangedMatchesFullRepaint();

private:
    // One refresh tick of the dialog.
    QRegion tick();
    QRgb stroke(int x, int y) const { return view->strokesImage->pixel(x, y); }

    StrokesView* view = nullptr;
};

void TestStrokesView::init()
{
    view = new StrokesView;
    view->backgroundMode = int(BackgroundMode::None);
    view->resize(400, 300);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    QVERIFY(view->strokesImage);
    view->takeDirty();
}

void TestStrokesView::cleanup()
{
    delete view;
}

QRegion TestStrokesView::tick()
{
    for (const auto& item : view->items)
        item->scheduleRefresh();
    for (const auto& item : view->items)
        item->waitRefresh();
    return view->takeDirty();
}

void TestStrokesView::penDrawsDotThenLinesOfDefaultWidth()
{
    view->in_pen_event(contactRecord(-1, {100, 100}));
    // Dot of radius 3 at touch-down.
    QCOMPARE(stroke(100, 100), Red);
    QCOMPARE(stroke(101, 101), Red);
    QCOMPARE(stroke(104, 100), Transparent);
    QCOMPARE(view->takeDirty(), QRegion(QRect(QPoint(96, 96), QPoint(104, 104))));

    // Lines 6 pixels wide with round caps.
    view->in_pen_event(contactRecord(-1, {200, 100}));
    QCOMPARE(stroke(150, 97), Red);
    QCOMPARE(stroke(150, 102), Red);
    QCOMPARE(stroke(150, 104), Transparent);
    QCOMPARE(stroke(150, 95), Transparent);
    QCOMPARE(stroke(201, 100), Red);
    QCOMPARE(stroke(204, 100), Transparent);
    QCOMPARE(view->takeDirty(), QRegion(QRect(QPoint(96, 96), QPoint(204, 104))));

    // The lift completes the stroke with its last, empty piece.
    view->in_pen_event(contactRecord(-1, {200, 100}, 0));
    QCOMPARE(int(view->finishedStrokes.size()), 1);
    const StrokesView::Stroke& done = view->finishedStrokes[0];
    QCOMPARE(done.color, QColor(Qt::red));
    QCOMPARE(int(done.segments.size()), 3);
    QCOMPARE(done.segments[0].line, QLineF(100, 100, 100, 100));
    QCOMPARE(done.segments[2].line, QLineF(200, 100, 200, 100));
    QCOMPARE(done.segments[2].halfWidth, 3.0f);

    // A hovering pen draws nothing.
    view->in_pen_event(contactRecord(-1, {300, 200}, 0));
    view->in_pen_event(contactRecord(-1, {320, 200}, 0));
    QCOMPARE(stroke(300, 200), Transparent);
    QCOMPARE(int(view->finishedStrokes.size()), 1);
}

void TestStrokesView::widthFromRadiiAndFromStrokeWidth()
{
    // The larger radius is the half-width: 20 pixels wide.
    view->in_touch_event({contactRecord(300, {50, 150}, 1, 4, 10)});
    view->in_touch_event({contactRecord(300, {250, 150}, 1, 4, 10)});
    QCOMPARE(stroke(150, 141), Green);
    QCOMPARE(stroke(150, 158), Green);
    QCOMPARE(stroke(150, 161), Transparent);
    QCOMPARE(stroke(150, 138), Transparent);

    view->strokeWidth = 7;
    view->in_pen_event(contactRecord(-1, {50, 50}));
    view->in_pen_event(contactRecord(-1, {250, 50}));
    QCOMPARE(stroke(150, 56), Red);
    QCOMPARE(stroke(150, 58), Transparent);
    view->in_pen_event(contactRecord(-1, {250, 50}, 0));

    // Width 0: an empty dot, then a hairline with a margin of 1.
    view->strokeWidth = 0;
    view->takeDirty();
    view->in_pen_event(contactRecord(-2, {50.5, 250.5}));
    QCOMPARE(stroke(50, 250), Transparent);
    QCOMPARE(view->takeDirty(), QRegion(QRect(QPoint(49, 249), QPoint(51, 251))));
    view->in_pen_event(contactRecord(-2, {250.5, 250.5}));
    QVERIFY(qAlpha(stroke(150, 250)) > 200);
    QCOMPARE(stroke(150, 249), Transparent);
    QCOMPARE(stroke(150, 251), Transparent);
    QCOMPARE(view->takeDirty(), QRegion(QRect(QPoint(49, 249), QPoint(251, 251))));
}

void TestStrokesView::strokesShowOverTheBackground()
{
    view->in_pen_event(contactRecord(-1, {100, 100}));
    view->in_pen_event(contactRecord(-1, {100, 200}));
    view->in_touch_event({contactRecord(257, {50, 150}), contactRecord(258, {300, 50})});
    view->in_touch_event({contactRecord(257, {150, 150}), contactRecord(258, {300, 250})});
    const QImage shown = view->grab().toImage();
    QCOMPARE(shown.pixel(100, 120), Red);
    QCOMPARE(shown.pixel(130, 150), Green);
    QCOMPARE(shown.pixel(301, 200), Green);
    // The touch stroke was drawn later, over the pen stroke.
    QCOMPARE(shown.pixel(100, 150), Green);
    QCOMPARE(shown.pixel(200, 100), White);
}

void TestStrokesView::eraserClearsToTheBackground()
{
    view->setPatternPainter(
        [](QPainter& painter, BackgroundMode, const QSize& image, const QSize&) {
            painter.fillRect(QRect(QPoint(), image), Qt::black);
        });
    view->toggleBackgroundMode(BackgroundMode::AllBlack);
    view->in_pen_event(contactRecord(-1, {50, 100}));
    view->in_pen_event(contactRecord(-1, {350, 100}));
    view->in_pen_event(contactRecord(-1, {350, 100}, 0));
    QCOMPARE(view->grab().toImage().pixel(200, 100), Red);

    view->in_erase_event({contactRecord(512, {200, 50}, 1, 10, 5)});
    view->in_erase_event({contactRecord(512, {200, 150}, 1, 10, 5)});
    QCOMPARE(stroke(200, 100), Transparent);
    QCOMPARE(stroke(195, 100), Transparent);
    QCOMPARE(stroke(185, 100), Red);
    const QImage shown = view->grab().toImage();
    QCOMPARE(shown.pixel(200, 100), qRgb(0, 0, 0));
    QCOMPARE(shown.pixel(185, 100), Red);
    view->in_erase_event({contactRecord(512, {200, 150}, 0)});
    QCOMPARE(view->finishedStrokes.back().color, QColor(Qt::white));
}

void TestStrokesView::restingContactPaintsOnce()
{
    view->in_touch_event({contactRecord(260, {100, 100})});
    view->takeDirty();
    for (int i = 0; i < 5; ++i)
        view->in_touch_event({contactRecord(260, {100, 100})});
    QVERIFY(view->takeDirty().isEmpty());
    QCOMPARE(int(view->contactStrokes[boardKey(260)].current.segments.size()), 1);

    // After a move, the first repeat leaves a dot at the end, the others
    // nothing.
    view->in_touch_event({contactRecord(260, {120, 100})});
    for (int i = 0; i < 3; ++i)
        view->in_touch_event({contactRecord(260, {120, 100})});
    QCOMPARE(int(view->contactStrokes[boardKey(260)].current.segments.size()), 3);
    // The same point with another width is a new piece.
    view->in_touch_event({contactRecord(260, {120, 100}, 1, 2, 2)});
    QCOMPARE(int(view->contactStrokes[boardKey(260)].current.segments.size()), 4);
}

void TestStrokesView::touchDownAndLiftAtOnePointIsOneDot()
{
    view->in_touch_event({contactRecord(261, {100, 100})});
    view->in_touch_event({contactRecord(261, {100, 100}, 0)});
    QCOMPARE(int(view->finishedStrokes.size()), 1);
    QCOMPARE(int(view->finishedStrokes[0].segments.size()), 1);
    QCOMPARE(view->contactStrokes[boardKey(261)].state, 0);
    QVERIFY(view->contactStrokes[boardKey(261)].current.segments.empty());
    QCOMPARE(stroke(100, 100), Green);
}

void TestStrokesView::strokesSurviveResizes()
{
    // Red, crossed by green, partly erased, then red again over the erased
    // part: the replay must look exactly like the live drawing.
    view->in_pen_event(contactRecord(-1, {20, 100}));
    view->in_pen_event(contactRecord(-1, {380, 110}));
    view->in_pen_event(contactRecord(-1, {380, 110}, 0));
    view->in_touch_event({contactRecord(262, {200, 20}, 1, 6.3, 6.3)});
    view->in_touch_event({contactRecord(262, {210, 280}, 1, 6.3, 6.3)});
    view->in_touch_event({contactRecord(262, {210, 280}, 0)});
    view->in_erase_event({contactRecord(513, {100, 20}, 1, 8, 8)});
    view->in_erase_event({contactRecord(513, {300, 280}, 1, 8, 8)});
    view->in_erase_event({contactRecord(513, {300, 280}, 0)});
    view->in_pen_event(contactRecord(-2, {100, 280}));
    view->in_pen_event(contactRecord(-2, {300, 20}));
    view->in_pen_event(contactRecord(-2, {300, 20}, 0));
    const QImage live = view->strokesImage->copy(0, 0, 400, 300);
    const QImage* before = view->strokesImage;

    // Growing past the largest size so far replaces and replays.
    const QSize largest = before->size();
    view->resize(largest.width() + 100, largest.height() + 50);
    QVERIFY(view->strokesImage != before);
    QCOMPARE(view->strokesImage->size(), QSize(largest.width() + 100, largest.height() + 50));
    QCOMPARE(view->backgroundImage->size(), view->strokesImage->size());
    QCOMPARE(view->strokesImage->copy(0, 0, 400, 300), live);
    QCOMPARE(stroke(largest.width() + 50, 10), Transparent);

    // Shrinking keeps the images and the strokes.
    const QImage* grown = view->strokesImage;
    view->resize(200, 150);
    QCOMPARE(view->strokesImage, grown);
    QCOMPARE(view->strokesImage->copy(0, 0, 400, 300), live);
    view->resize(400, 300);
    QCOMPARE(view->strokesImage, grown);
}

void TestStrokesView::flatteningKeepsTheScreen_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<int>("budget");
    const Lines drawn{{-1, {20, 20}, {380, 280}, 0},
                      {-2, {20, 280}, {380, 20}, 2.5},
                      {257, {20, 150}, {380, 160}, 6.3},
                      {258, {190, 10}, {210, 290}, 12}};
    const Lines erased{{-1, {20, 100}, {380, 110}, 0},
                       {512, {100, 20}, {300, 280}, 8},
                       {257, {50, 280}, {350, 20}, 5},
                       {513, {300, 20}, {100, 280}, 10}};
    for (int budget : {0, 9}) {
        QTest::addRow("pens and touches, budget %d", budget) << drawn << budget;
        QTest::addRow("erasers crossing flattened strokes, budget %d", budget) << erased << budget;
    }
}

void TestStrokesView::flatteningKeepsTheScreen()
{
    QFETCH(Lines, lines);
    QFETCH(int, budget);
    // The same records to a view that keeps every segment and to one that
    // flattens all but a few.
    StrokesView flattened;
    flattened.resize(view->size());
    flattened.show();
    flattened.setSegmentBudget(std::size_t(budget));
    // Touch 260 stays down: its earlier part goes into the layer.
    lines.push_back({260, {355, 40}, {355, 100}, 7, false});
    for (const Line& line : lines) {
        draw(*view, line);
        draw(flattened, line);
    }
    // Only a stroke still down keeps its newest segment beyond the budget.
    QVERIFY(flattened.keptSegments() <= std::size_t(budget) + 1);
    QVERIFY(view->keptSegments() > 4 * flattened.keptSegments());

    // Painted again from scratch as the view grows.
    const QSize grown = view->strokesImage->size() + QSize(50, 30);
    view->resize(grown);
    flattened.resize(grown);
    QCOMPARE(*flattened.strokesImage, *view->strokesImage);
    QCOMPARE(flattened.strokesImage->pixel(355, 60), Green);

    // Backspace empties the layer as well.
    view->clearStrokes();
    flattened.clearStrokes();
    QCOMPARE(*flattened.strokesImage, *view->strokesImage);
}

void TestStrokesView::clearStrokesEmptiesTheImage()
{
    view->in_pen_event(contactRecord(-1, {50, 50}));
    view->in_pen_event(contactRecord(-1, {150, 50}));
    view->in_pen_event(contactRecord(-1, {150, 50}, 0));
    view->in_touch_event({contactRecord(263, {50, 150})});
    view->in_touch_event({contactRecord(263, {150, 150})});
    view->takeDirty();

    view->clearStrokes();
    QVERIFY(view->finishedStrokes.empty());
    QCOMPARE(view->takeDirty(), QRegion(0, 0, 400, 300));
    const QImage& image = *view->strokesImage;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            QCOMPARE(image.pixel(x, y), Transparent);

    // The contact that is down keeps drawing; what it drew before the clear
    // does not come back with a replay.
    view->in_touch_event({contactRecord(263, {250, 150})});
    view->in_touch_event({contactRecord(263, {250, 150}, 0)});
    QCOMPARE(stroke(200, 150), Green);
    QCOMPARE(int(view->finishedStrokes.size()), 1);
    view->redrawStrokes();
    QCOMPARE(stroke(100, 150), Transparent);
    QCOMPARE(stroke(200, 150), Green);
}

void TestStrokesView::markersOnlyWhileDown()
{
    view->in_pen_event(contactRecord(-1, {100, 100}, 0));
    QVERIFY(view->items.empty());
    QVERIFY(view->markers.empty());

    view->in_pen_event(contactRecord(-1, {200, 200}, 3));
    view->in_touch_event({contactRecord(264, {300, 200}, 1, 5, 5)});
    view->in_erase_event({contactRecord(514, {300, 100}, 1, 5, 5)});
    QCOMPARE(int(view->items.size()), 3);
    QCOMPARE(view->items[0]->metaObject()->className(), "Pen");
    QCOMPARE(view->items[1]->metaObject()->className(), "Touch");
    QCOMPARE(view->items[2]->metaObject()->className(), "Erase");
    QCOMPARE(view->markers[boardKey(264)]->color, QColor(0, 255, 0, 32));
    QCOMPARE(view->markers[boardKey(514)]->color, QColor(0, 0, 255, 32));
    tick();

    // Updates move the marker.
    view->in_pen_event(contactRecord(-1, {210, 200}, 1));
    QCOMPARE(view->markers[boardKey(-1)]->position, QPointF(210, 200));
    QCOMPARE(view->markers[boardKey(-1)]->buttons, 1);
    tick();
    const QRegion covered = view->markers[boardKey(-1)]->screenArea;

    // The lift removes it and reports the area it covered.
    std::weak_ptr<EventItem> gone = view->markers[boardKey(-1)];
    view->in_pen_event(contactRecord(-1, {210, 200}, 0));
    QVERIFY(gone.expired());
    QCOMPARE(view->markers.count(boardKey(-1)), size_t(0));
    QCOMPARE(int(view->items.size()), 2);
    QVERIFY((covered - view->takeDirty()).isEmpty());
}

void TestStrokesView::showInfoTagsAppliesAtTouchDown()
{
    view->in_touch_event({contactRecord(265, {100, 100})});
    view->showInfoTags = false;
    // A contact that is down keeps its marker until it lifts.
    view->in_touch_event({contactRecord(265, {120, 100}), contactRecord(266, {200, 100})});
    QCOMPARE(int(view->items.size()), 1);
    QCOMPARE(view->markers[boardKey(265)]->position, QPointF(120, 100));
    QCOMPARE(view->markers.count(boardKey(266)), size_t(0));
    // Its strokes are drawn all the same.
    QCOMPARE(stroke(200, 100), Green);
    view->in_touch_event({contactRecord(265, {120, 100}, 0), contactRecord(266, {210, 100}, 0)});
    QVERIFY(view->items.empty());
    QVERIFY(view->markers.empty());

    // With tags on again, the next down record gets its marker.
    view->in_touch_event({contactRecord(266, {220, 100})});
    view->showInfoTags = true;
    view->in_touch_event({contactRecord(266, {230, 100})});
    QCOMPARE(int(view->items.size()), 1);
    QCOMPARE(view->markers[boardKey(266)]->position, QPointF(230, 100));
}

void TestStrokesView::markersArePaintedOnTop()
{
    view->in_pen_event(contactRecord(-1, {300.5, 200.5}));
    view->in_pen_event(contactRecord(-1, {330.5, 200.5}));
    tick();
    const QImage shown = view->grab().toImage();
    // Translucent red over white inside the ellipse, over the red stroke
    // still red, and the black crosshair on top of the stroke.
    const QRgb tinted = shown.pixel(340, 215);
    QCOMPARE(qRed(tinted), 255);
    QVERIFY(qGreen(tinted) > 200 && qGreen(tinted) < 240);
    QCOMPARE(shown.pixel(358, 210), White);
    QCOMPARE(shown.pixel(330, 222), qRgb(0, 0, 0));
    QCOMPARE(qGray(shown.pixel(318, 200)), 0);
}

void TestStrokesView::backgroundModes()
{
    QCOMPARE(StrokesView().backgroundMode, int(BackgroundMode::Help));

    std::vector<BackgroundMode> drawn;
    QSize viewSize;
    view->setPatternPainter(
        [&](QPainter& painter, BackgroundMode mode, const QSize& image, const QSize& size) {
            drawn.push_back(mode);
            viewSize = size;
            if (mode != BackgroundMode::None)
                painter.fillRect(QRect(QPoint(), image), Qt::blue);
        });
    // None too goes to the painter, over white.
    QCOMPARE(drawn, std::vector<BackgroundMode>{BackgroundMode::None});
    QCOMPARE(view->backgroundImage->format(), QImage::Format_RGB32);
    QCOMPARE(view->backgroundImage->pixel(10, 10), White);

    view->toggleBackgroundMode(BackgroundMode::Grid);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::Grid));
    QCOMPARE(int(drawn.size()), 2);
    QCOMPARE(drawn[1], BackgroundMode::Grid);
    QCOMPARE(viewSize, QSize(400, 300));
    QCOMPARE(view->grab().toImage().pixel(10, 10), qRgb(0, 0, 255));

    view->toggleBackgroundMode(BackgroundMode::ColourField);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::ColourField));
    view->toggleBackgroundMode(BackgroundMode::ColourField);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::None));
    QCOMPARE(int(drawn.size()), 4);
    QCOMPARE(view->grab().toImage().pixel(10, 10), White);

    // Every resize draws the background again, with the new view size.
    view->toggleBackgroundMode(BackgroundMode::Help);
    view->resize(300, 200);
    QCOMPARE(int(drawn.size()), 6);
    QCOMPARE(drawn[5], BackgroundMode::Help);
    QCOMPARE(viewSize, QSize(300, 200));

    // No image before the first resize: nothing to draw into.
    StrokesView hidden;
    int calls = 0;
    hidden.setPatternPainter(
        [&](QPainter&, BackgroundMode, const QSize&, const QSize&) { ++calls; });
    hidden.drawBackground();
    QCOMPARE(calls, 0);
    QVERIFY(!hidden.backgroundImage);
}

void TestStrokesView::nativeTouchDraws()
{
    QTouchDevice* device = QTest::createTouchDevice();
    QTest::touchEvent(view, device).press(3, QPoint(50, 250), view);
    QTest::touchEvent(view, device).move(3, QPoint(250, 250), view);
    QCOMPARE(int(view->items.size()), 1);
    QCOMPARE(view->items[0]->metaObject()->className(), "Touch");
    QTest::touchEvent(view, device).release(3, QPoint(250, 250), view);
    QVERIFY(view->items.empty());
    QVERIFY(view->contactStrokes.empty());
    // The smoothed point trails the finger by 3 pixels.
    QCOMPARE(stroke(150, 250), Green);
    QCOMPARE(int(view->finishedStrokes.size()), 1);
    QVERIFY(qAbs(view->finishedStrokes[0].segments.back().line.p2().x() - 247) < 1e-4);

    // The mouse draws as pen -1.
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(50, 30));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(50, 30));
    QCOMPARE(stroke(50, 30), Red);
}

namespace {

// A touch event as the window system hands it to the view, with point ids of
// our choosing (QTest's own touch ids are remapped on the way).
void sendTouch(QWidget* view, QEvent::Type type, const QList<QPair<int, QPointF>>& points,
               Qt::TouchPointState state)
{
    QList<QTouchEvent::TouchPoint> touchPoints;
    for (const auto& [id, pos] : points) {
        QTouchEvent::TouchPoint point(id);
        point.setPos(pos);
        point.setState(state);
        touchPoints << point;
    }
    QTouchEvent event(type, nullptr, Qt::NoModifier, state, touchPoints);
    QCoreApplication::sendEvent(view, &event);
}

} // namespace

void TestStrokesView::nativeAndBoardContactsStayApart()
{
    // Board touch 257 and eraser 513 are down on the left, native touch
    // points with the same ids on the right; all move, then lift.
    view->in_touch_event({contactRecord(257, {50, 100})});
    view->in_erase_event({contactRecord(513, {50, 200})});
    sendTouch(view, QEvent::TouchBegin, {{257, {300, 100}}, {513, {300, 200}}},
              Qt::TouchPointPressed);
    QCOMPARE(int(view->items.size()), 4);
    view->in_touch_event({contactRecord(257, {100, 100})});
    view->in_erase_event({contactRecord(513, {100, 200})});
    sendTouch(view, QEvent::TouchUpdate, {{257, {350, 100}}, {513, {350, 200}}},
              Qt::TouchPointMoved);
    QCOMPARE(int(view->items.size()), 4);
    view->in_touch_event({contactRecord(257, {100, 100}, 0)});
    sendTouch(view, QEvent::TouchEnd, {{257, {350, 100}}, {513, {350, 200}}},
              Qt::TouchPointReleased);
    view->in_erase_event({contactRecord(513, {100, 200}, 0)});
    QVERIFY(view->items.empty());

    // Four whole strokes, each on its own side: no line joins them.
    QCOMPARE(int(view->finishedStrokes.size()), 4);
    for (const StrokesView::Stroke& stroke : view->finishedStrokes) {
        const bool board = stroke.segments.front().line.x1() < 200;
        for (const StrokesView::StrokeSegment& segment : stroke.segments)
            QCOMPARE(segment.line.x1() < 200 && segment.line.x2() < 200, board);
    }
    QCOMPARE(stroke(75, 100), Green);
    QCOMPARE(stroke(200, 100), Transparent);
    QCOMPARE(stroke(325, 100), Green);
    QCOMPARE(stroke(200, 200), Transparent);
    QCOMPARE(stroke(325, 200), Green);
}

void TestStrokesView::cancelledNativeTouchesEnd()
{
    QTouchDevice* device = QTest::createTouchDevice();
    QTest::touchEvent(view, device).press(0, QPoint(50, 50), view).press(1, QPoint(50, 150), view);
    QTest::touchEvent(view, device).move(0, QPoint(150, 50), view).move(1, QPoint(150, 150), view);
    QCOMPARE(int(view->items.size()), 2);

    // The window system takes the sequence away; the cancel names no point.
    QTouchEvent cancel(QEvent::TouchCancel, device);
    QCoreApplication::sendEvent(view->windowHandle(), &cancel);
    QVERIFY(view->items.empty());
    QVERIFY(view->markers.empty());
    QCOMPARE(int(view->finishedStrokes.size()), 2);
    for (const auto& entry : view->contactStrokes)
        QCOMPARE(entry.second.state, 0);
    QCOMPARE(stroke(100, 50), Green);

    // The same finger again: a new stroke, not joined to the old one.
    QTest::touchEvent(view, device).press(0, QPoint(250, 50), view);
    QCOMPARE(int(view->items.size()), 1);
    QCOMPARE(stroke(250, 50), Green);
    QCOMPARE(stroke(200, 50), Transparent);
    QTest::touchEvent(view, device).release(0, QPoint(250, 50), view);
    QCOMPARE(int(view->finishedStrokes.size()), 3);
}

void TestStrokesView::repaintOfWhatChangedMatchesFullRepaint()
{
    // A patterned background, so that a stale pixel anywhere shows.
    view->setPatternPainter([](QPainter& painter, BackgroundMode, const QSize& size, const QSize&) {
        for (int x = 0; x < size.width(); x += 7)
            painter.fillRect(x, 0, 3, size.height(), QColor(40 * (x % 5), 90, 200));
    });
    view->toggleBackgroundMode(BackgroundMode::Grid);
    view->resize(640, 480);
    QImage screen(view->size(), QImage::Format_ARGB32_Premultiplied);
    view->render(&screen);
    view->takeDirty();

    // Four pens and eight touches wander, in whole and in fractional pixels,
    // with changing radii; they lift, hover and come back; an eraser
    // crosses now and then; a finger creeps left. Each frame repaints only
    // what changed.
    std::mt19937 random(7);
    auto step = [&](double from, double limit) {
        return std::clamp(from + std::uniform_real_distribution<double>(-9, 9)(random), 0.0, limit);
    };
    std::map<int, QPointF> places;
    for (int frame = 0; frame < 400; ++frame) {
        for (int pen = 1; pen <= 4; ++pen) {
            QPointF& at = places[-pen];
            at = QPointF(std::round(step(at.x(), 640)), std::round(step(at.y(), 480)));
            view->in_pen_event(contactRecord(-pen, at, frame % 50 < 40 + pen ? 1 : 0));
        }
        Records touches;
        for (int id = 256; id < 264; ++id) {
            QPointF& at = places[id];
            at = QPointF(step(at.x(), 640), step(at.y(), 480));
            const double radius = id % 2 ? 4 + frame % 7 * 1.5 : 9;
            touches.push_back(contactRecord(id, at, (frame + id) % 60 < 50, radius, radius / 2));
        }
        // A finger that creeps left a pixel a report.
        touches.push_back(contactRecord(270, {600.0 - frame, 400}, 1, 11.7, 6.6));
        view->in_touch_event(touches);
        if (frame % 80 >= 60)
            view->in_erase_event({contactRecord(512, QPointF(frame % 80 * 30 - 1800, 240),
                                                frame % 80 < 79, 12, 20)});
        const QRegion dirty = tick();
        view->render(&screen, dirty.boundingRect().topLeft(), dirty);

        if (frame % 50 != 30)
            continue;
        // Everything drawn anew: background, strokes and every marker
        // rendered whole.
        QImage whole(view->size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&whole);
        painter.drawImage(0, 0, *view->backgroundImage);
        painter.drawImage(0, 0, *view->strokesImage);
        for (const auto& item : view->items) {
            item->Item::renderCache();
            item->paint(&painter);
        }
        painter.end();
        QVERIFY(!view->items.empty());
        QCOMPARE(screen, whole);
    }
}

QTEST_MAIN(TestStrokesView)
#include "tst_strokesview.moc"
