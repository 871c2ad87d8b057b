// The board check as the visualiser feeds it: packets that come together
// stay apart in the check, as packets, and all go to its capture, whose board
// line gives the size the check used, as boardevents --judge reads it back.

#include "boardchecker.h"
#include "boardpackets.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

using Contacts = QList<std::tuple<int, int, bool>>;

QByteArray touches(const Contacts& contacts)
{
    NorvaHardware::TouchEvent event;
    for (const auto& [id, x, down] : contacts) {
        NorvaHardware::TouchContact c;
        c.id = quint8(id);
        c.x = x;
        c.y = 16384;
        c.down = down;
        event.append(c);
    }
    return BoardPackets::touchPackets(event).front();
}

Contacts fingers(int x, bool down)
{
    Contacts all;
    for (int id = 0; id < 5; ++id)
        all.append({id, x + 2000 * id, down});
    return all;
}

} // namespace

class TestBoardChecker : public QObject
{
    Q_OBJECT

private slots:
    void packetsApart_data();
    void packetsApart();
    void withSize_data();
    void withSize();
};

void TestBoardChecker::packetsApart_data()
{
    QTest::addColumn<QByteArrayList>("packets");
    QTest::addColumn<QString>("verdict");

    // Delivered at once, as a late driver or a busy machine hands them on.
    QByteArrayList moving;
    QByteArrayList doubled;
    for (int x = 1000; x < 1010; ++x) {
        Contacts contacts = fingers(x, true);
        moving << touches(contacts);
        if (x == 1004)
            contacts.append({3, 20000, true});
        doubled << touches(contacts);
    }
    moving << touches(fingers(1010, false));
    doubled << touches(fingers(1010, false));
    QTest::newRow("five fingers moving, their packets together") << moving << "pass";
    QTest::newRow("an id twice in one packet") << doubled << "fail";
}

void TestBoardChecker::packetsApart()
{
    QFETCH(QByteArrayList, packets);
    QFETCH(QString, verdict);

    NorvaHardware hardware;
    BoardChecker checker(&hardware, {});
    const QByteArray description = "hid<TOGETHER> xp<0> xt<5> mm<500,300>";
    emit hardware.deviceEnumerated(
        0, BoardPackets::parseDescription(description.constData(), description.size() + 1), 1001);
    emit hardware.deviceEnumCount(1);
    QCOMPARE(checker.start(), QString());
    // To the contacts step.
    for (int step = 0; step < int(BoardCheck::Step::Contacts); ++step)
        checker.skip();
    for (const QByteArray& packet : packets)
        emit hardware.packetReceived(packet, 0);
    QCOMPARE(checker.read().step, BoardCheck::Step::Sweep);
    checker.skip();

    const std::optional<BoardChecker::Outcome> outcome = checker.takeOutcome();
    QVERIFY(outcome);
    const auto& contacts = outcome->check.results()[std::size_t(BoardCheck::Step::Contacts)];
    QCOMPARE(QString(BoardCheck::name(contacts.verdict)), verdict);
    QCOMPARE(contacts.mostTouches, 5);

    QFile capture(outcome->capture->fileName());
    QVERIFY(capture.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromLatin1(capture.readAll()).split('\n');
    QVERIFY(lines.contains("board 1 hid<TOGETHER> xp<0> xt<5> mm<500,300> # device 1001"));
    QCOMPARE(lines.filter(QRegularExpression("^raw ")).size(), packets.size());
}

void TestBoardChecker::withSize_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("expected");

    QTest::newRow("its own size replaced") << "hid<A> xt<10> mm<1650,930> xl<1>"
                                           << "hid<A> xt<10> mm<1638.4,819.25> xl<1>";
    QTest::newRow("none given: added") << "hid<A> xt<10>"
                                       << "hid<A> xt<10> mm<1638.4,819.25>";
    QTest::newRow("an empty description") << ""
                                          << "mm<1638.4,819.25>";
    QTest::newRow("mm inside another tag's value: ours first, read first")
        << "hid<comm> mm<1,2>"
        << "mm<1638.4,819.25> hid<comm> mm<1,2>";
    QTest::newRow("a tag left open") << "hid<A> mm<1650"
                                     << "mm<1638.4,819.25> hid<A> mm<1650";
}

// The size that a description so changed gives is the check's, exactly.
void TestBoardChecker::withSize()
{
    QFETCH(QString, description);
    QFETCH(QString, expected);

    const QString changed = BoardChecker::withSize(description, 1638.4, 819.25);
    QCOMPARE(changed, expected);
    const QByteArray text = changed.toLatin1();
    const auto size = BoardPackets::parseDescription(text.constData(), text.size() + 1).millimetres;
    QVERIFY(size);
    QCOMPARE(size->width(), 1638.4);
    QCOMPARE(size->height(), 819.25);
}

QTEST_MAIN(TestBoardChecker)
#include "tst_boardchecker.moc"
