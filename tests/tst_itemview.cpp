#include "contactrecord.h"
#include "itemview.h"
#include "pen.h"

#include <QMouseEvent>
#include <QtTest>

namespace {

// A hit-testable square that records the input it is handed.
class Square : public Item
{
public:
    explicit Square(QPointF position) : Item(position, 0.0f, 1.0f)
    {
        QPainterPath path;
        path.addRect(0, 0, 100, 100);
        setShape(path);
    }

    void handlePen(const Quorvel::Controls& event) override { pens.push_back(event); }
    void handleTouch(std::vector<Quorvel::Controls>& events) override
    {
        touchBatches.push_back(events);
    }
    void handleErase(std::vector<Quorvel::Controls>& events) override
    {
        eraseBatches.push_back(events);
    }
    void updateShape() override {}
    void draw(QPainter*) override {}

    std::vector<Quorvel::Controls> pens;
    std::vector<std::vector<Quorvel::Controls>> touchBatches;
    std::vector<std::vector<Quorvel::Controls>> eraseBatches;
};

// What a view hands on through its signals.
struct Emitted
{
    explicit Emitted(ItemView& view)
    {
        QObject::connect(&view, &ItemView::out_pen_event,
                         [this](const Quorvel::Controls& e) { pens.push_back(e); });
        QObject::connect(&view, &ItemView::out_touch_event,
                         [this](const std::vector<Quorvel::Controls>& e) { touches.push_back(e); });
        QObject::connect(&view, &ItemView::out_erase_event,
                         [this](const std::vector<Quorvel::Controls>& e) { erasers.push_back(e); });
    }

    std::vector<Quorvel::Controls> pens;
    std::vector<std::vector<Quorvel::Controls>> touches;
    std::vector<std::vector<Quorvel::Controls>> erasers;
};

} // namespace

class TestItemView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void mouseBecomesPenRecords();
    void mouseSynthesizedFromTouchIsIgnored();
    void penIsCapturedByItsFirstItem();
    void hoverEntersAndLeaves();
    void eventItemsAreNeverHit();
    void touchesAreDispatchedInBatches();
    void erasersAreDispatchedInBatches();
    void nativeTouchPointsKeepADeadZone();
    void tickHandsOutTheDirtyRegion();

private:
    ItemView* view = nullptr;
    std::shared_ptr<Square> left;
    std::shared_ptr<Square> right;
};

void TestItemView::init()
{
    view = new ItemView(false);
    view->resize(400, 300);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    // Squares at (0, 0)-(100, 100) and (200, 0)-(300, 100).
    left = std::make_shared<Square>(QPointF(0, 0));
    right = std::make_shared<Square>(QPointF(200, 0));
    view->addItem(left);
    view->addItem(right);
}

void TestItemView::cleanup()
{
    delete view;
    left.reset();
    right.reset();
}

void TestItemView::mouseBecomesPenRecords()
{
    Emitted out(*view);
    QMouseEvent hover(QEvent::MouseMove, QPointF(150, 250), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QVERIFY(QCoreApplication::sendEvent(view, &hover));
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(150, 250));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(160, 260));
    QTest::mousePress(view, Qt::RightButton, {}, QPoint(150, 250));
    QTest::mouseRelease(view, Qt::RightButton, {}, QPoint(150, 250));
    QTest::mousePress(view, Qt::MiddleButton, {}, QPoint(150, 250));

    QCOMPARE(int(out.pens.size()), 6);
    const int buttons[] = {0, 1, 0, 2, 0, 0};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(out.pens[i].id, -1);
        QCOMPARE(out.pens[i].buttons, buttons[i]);
        QCOMPARE(out.pens[i].radiusX, 0.0);
    }
    QCOMPARE(out.pens[2].pos, QPointF(160, 260));
    QCOMPARE(out.pens[2].viewPos, QPointF(160, 260));

    // Both buttons at once.
    QMouseEvent both(QEvent::MouseMove, QPointF(120, 250), Qt::NoButton,
                     Qt::LeftButton | Qt::RightButton | Qt::MiddleButton, Qt::NoModifier);
    QVERIFY(QCoreApplication::sendEvent(view, &both));
    QCOMPARE(out.pens.back().buttons, 3);
}

void TestItemView::mouseSynthesizedFromTouchIsIgnored()
{
    Emitted out(*view);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseMove,
                              QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick}) {
        QMouseEvent synthesized(type, QPointF(150, 250), QPointF(150, 250), QPointF(150, 250),
                                Qt::LeftButton, Qt::LeftButton, Qt::NoModifier,
                                Qt::MouseEventSynthesizedBySystem);
        QCoreApplication::sendEvent(view, &synthesized);
        QVERIFY(!synthesized.isAccepted());
    }
    QVERIFY(out.pens.empty());
    QVERIFY(left->pens.empty());
}

void TestItemView::penIsCapturedByItsFirstItem()
{
    Emitted out(*view);
    view->in_pen_event(contactRecord(-1, {50, 50}));
    view->in_pen_event(contactRecord(-1, {250, 50}));  // over the other square
    view->in_pen_event(contactRecord(-1, {150, 200})); // over nothing
    QVERIFY(out.pens.empty());
    QVERIFY(right->pens.empty());
    QCOMPARE(int(left->pens.size()), 3);
    QCOMPARE(left->pens[1].pos, QPointF(250, 50));
    QCOMPARE(right->mapFromView(QPointF(250, 50)), QPointF(50, 50));

    // A record without buttons ends the capture; the next contact over
    // nothing leaves the view.
    view->in_pen_event(contactRecord(-1, {150, 200}, 0));
    QCOMPARE(int(left->pens.size()), 4);
    view->in_pen_event(contactRecord(-1, {150, 200}));
    QCOMPARE(int(out.pens.size()), 1);
    // Records of a contact that began over nothing stay with nothing.
    view->in_pen_event(contactRecord(-1, {250, 50}));
    QCOMPARE(int(out.pens.size()), 2);
    QVERIFY(right->pens.empty());

    // The record an item gets is in its own coordinates.
    view->in_pen_event(contactRecord(-2, {230, 40}));
    QCOMPARE(right->pens.back().pos, QPointF(30, 40));
    QCOMPARE(right->pens.back().viewPos, QPointF(230, 40));
}

void TestItemView::hoverEntersAndLeaves()
{
    Emitted out(*view);
    view->in_pen_event(contactRecord(-3, {150, 50}, 0));
    QCOMPARE(int(out.pens.size()), 1);

    // Entering: the record itself, then the entry.
    view->in_pen_event(contactRecord(-3, {20, 30}, 0));
    QCOMPARE(int(left->pens.size()), 2);
    for (const Quorvel::Controls& c : left->pens)
        QCOMPARE(c.flags, 0);

    // Moving inside: the record only.
    view->in_pen_event(contactRecord(-3, {40, 30}, 0));
    QCOMPARE(int(left->pens.size()), 3);

    // Moving straight onto the other square: the new item gets the record
    // and the entry, the old one the leave with bit 1.
    view->in_pen_event(contactRecord(-3, {260, 30}, 0));
    QCOMPARE(int(right->pens.size()), 2);
    QCOMPARE(right->pens[0].flags, 0);
    QCOMPARE(right->pens[1].flags, 0);
    QCOMPARE(int(left->pens.size()), 4);
    QCOMPARE(left->pens[3].flags, int(Quorvel::Controls::HoverLeft));
    QCOMPARE(left->pens[3].pos, QPointF(260, 30));

    // Leaving to nothing.
    view->in_pen_event(contactRecord(-3, {260, 200}, 0));
    QCOMPARE(int(out.pens.size()), 2);
    QCOMPARE(right->pens.back().flags, int(Quorvel::Controls::HoverLeft));
    QCOMPARE(right->pens.back().pos, QPointF(60, 200));
}

void TestItemView::eventItemsAreNeverHit()
{
    auto pen = std::make_shared<Pen>(QPointF(150, 200), QColor(255, 0, 0, 32));
    pen->setControls(contactRecord(-1, {150, 200}));
    view->addItem(pen);
    pen->scheduleRefresh();
    pen->waitRefresh();
    QVERIFY(pen->contains(QPointF(0, 0)));
    QVERIFY(view->itemAt(contactRecord(-1, {150, 200})) == nullptr);
    QCOMPARE(view->itemAt(contactRecord(-1, {50, 50})), std::shared_ptr<Item>(left));
}

void TestItemView::touchesAreDispatchedInBatches()
{
    Emitted out(*view);
    view->in_touch_event({contactRecord(1, {10, 10}), contactRecord(2, {150, 200}),
                          contactRecord(3, {210, 20}), contactRecord(4, {20, 20}),
                          contactRecord(5, {160, 210})});
    QCOMPARE(int(left->touchBatches.size()), 1);
    QCOMPARE(int(left->touchBatches[0].size()), 2);
    QCOMPARE(left->touchBatches[0][1].id, 4);
    QCOMPARE(int(right->touchBatches.size()), 1);
    QCOMPARE(right->touchBatches[0][0].pos, QPointF(10, 20));
    QCOMPARE(right->touchBatches[0][0].viewPos, QPointF(210, 20));
    // The records of no item leave in one call, in input order.
    QCOMPARE(int(out.touches.size()), 1);
    QCOMPARE(int(out.touches[0].size()), 2);
    QCOMPARE(out.touches[0][0].id, 2);
    QCOMPARE(out.touches[0][1].id, 5);

    // Captured contacts stay with their item until they lift.
    view->in_touch_event({contactRecord(1, {250, 50}), contactRecord(3, {150, 200}, 0)});
    QCOMPARE(int(left->touchBatches.size()), 2);
    QCOMPARE(left->touchBatches[1][0].pos, QPointF(250, 50));
    QCOMPARE(right->touchBatches[1][0].buttons, 0);
    QCOMPARE(int(out.touches.size()), 1);
    // Contact 3 lifted: its next record finds nothing.
    view->in_touch_event({contactRecord(3, {150, 200})});
    QCOMPARE(int(out.touches.size()), 2);

    view->in_touch_event({});
    QCOMPARE(int(out.touches.size()), 2);
    QCOMPARE(int(left->touchBatches.size()), 2);
}

void TestItemView::erasersAreDispatchedInBatches()
{
    Emitted out(*view);
    view->in_erase_event({contactRecord(512, {50, 50}), contactRecord(513, {150, 200})});
    QCOMPARE(int(left->eraseBatches.size()), 1);
    QCOMPARE(int(out.erasers.size()), 1);
    QCOMPARE(out.erasers[0][0].id, 513);
    QVERIFY(out.touches.empty());
    QVERIFY(left->touchBatches.empty());
}

void TestItemView::nativeTouchPointsKeepADeadZone()
{
    Emitted out(*view);
    QTouchDevice* device = QTest::createTouchDevice();
    QTest::touchEvent(view, device)
        .press(7, QPoint(120, 150), view)
        .press(8, QPoint(300, 200), view);
    QCOMPARE(int(out.touches.size()), 1);
    QCOMPARE(int(out.touches[0].size()), 2);
    const int first = out.touches[0][0].id;
    QCOMPARE(out.touches[0][0].pos, QPointF(120, 150));
    QCOMPARE(out.touches[0][0].buttons, 1);
    QCOMPARE(out.touches[0][1].pos, QPointF(300, 200));

    // 2 px: within the dead zone.
    QTest::touchEvent(view, device).move(7, QPoint(122, 150), view).stationary(8);
    QCOMPARE(out.touches.back()[0].pos, QPointF(120, 150));
    QCOMPARE(out.touches.back()[0].viewPos, QPointF(120, 150));
    // 5 px from the smoothed point: it follows by 2.
    QTest::touchEvent(view, device).move(7, QPoint(125, 150), view).stationary(8);
    QCOMPARE(out.touches.back()[0].id, first);
    QVERIFY(qAbs(out.touches.back()[0].pos.x() - 122) < 1e-5);
    QCOMPARE(out.touches.back()[0].pos.y(), 150.0);

    // The release carries buttons 0; the next touch of the same point
    // starts at its raw position.
    QTest::touchEvent(view, device)
        .release(7, QPoint(125, 150), view)
        .release(8, QPoint(300, 200), view);
    QCOMPARE(out.touches.back()[0].buttons, 0);
    QCOMPARE(out.touches.back()[1].buttons, 0);
    QTest::touchEvent(view, device).press(7, QPoint(20, 250), view);
    QCOMPARE(out.touches.back()[0].pos, QPointF(20, 250));
    QTest::touchEvent(view, device).release(7, QPoint(20, 250), view);

    // A touch on an item goes to the item, not out.
    const size_t before = out.touches.size();
    QTest::touchEvent(view, device).press(9, QPoint(50, 50), view);
    QCOMPARE(out.touches.size(), before);
    QCOMPARE(int(left->touchBatches.size()), 1);
    QCOMPARE(left->touchBatches[0][0].pos, QPointF(50, 50));
    QTest::touchEvent(view, device).release(9, QPoint(50, 50), view);
    QCOMPARE(int(left->touchBatches.size()), 2);
    QVERIFY(out.pens.empty());
}

void TestItemView::tickHandsOutTheDirtyRegion()
{
    auto a = std::make_shared<Pen>(QPointF(200, 200), QColor(255, 0, 0, 32));
    auto b = std::make_shared<Pen>(QPointF(400, 250), QColor(255, 0, 0, 32));
    a->setControls(contactRecord(-1, {200, 200}));
    b->setControls(contactRecord(-2, {400, 250}));
    view->addItem(a);
    view->addItem(b);
    view->takeDirty();
    for (const auto& item : view->items)
        item->scheduleRefresh();
    for (const auto& item : view->items)
        item->waitRefresh();
    QRegion covered;
    for (const auto& item : view->items)
        covered |= item->screenArea;
    QVERIFY(!a->screenArea.isEmpty() && !b->screenArea.isEmpty());
    QCOMPARE(view->takeDirty(), covered);
    QVERIFY(view->takeDirty().isEmpty());

    // Removing an item reports the area it covered, and only that.
    const QRegion last = b->screenArea;
    view->removeItem(b.get());
    QCOMPARE(view->takeDirty(), last);
    QVERIFY(b->view == nullptr);
    QCOMPARE(int(view->items.size()), 3);
    view->removeItem(b.get());
    QCOMPARE(int(view->items.size()), 3);

    view->addDirty(QRect(1, 2, 3, 4));
    view->addDirty(QRect(10, 2, 3, 4));
    QCOMPARE(view->takeDirty(), QRegion(QRect(1, 2, 3, 4)) | QRegion(QRect(10, 2, 3, 4)));
}

QTEST_MAIN(TestItemView)
#include "tst_itemview.moc"
