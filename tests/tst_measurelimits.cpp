// The limits' text as a person gives it to either program: changes to some
// limits keep the others' defaults, and every kind of mistake is named.

#include "measurelimits.h"

#include <QTest>

class TestMeasureLimits : public QObject
{
    Q_OBJECT

private slots:
    void goodText_data();
    void goodText();
    void badText_data();
    void badText();
    void verdicts();
};

void TestMeasureLimits::goodText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("jitter");
    QTest::addColumn<double>("straightness");
    QTest::addColumn<double>("penRate");
    QTest::addColumn<double>("accuracy");
    QTest::newRow("empty") << "" << 1.0 << 1.0 << 100.0 << 2.0;
    QTest::newRow("two") << "jitter=0.5,pen-rate=120" << 0.5 << 1.0 << 120.0 << 2.0;
    QTest::newRow("all, spaced, any order")
        << " accuracy = 3 , straightness=0.25,pen-rate=1e2 ,jitter=.75" << 0.75 << 0.25 << 100.0
        << 3.0;
}

void TestMeasureLimits::goodText()
{
    QFETCH(QString, text);
    std::string error;
    const std::optional<MeasureLimits> limits = MeasureLimits::parse(text.toStdString(), error);
    QVERIFY2(limits, error.c_str());
    QTEST(limits->jitter, "jitter");
    QTEST(limits->straightness, "straightness");
    QTEST(limits->penRate, "penRate");
    QTEST(limits->accuracy, "accuracy");
    // What text() gives reads back the same.
    const std::optional<MeasureLimits> again = MeasureLimits::parse(limits->text(), error);
    QVERIFY(again && again->text() == limits->text());
}

void TestMeasureLimits::badText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown name")
        << "jitter=1,jiter=2"
        << "'jiter=2' is not a limit: give name=value with a name of jitter, straightness, "
           "pen-rate or accuracy";
    QTest::newRow("no value") << "straightness"
                              << "straightness has no value: give a number above 0 (mm), e.g. "
                                 "straightness=1";
    QTest::newRow("not a number") << "pen-rate=fast"
                                  << "'fast' is no value for pen-rate: give a number above 0 "
                                     "(reports per second), e.g. pen-rate=100";
    QTest::newRow("decimal comma") << "accuracy=1,5"
                                   << "'5' is not a limit: give name=value with a name of jitter, "
                                      "straightness, pen-rate or accuracy";
    QTest::newRow("trailing text") << "jitter=1mm"
                                   << "'1mm' is no value for jitter: give a number above 0 (mm), "
                                      "e.g. jitter=1";
    QTest::newRow("zero") << "jitter=0"
                          << "'0' is no value for jitter: give a number above 0 (mm), e.g. "
                             "jitter=1";
    QTest::newRow("negative") << "accuracy=-2"
                              << "'-2' is no value for accuracy: give a number above 0 (mm), "
                                 "e.g. accuracy=2";
    QTest::newRow("infinite") << "pen-rate=inf"
                              << "'inf' is no value for pen-rate: give a number above 0 (reports "
                                 "per second), e.g. pen-rate=100";
    QTest::newRow("twice") << "jitter=1,jitter=2"
                           << "jitter is given twice: give each limit once";
    QTest::newRow("trailing comma")
        << "jitter=1, "
        << "the limits end with a comma: separate name=value pairs with commas";
}

void TestMeasureLimits::badText()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    std::string message;
    QVERIFY(!MeasureLimits::parse(text.toStdString(), message));
    QCOMPARE(QString::fromStdString(message), error);
}

void TestMeasureLimits::verdicts()
{
    using V = MeasureLimits::Verdict;
    // The limit itself passes; no figure gives no verdict.
    QCOMPARE(MeasureLimits::atMost(1.0, 1.0), V::Pass);
    QCOMPARE(MeasureLimits::atMost(1.01, 1.0), V::Fail);
    QCOMPARE(MeasureLimits::atLeast(100.0, 100.0), V::Pass);
    QCOMPARE(MeasureLimits::atLeast(99.9, 100.0), V::Fail);
    QCOMPARE(MeasureLimits::atMost(std::nullopt, 1.0), V::None);
    QCOMPARE(MeasureLimits::atLeast(std::nullopt, 1.0), V::None);
}

QTEST_GUILESS_MAIN(TestMeasureLimits)
#include "tst_measurelimits.moc"
