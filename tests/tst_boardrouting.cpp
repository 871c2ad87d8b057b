// Board input end to end: the simulated board's packets travel through the
// hardware object, the adapter and the dialog's routing into the strokes
// view; what the dialog does not claim goes back to the driver.

#include "boardmeter.h"
#include "boardpackets.h"
#include "contactrecord.h"
#include "simulatedboard.h"
#include "strokesview.h"
#include "visualviewdialog.h"

#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include <iostream>
#include <memory>
#include <sstream>

namespace {

constexpr int Device = 1001;

QByteArray scenarioWaitingFor(const QString& ready, const QByteArray& body)
{
    return "board 1 hid<NORVA-SIM-1> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>\n"
           "wait callback 1\n"
           "wait file " +
           QFile::encodeName(ready) + "\n" + body;
}

QString handedOn(const QByteArray& packet)
{
    return QStringLiteral("norvaSendTouchPacketToSystem(%1, %2, %3)")
        .arg(Device)
        .arg(packet.size())
        .arg(QString::fromLatin1(packet.toHex()));
}

QString penHandedOn(quint8 pen, qint32 x, qint32 y, bool tip)
{
    NorvaHardware::PenEvent ev;
    ev.pen = pen;
    ev.x = x;
    ev.y = y;
    ev.tip = tip;
    return handedOn(BoardPackets::singleContactPacket(ev));
}

QString touchHandedOn(quint8 id, qint32 x, qint32 y, bool down)
{
    NorvaHardware::TouchContact c;
    c.id = id;
    c.x = x;
    c.y = y;
    c.down = down;
    return handedOn(BoardPackets::touchPackets({c}).front());
}

QStringList handedOnCalls(const SimulatedBoard& board)
{
    return board.calls().filter(QRegularExpression("^norvaSendTouchPacketToSystem"));
}

// The progress lines go to standard output; keep the test's own output clean.
class QuietStdout
{
public:
    QuietStdout() : previous(std::cout.rdbuf(sink.rdbuf())) {}
    ~QuietStdout() { std::cout.rdbuf(previous); }

private:
    std::ostringstream sink;
    std::streambuf* previous;
};

} // namespace

class TestBoardRouting : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void strokesLandWhereTheBoardPoints();
    void inactiveDialogHandsInputBack();
    void contactsOutsideTheWindowGoBack();
    void boardUnpluggedInTheMiddleOfAStroke();
    void tapsMeasuredAgainstTheTargets();

private:
    // Starts the dialog on a scenario whose input begins once the dialog is
    // the active window with a plain background and no info tags.
    void start(const QByteArray& body);
    void release();
    QColor pixel(int x, int y) const;

    QTemporaryDir dir;
    std::unique_ptr<SimulatedBoard> board;
    std::unique_ptr<VisualViewDialog> dialog;
    StrokesView* view = nullptr;
    QuietStdout quiet;
};

void TestBoardRouting::init()
{
    dialog.reset();
    board.reset();
}

void TestBoardRouting::start(const QByteArray& body)
{
    QFile::remove(dir.filePath("ready"));
    board = std::make_unique<SimulatedBoard>(scenarioWaitingFor(dir.filePath("ready"), body));
    dialog = std::make_unique<VisualViewDialog>();
    // The offscreen platform sizes a full-screen window to the screen but
    // leaves it where the dialog was first placed.
    dialog->setGeometry(dialog->screen()->geometry());
    QTRY_COMPARE(dialog->geometry(), dialog->screen()->geometry());
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    view = dialog->findChild<StrokesView*>();
    QVERIFY(view);
    view->showInfoTags = false;
    QTest::keyClick(dialog.get(), Qt::Key_H);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::None));
}

void TestBoardRouting::release()
{
    QFile ready(dir.filePath("ready"));
    QVERIFY(ready.open(QIODevice::WriteOnly));
}

QColor TestBoardRouting::pixel(int x, int y) const
{
    return view->grab().toImage().pixelColor(x, y);
}

void TestBoardRouting::strokesLandWhereTheBoardPoints()
{
    // The pen draws along a quarter of the screen's height, a finger along
    // the half, then the eraser wipes down across the pen's line only.
    start("repeat 20\n"
          "  pen 0 8192..24576 8192 tip\n"
          "  wait 1\n"
          "end\n"
          "pen 0 24576 8192\n"
          "repeat 20\n"
          "  touch 1 down 8192..24576 16384 0\n"
          "  wait 1\n"
          "end\n"
          "touch 1 up 24576 16384 0\n"
          "repeat 20\n"
          "  eraser 1 down 16384 4096..12288 800 800\n"
          "  wait 1\n"
          "end\n"
          "eraser 1 up 16384 12288 800 800\n"
          "touch 9 down 28672 28672 0\n"
          "touch 9 up 28672 28672 0\n");
    if (QTest::currentTestFailed())
        return;
    const QRect screen = dialog->screen()->geometry();
    const int w = screen.width();
    const int h = screen.height();
    release();

    // The eraser's radius is 800 / 32768 of the screen: it clears the middle
    // of the red line and leaves the rest.
    // A last touch marks the end of the scenario.
    QTRY_COMPARE(pixel(w * 7 / 8, h * 7 / 8), QColor(Qt::green));
    QCOMPARE(pixel(w / 2, h / 4), QColor(Qt::white));
    QCOMPARE(pixel(w * 3 / 8, h / 4), QColor(Qt::red));
    QCOMPARE(pixel(w * 5 / 8, h / 4), QColor(Qt::red));
    QCOMPARE(pixel(w / 2, h / 2), QColor(Qt::green));
    QCOMPARE(pixel(w * 3 / 8, h / 2), QColor(Qt::green));
    QCOMPARE(pixel(w / 2, h * 3 / 8), QColor(Qt::white));
    QVERIFY(handedOnCalls(*board).isEmpty());
}

void TestBoardRouting::inactiveDialogHandsInputBack()
{
    start("pen 1 1000 1000 tip\n"
          "pen 1 2000 1000 tip\n"
          "pen 1 2000 1000 tip\n"
          "pen 1 3000 1000\n"
          "pen 1 4000 1000\n"
          "eraser 2 down 5000 5000 100 100\n"
          "eraser 2 up 5000 5000 100 100\n"
          "touch 3 down 6000 6000 100\n"
          "touch 3 up 6000 6000 100\n");
    if (QTest::currentTestFailed())
        return;
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    release();

    // The repeated record causes nothing; the pen goes back until its lift
    // and, offered again, goes back once more. Erasers never go back.
    const QStringList expected{
        penHandedOn(1, 1000, 1000, true),   penHandedOn(1, 2000, 1000, true),
        penHandedOn(1, 3000, 1000, false),  penHandedOn(1, 4000, 1000, false),
        touchHandedOn(3, 6000, 6000, true), touchHandedOn(3, 6000, 6000, false)};
    QTRY_COMPARE(handedOnCalls(*board), expected);
    const QImage strokes = view->grab().toImage();
    const QSize size = view->size();
    for (const QPoint& p : {QPoint(1000 * size.width() / 32768, 1000 * size.height() / 32768),
                            QPoint(6000 * size.width() / 32768, 6000 * size.height() / 32768)})
        QCOMPARE(strokes.pixelColor(p), QColor(Qt::white));
}

void TestBoardRouting::contactsOutsideTheWindowGoBack()
{
    // Pen 2 touches down outside the window and goes back; pen 3 touches down
    // inside, is dragged out and stays the visualiser's until it lifts.
    start("pen 2 24576 24576 tip\n"
          "pen 2 25000 24576 tip\n"
          "pen 2 25000 24576\n"
          "pen 3 4096 4096 tip\n"
          "pen 3 24576 4096 tip\n"
          "pen 3 24576 4096\n"
          "touch 4 down 4096 8192 0\n"
          "touch 4 down 24576 8192 0\n"
          "touch 4 up 24576 8192 0\n");
    if (QTest::currentTestFailed())
        return;
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    const QRect screen = dialog->screen()->geometry();
    dialog->setGeometry(QRect(screen.topLeft(), screen.size() / 2));
    QTRY_COMPARE(dialog->geometry().size(), screen.size() / 2);
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    release();

    const QStringList expected{penHandedOn(2, 24576, 24576, true),
                               penHandedOn(2, 25000, 24576, true),
                               penHandedOn(2, 25000, 24576, false)};
    QTRY_COMPARE(handedOnCalls(*board), expected);
    // The pen dragged out of the window drew up to the window's edge.
    const int y = screen.height() / 8;
    QTRY_COMPARE(pixel(view->width() - 2, y), QColor(Qt::red));
    // The finger's packets come after the pen's: its stroke may be a frame later.
    QTRY_COMPARE(pixel(view->width() - 2, screen.height() / 4), QColor(Qt::green));
}

void TestBoardRouting::boardUnpluggedInTheMiddleOfAStroke()
{
    // A pen and a finger are down and moving when the only board goes; it
    // comes back and the pen draws elsewhere.
    const QString replug = dir.filePath("replug");
    QFile::remove(replug);
    start("repeat 20\n"
          "  pen 0 4096..12288 4096 tip\n"
          "  touch 1 down 4096..12288 8192 0\n"
          "  wait 1\n"
          "end\n"
          "unplug 1\n"
          "wait file " +
          QFile::encodeName(replug) +
          "\n"
          "plug 1\n"
          "wait callback 1\n"
          "repeat 20\n"
          "  pen 0 16384..28672 24576 tip\n"
          "  wait 1\n"
          "end\n"
          "pen 0 28672 24576\n");
    if (QTest::currentTestFailed())
        return;
    view->showInfoTags = true;
    const QRect screen = dialog->screen()->geometry();
    const int w = screen.width();
    const int h = screen.height();
    release();

    // Both contacts ended with their board: strokes finished, markers gone.
    QTRY_VERIFY(view->finishedStrokes.size() == 2 && view->markers.empty());
    QVERIFY(view->items.empty());
    QCOMPARE(view->contactStrokes[boardKey(~0)].state, 0);
    QCOMPARE(view->contactStrokes[boardKey(Quorvel::TouchIdBase + 1)].state, 0);
    QCOMPARE(pixel(w / 4, h / 8), QColor(Qt::red));
    QCOMPARE(pixel(w / 4, h / 4), QColor(Qt::green));

    QFile file(replug);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QTRY_COMPARE(view->finishedStrokes.size(), std::size_t(3));
    QVERIFY(view->markers.empty());
    QCOMPARE(pixel(w * 3 / 4, h * 3 / 4), QColor(Qt::red));
    // A new stroke: nothing joins the pen's last point before the unplug to
    // its first one after.
    QCOMPARE(pixel(w * 7 / 16, h * 7 / 16), QColor(Qt::white));
    QVERIFY(handedOnCalls(*board).isEmpty());
}

void TestBoardRouting::tapsMeasuredAgainstTheTargets()
{
    // A board of 0.25 mm a pixel. One tap lands on the board unit that the
    // routing puts on the bottom-right target's pixel, another 3 mm right of
    // the top-left target.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const double mmPerPixel = 0.25;
    qputenv("VISUALVIEW_SIZE_MM", QStringLiteral("%1x%2")
                                      .arg(screen.width() * mmPerPixel)
                                      .arg(screen.height() * mmPerPixel)
                                      .toLatin1());
    // The first board unit of a pixel, as the routing truncates.
    const auto board = [&](int pixel, int side) { return (pixel * 32768 + side - 1) / side; };
    const QPoint onTarget(screen.width() * 9 / 10, screen.height() * 9 / 10);
    const QPoint corner(screen.width() / 10, screen.height() / 10);
    const QByteArray onTargetTap = QByteArray::number(board(onTarget.x(), screen.width())) + " " +
                                   QByteArray::number(board(onTarget.y(), screen.height())) +
                                   " 0\n";
    const QByteArray cornerTap = QByteArray::number(board(corner.x() + 12, screen.width())) + " " +
                                 QByteArray::number(board(corner.y(), screen.height())) + " 0\n";
    start("touch 5 down " + onTargetTap + "wait 50\ntouch 5 up " + onTargetTap + "touch 6 down " +
          cornerTap + "wait 50\ntouch 6 up " + cornerTap);
    qunsetenv("VISUALVIEW_SIZE_MM");
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(view->size(), screen.size());
    BoardMeter* meter = dialog->findChild<Quorvel*>()->meter();
    QTest::keyClick(dialog.get(), Qt::Key_T);
    QTest::keyClick(dialog.get(), Qt::Key_B);
    QTest::keyClick(dialog.get(), Qt::Key_M);
    release();

    QTRY_COMPARE(meter->read().taps.size(), std::size_t(2));
    const BoardMeter::Reading reading = meter->read();
    QCOMPARE(reading.sizeSource, BoardMeter::SizeSource::User);
    // Within half a pixel of the target: the pixel's middle.
    QVERIFY2(reading.taps[0].offset <= mmPerPixel * 0.71,
             qPrintable(QString::number(reading.taps[0].offset)));
    QCOMPARE(reading.taps[0].target, std::size_t(8));
    QVERIFY(std::abs(reading.taps[1].offset - 12 * mmPerPixel) <= mmPerPixel);
    QCOMPARE(reading.taps[1].target, std::size_t(0));

    // Over the black background: the line from the top-left target to the
    // tap in the one colour of what is measured, neither green nor red, the
    // bottom-left crosshair white inside black, the panel a white box beside
    // the faintly tinted black.
    QTRY_COMPARE(pixel(corner.x() + 6, corner.y()), QColor(0, 90, 200));
    QCOMPARE(pixel(corner.x(), onTarget.y() - 10), QColor(Qt::white));
    QCOMPARE(pixel(corner.x() - 2, onTarget.y() - 10), QColor(Qt::black));
    const int panelY = screen.height() / 10 + 60;
    QCOMPARE(pixel(screen.width() - 30, panelY), QColor(Qt::white));
    QVERIFY(qGray(pixel(screen.width() - 5, panelY).rgb()) < 64);

    // Backspace forgets the taps: the crosshair's arm shows again.
    QTest::keyClick(dialog.get(), Qt::Key_Backspace);
    QVERIFY(meter->read().taps.empty());
    QTRY_COMPARE(pixel(corner.x() + 6, corner.y()), QColor(Qt::white));
    QCOMPARE(pixel(corner.x() + 6, corner.y() - 2), QColor(Qt::black));
}

QTEST_MAIN(TestBoardRouting)
#include "tst_boardrouting.moc"
