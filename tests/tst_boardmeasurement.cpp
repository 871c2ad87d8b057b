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
using Verdict = MeasureLimits::Verdict;

// Units are not square on it: 0.049 mm across, 0.027 mm down.
const BoardMeasurement::BoardSize Board{1600, 900};

double unitsX(double mm)
{
    return mm * ContactReport::BoardUnits / Board.width;
}

double unitsY(double mm)
{
    return mm * ContactReport::BoardUnits / Board.height;
}

ContactReport at(Kind kind, int id, double xMm, double yMm, double ms, bool down = true)
{
    return {kind, id, down, unitsX(xMm), unitsY(yMm), ms};
}

// Reports every 10 ms at a place plus amplitude mm to the right, below, left
// and above in turn: over whole turns their mean is the place, and each lies
// amplitude from it. Returns the time of the next report.
double rest(BoardMeasurement& m, int id, double x, double y, double amplitude, double ms,
            int reports)
{
    static const int turn[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (int k = 0; k < reports; ++k, ms += 10)
        m.add(at(Kind::Touch, id, x + amplitude * turn[k % 4][0], y + amplitude * turn[k % 4][1],
                 ms));
    return ms;
}

// A pen stroke along a ruler 200 mm long from (x, y) at an angle, its 100
// reports 5 ms apart moved across the line by wobble * cos(8 pi (k + 1/2) /
// 100): the offsets add up to nothing and mirror about the middle, so the
// best line is the ruler's, and the largest offset (k = 12) is the wobble.
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

bool near(std::optional<double> actual, double expected, double tolerance = 1e-9)
{
    return actual && std::abs(*actual - expected) <= tolerance;
}

#define QVERIFY_NEAR(actual, ...)                                                                  \
    QVERIFY2(near(actual, __VA_ARGS__),                                                            \
             qPrintable(QStringLiteral("%1 is %2").arg(#actual).arg((actual).value_or(NAN))))

bool sameSource(const std::optional<BoardMeasurement::Source>& source, Kind kind, int id, double ms)
{
    return source && source->kind == kind && source->id == id && source->ms == ms;
}

// Every figure, to compare two measurements of the same reports.
QString digest(const BoardMeasurement& m)
{
    const BoardMeasurement::Figures f = m.figures();
    QString text;
    const auto add = [&text](const std::optional<double>& value) {
        text += value ? QString::number(*value, 'g', 12) + ' ' : QStringLiteral("- ");
    };
    for (const auto& rate : f.rates) {
        text += QString::number(rate.ratedContacts) + ' ';
        add(rate.rate);
    }
    for (const auto& figure : {f.penRate, f.jitter, f.straightness, f.accuracy}) {
        add(figure.value);
        text += QString::number(int(figure.verdict)) + ' ';
    }
    add(f.jitterRms);
    text += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 ")
                .arg(f.mostAtOnce)
                .arg(f.anomalies.stuck)
                .arg(f.anomalies.orphanLifts)
                .arg(f.anomalies.shortContacts)
                .arg(f.coverage)
                .arg(f.strokes)
                .arg(f.stillContacts)
                .arg(f.straightStrokes)
                .arg(f.taps);
    add(f.anomalies.jumps ? std::optional<double>(*f.anomalies.jumps) : std::nullopt);
    for (const BoardMeasurement::Stroke& s : m.strokes()) {
        text +=
            QStringLiteral("\n%1 %2 %3 %4 ").arg(s.kind).arg(s.id).arg(s.startMs).arg(s.reports);
        for (const auto& figure : {s.rate, s.length, s.jitter, s.jitterRms, s.straightness})
            add(figure);
    }
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
    void mostAtOnceAndClear();
    void coverage();
    void tapAccuracy();
    void recordings_data();
    void recordings();
};

void TestBoardMeasurement::stillJitter()
{
    // Finger 1 rests for 990 ms with 0.4 mm of noise, slides 100 mm in 20 mm
    // steps, rests for 470 ms with 0.9 mm, slides again and rests 190 ms with
    // 2 mm: too short to be still. Finger 2 rests for 390 ms with 1.3 mm.
    BoardMeasurement m(Board);
    double ms = rest(m, 1, 400, 300, 0.4, 0, 100);
    const std::optional<BoardMeasurement::StillContact> now = m.lastStill();
    QVERIFY(now && now->ongoing);
    QVERIFY(sameSource(now->source, Kind::Touch, 1, 0));
    QVERIFY_NEAR(std::optional(now->mean.x), unitsX(400), 1e-6);
    QVERIFY_NEAR(std::optional(now->mean.y), unitsY(300), 1e-6);
    // Still going on, the figure may lag by the mean's drift since it last
    // doubled.
    QVERIFY_NEAR(std::optional(now->radiusX), unitsX(0.4), unitsX(0.02));
    QVERIFY_NEAR(std::optional(now->radiusY), unitsY(0.4), unitsY(0.02));
    for (int step = 1; step < 5; ++step, ms += 10)
        m.add(at(Kind::Touch, 1, 400 + 20 * step, 300, ms));
    ms = rest(m, 1, 500, 300, 0.9, ms, 48);
    for (int step = 1; step < 5; ++step, ms += 10)
        m.add(at(Kind::Touch, 1, 500, 300 + 20 * step, ms));
    ms = rest(m, 1, 500, 400, 2, ms, 20);
    m.add(at(Kind::Touch, 1, 500, 400, ms, false));
    const double second = ms + 100;
    ms = rest(m, 2, 800, 600, 1.3, second, 40);
    m.add(at(Kind::Touch, 2, 800, 600, ms, false));

    QCOMPARE(m.strokes().size(), std::size_t(2));
    QVERIFY_NEAR(m.strokes()[0].jitter, 0.9);
    QVERIFY_NEAR(m.strokes()[0].jitterRms, 0.9);
    QVERIFY_NEAR(m.strokes()[1].jitter, 1.3);
    BoardMeasurement::Figures f = m.figures();
    QVERIFY_NEAR(f.jitter.value, 1.3);
    QVERIFY_NEAR(f.jitterRms, 1.3);
    QCOMPARE(f.stillContacts, std::size_t(2));
    QCOMPARE(f.jitter.verdict, Verdict::Fail);
    QVERIFY(sameSource(f.jitter.worst, Kind::Touch, 2, second));
    MeasureLimits limits;
    limits.jitter = 1.5;
    m.setLimits(limits);
    QCOMPARE(m.figures().jitter.verdict, Verdict::Pass);

    // Ended, the last still run is the second finger's, exact.
    const std::optional<BoardMeasurement::StillContact> last = m.lastStill();
    QVERIFY(last && !last->ongoing);
    QVERIFY_NEAR(std::optional(last->radiusY), unitsY(1.3), 1e-6);
    QVERIFY_NEAR(std::optional(last->mean.x), unitsX(800), 1e-6);
}

void TestBoardMeasurement::straightness()
{
    // Pens along a ruler at 30 degrees with 0.5 mm of wobble and straight
    // down with 1.5 mm; fingers along an arc and along a 40 mm line, which
    // are not straight strokes.
    BoardMeasurement m(Board);
    ruled(m, 1, 300, 200, 30, 0.5, 0);
    ruled(m, 2, 900, 100, 90, 1.5, 1000);
    for (int k = 0; k <= 90; ++k)
        m.add(at(Kind::Touch, 3, 600 + 100 * std::cos(k * M_PI / 180),
                 500 + 100 * std::sin(k * M_PI / 180), 2000 + 5 * k, k < 90));
    for (int k = 0; k <= 40; ++k)
        m.add(at(Kind::Touch, 4, 100 + k, 700, 3000 + 5 * k, k < 40));

    QCOMPARE(m.strokes().size(), std::size_t(4));
    QVERIFY_NEAR(m.strokes()[0].straightness, 0.5);
    QVERIFY_NEAR(m.strokes()[1].straightness, 1.5);
    QVERIFY(!m.strokes()[2].straightness && !m.strokes()[3].straightness);
    const BoardMeasurement::Figures f = m.figures();
    QCOMPARE(f.straightStrokes, std::size_t(2));
    QVERIFY_NEAR(f.straightness.value, 1.5);
    QCOMPARE(f.straightness.verdict, Verdict::Fail);
    QVERIFY(sameSource(f.straightness.worst, Kind::Pen, 2, 1000));

    // The vertical stroke's line from its first report's place to its last.
    const std::optional<BoardMeasurement::StraightStroke> line = m.lastStraight();
    QVERIFY(line && sameSource(line->source, Kind::Pen, 2, 1000));
    QVERIFY_NEAR(std::optional(line->from.x), unitsX(900), 1e-6);
    QVERIFY_NEAR(std::optional(line->from.y), unitsY(101), 1e-6);
    QVERIFY_NEAR(std::optional(line->to.x), unitsX(900), 1e-6);
    QVERIFY_NEAR(std::optional(line->to.y), unitsY(299), 1e-6);
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
    QVERIFY_NEAR(m.strokes()[0].rate, 180.0);
    QCOMPARE(m.strokes()[0].reports, std::size_t(181));
    QVERIFY_NEAR(m.strokes()[1].rate, 50.0);
    BoardMeasurement::Figures f = m.figures();
    QVERIFY_NEAR(f.penRate.value, 50.0);
    QCOMPARE(f.penRate.verdict, Verdict::Fail);
    QVERIFY(sameSource(f.penRate.worst, Kind::Pen, 2, 0));
    MeasureLimits limits;
    limits.penRate = 40;
    m.setLimits(limits);
    QCOMPARE(m.figures().penRate.verdict, Verdict::Pass);

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
    QCOMPARE(f.anomalies.jumps.value_or(-1), std::size_t(1));
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

void TestBoardMeasurement::mostAtOnceAndClear()
{
    // Twelve fingers come down one after another and a pen joins them.
    BoardMeasurement m(Board);
    for (int id = 0; id < 12; ++id)
        m.add(at(Kind::Touch, id, 100 + 50 * id, 400, id));
    m.add(at(Kind::Pen, 0, 100, 100, 12));
    // Finger 1 has been still for 400 ms.
    m.add(at(Kind::Touch, 1, 150, 400, 401));
    QVERIFY(m.figures().jitter.value);
    for (int id = 11; id >= 2; --id)
        m.add(at(Kind::Touch, id, 100 + 50 * id, 400, 100, false));
    BoardMeasurement::Figures f = m.figures();
    QCOMPARE(f.mostAtOnce, 13);
    QCOMPARE(f.mostAtOnceOfKind, (std::array<int, 3>{1, 12, 0}));
    QCOMPARE(f.downNow, 3);
    QCOMPARE(f.strokes, std::size_t(10));

    // Cleared with two fingers and the pen down: they count as down, and
    // start again with their next report down; a lift without one ends
    // nothing.
    m.clear();
    f = m.figures();
    QCOMPARE(f.strokes, std::size_t(0));
    QCOMPARE(f.mostAtOnce, 3);
    QCOMPARE(f.coverage, 0.0);
    QVERIFY(!f.rates[Kind::Touch].rate && !f.jitter.value && !m.lastStill());
    m.add(at(Kind::Touch, 0, 100, 400, 200, false));
    m.add(at(Kind::Touch, 1, 150, 400, 210));
    m.add(at(Kind::Touch, 1, 150, 400, 220, false));
    f = m.figures();
    QCOMPARE(f.anomalies.orphanLifts, std::size_t(0));
    QCOMPARE(f.strokes, std::size_t(1));
    QCOMPARE(m.strokes()[0].startMs, 210.0);
    QCOMPARE(f.downNow, 1);
}

void TestBoardMeasurement::coverage()
{
    // No size needed. Each row of cells crossed through its middle by a
    // stroke of two reports from the left edge to the right, row 7 by two
    // strokes that leave out column 12.
    BoardMeasurement m;
    const auto stroke = [&m](double fromX, double toX, int row) {
        const double y = (CoverageGrid::top(row) + CoverageGrid::bottom(row)) / 2;
        m.add({Kind::Touch, 1, true, fromX, y, 0});
        m.add({Kind::Touch, 1, true, toX, y, 40});
        m.add({Kind::Touch, 1, false, toX, y, 50});
    };
    for (int row = 0; row < CoverageGrid::Rows; ++row) {
        if (row != 7) {
            stroke(0, ContactReport::BoardUnits - 1, row);
        } else {
            stroke(0, CoverageGrid::left(12) - 1, row);
            stroke(CoverageGrid::right(12) + 1, ContactReport::BoardUnits - 1, row);
        }
    }
    QCOMPARE(m.coverage().reachedCount(), CoverageGrid::Cells - 1);
    QCOMPARE(m.figures().coverage, double(CoverageGrid::Cells - 1) / CoverageGrid::Cells);
    QVERIFY(!m.coverage().reached(12, 7));
    QVERIFY(m.coverage().reached(11, 7) && m.coverage().reached(13, 7));
    QVERIFY(!m.figures().jitter.value && !m.figures().anomalies.jumps);

    // One segment up and to the left across the whole board, through no
    // corner of cells: one cell more than the columns and rows it changes.
    m.clear();
    const double w = ContactReport::BoardUnits / CoverageGrid::Columns;
    const double h = ContactReport::BoardUnits / CoverageGrid::Rows;
    m.add({Kind::Pen, 0, true, 31.6 * w, 17.2 * h, 0});
    m.add({Kind::Pen, 0, true, 0.3 * w, 0.6 * h, 10});
    QCOMPARE(m.coverage().reachedCount(), 31 + 17 + 1);
    QVERIFY(m.coverage().reached(0, 0) && m.coverage().reached(31, 17));
    QVERIFY(!m.coverage().reached(31, 0) && !m.coverage().reached(0, 17));
}

void TestBoardMeasurement::tapAccuracy()
{
    // Nine crosshairs at a tenth, half and nine tenths of the board.
    BoardMeasurement m(Board);
    std::vector<BoardMeasurement::Point> targets;
    for (const double y : {90.0, 450.0, 810.0})
        for (const double x : {160.0, 800.0, 1440.0})
            targets.push_back({unitsX(x), unitsY(y)});
    m.setTargets(targets);
    // Around (1.5, -2) mm from the middle one, 0.3 mm of noise: 2.5 mm off.
    // A pen 0.6 mm right of and 0.8 mm below the first: 1 mm off.
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
    QVERIFY_NEAR(std::optional(finger.dx), 1.5);
    QVERIFY_NEAR(std::optional(finger.dy), -2.0);
    QCOMPARE(m.taps()[1].target, std::size_t(0));
    QVERIFY_NEAR(std::optional(m.taps()[1].offset), 1.0);
    const BoardMeasurement::Figures f = m.figures();
    QVERIFY_NEAR(f.accuracy.value, 2.5);
    QVERIFY_NEAR(f.meanOffset, 1.75);
    QCOMPARE(f.accuracy.verdict, Verdict::Fail);
    QVERIFY(sameSource(f.accuracy.worst, Kind::Touch, 1, 0));
}

void TestBoardMeasurement::recordings_data()
{
    // What each recording holds, from its description: the most contacts at
    // once, and the contacts of a kind where it says (-1 where not).
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("mostAtOnce");
    QTest::addColumn<int>("touches");
    QTest::addColumn<int>("erasers");
    QTest::newRow("ten fingers") << "touch-display-22in-10-fingers.events" << 10 << 66 << 0;
    QTest::newRow("five fingers") << "canvas-27in-touch-5-fingers.evemu" << 5 << 12 << 0;
    QTest::newRow("type A") << "old-touchscreen-type-a-2-fingers.events" << 2 << 2 << 0;
    QTest::newRow("pen") << "canvas-27in-pen.evemu" << 1 << 0 << 0;
    QTest::newRow("pen, eraser, buttons")
        << "pen-display-22in-pen-eraser-buttons.events" << 1 << 0 << 5;
    QTest::newRow("pen then eraser") << "pen-display-12in-pen-then-eraser.events" << 1 << 0 << 1;
}

void TestBoardMeasurement::recordings()
{
    QFETCH(QString, file);
    QFETCH(int, mostAtOnce);
    REQUIRE_RECORDINGS();
    const Recording recording = Recording::load(recordingPath(file).toStdString());
    QVERIFY(recording.diagnostics.empty());
    const std::vector<ContactReport> reports = recordedReports(recording);
    // The type A screen gives no resolution, so no size.
    const std::optional<BoardMeasurement::BoardSize> size = recordedBoardSize(recording.device);
    BoardMeasurement m(size);
    const auto measure = [&](BoardMeasurement& into) {
        for (const ContactReport& report : reports) {
            into.add(report);
        }
        into.finish();
    };
    measure(m);

    const BoardMeasurement::Figures f = m.figures();
    QCOMPARE(f.anomalies.stuck, std::size_t(0));
    QCOMPARE(f.anomalies.orphanLifts, std::size_t(0));
    QCOMPARE(f.anomalies.jumps.value_or(0), std::size_t(0));
    QCOMPARE(f.mostAtOnce, mostAtOnce);
    std::array<int, ContactReport::Kinds> strokes{};
    for (const BoardMeasurement::Stroke& stroke : m.strokes())
        ++strokes[stroke.kind];
    QTEST(strokes[Kind::Touch], "touches");
    QTEST(strokes[Kind::Eraser], "erasers");
    for (int kind = 0; kind < ContactReport::Kinds; ++kind)
        QCOMPARE(f.rates[std::size_t(kind)].ratedContacts > 0, strokes[std::size_t(kind)] > 0);
    QVERIFY(f.coverage > 0);

    // Measured again after clear(), the same to the last digit.
    const QString first = digest(m);
    m.clear();
    measure(m);
    QCOMPARE(digest(m), first);

    // Without the size, the same counts, rates and coverage, and nothing in
    // millimetres.
    if (!size)
        return;
    BoardMeasurement unsized;
    measure(unsized);
    const BoardMeasurement::Figures u = unsized.figures();
    QCOMPARE(u.rates[Kind::Pen].rate, f.rates[Kind::Pen].rate);
    QCOMPARE(u.rates[Kind::Touch].rate, f.rates[Kind::Touch].rate);
    QCOMPARE(u.coverage, f.coverage);
    QCOMPARE(u.strokes, f.strokes);
    QCOMPARE(u.anomalies.shortContacts, f.anomalies.shortContacts);
    QVERIFY(!u.jitter.value && !u.straightness.value && !u.accuracy.value);
    QVERIFY(!u.anomalies.jumps && !unsized.strokes()[0].length);
}

QTEST_GUILESS_MAIN(TestBoardMeasurement)
#include "tst_boardmeasurement.moc"
