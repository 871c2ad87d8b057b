// The report rates of the measuring core, fed reports with given times: a
// known rate with one gap, two contacts of one frame sent apart, a scan that
// the device splits into two reports, and contacts of different rates; the
// intervals' histogram against every interval kept.

#include "reportrates.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using Kind = ContactReport::Kind;

ContactReport report(Kind kind, int id, double ms, bool down = true)
{
    return {kind, id, down, 1000 + ms, 2000, ms};
}

} // namespace

class TestReportRates : public QObject
{
    Q_OBJECT

private slots:
    void knownRateWithOneGap();
    void frameSentInTwoReports();
    void splitScan();
    void boardRateIsTheMedianOfContacts();
    void histogramKeepsOrderStatistics_data();
    void histogramKeepsOrderStatistics();
};

void TestReportRates::knownRateWithOneGap()
{
    // A pen every 5 ms for a second, 20 reports lost: a 105 ms dropout. A
    // finger of the same id is a contact of its own.
    ReportRates rates;
    for (int k = 0; k < 200; ++k) {
        if (k < 100 || k >= 120)
            rates.add(report(ContactReport::Pen, 0, k * 5.0));
        rates.add(report(ContactReport::Touch, 0, k * 5.0 + 1));
    }
    rates.add(report(ContactReport::Pen, 0, 1000, false));

    const ReportRates::Figures pen = rates.figures(ContactReport::Pen);
    QCOMPARE(pen.ratedContacts, std::size_t(1));
    QCOMPARE(pen.rate.value_or(-1), 180.0);
    QCOMPARE(pen.intervals, std::size_t(180));
    QCOMPARE(pen.median.value_or(-1), 5.0);
    // One stall in 180 intervals stays below the 99th percentile.
    QCOMPARE(pen.p99.value_or(-1), 5.0);
    QCOMPARE(pen.longest.value_or(-1), 105.0);
    // Still down at the end, it counts with what it reported so far.
    QCOMPARE(rates.figures(ContactReport::Touch).rate.value_or(-1), 200.0);
    QVERIFY(!rates.figures(ContactReport::Eraser).rate);
}

void TestReportRates::frameSentInTwoReports()
{
    // A frame every 8 ms with two touches, the second sent 1 ms after the
    // first in a report of its own: 250 reports a second, 125 per contact.
    ReportRates rates;
    for (int frame = 0; frame <= 100; ++frame) {
        rates.add(report(ContactReport::Touch, 1, frame * 8.0, frame < 100));
        rates.add(report(ContactReport::Touch, 2, frame * 8.0 + 1, frame < 100));
    }
    const ReportRates::Figures touch = rates.figures(ContactReport::Touch);
    QCOMPARE(touch.ratedContacts, std::size_t(2));
    QCOMPARE(touch.rate.value_or(-1), 125.0);
    QCOMPARE(touch.intervals, std::size_t(200));
    QCOMPARE(touch.median.value_or(-1), 8.0);
    QCOMPARE(touch.longest.value_or(-1), 8.0);
}

void TestReportRates::splitScan()
{
    // Ten fingers scanned every 8 ms and sent as two reports 2 ms apart, the
    // first with fingers 0 to 4 and the second with 5 to 9. Finger 3 lifts
    // for 104 ms halfway; a touch of a single report has no rate.
    ReportRates rates;
    for (int scan = 0; scan <= 50; ++scan) {
        for (int finger = 0; finger < 10; ++finger) {
            if (finger == 3 && scan > 25 && scan < 38)
                continue;
            const bool lifts = scan == 50 || (finger == 3 && scan == 25);
            rates.add(
                report(ContactReport::Touch, finger, scan * 8.0 + (finger < 5 ? 0 : 2), !lifts));
        }
    }
    rates.add(report(ContactReport::Touch, 20, 100));

    const ReportRates::Figures touch = rates.figures(ContactReport::Touch);
    QCOMPARE(touch.ratedContacts, std::size_t(9 + 2));
    QCOMPARE(touch.rate.value_or(-1), 125.0);
    QCOMPARE(touch.intervals, std::size_t(9 * 50 + 25 + 12));
    // Neither the lifted time nor the half-scan offset is an interval.
    QCOMPARE(touch.median.value_or(-1), 8.0);
    QCOMPARE(touch.longest.value_or(-1), 8.0);
}

void TestReportRates::boardRateIsTheMedianOfContacts()
{
    // For a second, one eraser every 2 ms and two every 10 ms: most
    // intervals are the fast one's, yet two of three contacts report 100
    // times a second.
    ReportRates rates;
    for (int k = 0; k <= 500; ++k) {
        rates.add(report(ContactReport::Eraser, 1, k * 2.0, k < 500));
        if (k % 5 == 0) {
            rates.add(report(ContactReport::Eraser, 2, k * 2.0, k < 500));
            rates.add(report(ContactReport::Eraser, 3, k * 2.0 + 1, k < 500));
        }
    }
    const ReportRates::Figures eraser = rates.figures(ContactReport::Eraser);
    QCOMPARE(eraser.rate.value_or(-1), 100.0);
    QCOMPARE(eraser.intervals, std::size_t(500 + 100 + 100));
    QCOMPARE(eraser.median.value_or(-1), 2.0);
    QCOMPARE(eraser.p99.value_or(-1), 10.0);
}

void TestReportRates::histogramKeepsOrderStatistics_data()
{
    QTest::addColumn<double>("typical");
    QTest::addColumn<double>("spread");
    QTest::newRow("a fast board, times in nanoseconds") << 2.5 << 0.3;
    QTest::newRow("a 60 Hz board with stalls") << 16.7 << 4.0;
    QTest::newRow("beyond the microsecond bins") << 90.0 << 20.0;
}

void TestReportRates::histogramKeepsOrderStatistics()
{
    // Intervals of a live session, scattered and with rare long gaps,
    // counted against all of them kept.
    QFETCH(double, typical);
    QFETCH(double, spread);
    std::mt19937 random(7);
    std::normal_distribution<double> scatter(typical, spread);
    std::uniform_real_distribution<double> chance(0, 1);
    IntervalHistogram counted;
    std::vector<double> kept;
    for (int k = 0; k < 20000; ++k) {
        const double ms = chance(random) < 0.02 ? typical * 20 * chance(random) : scatter(random);
        const double rounded = std::round(ms * 1e6) / 1e6;
        counted.add(rounded);
        kept.push_back(rounded);
    }
    std::sort(kept.begin(), kept.end());
    QCOMPARE(counted.count(), kept.size());
    QCOMPARE(counted.largest(), kept.back());
    for (const double p : {0.0, 0.01, 0.5, 0.9, 0.99, 0.999}) {
        // By nearest rank.
        const auto rank = std::max<std::size_t>(1, std::size_t(std::ceil(p * kept.size())));
        const double exact = kept[rank - 1];
        const double tolerance =
            exact < IntervalHistogram::LinearMs ? 0.0005 + 1e-9 : exact * 0.0005;
        QVERIFY2(std::abs(counted.percentile(p) - exact) <= tolerance,
                 qPrintable(QString("percentile %1: %2 ms counted, %3 ms exact")
                                .arg(p)
                                .arg(counted.percentile(p), 0, 'f', 6)
                                .arg(exact, 0, 'f', 6)));
    }
}

QTEST_GUILESS_MAIN(TestReportRates)
#include "tst_reportrates.moc"
