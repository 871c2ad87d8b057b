// The report rates of the measuring core, fed reports with given times: a
// known rate with one gap, two contacts of one frame sent apart, a scan that
// the device splits into two reports, and contacts of different rates.

#include "reportrates.h"

#include <QTest>

namespace {

ContactReport report(ContactReport::Kind kind, int id, double ms, bool down = true)
{
    ContactReport r;
    r.kind = kind;
    r.id = id;
    r.down = down;
    r.x = 1000 + ms;
    r.y = 2000;
    r.ms = ms;
    return r;
}

// A contact reporting every periodMs from fromMs to toMs, where it lifts.
void stroke(ReportRates& rates, ContactReport::Kind kind, int id, double fromMs, double toMs,
            double periodMs)
{
    for (double ms = fromMs; ms < toMs; ms += periodMs)
        rates.add(report(kind, id, ms));
    rates.add(report(kind, id, toMs, false));
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
};

void TestReportRates::knownRateWithOneGap()
{
    // A pen every 5 ms for a second, but 20 reports lost: a 105 ms dropout.
    ReportRates rates;
    for (int k = 0; k < 200; ++k) {
        if (k < 100 || k >= 120)
            rates.add(report(ContactReport::Pen, 0, k * 5.0));
        // A finger of the same id at its own pace is another contact.
        if (k % 2 == 0)
            rates.add(report(ContactReport::Touch, 0, k * 5.0 + 1));
    }
    rates.add(report(ContactReport::Pen, 0, 1000, false));
    rates.add(report(ContactReport::Touch, 0, 1001, false));

    const ReportRates::Figures pen = rates.figures(ContactReport::Pen);
    QCOMPARE(pen.ratedContacts, std::size_t(1));
    QCOMPARE(pen.rate.value_or(-1), 180.0);
    QCOMPARE(pen.intervals, std::size_t(180));
    QCOMPARE(pen.median.value_or(-1), 5.0);
    // One stall in 180 intervals stays below the 99th percentile.
    QCOMPARE(pen.p99.value_or(-1), 5.0);
    QCOMPARE(pen.longest.value_or(-1), 105.0);

    const ReportRates::Figures touch = rates.figures(ContactReport::Touch);
    QCOMPARE(touch.rate.value_or(-1), 100.0);
    QCOMPARE(touch.longest.value_or(-1), 10.0);
    QCOMPARE(rates.figures(ContactReport::Eraser).ratedContacts, std::size_t(0));
    QVERIFY(!rates.figures(ContactReport::Eraser).rate);
}

void TestReportRates::frameSentInTwoReports()
{
    // A frame every 8 ms with two touches, the second sent 1 ms after the
    // first in a report of its own: 250 reports a second, 125 per contact.
    ReportRates rates;
    for (int frame = 0; frame <= 100; ++frame) {
        const bool down = frame < 100;
        rates.add(report(ContactReport::Touch, 1, frame * 8.0, down));
        rates.add(report(ContactReport::Touch, 2, frame * 8.0 + 1, down));
    }
    const ReportRates::Figures touch = rates.figures(ContactReport::Touch);
    QCOMPARE(touch.ratedContacts, std::size_t(2));
    QCOMPARE(touch.rate.value_or(-1), 125.0);
    QCOMPARE(touch.intervals, std::size_t(200));
    QCOMPARE(touch.median.value_or(-1), 8.0);
    QCOMPARE(touch.p99.value_or(-1), 8.0);
    QCOMPARE(touch.longest.value_or(-1), 8.0);
}

void TestReportRates::splitScan()
{
    // Ten fingers scanned every 8 ms and sent as two reports 2 ms apart, the
    // first with fingers 0 to 4 and the second with 5 to 9. Finger 3 lifts
    // for 104 ms halfway; a touch that gives a single report has no rate.
    ReportRates rates;
    for (int scan = 0; scan <= 50; ++scan) {
        for (int finger = 0; finger < 10; ++finger) {
            const double ms = scan * 8.0 + (finger < 5 ? 0 : 2);
            if (finger == 3 && scan > 25 && scan < 38)
                continue;
            const bool lifts = scan == 50 || (finger == 3 && scan == 25);
            rates.add(report(ContactReport::Touch, finger, ms, !lifts));
        }
    }
    rates.add(report(ContactReport::Touch, 20, 100));

    const ReportRates::Figures touch = rates.figures(ContactReport::Touch);
    // Finger 3 twice, the touch of one report not at all.
    QCOMPARE(touch.ratedContacts, std::size_t(11));
    QCOMPARE(touch.rate.value_or(-1), 125.0);
    QCOMPARE(touch.intervals, std::size_t(9 * 50 + 25 + 12));
    QCOMPARE(touch.median.value_or(-1), 8.0);
    // Neither the lifted time nor the half-scan offset is an interval.
    QCOMPARE(touch.longest.value_or(-1), 8.0);
}

void TestReportRates::boardRateIsTheMedianOfContacts()
{
    // One contact every 2 ms and two every 10 ms, each for a second: most
    // intervals are the fast one's, yet two of three contacts report 100
    // times a second. Contacts still down count.
    ReportRates rates;
    stroke(rates, ContactReport::Eraser, 1, 0, 1000, 2);
    stroke(rates, ContactReport::Eraser, 2, 0, 1000, 10);
    for (int k = 0; k <= 100; ++k)
        rates.add(report(ContactReport::Eraser, 3, 500 + k * 10.0));

    const ReportRates::Figures eraser = rates.figures(ContactReport::Eraser);
    QCOMPARE(eraser.ratedContacts, std::size_t(3));
    QCOMPARE(eraser.rate.value_or(-1), 100.0);
    QCOMPARE(eraser.intervals, std::size_t(500 + 100 + 100));
    QCOMPARE(eraser.median.value_or(-1), 2.0);
    QCOMPARE(eraser.p99.value_or(-1), 10.0);
    QVERIFY(!ReportRates::rate(0, 10));
    QVERIFY(!ReportRates::rate(3, 0));
}

QTEST_GUILESS_MAIN(TestReportRates)
#include "tst_reportrates.moc"
