#include "strokesview.h"
#include "visualviewdialog.h"

#include <QPaintEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>
#include <QtTest>

namespace {

// Collects the regions of the paint events a widget receives.
class PaintRecorder : public QObject
{
public:
    explicit PaintRecorder(QWidget* widget) { widget->installEventFilter(this); }
    QRegion painted;
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
};

QRgb pixelOf(QWidget* widget, const QPoint& point)
{
    return widget->grab().toImage().pixel(point) & 0xffffff;
}

} // namespace

class TestVisualViewDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startState();
    void backgroundToggles_data();
    void backgroundToggles();
    void oneKeySwitchesBetweenPatterns();
    void digitsSetStrokeWidth();
    void spaceTogglesInfoTags();
    void backspaceClearsStrokes();
    void returnTogglesFullScreen();
    void unlistedKeysDoNothing();
    void escapeCloses_data();
    void escapeCloses();
    void execReturnsZeroAfterEscape();
    void tickRepaintsOnlyTheDirtyRegion();
    void tickRefreshesItems();
    void mouseDrawsRedStroke();

private:
    void press(int key) { QTest::keyClick(dialog->windowHandle(), Qt::Key(key)); }
    void drawLine(const QPoint& from, const QPoint& to);

    VisualViewDialog* dialog = nullptr;
    StrokesView* view = nullptr;
};

void TestVisualViewDialog::init()
{
    dialog = new VisualViewDialog;
    view = dialog->findChild<StrokesView*>();
    QVERIFY(view);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
}

void TestVisualViewDialog::cleanup()
{
    delete dialog;
    dialog = nullptr;
    view = nullptr;
}

void TestVisualViewDialog::drawLine(const QPoint& from, const QPoint& to)
{
    QWindow* window = dialog->windowHandle();
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 10; ++step)
        QTest::mouseMove(window, from + (to - from) * step / 10);
    QTest::mouseRelease(window, Qt::LeftButton, {}, to);
}

void TestVisualViewDialog::startState()
{
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->windowState() & Qt::WindowFullScreen);
    QCOMPARE(view->parentWidget(), dialog);
    QCOMPARE(view->geometry(), dialog->rect());
    QCOMPARE(view->backgroundMode, int(BackgroundMode::Help));
    QCOMPARE(view->strokeWidth, 3.0f);
    QVERIFY(view->showInfoTags);

    auto* timer = dialog->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(timer);
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), 16);
    // Single-shot, yet it keeps ticking.
    QSignalSpy ticks(timer, &QTimer::timeout);
    QTRY_VERIFY(ticks.count() >= 3);

    // The help text is painted at the top left, nothing at the far right.
    const QImage shown = view->grab().toImage();
    bool ink = false;
    for (int y = 0; y < 40 && !ink; ++y)
        for (int x = 0; x < 200 && !ink; ++x)
            ink = qGray(shown.pixel(x, y)) < 100;
    QVERIFY(ink);
    QCOMPARE(shown.pixel(shown.width() - 5, 20) & 0xffffff, QRgb(0xffffff));
}

void TestVisualViewDialog::backgroundToggles_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mode");
    QTest::newRow("G") << int(Qt::Key_G) << int(BackgroundMode::Grid);
    QTest::newRow("C") << int(Qt::Key_C) << int(BackgroundMode::ColourField);
    QTest::newRow("S") << int(Qt::Key_S) << int(BackgroundMode::ShapeField);
    QTest::newRow("B") << int(Qt::Key_B) << int(BackgroundMode::AllBlack);
    QTest::newRow("Left") << int(Qt::Key_Left) << int(BackgroundMode::VerticalBars);
    QTest::newRow("Right") << int(Qt::Key_Right) << int(BackgroundMode::HorizontalBars);
}

void TestVisualViewDialog::backgroundToggles()
{
    QFETCH(int, key);
    QFETCH(int, mode);
    // H first leaves the help screen for plain white, H again brings it back.
    press(Qt::Key_H);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::None));
    QCOMPARE(pixelOf(view, QPoint(10, 20)), QRgb(0xffffff));
    press(Qt::Key_H);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::Help));

    press(key);
    QCOMPARE(view->backgroundMode, mode);
    press(key);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::None));
    const QImage white = view->grab().toImage();
    for (const QPoint& p : {QPoint(0, 0), QPoint(16, 16), QPoint(white.width() / 2, 100),
                            QPoint(white.width() - 1, white.height() - 1)})
        QCOMPARE(white.pixel(p) & 0xffffff, QRgb(0xffffff));
}

void TestVisualViewDialog::oneKeySwitchesBetweenPatterns()
{
    press(Qt::Key_G);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::Grid));
    press(Qt::Key_C);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::ColourField));
    // The pattern reaches the screen: red top-left square, blue to its right.
    const QImage shown = view->grab().toImage();
    QCOMPARE(shown.pixel(16, 16) & 0xffffff, QRgb(0xff0000));
    QCOMPARE(shown.pixel(48, 16) & 0xffffff, QRgb(0x0000ff));
    press(Qt::Key_C);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::None));
    press(Qt::Key_B);
    QCOMPARE(pixelOf(view, QPoint(300, 300)), QRgb(0x000000));
}

void TestVisualViewDialog::digitsSetStrokeWidth()
{
    for (int digit = 9; digit >= 0; --digit) {
        press(Qt::Key_0 + digit);
        QCOMPARE(view->strokeWidth, float(digit));
    }
    press(Qt::Key_7);
    QCOMPARE(view->strokeWidth, 7.0f);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::Help));
}

void TestVisualViewDialog::spaceTogglesInfoTags()
{
    press(Qt::Key_Space);
    QVERIFY(!view->showInfoTags);
    // Without info tags a new contact gets no marker.
    QTest::mousePress(dialog->windowHandle(), Qt::LeftButton, {}, QPoint(50, 500));
    QVERIFY(view->items.empty());
    QTest::mouseRelease(dialog->windowHandle(), Qt::LeftButton, {}, QPoint(50, 500));
    press(Qt::Key_Space);
    QVERIFY(view->showInfoTags);
    QTest::mousePress(dialog->windowHandle(), Qt::LeftButton, {}, QPoint(50, 500));
    QCOMPARE(view->items.size(), size_t(1));
    QTest::mouseRelease(dialog->windowHandle(), Qt::LeftButton, {}, QPoint(50, 500));
}

void TestVisualViewDialog::backspaceClearsStrokes()
{
    press(Qt::Key_H); // plain white
    drawLine(QPoint(100, 300), QPoint(300, 300));
    QCOMPARE(pixelOf(view, QPoint(200, 300)), QRgb(0xff0000));
    press(Qt::Key_Backspace);
    QVERIFY(view->finishedStrokes.empty());
    QCOMPARE(pixelOf(view, QPoint(200, 300)), QRgb(0xffffff));
    QCOMPARE(view->backgroundMode, int(BackgroundMode::None));
}

void TestVisualViewDialog::returnTogglesFullScreen()
{
    press(Qt::Key_Return);
    QVERIFY(!(dialog->windowState() & Qt::WindowFullScreen));
    QVERIFY(dialog->isVisible());
    // Two thirds of the 800 x 600 screen, centred, the view and its
    // patterns filling it.
    QCOMPARE(dialog->screen()->geometry(), QRect(0, 0, 800, 600));
    QTRY_COMPARE(dialog->geometry(), QRect(133, 100, 533, 400));
    QCOMPARE(view->geometry(), dialog->rect());
    press(Qt::Key_B);
    const QImage black = view->grab().toImage();
    QCOMPARE(black.size(), QSize(533, 400));
    QCOMPARE(black.pixel(0, 0) & 0xffffff, QRgb(0));
    QCOMPARE(black.pixel(532, 399) & 0xffffff, QRgb(0));
    press(Qt::Key_Return);
    QVERIFY(dialog->windowState() & Qt::WindowFullScreen);
    press(Qt::Key_Return);
    QVERIFY(!(dialog->windowState() & Qt::WindowFullScreen));
    QVERIFY(dialog->isVisible());
}

void TestVisualViewDialog::unlistedKeysDoNothing()
{
    QSignalSpy finished(dialog, &QDialog::finished);
    press(Qt::Key_3);
    for (int key : {int(Qt::Key_Enter), int(Qt::Key_F1), int(Qt::Key_A), int(Qt::Key_X),
                    int(Qt::Key_Up), int(Qt::Key_Delete)}) {
        press(key);
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->windowState() & Qt::WindowFullScreen);
        QCOMPARE(view->backgroundMode, int(BackgroundMode::Help));
        QCOMPARE(view->strokeWidth, 3.0f);
        QVERIFY(view->showInfoTags);
    }
    QCOMPARE(finished.count(), 0);
}

void TestVisualViewDialog::escapeCloses_data()
{
    QTest::addColumn<bool>("normal");
    QTest::newRow("full screen") << false;
    QTest::newRow("normal") << true;
}

void TestVisualViewDialog::escapeCloses()
{
    QFETCH(bool, normal);
    if (normal)
        press(Qt::Key_Return);
    QSignalSpy finished(dialog, &QDialog::finished);
    press(Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Rejected));
}

void TestVisualViewDialog::execReturnsZeroAfterEscape()
{
    QTimer::singleShot(0, this, [this] { press(Qt::Key_Escape); });
    QCOMPARE(dialog->exec(), 0);
}

void TestVisualViewDialog::tickRepaintsOnlyTheDirtyRegion()
{
    auto* timer = dialog->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
    QSignalSpy ticks(timer, &QTimer::timeout);
    QTRY_VERIFY(ticks.count() >= 2); // whatever start-up left is painted by now
    QCoreApplication::processEvents();

    PaintRecorder recorder(view);
    const QRect dirty(100, 120, 10, 10);
    view->addDirty(dirty);
    QTRY_VERIFY(recorder.paints > 0);
    QCOMPARE(recorder.painted, QRegion(dirty));
    QVERIFY(view->takeDirty().isEmpty());

    // Ticks with nothing changed request nothing.
    recorder.painted = QRegion();
    recorder.paints = 0;
    ticks.clear();
    QTRY_VERIFY(ticks.count() >= 3);
    QCoreApplication::processEvents();
    QCOMPARE(recorder.paints, 0);
}

void TestVisualViewDialog::tickRefreshesItems()
{
    QWindow* window = dialog->windowHandle();
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(400, 300));
    QCOMPARE(view->items.size(), size_t(1));
    const std::shared_ptr<Item> marker = view->items.front();
    QTRY_COMPARE(marker->dirty, 0);
    PaintRecorder recorder(view);
    // The move marks the marker dirty, but the events that QTest processes
    // with it may hold a tick already: only the tick's outcome is certain.
    QTest::mouseMove(window, QPoint(460, 330));
    // A tick refreshes the moved marker and repaints where it went.
    QTRY_COMPARE(marker->dirty, 0);
    QTRY_VERIFY(recorder.painted.contains(QPoint(460, 330)));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(460, 330));
    QVERIFY(view->items.empty());
}

void TestVisualViewDialog::mouseDrawsRedStroke()
{
    press(Qt::Key_G);
    drawLine(QPoint(100, 203), QPoint(500, 203));
    const QImage shown = view->grab().toImage();
    for (int x = 110; x < 500; x += 37)
        QCOMPARE(shown.pixel(x, 203) & 0xffffff, QRgb(0xff0000));
    // Off the stroke the grid is still there: a line at x = 128, a blank cell.
    QVERIFY(qGray(shown.pixel(128, 150)) < 160 || qGray(shown.pixel(127, 150)) < 160 ||
            qGray(shown.pixel(128, 151)) < 160 || qGray(shown.pixel(127, 151)) < 160 ||
            qGray(shown.pixel(128, 152)) < 160 || qGray(shown.pixel(127, 152)) < 160);
    QCOMPARE(shown.pixel(144, 144) & 0xffffff, QRgb(0xffffff));
    QCOMPARE(shown.pixel(300, 230) & 0xffffff, QRgb(0xffffff));
}

QTEST_MAIN(TestVisualViewDialog)
#include "tst_visualviewdialog.moc"
