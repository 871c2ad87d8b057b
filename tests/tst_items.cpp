#include "contactrecord.h"
#include "itemview.h"
#include "pen.h"
#include "touch.h"

#include <QPainter>
#include <QtTest>

namespace {

void refresh(Item& item)
{
    item.scheduleRefresh();
    item.waitRefresh();
}

// A marker for the record, shown by the view and refreshed once.
template <typename Marker>
std::shared_ptr<Marker> shownMarker(ItemView& view, const Quorvel::Controls& event)
{
    auto marker = std::make_shared<Marker>(event.pos, QColor(255, 0, 0, 32));
    marker->setControls(event);
    view.addItem(marker);
    refresh(*marker);
    return marker;
}

// The item painted over white.
QImage rendered(Item& item)
{
    QImage image(600, 600, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    item.paint(&painter);
    return image;
}

bool isWhite(QRgb p)
{
    return p == qRgb(255, 255, 255);
}

// The marker's translucent red over white, away from outline and text.
bool isTinted(QRgb p)
{
    return qRed(p) == 255 && qGreen(p) > 200 && qGreen(p) < 240 && qBlue(p) == qGreen(p);
}

} // namespace

class TestItems : public QObject
{
    Q_OBJECT

private slots:
    void tagLines();
    void tagIsDrawnInItsBox();
    void defaultRadiusWhenBothRadiiAreZero();
    void flatEllipseWhenOneRadiusIsZero();
    void fractionalPositionIsBakedIntoTheCache();
    void moveReportsOldAndNewRectangles();
    void itemInNoViewKeepsItsDirtyFlags();
    void cacheOnlyGrows();
};

void TestItems::tagLines()
{
    const struct
    {
        Quorvel::Controls event;
        QStringList lines;
    } cases[] = {
        {contactRecord(5, {1234567, 12.5}, 3),
         {"ID: 5", "X: 1.23457e+06", "Y: 12.5", "X Radius: 0", "Y Radius: 0", "Buttons: 00000011"}},
        {contactRecord(-1, {0.25, 1080}, 1, 4.5, 10),
         {"ID: -1", "X: 0.25", "Y: 1080", "X Radius: 4.5", "Y Radius: 10", "Buttons: 00000001"}},
        {contactRecord(300, {1, 2}, 0),
         {"ID: 300", "X: 1", "Y: 2", "X Radius: 0", "Y Radius: 0", "Buttons: 00000000"}},
        // Only the low eight bits are shown.
        {contactRecord(7, {-3.5, 2}, 0x1A5),
         {"ID: 7", "X: -3.5", "Y: 2", "X Radius: 0", "Y Radius: 0", "Buttons: 10100101"}},
    };
    for (const auto& c : cases) {
        Pen pen(c.event.pos, QColor(255, 0, 0, 32));
        pen.setControls(c.event);
        QCOMPARE(pen.formatTagLines(), c.lines);
    }
}

void TestItems::tagIsDrawnInItsBox()
{
    ItemView view(false);
    const auto pen = shownMarker<Pen>(view, contactRecord(5, {300, 300}));
    QCOMPARE(pen->tagLines.size(), 6);
    QCOMPARE(pen->tagLines.first(), QStringLiteral("ID: 5"));

    const QImage image = rendered(*pen);
    // Box from (125, 150) to (275, 275): tinted, with black text in its top
    // lines and nothing drawn left of it.
    QVERIFY(isTinted(image.pixel(270, 270)));
    QVERIFY(isWhite(image.pixel(120, 200)));
    int dark = 0;
    for (int y = 152; y < 152 + pen->lineHeight; ++y)
        for (int x = 127; x < 200; ++x)
            dark += qGray(image.pixel(x, y)) < 64;
    QVERIFY(dark > 20);
}

void TestItems::defaultRadiusWhenBothRadiiAreZero()
{
    ItemView view(false);
    const auto pen = shownMarker<Pen>(view, contactRecord(-1, {300.5, 300.5}));
    const QImage image = rendered(*pen);

    QVERIFY(isTinted(image.pixel(305, 323))); // 23.5 px from the centre
    QVERIFY(isWhite(image.pixel(305, 328)));  // 28.5 px
    QVERIFY(isTinted(image.pixel(317, 317))); // 24.0 px on the diagonal
    QVERIFY(isWhite(image.pixel(319, 319)));  // 26.9 px
    // Crosshair of radius 25 through the centre.
    QCOMPARE(qGray(image.pixel(320, 300)), 0);
    QCOMPARE(qGray(image.pixel(300, 280)), 0);
    QVERIFY(isWhite(image.pixel(328, 300)));
    // The tag box touches the ellipse's bounding box at (275.5, 275.5).
    QVERIFY(isTinted(image.pixel(272, 272)));
    QVERIFY(isWhite(image.pixel(278, 272)));
}

void TestItems::flatEllipseWhenOneRadiusIsZero()
{
    ItemView view(false);
    const auto touch = shownMarker<Touch>(view, contactRecord(256, {300.5, 300.5}, 1, 40, 0));
    const QImage image = rendered(*touch);

    QVERIFY(isWhite(image.pixel(305, 323))); // no default radius
    QVERIFY(isWhite(image.pixel(310, 305)));
    QCOMPARE(qGray(image.pixel(335, 300)), 0); // horizontal crosshair, 40 long
    QVERIFY(isWhite(image.pixel(345, 300)));
    QVERIFY(isWhite(image.pixel(300, 290))); // no vertical extent
    QCOMPARE(touch->formatTagLines().at(3), QStringLiteral("X Radius: 40"));
}

void TestItems::fractionalPositionIsBakedIntoTheCache()
{
    ItemView view(false);
    const auto whole = shownMarker<Pen>(view, contactRecord(-1, {300, 300}));
    const auto half = shownMarker<Pen>(view, contactRecord(-2, {300.5, 300}));

    // The vertical crosshair line at x = 300.5 fills column 300; at x = 300
    // it straddles columns 299 and 300.
    const QImage atHalf = rendered(*half);
    QCOMPARE(qGray(atHalf.pixel(300, 310)), 0);
    QVERIFY(isTinted(atHalf.pixel(298, 310)));
    const QImage atWhole = rendered(*whole);
    QVERIFY(qGray(atWhole.pixel(300, 310)) > 60);
    QVERIFY(qGray(atWhole.pixel(299, 310)) > 60);
    QVERIFY(qGray(atWhole.pixel(300, 310)) < 180);
}

void TestItems::moveReportsOldAndNewRectangles()
{
    ItemView view(false);
    const auto pen = shownMarker<Pen>(view, contactRecord(-1, {200, 200}));
    // The ellipse and the tag box with its text, not the empty corners of
    // their bounding rectangle.
    const QRegion first = pen->screenArea;
    QVERIFY(first.contains(QPoint(200, 200)));
    QVERIFY(first.contains(QPoint(200 - 25 - 150, 200 - 25 - 125)));
    QVERIFY(first.contains(QPoint(200 - 25 - 150, 200 - 25 - 1)));
    QVERIFY(!first.contains(QPoint(200 - 25 - 150, 200 + 20)));
    QVERIFY(!first.contains(QPoint(200 + 20, 200 - 25 - 100)));
    QCOMPARE(pen->screenRect, first.boundingRect());
    QCOMPARE(view.takeDirty(), first);
    QVERIFY(view.takeDirty().isEmpty());

    // A new record rebuilds everything on a refresh thread.
    pen->setControls(contactRecord(-1, {500, 200}));
    QCOMPARE(pen->dirty, int(Item::DirtyAll));
    refresh(*pen);
    const QRegion second = pen->screenArea;
    QCOMPARE(second, first.translated(300, 0));
    QCOMPARE(view.takeDirty(), first | second);
    QCOMPARE(pen->dirty, 0);

    // A move alone is refreshed at once on this thread.
    pen->position = QPointF(500, 400);
    pen->updateTransform();
    pen->dirty |= Item::DirtyGeometry;
    pen->scheduleRefresh();
    QVERIFY(!pen->refreshFuture.valid());
    QCOMPARE(pen->screenArea, second.translated(0, 200));
    QCOMPARE(view.takeDirty(), second | second.translated(0, 200));
}

void TestItems::itemInNoViewKeepsItsDirtyFlags()
{
    Pen pen(QPointF(10, 10), QColor(255, 0, 0, 32));
    pen.setControls(contactRecord(-1, {10, 10}));
    refresh(pen);
    QCOMPARE(pen.dirty, int(Item::DirtyAll));
    QVERIFY(pen.cache == nullptr);
    QVERIFY(pen.screenRect.isNull());

    ItemView view(false);
    auto added = std::make_shared<Pen>(QPointF(10, 10), QColor(255, 0, 0, 32));
    view.addItem(added);
    view.removeItem(added.get());
    QVERIFY(added->view == nullptr);
    QVERIFY(view.items.empty());
    added->setControls(contactRecord(-1, {20, 20}));
    refresh(*added);
    QCOMPARE(added->dirty, int(Item::DirtyAll));
}

void TestItems::cacheOnlyGrows()
{
    ItemView view(false);
    const auto touch = shownMarker<Touch>(view, contactRecord(256, {300, 300}, 1, 60, 60));
    const QImage* cache = touch->cache;
    QVERIFY(cache->width() >= 150 + 120 + 4);
    QVERIFY(cache->height() >= 125 + 120 + 4);
    const QSize tall = cache->size();

    // Smaller: the same image is kept.
    touch->setControls(contactRecord(256, {301.7, 300.2}, 1, 10.3, 10.3));
    refresh(*touch);
    QCOMPARE(touch->cache, cache);
    QCOMPARE(touch->cache->size(), tall);
    // Still drawn where it is, at its smaller size.
    const QImage image = rendered(*touch);
    QVERIFY(image.pixel(305, 305) != qRgb(255, 255, 255));
    QVERIFY(isWhite(image.pixel(320, 320)));

    // Wider but flatter: grows in width and keeps its height.
    touch->setControls(contactRecord(256, {300, 300}, 1, 120.4, 0));
    refresh(*touch);
    QVERIFY(touch->cache->width() >= 150 + 241 + 4);
    QCOMPARE(touch->cache->height(), tall.height());
    const QSize wide = touch->cache->size();
    const QImage* grown = touch->cache;

    // Repeated fractional sizes within the cache allocate nothing.
    for (double r : {100.3, 100.7, 119.9}) {
        touch->setControls(contactRecord(256, {300, 300}, 1, r, r / 2));
        refresh(*touch);
        QCOMPARE(touch->cache, grown);
        QCOMPARE(touch->cache->size(), wide);
    }
}

QTEST_MAIN(TestItems)
#include "tst_items.moc"
