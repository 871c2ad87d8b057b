// The keys that start, skip and leave the board check in the visualiser, and
// those that act otherwise while it shows, on a board of the simulated board
// whose pen only hovers: no step sees a contact, and every check ends by the
// tester's keys alone, while the driver's thread feeds and records it.

#include "checkoverlay.h"
#include "measurementoverlay.h"
#include "simulatedboard.h"
#include "stdoutcapture.h"
#include "strokesview.h"
#include "visualviewdialog.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

namespace {

using Mode = CheckOverlay::Mode;

const QMap<QString, Qt::Key> Keys = {{"K", Qt::Key_K},
                                     {"N", Qt::Key_N},
                                     {"M", Qt::Key_M},
                                     {"T", Qt::Key_T},
                                     {"Return", Qt::Key_Return},
                                     {"Escape", Qt::Key_Escape},
                                     {"Backspace", Qt::Key_Backspace}};

// Every step skipped: each one's verdict, then the board's.
const QString AllSkipped = "skipped,skipped,skipped,skipped,skipped,skipped,skipped incomplete";

QString verdicts(const QString& folder)
{
    QFile file(QDir(folder).filePath("check.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject check = QJsonDocument::fromJson(file.readAll())["check"].toObject();
    QStringList steps;
    for (const QJsonValue& step : check["steps"].toArray())
        steps << step["verdict"].toString();
    return steps.join(',') + ' ' + check["verdict"].toString();
}

} // namespace

Q_DECLARE_METATYPE(CheckOverlay::Mode)

class TestCheckKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keys_data();
    void keys();

private:
    QTemporaryDir temporary;
};

void TestCheckKeys::initTestCase()
{
    // The captures of checks under way go here, and must not stay.
    qputenv("TMPDIR", QFile::encodeName(temporary.path()));
}

void TestCheckKeys::keys_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("fullScreen");
    QTest::addColumn<Mode>("mode");
    // The step under way, -1 for none.
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("panel");

    const QString skipAll = "K N N N N N N N";
    QTest::newRow("N skips each step to the end: saved, the report stays")
        << skipAll << true << true << Mode::Report << -1 << false;
    QTest::newRow("K closes the report")
        << skipAll + " K" << true << true << Mode::Hidden << -1 << false;
    QTest::newRow("Return closes the report, then leaves full screen")
        << skipAll + " Return" << true << false << Mode::Hidden << -1 << false;
    QTest::newRow("K leaves the check: nothing saved")
        << "K N K" << false << true << Mode::Hidden << -1 << false;
    QTest::newRow("Return leaves the check, then full screen")
        << "K N Return" << false << false << Mode::Hidden << -1 << false;
    QTest::newRow("Escape discards the check and ends")
        << "K N Escape" << false << true << Mode::Hidden << -1 << false;
    QTest::newRow("in a window K only says why it does not start")
        << "Return K" << false << false << Mode::Notice << -1 << false;
    QTest::newRow("N without a check does nothing")
        << "N" << false << true << Mode::Hidden << -1 << false;
    QTest::newRow("a check left, another one skipped to its end")
        << "K N K " + skipAll << true << true << Mode::Report << -1 << false;
    QTest::newRow("M, T and Backspace leave the check as it was, the panel hidden")
        << "M K N M T Backspace" << false << true << Mode::Steps << 1 << false;
    QTest::newRow("the panel comes back when the check is left")
        << "M K N K" << false << true << Mode::Hidden << -1 << true;
}

void TestCheckKeys::keys()
{
    QFETCH(QString, keys);
    QFETCH(bool, saved);
    QFETCH(bool, fullScreen);
    QFETCH(Mode, mode);
    QFETCH(int, step);
    QFETCH(bool, panel);

    QTemporaryDir checks;
    qputenv("VISUALVIEW_CHECK_DIR", QFile::encodeName(checks.path()));
    SimulatedBoard board("board 1 hid<KEYS> xp<1> xt<10> mm<1000,500>\nwait callback 1\n"
                         "repeat\n  pen 0 16384 16384\n  wait 10\nend\n");
    StdoutCapture out;
    auto dialog = std::make_unique<VisualViewDialog>();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    auto* view = dialog->findChild<CheckOverlay*>();
    auto* checker = dialog->findChild<BoardChecker*>();
    auto* measurements = dialog->findChild<MeasurementOverlay*>();
    QVERIFY(view && checker && measurements);

    for (const QString& key : keys.split(' '))
        QTest::keyClick(dialog->windowHandle(), Keys[key]);

    // A check that ended is taken and saved at the next frame.
    QTRY_COMPARE(int(view->mode()), int(mode));
    QCOMPARE(bool(dialog->windowState() & Qt::WindowFullScreen), fullScreen);
    QCOMPARE(dialog->isVisible(), !keys.endsWith("Escape"));
    QCOMPARE(measurements->panelShown(), panel);
    const BoardChecker::Reading reading = checker->read();
    QCOMPARE(reading.running ? int(reading.step) : -1, step);

    const QStringList folders = QDir(checks.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(folders.size(), saved ? 1 : 0);
    if (saved) {
        const QString folder = QDir(checks.path()).filePath(folders.first());
        QVERIFY(out.text().split('\n').contains("board check saved: " + folder));
        QCOMPARE(verdicts(folder), AllSkipped);
        QFile capture(QDir(folder).filePath("capture.scn"));
        QVERIFY(capture.open(QIODevice::ReadOnly));
        QVERIFY(capture.readAll().contains(
            "\nboard 1 hid<KEYS> xp<1> xt<10> mm<1000,500> # device 1001\nwait callback 1\n"));
        QVERIFY(QFile::exists(QDir(folder).filePath("report.png")));
    }
    // Nothing of a check left, or of one under way when the program ends.
    dialog.reset();
    QCOMPARE(QDir(temporary.path()).entryList({"visualview-check-*"}), QStringList());
}

QTEST_MAIN(TestCheckKeys)
#include "tst_checkkeys.moc"
