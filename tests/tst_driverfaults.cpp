// The program when the driver is missing, when it lacks entry points, and
// when it keeps delivering while the objects attached to it go away. Each
// case needs its own driver library on the library path: CTest runs each one
// alone with it, and in any other setting a case skips.

#include "driverplatform.h"
#include "norvahardware.h"
#include "quorvel.h"
#include "simulatedboard.h"
#include "stdoutcapture.h"
#include "strokesview.h"
#include "testpatterns.h"
#include "visualviewdialog.h"

#include <QFile>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTouchDevice>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

enum class Driver
{
    None,
    // Only the entry points that enumeration needs (tests/drivers/enumerationonly).
    EnumerationOnly,
    Complete
};

Driver driverOnLibraryPath()
{
    const DriverPlatform::ModuleHandle module = DriverPlatform::loadDriver();
    if (module == nullptr)
        return Driver::None;
    const bool complete = DriverPlatform::resolve(module, "norvaSetPnpCallback") != nullptr;
    DriverPlatform::freeDriver(module);
    return complete ? Driver::Complete : Driver::EnumerationOnly;
}

// A pen, two touches and an eraser, each a thousand reports a second, every
// report moving on from the last, until the library is detached.
const QByteArray Flood = "board 1 hid<FLOOD> xp<4> xt<20>\n"
                         "wait callback 1\n"
                         "repeat\n"
                         "  repeat 100\n"
                         "    pen 0 1000..31000 8000 tip\n"
                         "    touch 1 down 31000..1000 16000 200; 2 down 1000..31000 20000 200\n"
                         "    eraser 3 down 16000 1000..31000 500 500\n"
                         "    wait 1\n"
                         "  end\n"
                         "  pen 0 31000 8000\n"
                         "  touch 1 up 1000 16000 200; 2 up 31000 20000 200\n"
                         "  eraser 3 up 16000 31000 500 500\n"
                         "end\n";

} // namespace

class TestDriverFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void withoutDriver();
    void driverMissingEntryPoints();
    void noticeUntilBoardComes();
    void destroyedWhilePacketsArrive();

private:
    // The notice in its frame, white inside, over every background.
    void checkNoticeShown();
    // Shows the dialog over the whole screen, active, on a plain background.
    void showDialog();
    // Draws a mouse stroke at y = 100 and a finger stroke at y = 200.
    void drawWithMouseAndFinger();
    QColor pixel(int x, int y) const;

    Driver driver = Driver::None;
    QTouchDevice* touchScreen = nullptr;
    std::unique_ptr<VisualViewDialog> dialog;
    StrokesView* view = nullptr;
};

void TestDriverFaults::initTestCase()
{
    driver = driverOnLibraryPath();
    touchScreen = QTest::createTouchDevice();
}

void TestDriverFaults::cleanup()
{
    dialog.reset();
    view = nullptr;
}

void TestDriverFaults::showDialog()
{
    dialog = std::make_unique<VisualViewDialog>();
    dialog->setGeometry(dialog->screen()->geometry());
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    view = dialog->findChild<StrokesView*>();
    QVERIFY(view);
    QTest::keyClick(dialog.get(), Qt::Key_H);
    QCOMPARE(view->backgroundMode, int(BackgroundMode::None));
}

QColor TestDriverFaults::pixel(int x, int y) const
{
    return view->grab().toImage().pixelColor(x, y);
}

void TestDriverFaults::checkNoticeShown()
{
    const QRect box = TestPatterns::noticeBox(dialog->notice(), view->size());
    QVERIFY(!box.isEmpty());
    for (const BackgroundMode mode :
         {BackgroundMode::None, BackgroundMode::Grid, BackgroundMode::ColourField,
          BackgroundMode::ShapeField, BackgroundMode::AllBlack, BackgroundMode::VerticalBars,
          BackgroundMode::HorizontalBars, BackgroundMode::Help}) {
        view->toggleBackgroundMode(mode);
        const QImage shown = view->grab().toImage();
        QCOMPARE(shown.pixelColor(box.left(), box.center().y()), QColor(Qt::black));
        QCOMPARE(shown.pixelColor(box.left() + 4, box.top() + 4), QColor(Qt::white));
        if (mode != BackgroundMode::None)
            view->toggleBackgroundMode(mode);
    }
}

void TestDriverFaults::drawWithMouseAndFinger()
{
    QWindow* window = dialog->windowHandle();
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::touchEvent(window, touchScreen).press(0, QPoint(100, 200), window);
    for (int x = 120; x <= 300; x += 20) {
        QTest::mouseMove(window, QPoint(x, 100));
        QTest::touchEvent(window, touchScreen).move(0, QPoint(x, 200), window);
    }
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(300, 100));
    QTest::touchEvent(window, touchScreen).release(0, QPoint(300, 200), window);

    QTRY_COMPARE(pixel(200, 100), QColor(Qt::red));
    QTRY_COMPARE(pixel(200, 200), QColor(Qt::green));
    QCOMPARE(pixel(200, 150), QColor(Qt::white));
    QVERIFY(view->markers.empty());
}

void TestDriverFaults::withoutDriver()
{
    if (driver != Driver::None)
        QSKIP("a driver library is on the library path; run alone without one");
    StdoutCapture output;
    StreamCapture errors(std::cerr);
    showDialog();
    if (QTest::currentTestFailed())
        return;
    drawWithMouseAndFinger();
    // No board was found, so none is reported; why and what to do, on
    // screen and on standard error, which names the file tried.
    QCOMPARE(output.text(), QString());
    QVERIFY2(errors.text().startsWith("no board driver: libnorvaboardex.so cannot be loaded: "
                                      "libnorvaboardex.so: "),
             qPrintable(errors.text()));
    const QString advice = "nstall the vendor's driver where the system finds libraries, or "
                           "start visualview-demo to try the simulated board";
    QVERIFY2(errors.text().endsWith("\nno board: i" + advice + "\n"), qPrintable(errors.text()));
    QCOMPARE(dialog->notice(), QStringList({"No board driver: libnorvaboardex.so was not found.",
                                            "I" + advice + "."}));
    checkNoticeShown();
}

void TestDriverFaults::driverMissingEntryPoints()
{
    if (driver != Driver::EnumerationOnly)
        QSKIP("run alone with tests/drivers/enumerationonly on the library path");
    // Loaded here too, so that its call record outlives the dialog's use.
    const DriverPlatform::ModuleHandle module = DriverPlatform::loadDriver();
    QVERIFY(module);
    using Log = const char*(NORVA_API*)();
    const auto log = reinterpret_cast<Log>(DriverPlatform::resolve(module, "testDriverLog"));
    QVERIFY(log);

    StdoutCapture output;
    StreamCapture errors(std::cerr);
    showDialog();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(output.text(), QStringLiteral("Found device that supports up to 4 pens & 20 touches.\n"
                                           "Enumerated 1 devices.\n"));
    // As the board events tool says it, and the dialog runs on.
    QVERIFY2(errors.text().contains(
                 QRegularExpression("^the board driver .*/libnorvaboardex.so lacks 43 of the "
                                    "entry points that it must have: norvaDetach, .*\n$")),
             qPrintable(errors.text()));
    // It reports a board, which is all the notice is about.
    QCOMPARE(dialog->notice(), QStringList());
    drawWithMouseAndFinger();
    // Configuring at start and at shutdown reaches only missing entry points,
    // like registering for plug-and-play and clearing the callbacks.
    dialog.reset();
    const QStringList calls = QString::fromLatin1(log()).split('\n', Qt::SkipEmptyParts);
    DriverPlatform::freeDriver(module);
    QCOMPARE(calls.size(), 5);
    QCOMPARE(calls.at(0), QStringLiteral("norvaAttach() = 1"));
    QCOMPARE(calls.at(1), QStringLiteral("norvaAttach() = 1"));
    QCOMPARE(calls.at(2), QStringLiteral("norvaGetDeviceCount() = 1"));
    QVERIFY(calls.at(3).startsWith("norvaEnumDeviceInfo(0, 0x"));
    QVERIFY(calls.at(3).endsWith(") = 1"));
    QVERIFY(calls.at(4).startsWith("norvaSetCallback(1001, 0x"));
}

void TestDriverFaults::noticeUntilBoardComes()
{
    if (driver != Driver::Complete)
        QSKIP("run alone with the simulated board on the library path");
    QTemporaryDir dir;
    const QString plug = dir.filePath("plug");
    SimulatedBoard board("board 1 unplugged hid<LATE>\nwait file " + QFile::encodeName(plug) +
                         "\nplug 1\n");
    StreamCapture errors(std::cerr);
    showDialog();
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(errors.text().contains(QRegularExpression(
                 "^no board: the board driver .*/libnorvaboardex.so reports none; connect the "
                 "board: it shows as soon as the driver reports it; or start visualview-demo to "
                 "try the simulated board\n$")),
             qPrintable(errors.text()));
    QCOMPARE(dialog->notice().value(0), QStringLiteral("No board: the board driver reports none."));
    checkNoticeShown();
    if (QTest::currentTestFailed())
        return;

    // Gone from every background once the board comes.
    const QRect box = TestPatterns::noticeBox(dialog->notice(), view->size());
    view->toggleBackgroundMode(BackgroundMode::AllBlack);
    QVERIFY(QFile(plug).open(QIODevice::WriteOnly));
    QTRY_COMPARE(dialog->notice(), QStringList());
    QCOMPARE(view->grab().toImage().pixelColor(box.left() + 4, box.top() + 4), QColor(Qt::black));
}

void TestDriverFaults::destroyedWhilePacketsArrive()
{
    if (driver != Driver::Complete)
        QSKIP("run alone with the simulated board on the library path");
    SimulatedBoard board(Flood);
    StdoutCapture output;

    // The dialog goes while its adapter's queue is full of packets and the
    // driver's thread is delivering more; each new one attaches afresh.
    for (int round = 0; round < 5; ++round) {
        showDialog();
        if (QTest::currentTestFailed())
            return;
        auto* adapter = dialog->findChild<Quorvel*>();
        QVERIFY(adapter);
        int records = 0;
        connect(adapter, &Quorvel::out_quorvel_touch_event, this,
                [&records](const std::vector<Quorvel::Controls>& event) {
                    records += int(event.size());
                });
        QTRY_VERIFY(records >= 50);
        dialog.reset();
    }

    // The hardware object goes while the driver's thread is inside one of its
    // callbacks: the destructor waits for that one and turns later ones away.
    for (int round = 0; round < 5; ++round) {
        auto hardware = std::make_unique<NorvaHardware>();
        QObject receiver;
        std::atomic<bool> armed{false};
        std::atomic<bool> finished{false};
        std::promise<void> entered;
        connect(
            hardware.get(), &NorvaHardware::penEvent, &receiver,
            [&] {
                if (!armed.exchange(false))
                    return;
                entered.set_value();
                // Long enough for the destructor to start meanwhile.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                finished = true;
            },
            Qt::DirectConnection);
        QVERIFY(hardware->attachDriver());
        armed = true;
        QCOMPARE(entered.get_future().wait_for(std::chrono::seconds(10)),
                 std::future_status::ready);
        hardware.reset();
        QVERIFY(finished);
    }
}

QTEST_MAIN(TestDriverFaults)
#include "tst_driverfaults.moc"
