#include "positionfilter.h"
#include "quorvel.h"

#include <QtTest>

#include <vector>

using Controls = Quorvel::Controls;

namespace {

NorvaHardware::PenEvent pen(quint8 index, qint32 x, qint32 y, bool tip, bool button)
{
    NorvaHardware::PenEvent ev;
    ev.pen = index;
    ev.x = x;
    ev.y = y;
    ev.tip = tip;
    ev.button = button;
    ev.statusBit2 = true; // never reaches a record
    return ev;
}

Controls record(qint32 id, qint32 buttons, double x, double y)
{
    Controls c;
    c.id = id;
    c.buttons = buttons;
    c.pos = c.viewPos = QPointF(x, y);
    return c;
}

} // namespace

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void defaultRecordIsNoContact();
    void identifiersDoNotCollide();
    void buttonsFromPenFlags();
    void scalingIsExactInSinglePrecision();
    void radiiFromTouchAndEraser();
    void equality();
    void vectorEquality();
    void followWithoutDeadZone();
    void followWithDeadZoneInSinglePrecision();
    void followTakesReportedPointWhenNotTracking();
    void builderRunsFilterWithItsDownState();
    void globalPointOnScreen();
};

void TestControls::defaultRecordIsNoContact()
{
    const Controls c;
    QCOMPARE(c.id, -9999);
    QCOMPARE(c.flags, 0);
    QCOMPARE(c.buttons, 0);
    QCOMPARE(c.radiusX, 0.0);
    QCOMPARE(c.pos, QPointF(0, 0));
}

void TestControls::identifiersDoNotCollide()
{
    PositionFilter f;
    QCOMPARE(Quorvel::penControls(pen(0, 0, 0, false, false), f).id, -1);
    QCOMPARE(Quorvel::penControls(pen(15, 0, 0, false, false), f).id, -16);
    NorvaHardware::TouchContact t;
    t.id = 0;
    QCOMPARE(Quorvel::touchControls(t, f).id, 256);
    t.id = 127;
    QCOMPARE(Quorvel::touchControls(t, f).id, 383);
    NorvaHardware::EraseContact e;
    e.id = 0;
    QCOMPARE(Quorvel::eraseControls(e, f).id, 512);
    e.id = 127;
    QCOMPARE(Quorvel::eraseControls(e, f).id, 639);
}

void TestControls::buttonsFromPenFlags()
{
    PositionFilter f;
    QCOMPARE(Quorvel::penControls(pen(0, 0, 0, true, true), f).buttons, 3);
    QCOMPARE(Quorvel::penControls(pen(0, 0, 0, false, true), f).buttons, 2);
    QCOMPARE(Quorvel::penControls(pen(0, 0, 0, true, false), f).buttons, 1);
    QCOMPARE(Quorvel::penControls(pen(0, 0, 0, false, false), f).buttons, 0);
    NorvaHardware::TouchContact t;
    t.down = true;
    QCOMPARE(Quorvel::touchControls(t, f).buttons, 1);
    t.down = false;
    QCOMPARE(Quorvel::touchControls(t, f).buttons, 0);
}

void TestControls::scalingIsExactInSinglePrecision()
{
    QCOMPARE(Quorvel::normalise(16384), 0.5);
    QCOMPARE(Quorvel::normalise(0), 0.0);
    QCOMPARE(Quorvel::normalise(32768), 1.0);
    // Every 16-bit value lands exactly on v / 32768, beyond 1 where it is larger.
    for (qint32 v = 0; v <= 0xFFFF; ++v)
        QCOMPARE(Quorvel::normalise(v), v / 32768.0);

    PositionFilter f;
    const Controls c = Quorvel::penControls(pen(2, 16384, 65535, true, false), f);
    QCOMPARE(c.pos, QPointF(0.5, 65535 / 32768.0));
    QCOMPARE(c.viewPos, c.pos);
    QCOMPARE(c.radiusX, 0.0);
    QCOMPARE(c.flags, 0);
}

void TestControls::radiiFromTouchAndEraser()
{
    PositionFilter f;
    NorvaHardware::TouchContact t;
    t.size = 32768;
    Controls c = Quorvel::touchControls(t, f);
    QCOMPARE(c.radiusX, 1.0);
    QCOMPARE(c.radiusY, 1.0);
    t.size = 0;
    c = Quorvel::touchControls(t, f);
    QCOMPARE(c.radiusX, 0.0);
    QCOMPARE(c.radiusY, 0.0);

    NorvaHardware::EraseContact e;
    e.width = 16384;
    e.height = 8192;
    c = Quorvel::eraseControls(e, f);
    QCOMPARE(c.radiusX, 0.5);
    QCOMPARE(c.radiusY, 0.25);
}

void TestControls::equality()
{
    const Controls a = record(5, 1, 0.25, 0.75);
    Controls b = a;
    b.flags = Controls::Claimed;
    b.viewPos = QPointF(100, 200);
    QVERIFY(a == b);

    b = a;
    b.pos.setX(a.pos.x() + 2e-12);
    QVERIFY(a != b);
    b = a;
    b.pos.setY(a.pos.y() + 5e-13);
    QVERIFY(a == b);
    b = a;
    b.buttons = 0;
    QVERIFY(a != b);
    b = a;
    b.id = 6;
    QVERIFY(a != b);
    b = a;
    b.radiusY = 1e-11;
    QVERIFY(a != b);
    b = a;
    b.radiusX = qQNaN();
    QVERIFY(!(b == b));
}

void TestControls::vectorEquality()
{
    const std::vector<Controls> a{record(256, 1, 0.1, 0.1), record(257, 1, 0.2, 0.2)};
    std::vector<Controls> b = a;
    b[1].flags = Controls::Claimed;
    QVERIFY(a == b);
    b.pop_back();
    QVERIFY(a != b);
    const std::vector<Controls> swapped{a[1], a[0]};
    QVERIFY(a != swapped);
    QVERIFY(std::vector<Controls>() == std::vector<Controls>());
}

void TestControls::followWithoutDeadZone()
{
    PositionFilter f;
    f.point = QPointF(0.25, 0.25);
    f.tracking = true;
    QCOMPARE(f.follow(QPointF(0.5, 0.75), true, 0.0), QPointF(0.5, 0.75));
    QVERIFY(f.tracking);
    QCOMPARE(f.follow(QPointF(0.125, 0.5), false, 0.0), QPointF(0.125, 0.5));
    QVERIFY(!f.tracking);
}

void TestControls::followWithDeadZoneInSinglePrecision()
{
    PositionFilter f;
    f.tracking = true;
    const QPointF moved = f.follow(QPointF(5, 0), true, 3.0);
    // The factor (5 - 3) / 5 is taken in single precision, then widened.
    QCOMPARE(moved.x(), 5.0 * double(0.4f));
    QCOMPARE(moved.y(), 0.0);
    QVERIFY(moved.x() != 2.0);

    f.point = QPointF(0, 0);
    QCOMPARE(f.follow(QPointF(2, 0), true, 3.0), QPointF(0, 0));
    QCOMPARE(f.follow(QPointF(3, 0), true, 3.0), QPointF(0, 0));

    // Diagonal: the length comes from the single-precision vector.
    f.point = QPointF(1, 1);
    const QPointF d(0.1, 7.3);
    const float length = std::sqrt(float(d.x()) * float(d.x()) + float(d.y()) * float(d.y()));
    const float factor = (length - 3.0f) / length;
    const QPointF expected = QPointF(1, 1) + d * double(factor);
    const QPointF got = f.follow(QPointF(1, 1) + d, true, 3.0);
    QCOMPARE(got.x(), expected.x());
    QCOMPARE(got.y(), expected.y());
}

void TestControls::followTakesReportedPointWhenNotTracking()
{
    PositionFilter f;
    f.point = QPointF(100, 100);
    QCOMPARE(f.follow(QPointF(101, 100), true, 3.0), QPointF(101, 100));
    QVERIFY(f.tracking);
    // The lift record itself still trails; the next contact jumps.
    QCOMPARE(f.follow(QPointF(102, 100), false, 3.0), QPointF(101, 100));
    QCOMPARE(f.follow(QPointF(50, 60), true, 3.0), QPointF(50, 60));
}

void TestControls::builderRunsFilterWithItsDownState()
{
    PositionFilter f;
    Quorvel::penControls(pen(0, 100, 100, true, false), f);
    QVERIFY(f.tracking);
    Quorvel::penControls(pen(0, 200, 100, false, true), f);
    QVERIFY(f.tracking);
    const Controls hover = Quorvel::penControls(pen(0, 300, 100, false, false), f);
    QVERIFY(!f.tracking);
    QCOMPARE(hover.pos.x(), 300 / 32768.0);
}

void TestControls::globalPointOnScreen()
{
    Controls c = record(-1, 1, 0.5, 0.5);
    QCOMPARE(c.globalPoint(QRect(1920, 0, 1920, 1080)), QPoint(2880, 540));
    c.pos = QPointF(0.9999, 0.0);
    QCOMPARE(c.globalPoint(QRect(0, 0, 1920, 1080)), QPoint(1919, 0));
    c.pos = QPointF(1.5, 65535 / 32768.0);
    QCOMPARE(c.globalPoint(QRect(-100, 20, 1000, 1000)), QPoint(1400, 2019));
}

QTEST_GUILESS_MAIN(TestControls)
#include "tst_controls.moc"
