#include "testpatterns.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtTest>

namespace {

// What StrokesView does for a mode: white image, then the pattern on top.
QImage render(BackgroundMode mode, const QSize& imageSize, const QSize& viewSize)
{
    QImage image(imageSize, QImage::Format_RGB32);
    image.fill(0xffffff);
    QPainter painter(&image);
    TestPatterns::draw(painter, mode, imageSize, viewSize);
    painter.end();
    return image;
}

QImage render(BackgroundMode mode, const QSize& size)
{
    return render(mode, size, size);
}

QRgb rgb(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xffffff;
}

bool dark(const QImage& image, int x, int y)
{
    return qGray(image.pixel(x, y)) < 160;
}

int darkCount(const QImage& image, const QRect& area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += dark(image, x, y) ? 1 : 0;
    return count;
}

// A thin line through (x, y) may fall on either of two pixels.
bool darkNear(const QImage& image, int x, int y)
{
    return darkCount(image, QRect(x - 1, y - 1, 3, 3)) > 0;
}

} // namespace

class TestTestPatterns : public QObject
{
    Q_OBJECT

private slots:
    void colourFieldSquares();
    void colourFieldCoversImageBeyondView();
    void verticalBars();
    void horizontalBars();
    void barsFollowViewAndVanishWhenNarrow();
    void gridLinesEvery32Pixels();
    void gridLastLineAndImageSize();
    void shapeFieldMarks();
    void shapeFieldFollowsViewSize();
    void shapeFieldNeedsTwoPixels();
    void shapeMarkGeometry();
    void allBlackFollowsViewSize();
    void helpTextTopLeft();
};

void TestTestPatterns::colourFieldSquares()
{
    const QImage image = render(BackgroundMode::ColourField, QSize(1920, 1080));
    QCOMPARE(rgb(image, 16, 16), QRgb(0xff0000));
    QCOMPARE(rgb(image, 48, 16), QRgb(0x0000ff));
    QCOMPARE(rgb(image, 16, 48), QRgb(0x00ff00));
    QCOMPARE(rgb(image, 48, 48), QRgb(0xffffff));
    // Square edges are sharp: the last pixel of the first square is still red.
    QCOMPARE(rgb(image, 31, 31), QRgb(0xff0000));
    QCOMPARE(rgb(image, 32, 0), QRgb(0x0000ff));
    // Column 59 (odd), row 33 (odd), the partly visible last row.
    QCOMPARE(rgb(image, 1919, 1079), QRgb(0xffffff));
    QCOMPARE(rgb(image, 1919 - 32, 1079), QRgb(0x00ff00));
}

void TestTestPatterns::colourFieldCoversImageBeyondView()
{
    // After a shrink the image keeps its larger size and stays covered.
    const QImage image = render(BackgroundMode::ColourField, QSize(200, 200), QSize(50, 50));
    QCOMPARE(rgb(image, 150, 170), QRgb(0x00ff00));
    QCOMPARE(rgb(image, 199, 199), QRgb(0xff0000));
}

void TestTestPatterns::verticalBars()
{
    const QImage image = render(BackgroundMode::VerticalBars, QSize(1920, 1080));
    const int b = 112;
    for (int i = 0; i < 17; ++i) {
        const QRgb expected = i % 2 ? 0x000000 : 0xffffff;
        QCOMPARE(rgb(image, i * b, 0), expected);
        QCOMPARE(rgb(image, i * b + b - 1, 1079), expected);
    }
    for (int x : {112, 336, 560, 784, 1008, 1232, 1456, 1680})
        QCOMPARE(rgb(image, x, 540), QRgb(0x000000));
    for (int x = 1904; x < 1920; ++x)
        QCOMPARE(rgb(image, x, 540), QRgb(0xffffff));
}

void TestTestPatterns::horizontalBars()
{
    const QImage image = render(BackgroundMode::HorizontalBars, QSize(1920, 1080));
    const int b = 1080 / 17; // 63
    for (int i = 0; i < 17; ++i) {
        const QRgb expected = i % 2 ? 0x000000 : 0xffffff;
        QCOMPARE(rgb(image, 0, i * b), expected);
        QCOMPARE(rgb(image, 1919, i * b + b - 1), expected);
    }
    for (int y = 17 * b; y < 1080; ++y)
        QCOMPARE(rgb(image, 960, y), QRgb(0xffffff));
}

void TestTestPatterns::barsFollowViewAndVanishWhenNarrow()
{
    const QImage shrunk = render(BackgroundMode::VerticalBars, QSize(400, 300), QSize(170, 100));
    QCOMPARE(rgb(shrunk, 15, 50), QRgb(0x000000)); // b = 10
    QCOMPARE(rgb(shrunk, 155, 99), QRgb(0x000000));
    QCOMPARE(rgb(shrunk, 155, 100), QRgb(0xffffff));
    QCOMPARE(rgb(shrunk, 250, 50), QRgb(0xffffff));

    const QImage narrow = render(BackgroundMode::VerticalBars, QSize(16, 100));
    QCOMPARE(darkCount(narrow, narrow.rect()), 0);
    const QImage low = render(BackgroundMode::HorizontalBars, QSize(100, 16));
    QCOMPARE(darkCount(low, low.rect()), 0);
}

void TestTestPatterns::gridLinesEvery32Pixels()
{
    const QImage image = render(BackgroundMode::Grid, QSize(1920, 1080));
    // Dotted: some pixels along each line are dark, and none between lines.
    for (int x = 0; x < 1920; x += 32) {
        const int column = darkCount(image, QRect(x == 0 ? 0 : x - 1, 100, 2, 100));
        QVERIFY2(column >= 20, qPrintable(QString("no line at x=%1").arg(x)));
    }
    for (int y = 0; y < 1080; y += 32) {
        const int row = darkCount(image, QRect(100, y == 0 ? 0 : y - 1, 100, 2));
        QVERIFY2(row >= 20, qPrintable(QString("no line at y=%1").arg(y)));
    }
    for (int x = 0; x < 1920; x += 32)
        QCOMPARE(darkCount(image, QRect(x + 2, 2, 28, 28)), 0);
    QCOMPARE(darkCount(image, QRect(1890, 1060, 28, 18)), 0);
}

void TestTestPatterns::gridLastLineAndImageSize()
{
    // With a width of 97 the last vertical line is at 96; with 96 there is
    // none at the edge.
    const QImage wide = render(BackgroundMode::Grid, QSize(97, 80));
    QVERIFY(darkCount(wide, QRect(95, 40, 2, 20)) >= 4);
    const QImage exact = render(BackgroundMode::Grid, QSize(96, 80));
    QCOMPARE(darkCount(exact, QRect(95, 40, 1, 20)), 0);

    // The grid covers the whole image even when the view is smaller.
    const QImage shrunk = render(BackgroundMode::Grid, QSize(300, 300), QSize(50, 50));
    QVERIFY(darkCount(shrunk, QRect(255, 200, 2, 60)) >= 10);
    QVERIFY(darkCount(shrunk, QRect(200, 255, 60, 2)) >= 10);
}

void TestTestPatterns::shapeFieldMarks()
{
    const QImage image = render(BackgroundMode::ShapeField, QSize(1920, 1080));
    // Band 1 (size 32, e 16): the mark at (976, 556), its cross and circle.
    QVERIFY(darkNear(image, 976, 556));
    QVERIFY(darkNear(image, 969, 556));
    QVERIFY(darkNear(image, 976, 563));
    QVERIFY(darkNear(image, 992, 556)); // right edge of the circle
    QCOMPARE(rgb(image, 987, 551), QRgb(0xffffff));
    // Band 5 (size 162, e 341): row marks at y = 540 +- 341, x = 960 +- (341 + 162 k).
    for (int x : {1301, 1463, 1625, 1787, 619, 457, 295, 133})
        QVERIFY2(darkNear(image, x, 881) && darkNear(image, x, 199),
                 qPrintable(QString("no band-5 mark at x=%1").arg(x)));
    // Band 5 columns at x = 960 +- 341, y = 540 + 503 and 540 - 503.
    QVERIFY(darkNear(image, 1301, 1043));
    QVERIFY(darkNear(image, 619, 37));
    // Inside a band-5 circle, off its cross: nothing.
    QCOMPARE(darkCount(image, QRect(1311, 891, 30, 30)), 0);
    // Band 4 (size 108, e 206): the circle's top at y = 746 - 54.
    QVERIFY(darkNear(image, 960 + 206, 746 - 54));
}

void TestTestPatterns::shapeFieldFollowsViewSize()
{
    const QImage image = render(BackgroundMode::ShapeField, QSize(1920, 1080), QSize(960, 540));
    // Centred on the view: the band-1 mark at (496, 286).
    QVERIFY(darkNear(image, 496, 286));
    QVERIFY(darkNear(image, 464, 254));
    QCOMPARE(darkCount(image, QRect(1200, 0, 720, 1080)), 0);
    QCOMPARE(darkCount(image, QRect(0, 960, 1920, 120)), 0);
}

void TestTestPatterns::shapeFieldNeedsTwoPixels()
{
    const QImage one = render(BackgroundMode::ShapeField, QSize(200, 200), QSize(1, 200));
    QCOMPARE(darkCount(one, one.rect()), 0);
    const QImage two = render(BackgroundMode::ShapeField, QSize(200, 200), QSize(2, 200));
    QVERIFY(darkCount(two, two.rect()) > 0);
}

void TestTestPatterns::shapeMarkGeometry()
{
    QImage image(100, 100, QImage::Format_RGB32);
    image.fill(0xffffff);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::black, 0));
    TestPatterns::drawShapeMark(painter, 50.0f, 50.0f, 40.0f);
    painter.end();
    // Circle of diameter 40 from (30, 30), cross of half-length 10.
    QVERIFY(darkNear(image, 30, 50));
    QVERIFY(darkNear(image, 70, 50));
    QVERIFY(darkNear(image, 50, 30));
    QVERIFY(darkNear(image, 50, 70));
    QVERIFY(dark(image, 40, 50));
    QVERIFY(dark(image, 60, 50));
    QVERIFY(dark(image, 50, 41));
    QCOMPARE(rgb(image, 45, 45), QRgb(0xffffff));
    QCOMPARE(rgb(image, 62, 50), QRgb(0xffffff));
    QCOMPARE(rgb(image, 50, 62), QRgb(0xffffff));
    QCOMPARE(darkCount(image, QRect(0, 0, 28, 100)), 0);
    QCOMPARE(darkCount(image, QRect(73, 0, 27, 100)), 0);
}

void TestTestPatterns::allBlackFollowsViewSize()
{
    const QImage image = render(BackgroundMode::AllBlack, QSize(200, 200), QSize(100, 50));
    QCOMPARE(rgb(image, 0, 0), QRgb(0x000000));
    QCOMPARE(rgb(image, 99, 49), QRgb(0x000000));
    QCOMPARE(rgb(image, 100, 10), QRgb(0xffffff));
    QCOMPARE(rgb(image, 10, 50), QRgb(0xffffff));
    QCOMPARE(rgb(image, 199, 199), QRgb(0xffffff));
}

void TestTestPatterns::helpTextTopLeft()
{
    const QImage image = render(BackgroundMode::Help, QSize(1920, 1080));
    QFont font;
    font.setStyleHint(QFont::Serif, QFont::PreferAntialias);
    font.setPixelSize(32);
    const int h = QFontMetrics(font).height();
    QVERIFY(h >= 32);

    // Each of the 16 lines puts ink just above its baseline, from the left edge.
    for (int k = 1; k <= 16; ++k)
        QVERIFY2(darkCount(image, QRect(0, k * h - h / 2, 300, h / 2)) > 50,
                 qPrintable(QString("line %1 missing").arg(k)));
    QVERIFY(darkCount(image, QRect(0, 0, 8, h)) > 0);
    // The text is filled black, not just grey edges.
    QVERIFY(darkCount(image, QRect(0, 0, 400, h + 4)) > 0);
    bool black = false;
    for (int x = 0; x < 300 && !black; ++x)
        black = rgb(image, x, h - 10) == 0;
    QVERIFY(black);
    // Nothing below the last line and nothing far right.
    QCOMPARE(darkCount(image, QRect(0, 17 * h, 1920, 1080 - 17 * h)), 0);
    QCOMPARE(darkCount(image, QRect(1000, 0, 920, 1080)), 0);

    // The measurement and check keys come last, in these words: their rows
    // are the text as it is written, alone at its baseline.
    const char* const added[] = {"M to toggle measurements", "T to toggle tap targets",
                                 "K to run the board check"};
    for (int k = 0; k < 3; ++k) {
        const int row = 14 + k;
        QImage expected(1920, 1080, QImage::Format_RGB32);
        expected.fill(0xffffff);
        QPainter painter(&expected);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        QPainterPath path;
        path.addText(QPointF(0, row * h), font, QString::fromLatin1(added[k]));
        painter.drawPath(path);
        painter.end();
        const QRect band(0, row * h - h / 2, 1000, h / 2);
        QVERIFY2(image.copy(band) == expected.copy(band),
                 qPrintable(QString("line %1 is not '%2'").arg(row).arg(added[k])));
    }
}

QTEST_MAIN(TestTestPatterns)
#include "tst_testpatterns.moc"
