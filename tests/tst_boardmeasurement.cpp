// The figures of one board from reports with their own times, each input
// built so that its figures are known: noise of a known amplitude around a
// resting place, lines with a known wobble, known rates and gaps, a sweep
// that leaves out one cell, taps beside their targets. Then every recording
// of a real device as the board path gives it: no anomaly that it does not
// have, and the same figures each time it is measured.

#include "boardmeasurement.h"
#include "recordingreports.h"
#include "recordings.h"

#include <QTest>

#include <cmath>

namespace {

using Kind = ContactReport::Kind;

// Units are not square on it: 0.049 mm across, 0.027 mm down.
const BoardMeasurement::BoardSize Board{1600, 900};
const double PerMmX = ContactReport::BoardUnits / Board.width;
const double PerMmY = ContactReport::BoardUnits / Board.height;

ContactReport at(Kind kind, int id, double xMm, double yMm, double ms, bool down = true)
{
    return {kind, id, down, xMm * PerMmX, yMm * PerMmY, ms};
}

// A finger's reports every 10 ms amplitude mm to the right of a place, below,
// left and above it in turn: over whole turns their mean is the place, and
// each lies amplitude from it. Returns the time of the next report.
double rest(BoardMeasurement& m, int id, double x, double y, double amplitude, double ms,
            int reports)
{
    static const int turn[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (int k = 0; k < reports; ++k, ms += 10)
        m.add(at(Kind::Touch, id, x + amplitude * turn[k % 4][0], y + amplitude * turn[k % 4][1],
                 ms));
    return ms;
}

// A pen along a ruler 200 mm long from (x, y) at an angle, its 100 reports
// 5 ms apart moved across the line by wobble * cos(8 pi (k + 1/2) / 100):
// the offsets add up to nothing and mirror about the middle, so the best
// line is the ruler's, and the largest offset (k = 12) is the wobble.
void ruled(BoardMeasurement& m, int id, double x, double y, double degrees, double wobble,
           double ms)
{
    const double dx = std::cos(degrees * M_PI / 180), dy = std::sin(degrees * M_PI / 180);
    for (int k = 0; k < 100; ++k) {
        const double along = 2 * (k + 0.5);
        const double across = wobble * std::cos(8 * M_PI * (k + 0.5) / 100);
        m.add(at(Kind::Pen, id, x + dx * along - dy * across, y + dy * along + dx * across,
                 ms + 5 * k));
    }
    m.add(at(Kind::Pen, id, x + dx * 200, y + dy * 200, ms + 500, false));
}

// Says what it got when it fails.
bool near(std::optional<double> actual, double expected, double tolerance = 1e-9)
{
    if (actual && std::abs(*actual - expected) <= tolerance)
        return true;
    qWarning("%.12g, not %.12g", actual.value_or(NAN), expected);
    return false;
}

bool from(const std::optional<BoardMeasurement::Source>& source, Kind kind, int id, double ms)
{
    return source && source->kind == kind && source->id == id && source->ms == ms;
}

// The board's figures and every stroke's, to compare two measurements.
QString digest(const BoardMeasurement& m)
{
    using Figures = std::initializer_list<std::optional<double>>;
    const BoardMeasurement::Figures f = m.figures();
    QString text;
    const auto add = [&text](const Figures& figures) {
        for (const std::optional<double>& figure : figures)
            text += figure ? QString::number(*figure, 'g', 15) + ' ' : QStringLiteral("- ");
    };
    add({f.rates[0].rate, f.rates[1].rate, f.rates[2].rate, f.jitter, f.jitterRms, f.straightness,
         f.coverage, double(f.anomalies.shortContacts)});
    for (const BoardMeasurement::Stroke& s : m.strokes())
        add({s.startMs, double(s.reports), s.rate, s.length, s.jitter, s.jitterRms, s.straightness,
             double(s.jumps)});
    return text;
}

} // namespace

class TestBoardMeasurement : public QObject
{
    Q_OBJECT

private slots:
    void stillJitter();
    void straightness();
    void ratesAndAnomalies();
    void frameRate();
    void mostAtOnceAndClear();
    void coverage();
    void tapAccuracy();
    void longContacts();
    void recordings_data();
    void recordings();
};

void TestBoardMeasurement::stillJitter()
{
    // Finger 1 rests for 990 ms with 0.4 mm of noise, slides 100 mm in 20 mm
    // steps, rests for 470 ms with 0.9 mm, slides again and rests 190 ms with
    // 2 mm: too short to be still. Finger 2 rests for 890 ms with 1.3 mm, of
    // which the first 500 ms count for nothing. Finger 3 settles by 1.5 mm as
    // it comes down, then reports without noise: it is still without jitter.
    BoardMeasurement m(Board);
    double ms = rest(m, 1, 400, 300, 0.4, 0, 100);
    const std::optional<BoardMeasurement::StillContact> now = m.lastStill();
    QVERIFY(now && now->ongoing && from(now->source, Kind::Touch, 1, 500));
    QVERIFY(near(now->mean.x, 400 * PerMmX, 0.02 * PerMmX) &&
            near(now->mean.y, 300 * PerMmY, 0.02 * PerMmY));
    QVERIFY(near(now->radiusX, 0.4 * PerMmX, 0.02 * PerMmX));
    QVERIFY(near(now->lengthMs, 490) && now->reports == 50);
    for (int step = 1; step < 5; ++step, ms += 10)
        m.add(at(Kind::Touch, 1, 400 + 20 * step, 300, ms));
    ms = rest(m, 1, 500, 300, 0.9, ms, 48);
    for (int step = 1; step < 5; ++step, ms += 10)
        m.add(at(Kind::Touch, 1, 500, 300 + 20 * step, ms));
    ms = rest(m, 1, 500, 400, 2, ms, 20);
    m.add(at(Kind::Touch, 1, 500, 400, ms, false));
    const double second = ms + 100;
    ms = rest(m, 2, 800, 600, 1.3, second, 90);
    m.add(at(Kind::Touch, 2, 800, 600, ms, false));
    const double third = ms + 100;
    for (int k = 0; k < 150; ++k)
        m.add(at(Kind::Touch, 3, 200 + std::max(0.0, 1.5 - 0.05 * k), 700, third + 10 * k));
    m.add(at(Kind::Touch, 3, 200, 700, third + 1500, false));

    QVERIFY(near(m.strokes()[0].jitter, 0.9) && near(m.strokes()[0].jitterRms, 0.9));
    QVERIFY(near(m.strokes()[1].jitter, 1.3));
    QVERIFY(near(m.strokes()[2].jitter, 0));
    const BoardMeasurement::Figures f = m.figures();
    QVERIFY(near(f.jitter, 1.3) && near(f.jitterRms, 1.3));
    QCOMPARE(f.stillContacts, std::size_t(3));
    // The run that gives the figure: from 500 ms on, 40 reports over 390 ms.
    QVERIFY(f.jitterRun && from(f.jitterRun->source, Kind::Touch, 2, second + 500));
    QVERIFY(near(f.jitterRun->lengthMs, 390) && f.jitterRun->reports == 40);

    // Ended, the last still run is the third finger's, exact.
    const std::optional<BoardMeasurement::StillContact> last = m.lastStill();
    QVERIFY(last && !last->ongoing);
    QVERIFY(near(last->radiusY, 0) && near(last->mean.x, 200 * PerMmX, 1e-6));
}

void TestBoardMeasurement::straightness()
{
    // Pens along a ruler at 30 degrees with 0.5 mm of wobble and straight
    // down with 1.5 mm; fingers along an arc and along a 39 mm line, which
    // are not straight strokes.
    BoardMeasurement m(Board);
    ruled(m, 1, 300, 200, 30, 0.5, 0);
    ruled(m, 2, 900, 100, 90, 1.5, 1000);
    for (int k = 0; k <= 90; ++k)
        m.add(at(Kind::Touch, 3, 600 + 100 * std::cos(k * M_PI / 180),
                 500 + 100 * std::sin(k * M_PI / 180), 2000 + 5 * k, k < 90));
    for (int k = 0; k <= 40; ++k)
        m.add(at(Kind::Touch, 4, 100 + k, 700, 3000 + 5 * k, k < 40));

    QVERIFY(near(m.strokes()[0].straightness, 0.5) && near(m.strokes()[1].straightness, 1.5));
    QVERIFY(!m.strokes()[2].straightness && !m.strokes()[3].straightness);
    const BoardMeasurement::Figures f = m.figures();
    QCOMPARE(f.straightStrokes, std::size_t(2));
    QVERIFY(near(f.straightness, 1.5));
    // The vertical line, from its first report's place to its last's.
    const std::optional<BoardMeasurement::StraightStroke> line = m.lastStraight();
    QVERIFY(line && from(line->source, Kind::Pen, 2, 1000));
    QVERIFY(near(line->from.x, 900 * PerMmX, 1e-6) && near(line->from.y, 101 * PerMmY, 1e-6));
    QVERIFY(near(line->to.x, 900 * PerMmX, 1e-6) && near(line->to.y, 299 * PerMmY, 1e-6));
}

void TestBoardMeasurement::ratesAndAnomalies()
{
    // Pen 1 every 5 ms for a second, the 20 reports from 500 ms lost: 180
    // intervals in 1000 ms. Pen 2 every 20 ms: 50 a second. The board's rate
    // is the median of its pens', by nearest rank the lower of two.
    BoardMeasurement m(Board);
    for (int k = 0; k <= 200; ++k) {
        if (k < 100 || k >= 120)
            m.add(at(Kind::Pen, 1, 100 + 0.1 * k, 100, 5 * k, k < 200));
        if (k % 4 == 0)
            m.add(at(Kind::Pen, 2, 100 + 0.1 * k, 200, 5 * k, k < 200));
    }
    QCOMPARE(m.strokes()[0].reports, std::size_t(181));
    QVERIFY(near(m.strokes()[0].rate, 180) && near(m.strokes()[1].rate, 50));
    BoardMeasurement::Figures f = m.figures();
    QVERIFY(near(f.rates[Kind::Pen].rate, 50) && near(f.rates[Kind::Pen].lowest, 50));

    // A finger every 10 ms, 1 mm at a time, then 60 mm in one interval: a
    // jump. Later 60 mm after 105 ms: a report or more was lost, no jump.
    double x = 100;
    for (int k = 0; k <= 40; ++k) {
        x += k == 20 ? 60 : 1;
        m.add(at(Kind::Touch, 3, x, 500, 2000 + 10 * k));
    }
    m.add(at(Kind::Touch, 3, x + 60, 500, 2505));
    m.add(at(Kind::Touch, 3, x + 60, 500, 2515, false));
    // Down for 20 ms is short, for 30 ms not; lifts of a finger and an eraser
    // that were never down, a pen hovering, a finger that never lifts.
    m.add(at(Kind::Touch, 4, 50, 50, 3000));
    m.add(at(Kind::Touch, 4, 50, 50, 3020, false));
    m.add(at(Kind::Touch, 5, 50, 50, 3100));
    m.add(at(Kind::Touch, 5, 50, 50, 3130, false));
    m.add(at(Kind::Touch, 9, 50, 50, 3200, false));
    m.add(at(Kind::Eraser, 2, 50, 50, 3210, false));
    m.add(at(Kind::Pen, 7, 50, 50, 3220, false));
    m.add(at(Kind::Pen, 7, 60, 50, 3230, false));
    m.add(at(Kind::Touch, 6, 50, 50, 3300));

    f = m.figures();
    QCOMPARE(f.anomalies.jumps.value_or(0), std::size_t(1));
    QCOMPARE(m.strokes()[2].jumps, std::size_t(1));
    QCOMPARE(f.anomalies.shortContacts, std::size_t(1));
    QCOMPARE(f.anomalies.orphanLifts, std::size_t(2));
    QCOMPARE(f.anomalies.stuck, std::size_t(0));
    QCOMPARE(f.downNow, 1);
    m.finish();
    QCOMPARE(m.figures().anomalies.stuck, std::size_t(1));
    QCOMPARE(m.figures().downNow, 0);
    QVERIFY(!m.strokes().back().lifted && m.strokes().back().id == 6);
}

void TestBoardMeasurement::frameRate()
{
    // Pen packets every 5 ms for a second, none for 3 s (out of range),
    // another second, one stretch of 45 ms with packets lost, then none for
    // a minute. The two pauses count for nothing; the 45 ms, under ten times
    // the median, counts: 401 intervals in 2045 ms.
    BoardMeasurement m(Board);
    for (int k = 0; k <= 200; ++k)
        m.addPacket(Kind::Pen, 5 * k);
    for (int k = 0; k <= 200; ++k)
        m.addPacket(Kind::Pen, 4000 + 5 * k);
    m.addPacket(Kind::Pen, 5045);
    m.addPacket(Kind::Pen, 65045);
    // An eraser's single packet has no interval.
    m.addPacket(Kind::Eraser, 100);

    // Ten fingers scanned every 8 ms for a second, each scan sent as two
    // packets 2 ms apart, five fingers in each; the last scan lifts them.
    // Every finger reports 125 times a second, and the board sends twice
    // that: 251 intervals in 1002 ms.
    for (int scan = 0; scan <= 125; ++scan) {
        for (int half = 0; half < 2; ++half) {
            const double ms = 10000 + 8 * scan + 2 * half;
            m.addPacket(Kind::Touch, ms);
            for (int id = 5 * half; id < 5 * half + 5; ++id)
                m.add(at(Kind::Touch, id, 100 + 50 * id, 400 + scan, ms, scan < 125));
        }
    }
    const BoardMeasurement::Figures f = m.figures();
    QVERIFY(near(f.frameRates[Kind::Pen], 401 * 1000.0 / 2045));
    QVERIFY(!f.frameRates[Kind::Eraser]);
    QVERIFY(near(f.frameRates[Kind::Touch], 251 * 1000.0 / 1002));
    QVERIFY(near(f.rates[Kind::Touch].rate, 125));
}

void TestBoardMeasurement::mostAtOnceAndClear()
{
    // Twelve fingers come down one after another and a pen joins them;
    // finger 1 has been still for 400 ms after it settled when ten of them
    // lift.
    BoardMeasurement m(Board);
    for (int id = 0; id < 12; ++id)
        m.add(at(Kind::Touch, id, 100 + 50 * id, 400, id));
    m.add(at(Kind::Pen, 0, 100, 100, 12));
    m.add(at(Kind::Touch, 1, 150, 400, 501));
    m.add(at(Kind::Touch, 1, 150, 400, 901));
    for (int id = 11; id >= 2; --id)
        m.add(at(Kind::Touch, id, 100 + 50 * id, 400, 950, false));
    BoardMeasurement::Figures f = m.figures();
    QCOMPARE(f.mostAtOnce, 13);
    QCOMPARE(f.mostAtOnceOfKind, (std::array<int, 3>{1, 12, 0}));
    QCOMPARE(f.downNow, 3);
    QVERIFY(f.jitter);

    // Cleared with two fingers and the pen down: they count as down, and
    // start again with their next report down; a lift without one ends
    // nothing.
    m.clear();
    f = m.figures();
    QCOMPARE(f.strokes, std::size_t(0));
    QCOMPARE(f.mostAtOnce, 3);
    QCOMPARE(f.coverage, 0.0);
    QVERIFY(!f.rates[Kind::Touch].rate && !f.jitter && !m.lastStill());
    m.add(at(Kind::Touch, 0, 100, 400, 1000, false));
    m.add(at(Kind::Touch, 1, 150, 400, 1010));
    m.add(at(Kind::Touch, 1, 150, 400, 1020, false));
    f = m.figures();
    QCOMPARE(f.anomalies.orphanLifts, std::size_t(0));
    QCOMPARE(f.strokes, std::size_t(1));
    QCOMPARE(m.strokes()[0].startMs, 1010.0);
    QCOMPARE(f.downNow, 1);
}

void TestBoardMeasurement::coverage()
{
    // No size needed. Each row of cells crossed through its middle by a
    // stroke of two reports from the left edge to the right, row 7 by two
    // that leave out column 12.
    BoardMeasurement m;
    const auto stroke = [&m](double fromX, double toX, int row) {
        const double y = (CoverageGrid::top(row) + CoverageGrid::bottom(row)) / 2;
        m.add({Kind::Touch, 1, true, fromX, y, 0});
        m.add({Kind::Touch, 1, true, toX, y, 40});
        m.add({Kind::Touch, 1, false, toX, y, 50});
    };
    const double edge = ContactReport::BoardUnits - 1;
    for (int row = 0; row < CoverageGrid::Rows; ++row) {
        stroke(0, row == 7 ? CoverageGrid::left(12) - 1 : edge, row);
        if (row == 7)
            stroke(CoverageGrid::right(12) + 1, edge, row);
    }
    QCOMPARE(m.coverage().reachedCount(), CoverageGrid::Cells - 1);
    QCOMPARE(m.figures().coverage, double(CoverageGrid::Cells - 1) / CoverageGrid::Cells);
    QVERIFY(!m.coverage().reached(12, 7));
    QVERIFY(m.coverage().reached(11, 7) && m.coverage().reached(13, 7));
    QVERIFY(!m.figures().jitter && !m.figures().anomalies.jumps);

    // One segment up and to the left across the board, through no corner
    // of cells: one cell more than the columns and rows it changes.
    m.clear();
    const double w = ContactReport::BoardUnits / CoverageGrid::Columns;
    const double h = ContactReport::BoardUnits / CoverageGrid::Rows;
    m.add({Kind::Pen, 0, true, 31.6 * w, 17.2 * h, 0});
    m.add({Kind::Pen, 0, true, 0.3 * w, 0.6 * h, 10});
    QCOMPARE(m.coverage().reachedCount(), 31 + 17 + 1);
    QVERIFY(m.coverage().reached(0, 0) && m.coverage().reached(31, 17));

    // A position off the board marks no cell, nor does the way to it.
    m.clear();
    m.add({Kind::Touch, 2, true, 40000, 0.5 * h, 0});
    m.add({Kind::Touch, 2, true, 30.5 * w, 0.5 * h, 10});
    m.add({Kind::Touch, 2, true, 30.5 * w, 70000, 20});
    QCOMPARE(m.coverage().reachedCount(), 1);
    QVERIFY(m.coverage().reached(30, 0));
}

void TestBoardMeasurement::tapAccuracy()
{
    // Nine crosshairs at a tenth, half and nine tenths of the board.
    BoardMeasurement m(Board);
    std::vector<BoardMeasurement::Point> targets;
    for (const double y : {90.0, 450.0, 810.0})
        for (const double x : {160.0, 800.0, 1440.0})
            targets.push_back({x * PerMmX, y * PerMmY});
    m.setTargets(targets);
    // A finger around (1.5, -2) mm from the middle one with 0.3 mm of
    // noise: 2.5 mm off. A pen (0.6, 0.8) mm from the first: 1 mm off.
    double end = rest(m, 1, 801.5, 448, 0.3, 0, 8);
    m.add(at(Kind::Touch, 1, 801.5, 448, end, false));
    m.add(at(Kind::Pen, 0, 160.6, 90.8, 1000));
    m.add(at(Kind::Pen, 0, 160.6, 90.8, 1050, false));
    // No taps: 20 mm from any target; held 1.2 s; moving 6 mm.
    end = rest(m, 2, 820, 450, 0.3, 2000, 4);
    m.add(at(Kind::Touch, 2, 820, 450, end, false));
    end = rest(m, 3, 1440, 450, 0.3, 3000, 121);
    m.add(at(Kind::Touch, 3, 1440, 450, end, false));
    for (int k = 0; k <= 7; ++k)
        m.add(at(Kind::Touch, 4, 800 + k, 810, 5000 + 10 * k, k < 7));

    QCOMPARE(m.taps().size(), std::size_t(2));
    const BoardMeasurement::Tap& finger = m.taps()[0];
    QCOMPARE(finger.target, std::size_t(4));
    QVERIFY(near(finger.dx, 1.5) && near(finger.dy, -2.0));
    QCOMPARE(m.taps()[1].target, std::size_t(0));
    QVERIFY(near(m.taps()[1].offset, 1.0));
    const BoardMeasurement::Figures f = m.figures();
    QVERIFY(near(f.largestOffset, 2.5) && near(f.meanOffset, 1.75));
}

void TestBoardMeasurement::longContacts()
{
    // Nothing is kept per report: a contact of half a million reports gives
    // what the same motion gives in a hundred. A finger held still with 0.7
    // mm of scatter, and a pen along a ruler with a wobble of 0.3 mm, each
    // short, then long.
    // (Its first 50 reports, 500 ms, settle: whole turns of noise remain.)
    for (const int reports : {102, 500002}) {
        BoardMeasurement m(Board);
        const double ms = rest(m, 1, 600, 400, 0.7, 0, reports);
        m.add(at(Kind::Touch, 1, 600, 400, ms, false));
        for (int k = 0; k < reports; ++k) {
            const double along = 200.0 * (k + 0.5) / reports;
            const double across = 0.3 * std::cos(2 * M_PI * along / 50);
            m.add(at(Kind::Pen, 0, 300 + along, 200 + across, ms + k));
        }
        m.add(at(Kind::Pen, 0, 500, 200, ms + reports, false));
        QVERIFY2(near(m.strokes()[0].jitter, 0.7) && near(m.strokes()[0].jitterRms, 0.7),
                 qPrintable(QString::number(reports)));
        QVERIFY(near(m.strokes()[1].straightness, 0.3));
    }

    // More strokes and taps than are kept: the last ones, and how many went.
    BoardMeasurement m(Board);
    m.setTargets({{800 * PerMmX, 450 * PerMmY}});
    const std::size_t taps = BoardMeasurement::MaxStrokes + 5;
    for (std::size_t k = 0; k < taps; ++k) {
        m.add(at(Kind::Touch, 1, 801, 450, 100.0 * k));
        m.add(at(Kind::Touch, 1, 801, 450, 100.0 * k + 50, false));
    }
    QCOMPARE(m.strokes().size(), BoardMeasurement::MaxStrokes);
    QCOMPARE(m.strokesLeftOut(), std::size_t(5));
    QCOMPARE(m.strokes().front().startMs, 500.0);
    QCOMPARE(m.figures().strokes, taps);
    QCOMPARE(m.taps().size() + m.tapsLeftOut(), taps);
    QCOMPARE(m.figures().taps, taps);
    QVERIFY(near(m.figures().meanOffset, 1));
}

void TestBoardMeasurement::recordings_data()
{
    // What each recording holds, from its description: the most contacts at
    // once, and its touches and erasers.
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("mostAtOnce");
    QTest::addColumn<int>("touches");
    QTest::addColumn<int>("erasers");
    QTest::newRow("ten fingers") << "touch-display-22in-10-fingers.events" << 10 << 66 << 0;
    QTest::newRow("five fingers") << "canvas-27in-touch-5-fingers.evemu" << 5 << 12 << 0;
    QTest::newRow("type A, no size") << "old-touchscreen-type-a-2-fingers.events" << 2 << 2 << 0;
    QTest::newRow("pen") << "canvas-27in-pen.evemu" << 1 << 0 << 0;
    QTest::newRow("pen, eraser, buttons")
        << "pen-display-22in-pen-eraser-buttons.events" << 1 << 0 << 5;
    QTest::newRow("pen then eraser") << "pen-display-12in-pen-then-eraser.events" << 1 << 0 << 1;
}

void TestBoardMeasurement::recordings()
{
    QFETCH(QString, file);
    REQUIRE_RECORDINGS();
    const Recording recording = Recording::load(recordingPath(file).toStdString());
    QVERIFY(recording.diagnostics.empty());
    const std::vector<ContactReport> reports = recordedReports(recording);
    BoardMeasurement m(recordedBoardSize(recording.device));
    const auto measure = [&] {
        for (const ContactReport& report : reports)
            m.add(report);
        m.finish();
    };
    measure();

    const BoardMeasurement::Figures f = m.figures();
    QCOMPARE(f.anomalies.stuck, std::size_t(0));
    QCOMPARE(f.anomalies.orphanLifts, std::size_t(0));
    QCOMPARE(f.anomalies.jumps.value_or(0), std::size_t(0));
    QTEST(f.mostAtOnce, "mostAtOnce");
    std::array<int, ContactReport::Kinds> strokes{};
    for (const BoardMeasurement::Stroke& stroke : m.strokes())
        ++strokes[stroke.kind];
    QTEST(strokes[Kind::Touch], "touches");
    QTEST(strokes[Kind::Eraser], "erasers");
    for (int kind = 0; kind < ContactReport::Kinds; ++kind)
        QCOMPARE(f.rates[std::size_t(kind)].ratedContacts > 0, strokes[std::size_t(kind)] > 0);
    QVERIFY(f.coverage > 0);
    if (!m.boardSize())
        QVERIFY(!f.jitter && !f.anomalies.jumps && !m.strokes()[0].length);

    // Measured again after clear(), the same to the last digit.
    const QString first = digest(m);
    m.clear();
    measure();
    QCOMPARE(digest(m), first);
}

QTEST_GUILESS_MAIN(TestBoardMeasurement)
#include "tst_boardmeasurement.moc"
