// The limits' text as a person gives it to either program: changes to some
// limits keep the others' defaults, and every kind of mistake is named.

#include "measurelimits.h"

#include <QTest>

class TestMeasureLimits : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestMeasureLimits::parse_data()
{
    // The limits read, as text() gives them back, or the error.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("empty") << " "
                           << "jitter=1,straightness=1,pen-rate=100,accuracy=2";
    QTest::newRow("two") << "jitter=0.5,pen-rate=120"
                         << "jitter=0.5,straightness=1,pen-rate=120,accuracy=2";
    QTest::newRow("all, spaced, any order")
        << " accuracy = 3 , straightness=0.25,pen-rate=1e2 ,jitter=.75"
        << "jitter=0.75,straightness=0.25,pen-rate=100,accuracy=3";
    QTest::newRow("unknown name")
        << "jitter=1,jiter=2"
        << "'jiter=2' is not a limit: give name=value with a name of jitter, straightness, "
           "pen-rate or accuracy";
    QTest::newRow("no value")
        << "straightness"
        << "straightness has no value: give a number above 0 (mm), e.g. straightness=1";
    QTest::newRow("not a number") << "pen-rate=fast"
                                  << "'fast' is no value for pen-rate: give a number above 0 "
                                     "(reports per second), e.g. pen-rate=100";
    QTest::newRow("decimal comma")
        << "accuracy=1,5"
        << "'5' is not a limit: give name=value with a name of jitter, straightness, pen-rate or "
           "accuracy";
    QTest::newRow("unit") << "jitter=1mm"
                          << "'1mm' is no value for jitter: give a number above 0 (mm), e.g. "
                             "jitter=1";
    QTest::newRow("zero") << "accuracy=0"
                          << "'0' is no value for accuracy: give a number above 0 (mm), e.g. "
                             "accuracy=2";
    QTest::newRow("twice") << "jitter=1,jitter=2"
                           << "jitter is given twice: give each limit once";
    QTest::newRow("last comma")
        << "jitter=1, "
        << "the limits end with a comma: separate name=value pairs with commas";
}

void TestMeasureLimits::parse()
{
    QFETCH(QString, text);
    std::string error;
    const std::optional<MeasureLimits> limits = MeasureLimits::parse(text.toStdString(), error);
    QTEST(QString::fromStdString(limits ? limits->text() : error), "result");
    // What text() gives reads back the same.
    if (limits)
        QCOMPARE(MeasureLimits::parse(limits->text(), error)->text(), limits->text());
}

QTEST_GUILESS_MAIN(TestMeasureLimits)
#include "tst_measurelimits.moc"
