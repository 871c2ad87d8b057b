// The board check performed by a robot on boards whose faults are known by
// construction: each fault fails exactly its step, with the figure it was
// built to give, and a clean board passes. The robot follows the check as a
// tester does: it does what the step under way asks, where it asks it.

#include "boardcheck.h"
#include "checklayout.h"
#include "checklimits.h"
#include "checkreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <cmath>

namespace {

using Step = BoardCheck::Step;
using Kind = ContactReport::Kind;

struct Faults
{
    Kind kind = Kind::Touch;
    // Amplitude around a hold's place, mm: opposite reports lie twice that apart.
    double holdNoise = 0.05;
    // The first line bowed by this much at its middle, the second with a step
    // of this much across it halfway.
    double lineBow = 0;
    double lineStep = 0;
    // Off the fifth (inner) target, and off the eleventh (at the right edge).
    double tapOffset = 0;
    double edgeTapOffset = 0;
    double touchHz = 125;
    double penHz = 125;
    // A pen of this rate before the one that draws for 3 s.
    double slowPenHz = 0;
    bool ghost = false;
    // The board reports nothing within this of its top edge, right of 60 %:
    // 11 cells of the top row, but for the corner, which its right edge reaches.
    double deadBandMm = 0;
    // Of the touches it declares, the board tracks this many (-1: all).
    int tracked = -1;
    bool doubledId = false;
    // The robot skips this step (after a ghost, for the quiet one), or the
    // check ends as it begins.
    int skip = -1;
    int cut = -1;
};

class Robot
{
public:
    Robot(BoardCheck& check, const Faults& faults) : check(check), f(faults), b(check.board()) {}

    void perform()
    {
        while (!check.isFinished()) {
            const Step step = check.step();
            if (int(step) == f.cut) {
                check.finish(ms);
                return;
            }
            if (int(step) == f.skip && step != Step::Quiet) {
                check.skip(ms);
                continue;
            }
            switch (step) {
            case Step::Quiet:
                quiet();
                break;
            case Step::Taps:
                taps();
                break;
            case Step::Hold:
                hold();
                break;
            case Step::Lines:
                lines();
                break;
            case Step::Rate:
                rate();
                break;
            case Step::Contacts:
                contacts();
                break;
            case Step::Sweep:
                sweep();
                break;
            }
            // A board that cannot do what the step asks: the tester gives up.
            if (!check.isFinished() && check.step() == step)
                check.finish(ms += 1000);
        }
    }

private:
    double period(Kind kind) const { return 1000 / (kind == Kind::Pen ? f.penHz : f.touchHz); }

    // One report, unless the board loses it in its dead band.
    void send(Kind kind, int id, double x, double y, bool down)
    {
        if (f.deadBandMm > 0 && y < f.deadBandMm && x > 0.6 * b.widthMm)
            return;
        check.add({kind, id, down, x * ContactReport::BoardUnits / b.widthMm,
                   y * ContactReport::BoardUnits / b.heightMm, ms});
    }

    // A contact along the points, a report each, then its lift; false once
    // the check left the step.
    bool stroke(Kind kind, int id, const std::vector<BoardCheck::Point>& points, double hz = 0)
    {
        const Step step = check.step();
        const double every = hz > 0 ? 1000 / hz : period(kind);
        for (const BoardCheck::Point& p : points) {
            send(kind, id, p.xMm, p.yMm, true);
            ms += every;
        }
        send(kind, id, points.back().xMm, points.back().yMm, false);
        ms += 200;
        return !check.isFinished() && check.step() == step;
    }

    void quiet()
    {
        if (f.ghost)
            stroke(Kind::Touch, 9, {{100, 100}, {100, 100}});
        if (f.skip == int(Step::Quiet))
            check.skip(ms);
        else
            check.advance(ms += BoardCheck::QuietMs);
    }

    void taps()
    {
        const std::vector<BoardCheck::Point> targets = CheckLayout::targets(b);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            BoardCheck::Point p = targets[i];
            p.xMm += i == 4 ? f.tapOffset : i == 10 ? -f.edgeTapOffset : 0;
            if (!stroke(f.kind, 1, {p, p, p}))
                return;
        }
    }

    void hold()
    {
        static const int turn[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
        for (const BoardCheck::Point& at : CheckLayout::holds(b)) {
            // It settles by 1.5 mm as it comes down, then scatters.
            std::vector<BoardCheck::Point> points;
            for (double t = 0; t < 5300; t += period(f.kind)) {
                const int k = int(points.size());
                const double settle = t < 300 ? 1.5 * (1 - t / 300) : 0;
                points.push_back({at.xMm + settle + f.holdNoise * turn[k % 4][0],
                                  at.yMm + f.holdNoise * turn[k % 4][1]});
            }
            if (!stroke(f.kind, 2, points))
                return;
        }
    }

    void lines()
    {
        const auto all = CheckLayout::lines(b);
        for (std::size_t i = 0; i < all.size(); ++i) {
            const auto [from, to] = all[i];
            const double length = std::hypot(to.xMm - from.xMm, to.yMm - from.yMm);
            const double ux = (to.xMm - from.xMm) / length, uy = (to.yMm - from.yMm) / length;
            std::vector<BoardCheck::Point> points;
            for (double s = 0; s <= length; s += 1) {
                const double t = s / length;
                double across = 0;
                if (i == 0)
                    across += f.lineBow * std::sin(M_PI * t);
                if (i == 1 && t > 0.45)
                    across += f.lineStep;
                points.push_back(
                    {from.xMm + ux * s - uy * across, from.yMm + uy * s + ux * across});
            }
            if (!stroke(f.kind, 3, points))
                return;
        }
    }

    // Three seconds and a little more of drawing, round a circle.
    std::vector<BoardCheck::Point> circle(double seconds, double hz) const
    {
        std::vector<BoardCheck::Point> points;
        for (double t = 0; t < seconds * 1000; t += 1000 / hz)
            points.push_back({b.widthMm / 2 + 100 * std::cos(t / 500),
                              b.heightMm / 2 + 100 * std::sin(t / 500)});
        return points;
    }

    void rate()
    {
        if (b.touches > 0 && !stroke(Kind::Touch, 4, circle(3.2, f.touchHz)))
            return;
        if (f.slowPenHz > 0 && !stroke(Kind::Pen, 0, circle(1, f.slowPenHz), f.slowPenHz))
            return;
        stroke(Kind::Pen, 0, circle(3.2, f.penHz));
    }

    // Each frame one packet, as a board sends it.
    void contacts()
    {
        const int fingers = f.tracked < 0 ? b.touches : f.tracked;
        const auto at = [&](int id, double x, double y, bool down) {
            return ContactReport{Kind::Touch,
                                 id,
                                 down,
                                 x * ContactReport::BoardUnits / b.widthMm,
                                 y * ContactReport::BoardUnits / b.heightMm,
                                 ms};
        };
        for (int frame = 0; frame < 20; ++frame, ms += period(Kind::Touch)) {
            std::vector<ContactReport> packet;
            for (int id = 0; id < fingers; ++id)
                packet.push_back(at(id, 100 + 60 * id + frame, 400, true));
            if (f.doubledId && frame == 10)
                packet.push_back(at(3, 900, 700, true));
            check.add(packet);
        }
        for (int id = 0; id < fingers; ++id)
            send(Kind::Touch, id, 100 + 60 * id, 400, false);
        ms += 200;
    }

    void sweep()
    {
        // Rows along both edges and through every row of cells, then both
        // side edges.
        std::vector<double> rows{2};
        for (int row = 0; row < CoverageGrid::Rows; ++row)
            rows.push_back((row + 0.5) * b.heightMm / CoverageGrid::Rows);
        rows.push_back(b.heightMm - 2);
        const auto path = [](double x0, double y0, double x1, double y1) {
            std::vector<BoardCheck::Point> points;
            const int n = int(std::hypot(x1 - x0, y1 - y0) / 5);
            for (int k = 0; k <= n; ++k)
                points.push_back({x0 + (x1 - x0) * k / n, y0 + (y1 - y0) * k / n});
            return points;
        };
        for (const double y : rows) {
            if (!stroke(f.kind, 5, path(2, y, b.widthMm - 2, y)))
                return;
        }
        for (const double x : {2.0, b.widthMm - 2}) {
            if (!stroke(f.kind, 5, path(x, 2, x, b.heightMm - 2)))
                return;
        }
    }

    BoardCheck& check;
    const Faults f;
    const BoardCheck::Board b;
    double ms = 0;
};

const BoardCheck::Board Board{1600, 900, 1, 10};

QString verdicts(const BoardCheck& check)
{
    QStringList names;
    for (const BoardCheck::Result& r : check.results())
        names << QString::fromLatin1(BoardCheck::name(r.verdict));
    return names.join(QLatin1Char(','));
}

std::optional<double> figure(const BoardCheck& check, const QString& name)
{
    for (const BoardCheck::Result& r : check.results()) {
        for (const BoardCheck::Figure& f : r.figures) {
            if (QString::fromStdString(f.name) == name)
                return f.value;
        }
    }
    return std::nullopt;
}

} // namespace

Q_DECLARE_METATYPE(BoardCheck::Board)
Q_DECLARE_METATYPE(Faults)

class TestBoardCheck : public QObject
{
    Q_OBJECT

private slots:
    void boards_data();
    void boards();
    void limits_data();
    void limits();
};

void TestBoardCheck::boards_data()
{
    QTest::addColumn<BoardCheck::Board>("board");
    QTest::addColumn<Faults>("faults");
    // Per step in order: quiet, taps, hold, lines, rate, contacts, sweep.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("verdict");
    // A figure that the fault gives, and its value.
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("value");

    const QString pass = QStringLiteral("pass,pass,pass,pass,pass,pass,pass");
    Faults f;
    QTest::newRow("clean") << Board << f << pass << "pass"
                           << "accuracy" << 0.0;
    // Settling by 1.5 mm as it comes down counts for nothing.
    QTest::newRow("hold, still") << Board << f << pass << "pass"
                                 << "jitter" << 0.1;
    f = {};
    f.holdNoise = 0.6;
    QTest::newRow("hold, noise") << Board << f << "pass,pass,fail,pass,pass,pass,pass"
                                 << "fail"
                                 << "jitter" << 1.2;
    f.holdNoise = 3;
    QTest::newRow("hold, noise too large to be still")
        << Board << f << "pass,pass,fail,pass,pass,pass,pass"
        << "fail"
        << "jitter" << 6.0;
    f = {};
    f.lineBow = 6;
    QTest::newRow("line, bowed") << Board << f << "pass,pass,pass,fail,pass,pass,pass"
                                 << "fail"
                                 << "straightness" << 6.0;
    f = {};
    f.lineStep = 3;
    // Just past the step, 0.45 of the way, the chord is 1.35 mm across.
    QTest::newRow("line, a step") << Board << f << "pass,pass,pass,fail,pass,pass,pass"
                                  << "fail"
                                  << "straightness" << 1.65;
    f = {};
    f.tapOffset = 1.5;
    QTest::newRow("tap off an inner target") << Board << f << "pass,fail,pass,pass,pass,pass,pass"
                                             << "fail"
                                             << "accuracy" << 1.5;
    f = {};
    f.edgeTapOffset = 1.5;
    QTest::newRow("tap off an edge target, within its limit") << Board << f << pass << "pass"
                                                              << "edge-accuracy" << 1.5;
    f.edgeTapOffset = 2.5;
    QTest::newRow("tap off an edge target") << Board << f << "pass,fail,pass,pass,pass,pass,pass"
                                            << "fail"
                                            << "edge-accuracy" << 2.5;
    f = {};
    f.slowPenHz = 50;
    QTest::newRow("slow pen beside fast ones") << Board << f << "pass,pass,pass,pass,fail,pass,pass"
                                               << "fail"
                                               << "pen-rate" << 50.0;
    f = {};
    f.touchHz = 30;
    QTest::newRow("touch-only board at 30/s")
        << BoardCheck::Board{1600, 900, 0, 10} << f << "pass,pass,pass,pass,fail,pass,pass"
        << "fail"
        << "touch-rate" << 30.0;
    f = {};
    f.ghost = true;
    QTest::newRow("ghost") << Board << f << "fail,pass,pass,pass,pass,pass,pass"
                           << "fail"
                           << "ghosts" << 1.0;
    f = {};
    f.deadBandMm = 20;
    QTest::newRow("dead band along an edge") << Board << f << "pass,pass,pass,pass,pass,pass,fail"
                                             << "fail"
                                             << "coverage" << 100.0 * (576 - 11) / 576;
    f = {};
    f.tracked = 4;
    QTest::newRow("tracks 4 of the 20 it declares")
        << BoardCheck::Board{1600, 900, 1, 20} << f << "pass,pass,pass,pass,pass,fail,pass"
        << "fail"
        << "contacts" << 4.0;
    f = {};
    f.doubledId = true;
    QTest::newRow("an id for two contacts") << Board << f << "pass,pass,pass,pass,pass,fail,pass"
                                            << "fail"
                                            << "contacts" << 10.0;
    f = {};
    f.kind = Kind::Pen;
    QTest::newRow("pen-only board")
        << BoardCheck::Board{600, 340, 1, 0} << f << "pass,pass,pass,pass,pass,not applicable,pass"
        << "pass"
        << "pen-rate" << 125.0;
    f = {};
    f.skip = int(Step::Taps);
    QTest::newRow("a step skipped") << Board << f << "pass,skipped,pass,pass,pass,pass,pass"
                                    << "incomplete"
                                    << "jitter" << 0.1;
    f = {};
    f.ghost = true;
    f.skip = int(Step::Quiet);
    QTest::newRow("a fault seen, then skipped")
        << Board << f << "fail,pass,pass,pass,pass,pass,pass"
        << "fail"
        << "ghosts" << 1.0;
    f = {};
    f.cut = int(Step::Lines);
    QTest::newRow("cut short") << Board << f << "pass,pass,pass,not done,not done,not done,not done"
                               << "incomplete"
                               << "jitter" << 0.1;
}

void TestBoardCheck::boards()
{
    QFETCH(BoardCheck::Board, board);
    QFETCH(Faults, faults);
    QFETCH(QString, name);
    QFETCH(double, value);
    BoardCheck check(board);
    Robot(check, faults).perform();
    QVERIFY(check.isFinished());
    QTEST(verdicts(check), "steps");
    QTEST(QString::fromLatin1(BoardCheck::name(check.verdict())), "verdict");
    const std::optional<double> measured = figure(check, name);
    QVERIFY2(measured && std::abs(*measured - value) < 0.01,
             qPrintable(QStringLiteral("%1 %2").arg(name).arg(measured.value_or(NAN))));

    // Every step in the document, in order, as judged.
    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(CheckReport::json(check, {1001, "b"})))
            .object();
    QCOMPARE(json.value("version").toInt(), CheckReport::Version);
    const QJsonArray steps = json.value("check").toObject().value("steps").toArray();
    QStringList names;
    for (const QJsonValue& step : steps)
        names << step.toObject().value("verdict").toString();
    QCOMPARE(names.join(QLatin1Char(',')), verdicts(check));
    QCOMPARE(json.value("check").toObject().value("verdict").toString(),
             QString::fromLatin1(BoardCheck::name(check.verdict())));
}

void TestBoardCheck::limits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("defaults") << ""
                              << "ghosts=0,accuracy=1,edge-accuracy=2,jitter=1,straightness=1,"
                                 "moving-jitter=1,touch-rate=100,pen-rate=100,contacts=5,"
                                 "coverage=100";
    QTest::newRow("some, spaced") << " coverage = 95 ,ghosts=2, pen-rate=1.2e2"
                                  << "ghosts=2,accuracy=1,edge-accuracy=2,jitter=1,straightness=1,"
                                     "moving-jitter=1,touch-rate=100,pen-rate=120,contacts=5,"
                                     "coverage=95";
    QTest::newRow("unknown") << "jiter=2"
                             << "'jiter=2' is not a limit: give name=value with a name of ghosts, "
                                "accuracy, edge-accuracy, jitter, straightness, moving-jitter, "
                                "touch-rate, pen-rate, contacts, coverage";
    QTest::newRow("not whole") << "contacts=2.5"
                               << "'2.5' is no value for contacts: give a whole number from 1 "
                                  "(touches), e.g. contacts=5";
    QTest::newRow("beyond") << "coverage=101"
                            << "'101' is no value for coverage: give a number above 0 up to 100 "
                               "(percent), e.g. coverage=100";
    QTest::newRow("zero") << "jitter=0"
                          << "'0' is no value for jitter: give a number above 0 (mm), e.g. "
                             "jitter=1";
    QTest::newRow("twice") << "ghosts=1,ghosts=2"
                           << "ghosts is given twice: give each limit once";
    QTest::newRow("last comma")
        << "jitter=1,"
        << "the limits end with a comma: separate name=value pairs with commas";
}

void TestBoardCheck::limits()
{
    QFETCH(QString, text);
    std::string error;
    const std::optional<CheckLimits> limits = CheckLimits::parse(text.toStdString(), error);
    QTEST(QString::fromStdString(limits ? limits->text() : error), "result");
}

QTEST_GUILESS_MAIN(TestBoardCheck)
#include "tst_boardcheck.moc"
