// The board events tool as its users run it, against the simulated board:
// the lines it prints, plug-and-play, the summary's rates, the recording
// played back, also when cut short, Ctrl+C, the end after an idle time,
// failed writes, the measurement against the core fed the same reports, and
// its command line.

#include "boardeventsrun.h"
#include "boardmeasurement.h"
#include "boardpackets.h"
#include "checklimits.h"
#include "recordings.h"
#include "simulatedboard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray OneBoard = "board 1 hid<NORVA-SIM-1> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>\n";

// Creates the file that a scenario's "wait file" waits for.
void touch(const QString& path)
{
    QFile(path).open(QIODevice::WriteOnly);
}

// A scenario line that holds the board's input back until touch(path).
QByteArray waitFile(const QString& path)
{
    return "wait file " + QFile::encodeName(path) + '\n';
}

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The number in a summary line after the given word, -1 without one.
double figure(const QString& line, const QString& word)
{
    const QRegularExpression pattern(' ' + word + " ([0-9.]+)");
    const QRegularExpressionMatch match = pattern.match(line);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

// Whether a kind's summary line gives the rate that the event lines' own
// times give: each contact from touch-down to lift, its reports per second
// while down, none with a single report, and the median over the contacts
// that have one (nearest rank).
bool rateFollowsFromTimes(BoardEventsRun& session, const QString& kind)
{
    QMap<int, QList<double>> down;
    QList<double> rates;
    const auto lifted = [&rates](const QList<double>& times) {
        if (times.size() > 1 && times.last() > times.first())
            rates << (times.size() - 1) * 1000.0 / (times.last() - times.first());
    };
    const QStringList events = session.events();
    const QList<double> times = session.times();
    for (int i = 0; i < events.size(); ++i) {
        const QString prefix = events[i].section(' ', 0, 0) + ' ' + kind + ' ';
        if (!events[i].startsWith(prefix))
            continue;
        // "<index> <x> <y> [tip]..." for a pen, "<id> down|up ...; ..." else.
        for (const QString& contact : events[i].mid(prefix.size()).split("; ")) {
            const QStringList words = contact.split(' ');
            const bool isDown = kind == "pen" ? words.contains("tip") : words[1] == "down";
            if (isDown || down.contains(words[0].toInt()))
                down[words[0].toInt()] << times[i];
            if (!isDown)
                lifted(down.take(words[0].toInt()));
        }
    }
    for (const QList<double>& contact : down)
        lifted(contact);
    std::sort(rates.begin(), rates.end());
    const QString line = session.summary().filter(' ' + kind + " rated-contacts ").value(0);
    // The tool keeps the contacts' mean intervals to the microsecond and
    // prints the rate to a tenth: the median may differ by half a tenth and
    // what 1.5 microseconds of interval make.
    const double median = rates.isEmpty() ? 0 : rates[(rates.size() + 1) / 2 - 1];
    const bool same =
        figure(line, "rated-contacts") == rates.size() &&
        (rates.isEmpty() ? line.contains(" rate none ")
                         : qAbs(figure(line, "rate") - median) <= 0.05 + 1.5e-6 * median * median);
    if (!same)
        qWarning("%s\nfrom the times: %lld contacts, median rate %.2f", qPrintable(line),
                 qint64(rates.size()), median);
    return same;
}

const char* const KindNames[ContactReport::Kinds] = {"pen", "touch", "eraser"};

// One board's event lines to the core, each packet and its contacts at its
// line's time: what the session received, as it printed it.
void addPrinted(BoardEventsRun& session, int device, BoardMeasurement& core)
{
    const QStringList events = session.events();
    const QList<double> times = session.times();
    for (int i = 0; i < events.size(); ++i) {
        const QStringList words = events[i].split(' ');
        const auto kind = std::find(std::begin(KindNames), std::end(KindNames), words.value(1));
        if (words[0].toInt() != device || kind == std::end(KindNames))
            continue;
        const auto contactKind = ContactReport::Kind(kind - std::begin(KindNames));
        core.addPacket(contactKind, times[i]);
        if (words.size() < 3)
            continue;
        // "<index> <x> <y> [tip]..." for a pen, "<id> down|up <x> <y> ...; ..." else.
        const bool pen = kind == std::begin(KindNames);
        for (const QString& contact : events[i].section(' ', 2).split("; ")) {
            const QStringList w = contact.split(' ');
            core.add({contactKind, w[0].toInt(), pen ? w.contains("tip") : w[1] == "down",
                      w[pen ? 1 : 2].toDouble(), w[pen ? 2 : 3].toDouble(), times[i]});
        }
    }
}

// A figure from the JSON against the core's: both none, or the same within
// what the printed times' rounding to a microsecond changes: by default a
// part in 10,000; a rate, by a microsecond over the time it is taken over.
bool same(const QJsonValue& json, const std::optional<double>& core, double relative = 1e-4)
{
    if (json.isNull() && !core)
        return true;
    if (json.isDouble() && core && qAbs(json.toDouble() - *core) <= 1e-3 + relative * qAbs(*core))
        return true;
    qWarning("JSON %s, core %s",
             QJsonDocument(QJsonArray{json}).toJson(QJsonDocument::Compact).constData(),
             core ? qPrintable(QString::number(*core)) : "none");
    return false;
}

// Every figure of a board's JSON against the core fed the same reports.
void compareWithCore(const QJsonObject& board, const BoardMeasurement& core)
{
    const BoardMeasurement::Figures f = core.figures();
    std::optional<double> longest;
    for (int kind = 0; kind < ContactReport::Kinds; ++kind) {
        // Medians of rates counted to a microsecond of their mean intervals.
        const ReportRates::Rate& rate = f.rates[std::size_t(kind)];
        QVERIFY(same(board["rate_hz"][KindNames[kind]], rate.rate, 5e-4));
        QVERIFY(same(board["lowest_rate_hz"][KindNames[kind]], rate.lowest, 5e-4));
        QVERIFY(same(board["frame_rate_hz"][KindNames[kind]], f.frameRates[std::size_t(kind)]));
        QCOMPARE(board["most_down"][KindNames[kind]].toInt(),
                 f.mostAtOnceOfKind[std::size_t(kind)]);
        const std::optional<double> gap = core.rates().figures(ContactReport::Kind(kind)).longest;
        if (gap && (!longest || *gap > *longest))
            longest = gap;
    }
    QVERIFY(same(board["longest_gap_ms"], longest));
    QCOMPARE(board["most_down"]["all"].toInt(), f.mostAtOnce);
    QCOMPARE(board["coverage"].toDouble(), f.coverage);
    const QJsonObject anomalies = board["anomalies"].toObject();
    QCOMPARE(anomalies["stuck"].toInt(), int(f.anomalies.stuck));
    QCOMPARE(anomalies["orphan_lifts"].toInt(), int(f.anomalies.orphanLifts));
    QCOMPARE(anomalies["short"].toInt(), int(f.anomalies.shortContacts));
    QVERIFY(same(anomalies["jumps"],
                 f.anomalies.jumps ? std::optional<double>(*f.anomalies.jumps) : std::nullopt));
    QVERIFY(same(board["jitter_mm"], f.jitter));
    QVERIFY(same(board["jitter_rms_mm"], f.jitterRms));
    QCOMPARE(board["jitter_run"].isNull(), !f.jitterRun);
    if (f.jitterRun)
        QCOMPARE(board["jitter_run"]["reports"].toInt(), int(f.jitterRun->reports));
    QVERIFY(same(board["straightness_mm"], f.straightness));
    // What is gone with the verdicts.
    for (const char* name : {"verdicts", "verdict", "worst", "beyond_limit"})
        QVERIFY2(!board.contains(name), name);

    const QJsonArray strokes = board["strokes"].toArray();
    QCOMPARE(strokes.size(), int(core.strokes().size()));
    for (int i = 0; i < strokes.size(); ++i) {
        const QJsonObject json = strokes[i].toObject();
        const BoardMeasurement::Stroke& s = core.strokes()[std::size_t(i)];
        QCOMPARE(json["kind"].toString(), QString(KindNames[s.kind]));
        QCOMPARE(json["id"].toInt(), s.id);
        QVERIFY(same(json["start_ms"], s.startMs));
        QCOMPARE(json["reports"].toInt(), int(s.reports));
        QVERIFY(same(json["rate_hz"], s.rate, 1e-3 / (s.endMs - s.startMs) + 1e-6));
        QVERIFY(same(json["length_mm"], s.length));
        QVERIFY(same(json["jitter_mm"], s.jitter));
        QVERIFY(same(json["jitter_rms_mm"], s.jitterRms));
        QVERIFY(same(json["straightness_mm"], s.straightness));
    }
}

} // namespace

class TestBoardEvents : public QObject
{
    Q_OBJECT

private slots:
    void everyKindOfPacket();
    void plugAndPlayRecordedAndPlayedBack();
    void summaryRates();
    void summaryRatesOfRecording();
    void idleEndsSession();
    void unusableDriver();
    void roundTripKeepsLines();
    void interruptCompletesRecordingAndDetaches();
    void failedWriteEndsSession();
    void durationCountsFromStart();
    void outputGoesAway();
    void measure();
    void check();
    void commandLine();
};

void TestBoardEvents::everyKindOfPacket()
{
    // 37 contacts do not fit one touch packet: the board sends two.
    NorvaHardware::TouchEvent contacts;
    for (int id = 0; id < 37; ++id)
        contacts.append({quint8(id), 100 + id, 200, 0, true});
    QByteArray split;
    for (const QByteArray& packet : BoardPackets::touchPackets(contacts))
        split += "raw " + packet.toHex(' ') + '\n';
    // Packets may come while the enumeration is still at work: they wait
    // until it is over, for a steady order of lines.
    QTemporaryDir dir;
    const QString ready = dir.filePath("ready");
    SimulatedBoard board(OneBoard + waitFile(ready) +
                         "pen 3 100 200 tip button bit2\n"
                         "prefix on\n"
                         "pen 0 65535 0\n"
                         "eraser 1 down 16384 16384 2400 1600; 2 up 1 2 3 4\n"
                         "prefix off\n"
                         "touch\n"
                         "raw 08 a5 ff 02 80 7f 00 01\n"
                         "raw 09 21 00 00 00 00 00 00 00\n"
                         "raw 05 33 01 02 03\n"
                         "raw 08\n" +
                         split);
    BoardEventsRun session({"--raw"});
    QVERIFY(session.waitForEvents(2));
    touch(ready);
    QVERIFY(session.waitForEvents(12));
    QVERIFY2(session.interrupt() == 0, qPrintable(session.outcome()));

    QStringList events = session.events();
    QCOMPARE(events.size(), 12);
    QCOMPARE(events.mid(0, 2),
             QStringList({"board 0 device 1001 hid<NORVA-SIM-1> vid<1f2e> pid<0042> xp<4> xt<20> "
                          "xl<1>",
                          "boards 1 of 1"}));
    QString touches;
    for (int id = 0; id < 36; ++id)
        touches += QStringLiteral("%1%2 down %3 200 0").arg(id ? "; " : " ").arg(id).arg(100 + id);
    const QStringList expected = {
        "1001 pen 3 100 200 tip button bit2 | 08 21 00 64 00 c8 00 1f",
        "1001 pen 0 65535 0 | 0b 41 00 08 21 00 ff ff 00 00 00",
        "1001 eraser 1 down 16384 16384 2400 1600; 2 up 1 2 3 4",
        "1001 touch | 02 45",
        "1001 status -1 2 -128 127 0 1 tag 5 | 08 a5 ff 02 80 7f 00 01",
        "1001 ignored length 9 | 09 21 00 00 00 00 00 00 00",
        "1001 ignored length 5 | 05 33 01 02 03",
        "1001 ignored length 1 | 08",
        "1001 touch" + touches,
        "1001 touch 36 down 136 200 0",
    };
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(events.at(2 + i).section(" | ", 0, expected.at(i).count(" | ")), expected.at(i));

    // Pen 3, eraser 1 and the 37 touches stay down: 39 at once at the end.
    // Pen 0 only hovered and eraser 2 was only reported up: no contacts.
    QCOMPARE(session.summary().mid(0, 2),
             QStringList({"# board 1001 packets 10 pen 2 touch 3 eraser 1 status 1 ignored 3",
                          "# board 1001 contacts pen 1 touch 37 eraser 1 most-down 39"}));
}

void TestBoardEvents::plugAndPlayRecordedAndPlayedBack()
{
    // Boards plugged in after the start, and one that stays while the other
    // goes: each sends as soon as the host has registered for it again,
    // which the recording waits for when played back.
    QTemporaryDir dir;
    const QString recording = dir.filePath("session.txt");
    const QString ready = dir.filePath("ready");
    // Board 1's size and a tag that the host does not know are shown and
    // recorded as the driver gave them.
    const QByteArray scenario = "board 1 unplugged vid<1> mm<464.8,255.6> ink<x> hid<A>\n"
                                "board 2 unplugged hid<B> vid<3> pid<4> xp<2> xt<4> xl<1>\n" +
                                waitFile(ready) +
                                "plug 1\nwait callback 1\npen 0 1 1 tip\n"
                                "plug 2\nwait callback 2\npen 0 2 2 tip\n"
                                "unplug 1\nwait callback 2\nuse 2\npen 0 3 3\n";
    const QString a = "device 1001 vid<1> mm<464.8,255.6> ink<x> hid<A>";
    const QString b = "device 1002 hid<B> vid<3> pid<4> xp<2> xt<4> xl<1>";
    const QStringList expected = {
        "boards 0 of 0", "pnp", "board 0 " + a, "boards 1 of 1", "1001 pen 0 1 1 tip", "pnp",
        "board 0 " + a, "board 1 " + b, "boards 2 of 2",
        // Which of the two sent it, the driver does not say.
        "? pen 0 2 2 tip", "pnp", "board 0 " + b, "boards 1 of 1", "1002 pen 0 3 3"};
    {
        SimulatedBoard board(scenario);
        BoardEventsRun session({"--record", recording});
        QVERIFY(session.waitForEvents(1));
        touch(ready);
        QVERIFY(session.waitForEvents(expected.size()));
        QVERIFY2(session.interrupt() == 0, qPrintable(session.outcome()));
        QCOMPARE(session.events(), expected);
        QCOMPARE(session.summary().filter(" packets "),
                 QStringList({"# board 1001 packets 1 pen 1 touch 0 eraser 0 status 0 ignored 0",
                              "# board 1002 packets 1 pen 1 touch 0 eraser 0 status 0 ignored 0",
                              "# board ? packets 1 pen 1 touch 0 eraser 0 status 0 ignored 0"}));
    }
    const QStringList commands = readAll(recording).split('\n').filter(
        QRegularExpression("^(board|plug|unplug|use|raw|wait callback)"));
    QCOMPARE(commands,
             QStringList({"board 1 unplugged vid<1> mm<464.8,255.6> ink<x> hid<A> # "
                          "device 1001",
                          "plug 1", "wait callback 1", "raw 08 21 00 01 00 01 00 01",
                          "board 2 unplugged hid<B> vid<3> pid<4> xp<2> xt<4> xl<1> # device 1002",
                          "plug 2", "wait callback 2", "raw 08 21 00 02 00 02 00 01", "unplug 1",
                          "wait callback 2", "use 2", "raw 08 21 00 03 00 03 00 00"}));

    SimulatedBoard replay(readAll(recording).toUtf8());
    BoardEventsRun session({});
    session.waitForEvents(expected.size());
    QVERIFY2(session.interrupt() == 0, qPrintable(session.outcome()));
    QCOMPARE(session.events(), expected);
}

void TestBoardEvents::summaryRates()
{
    // What the rates are here depends on how busy the machine is; that they
    // follow from the times printed does not (bench/bench_summaryrates
    // measures how near they come to the scenario's pace).
    SimulatedBoard board(OneBoard + "wait callback 1\n"
                                    "repeat 100\npen 0 1000..2000 5000 tip\nwait 5\nend\n"
                                    "pen 0 2000 5000\n"
                                    "repeat 50\ntouch 1 down 100..200 300 50; 2 down 300 300 50\n"
                                    "wait 10\nend\n"
                                    "touch 1 up 200 300 50; 2 up 300 300 50\n"
                                    "repeat 25\neraser 7 down 100..200 100 10 10\nwait 20\nend\n"
                                    "eraser 7 up 200 100 10 10\n");
    BoardEventsRun session({});
    QVERIFY(session.waitForEvents(2 + 178));
    QVERIFY2(session.interrupt() == 0, qPrintable(session.outcome()));
    const QStringList summary = session.summary();
    QCOMPARE(summary.size(), 5);
    QCOMPARE(summary.mid(0, 2),
             QStringList({"# board 1001 packets 178 pen 101 touch 51 eraser 26 status 0 ignored 0",
                          "# board 1001 contacts pen 1 touch 2 eraser 1 most-down 2"}));
    // Every report of a contact that is down starts an interval.
    QCOMPARE(figure(summary.at(2), "intervals"), 100.0);
    QCOMPARE(figure(summary.at(3), "intervals"), 100.0);
    QCOMPARE(figure(summary.at(4), "intervals"), 25.0);
    for (const char* kind : {"pen", "touch", "eraser"})
        QVERIFY2(rateFollowsFromTimes(session, kind), kind);
}

void TestBoardEvents::summaryRatesOfRecording()
{
    REQUIRE_RECORDINGS();
    // Up to ten fingers, a scan sent as two or three packets 2 ms apart with
    // every finger in each, four times as fast as recorded: the rates change
    // but not how they follow from the packets' times.
    SimulatedBoard board(OneBoard + "wait callback 1\nplay " +
                         QFile::encodeName(recordingPath("touch-display-22in-10-fingers.events")) +
                         " 4\n");
    BoardEventsRun session({"--idle", "2"});
    QVERIFY2(session.finish() == 0, qPrintable(session.outcome()));
    QVERIFY(session.summary().filter(" touch rated-contacts 66 ").size() == 1);
    QVERIFY(rateFollowsFromTimes(session, "touch"));
}

void TestBoardEvents::idleEndsSession()
{
    // A few packets and then nothing, as a capture played back ends.
    SimulatedBoard board(OneBoard + "wait callback 1\npen 0 1 1 tip\npen 0 2 2 tip\npen 0 2 2\n");
    BoardEventsRun session({"--idle", "1"});
    QVERIFY2(session.finish() == 0, qPrintable(session.outcome()));
    // The packets may come before the line that ends the enumeration.
    QCOMPARE(session.events().filter(" pen "),
             QStringList({"1001 pen 0 1 1 tip", "1001 pen 0 2 2 tip", "1001 pen 0 2 2"}));
    QCOMPARE(session.summary().size(), 5);

    // No packet at all: counted from the start.
    SimulatedBoard silent(OneBoard);
    BoardEventsRun quiet({"--idle", "0.5"});
    QVERIFY2(quiet.finish() == 0, qPrintable(quiet.outcome()));
    QCOMPARE(quiet.events().size(), 2);
    QVERIFY(
        quiet.lines().contains("# board 1001 packets 0 pen 0 touch 0 eraser 0 status 0 ignored 0"));
}

namespace {

// A run of the program copied into a folder with this driver library beside
// it, which the loader finds first whether it looks in LD_LIBRARY_PATH or in
// the program's run path first; the library's path in *driver.
BoardEventsRun* runBeside(const QTemporaryDir& folder, const QByteArray& library,
                          const QStringList& arguments, QString* driver)
{
    *driver = folder.filePath("libnorvaboardex.so");
    QFile file(*driver);
    const QString program = folder.filePath("boardevents");
    if (!file.open(QIODevice::WriteOnly) || file.write(library) != library.size() ||
        !QFile::copy(BOARDEVENTS, program))
        return nullptr;
    file.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_LIBRARY_PATH", folder.path());
    return new BoardEventsRun(arguments, program, environment);
}

} // namespace

void TestBoardEvents::unusableDriver()
{
    // Garbage where the library is found first: its path and why. A
    // duration, so that a driver loaded from elsewhere ends in a failure
    // that says so rather than in a time-out.
    QTemporaryDir corrupt;
    QString driver;
    const std::unique_ptr<BoardEventsRun> broken(
        runBeside(corrupt, QByteArray(4096, 'x'), {"--duration", "10"}, &driver));
    QVERIFY(broken);
    QVERIFY2(broken->finish() == 1, qPrintable(broken->outcome()));
    QVERIFY2(broken->errors().contains(QRegularExpression(
                 "^boardevents: no board driver: libnorvaboardex.so cannot be loaded: " +
                 QRegularExpression::escape(driver) + ": \\w.*\n$")),
             qPrintable(broken->errors()));

    // Only what enumeration needs: the required entry points missing, not
    // those that the binding does without (45 else), nor a session; the
    // first few named.
    QTemporaryDir enumerationOnly;
    QFile library(ENUMERATION_ONLY_DRIVER "/libnorvaboardex.so");
    QVERIFY(library.open(QIODevice::ReadOnly));
    const std::unique_ptr<BoardEventsRun> partial(
        runBeside(enumerationOnly, library.readAll(), {"--duration", "0"}, &driver));
    QVERIFY(partial);
    QVERIFY2(partial->finish() == 1, qPrintable(partial->outcome()));
    QCOMPARE(partial->lines(), QStringList());
    QCOMPARE(partial->errors(), "boardevents: the board driver " + driver +
                                    " lacks 43 of the entry points that it must have: "
                                    "norvaDetach, norvaInterface, norvaClearCallback and 40 "
                                    "more\n");
}

void TestBoardEvents::roundTripKeepsLines()
{
    // Killed in the middle of the session: each packet reached the capture
    // before its line was printed. How close to their offsets the packets
    // are played back depends on the machine's load: bench/replay_offsets.sh
    // measures it.
    QTemporaryDir dir;
    const QString capture = dir.filePath("demo.txt");
    SimulatedBoard board("");
    qputenv("NORVABOARD_SCENARIO", "demo");
    QStringList events;
    {
        BoardEventsRun original({"--raw", "--record", capture});
        // The pen's circle, its lift and the first wave of the fingers.
        QVERIFY(original.waitUntil([&] { return !original.events().filter(" touch ").isEmpty(); }));
        original.process.kill();
        original.process.waitForFinished();
        events = original.events();
    }
    QCOMPARE(events.filter(" pen ").size(), 121);

    const QString written = readAll(capture);
    SimulatedBoard replay(written.left(written.lastIndexOf('\n') + 1).toUtf8());
    BoardEventsRun session({"--raw"});
    QVERIFY(session.waitForEvents(2 + written.count("\nraw ")));
    QVERIFY2(session.interrupt() == 0, qPrintable(session.outcome()));
    QCOMPARE(session.events().mid(0, events.size()), events);
}

void TestBoardEvents::interruptCompletesRecordingAndDetaches()
{
    QTemporaryDir dir;
    const QString recording = dir.filePath("demo.txt");
    SimulatedBoard board("");
    qputenv("NORVABOARD_SCENARIO", "demo");
    BoardEventsRun session({"--record", recording, "--configure"});
    QVERIFY(session.waitForEvents(2 + 5));
    QVERIFY2(session.interrupt() == 0, qPrintable(session.outcome()));

    // Every packet printed is in the recording, and the recording is whole.
    const int packets = session.events().size() - 2;
    const QStringList written = readAll(recording).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(written.filter(QRegularExpression("^raw ")).size(), packets);
    QVERIFY(written.last().startsWith(QStringLiteral("# %1 packets in ").arg(packets)));

    // Configured once at start, the pending configuration dropped, the
    // routing given back, every callback cleared, then the detach.
    const QStringList calls = board.calls();
    QCOMPARE(calls.filter("norvaWritePacket(1001, 3a504c310d, 5)").size(), 1);
    QVERIFY(calls.size() > 5);
    const QStringList tail = calls.mid(calls.size() - 5);
    QCOMPARE(tail.at(0), QStringLiteral("norvaWritePacket(1001, 3a504c300d, 5) = 5"));
    QVERIFY(tail.at(1).startsWith("norvaClearCallback(0, "));
    QVERIFY(tail.at(2).startsWith("norvaClearCallback(1001, "));
    QCOMPARE(tail.mid(3), QStringList({"norvaDetach()", "norvaDetach()"}));
}

void TestBoardEvents::failedWriteEndsSession()
{
    // A full disk from the first line, and the reader of a named pipe that
    // goes away in the middle of the session: either ends it there, as
    // Ctrl+C does, with the reason.
    QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe");
    QCOMPARE(::mkfifo(QFile::encodeName(pipe), 0600), 0);
    // Not inherited: the program would hold the pipe open itself.
    const int reader = ::open(QFile::encodeName(pipe), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0);
    for (const QString& target : {QStringLiteral("/dev/full"), pipe}) {
        SimulatedBoard board("");
        qputenv("NORVABOARD_SCENARIO", "demo");
        BoardEventsRun session({"--record", target});
        if (target == pipe) {
            QVERIFY(session.waitForEvents(2 + 5));
            ::close(reader);
        }
        QVERIFY2(session.finish() == 1, qPrintable(session.outcome()));
        const QString reason = target == pipe ? "Broken pipe" : "No space left on device";
        QVERIFY2(session.errors().startsWith(
                     QStringLiteral("boardevents: cannot write %1: %2").arg(target, reason)),
                 qPrintable(session.errors()));
        QCOMPARE(session.errors().count('\n'), 1);
        QCOMPARE(board.calls().mid(board.calls().size() - 2),
                 QStringList({"norvaDetach()", "norvaDetach()"}));
    }
}

void TestBoardEvents::durationCountsFromStart()
{
    // The scenario comes through a named pipe: loading it takes as long as
    // the test holds it back, here longer than the session may last. The
    // session then ends as soon as the driver is attached, well before the
    // packet that comes half a second after the board was registered.
    QTemporaryDir dir;
    const QString pipe = dir.filePath("scenario");
    QCOMPARE(::mkfifo(QFile::encodeName(pipe), 0600), 0);
    SimulatedBoard board("");
    qputenv("NORVABOARD_SCENARIO", QFile::encodeName(pipe));
    BoardEventsRun session({"--duration", "1"});
    QTest::qWait(1200);
    QFile scenario(pipe);
    QVERIFY(scenario.open(QIODevice::WriteOnly));
    scenario.write(OneBoard + "wait callback 1\nwait 500\npen 0 1 1 tip\n");
    scenario.close();
    QVERIFY2(session.finish() == 0, qPrintable(session.outcome()));
    QCOMPARE(session.events(),
             QStringList({"board 0 device 1001 hid<NORVA-SIM-1> vid<1f2e> pid<0042> xp<4> xt<20> "
                          "xl<1>",
                          "boards 1 of 1"}));
}

void TestBoardEvents::outputGoesAway()
{
    // A reader that has read enough (a closed pipe) ends the session as
    // Ctrl+C does; output that cannot be written is an error.
    SimulatedBoard board("");
    qputenv("NORVABOARD_SCENARIO", "demo");
    BoardEventsRun head({"-c", "\"$0\" | head -n 3 >/dev/null; exit ${PIPESTATUS[0]}", BOARDEVENTS},
                        "bash");
    QVERIFY2(head.finish() == 0, qPrintable(head.outcome()));
    QCOMPARE(head.errors(), QString());
    QCOMPARE(board.calls().last(), QStringLiteral("norvaDetach()"));

    BoardEventsRun full({"-c", "exec \"$0\" >/dev/full", BOARDEVENTS}, "bash");
    QVERIFY2(full.finish() == 1, qPrintable(full.outcome()));
    QVERIFY2(full.errors().startsWith("boardevents: cannot write to standard output: No space "
                                      "left on device"),
             qPrintable(full.errors()));
}

void TestBoardEvents::measure()
{
    // Board 1, 400 x 300 mm by its description: a finger held still with a
    // wobble of 0.49 mm, a pen along a ruler with one of 0.73 mm, two lifts of
    // touches never down and a touch of 9 ms. Then board 2 in its place,
    // without a size: the pen again, and a finger still down at Ctrl+C.
    const QByteArray pen =
        "repeat 60\npen 0 2000..30000 sin(8000,80,2) tip\nwait 9\nend\npen 0 30000 8000\n";
    SimulatedBoard board(
        "board 1 hid<A> xp<1> xt<4> mm<400,300>\n"
        "board 2 unplugged hid<B> xp<1> xt<4>\n"
        "wait callback 1\n"
        "repeat 120\ntouch 1 down sin(16384,40,3) cos(16384,40,3) 300\nwait 9\nend\n"
        "touch 1 up 16384 16384 300\n" +
        pen +
        "touch 7 up 100 100 300; 8 up 200 100 300\n"
        "touch 2 down 100 30000 300\nwait 9\ntouch 2 up 100 30000 300\n"
        "unplug 1\nplug 2\nwait callback 2\nuse 2\n" +
        pen + "touch 5 down 9000 9000 300\nwait 9\ntouch 5 down 9000 9000 300\n");
    QTemporaryDir dir;
    const QString json = dir.filePath("measure.json");
    BoardEventsRun session({"--json", json});
    QVERIFY2(session.waitUntil([&] { return session.events().filter("1002 touch 5").size() == 2; }),
             qPrintable(session.outcome()));
    QVERIFY2(session.interrupt() == 0, qPrintable(session.outcome()));

    QJsonParseError parsed;
    const QJsonObject document = QJsonDocument::fromJson(readAll(json).toUtf8(), &parsed).object();
    QCOMPARE(parsed.error, QJsonParseError::NoError);
    QCOMPARE(document["version"].toInt(), 2);
    QVERIFY(!document.contains("limits"));
    const QJsonArray boards = document["boards"].toArray();
    QCOMPARE(boards.size(), 2);
    std::vector<BoardMeasurement> cores;
    for (int i = 0; i < 2; ++i) {
        const QJsonObject measured = boards[i].toObject();
        QCOMPARE(measured["device"].toInt(), 1001 + i);
        for (const char* name : {"size_mm", "rate_hz", "longest_gap_ms", "most_down", "coverage",
                                 "anomalies", "strokes"})
            QVERIFY2(measured.contains(name), name);
        for (const char* name : {"kind", "id", "start_ms", "reports", "rate_hz", "length_mm",
                                 "jitter_mm", "jitter_rms_mm", "straightness_mm"})
            QVERIFY2(measured["strokes"][0].toObject().contains(name), name);
        const std::optional<BoardMeasurement::BoardSize> size =
            i == 0 ? std::optional(BoardMeasurement::BoardSize{400, 300}) : std::nullopt;
        cores.emplace_back(size);
        addPrinted(session, 1001 + i, cores.back());
        cores.back().finish();
        compareWithCore(measured, cores.back());
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(boards[0]["size_mm"].toArray(), (QJsonArray{400, 300}));
    // Without a size: said once, no figure in mm, the rates and counts given.
    QVERIFY(boards[1]["size_mm"].isNull());
    QVERIFY(boards[1]["strokes"][0]["length_mm"].isNull());
    QVERIFY(boards[1]["rate_hz"]["pen"].isDouble());
    QCOMPARE(boards[1]["anomalies"]["stuck"].toInt(), 1);
    const QStringList complaints = session.errors().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(complaints.size(), 1);
    QVERIFY(complaints[0].contains("board 1002") && complaints[0].contains("--size-mm WxH"));

    // The report gives figures and no verdict.
    const QStringList lines = session.lines();
    const auto count = [&lines](const QString& pattern) {
        return lines.filter(QRegularExpression(pattern)).size();
    };
    QCOMPARE(count("^#   size +none: "), 1);
    QCOMPARE(count("^#   jitter +0.[0-9]+ mm, RMS 0.[0-9]+ mm: the largest of 1 contact held "
                   "still$"),
             1);
    QCOMPARE(count("^#   report rate +pen [0-9.]+/s, lowest [0-9.]+/s "), 2);
    QCOMPARE(count("PASS|FAIL|limit"), 0);
}

// The board check on the simulated board: a clean board passes every step,
// a check cut short is incomplete, and each saved folder is judged again
// with the same verdicts. The steps' logic is the core's own test.
void TestBoardEvents::check()
{
    const QString clean = QStringLiteral(CHECK_SCENARIOS "/clean.scenario");
    QTemporaryDir done, cut;
    const auto verdicts = [](const QString& path) {
        const QJsonObject check =
            QJsonDocument::fromJson(readAll(path).toUtf8())["check"].toObject();
        QStringList names;
        for (const QJsonValue& step : check["steps"].toArray())
            names << step["verdict"].toString();
        return names.join(',') + ' ' + check["verdict"].toString();
    };
    qputenv("NORVABOARD_SCENARIO", QFile::encodeName(clean));
    BoardEventsRun whole({"--check", "--record", done.filePath("capture.scn"), "--json",
                          done.filePath("check.json")});
    // About 35 s, as the scenario performs it.
    QVERIFY2(whole.finish(90000) == 0, qPrintable(whole.outcome()));
    QCOMPARE(verdicts(done.filePath("check.json")), "pass,pass,pass,pass,pass,pass,pass pass");
    QVERIFY(whole.lines().contains("#   verdict   PASS        "));
    // Each step's instruction as it begins, where to act, its verdict as it ends.
    const QString said = whole.errors();
    QVERIFY(said.contains("check: step 2 of 7, taps: Tap each target once"));
    QVERIFY(said.contains("check: taps: target 13 of 13 at 2, 409.6 mm (board units 40 16384)"));
    QVERIFY(said.contains("check: sweep: PASS coverage 100%"));

    // Cut short in the taps, measured as well: both in the JSON.
    BoardEventsRun part({"--check", "--measure", "--duration", "10.6", "--record",
                         cut.filePath("capture.scn"), "--json", cut.filePath("check.json")});
    QVERIFY2(part.finish() == 0, qPrintable(part.outcome()));
    QCOMPARE(verdicts(cut.filePath("check.json")),
             "pass,not done,not done,not done,not done,not done,not done incomplete");
    QVERIFY(QJsonDocument::fromJson(
                readAll(cut.filePath("check.json")).toUtf8())["measurement"]["boards"]
                .isArray());

    for (const QTemporaryDir* folder : {&done, &cut}) {
        BoardEventsRun judged({"--judge", folder->path()});
        QVERIFY2(judged.finish() == 0, qPrintable(judged.outcome()));
        QVERIFY(judged.lines().contains("verdicts: the same as those saved in " +
                                        folder->filePath("check.json")));
    }
    // A saved verdict that its capture does not bear out.
    const QString saved = readAll(done.filePath("check.json"));
    QFile forged(done.filePath("check.json"));
    QVERIFY(forged.open(QIODevice::WriteOnly));
    forged.write(QString(saved)
                     .replace("\"verdict\": \"pass\"\n    }", "\"verdict\": \"fail\"\n    }")
                     .toUtf8());
    forged.close();
    BoardEventsRun differs({"--judge", done.path()});
    QCOMPARE(differs.finish(), 1);
    QVERIFY2(differs.errors().contains("board pass where fail was saved"),
             qPrintable(differs.errors()));

    // A board without a size cannot be checked; the session ends at once.
    SimulatedBoard unsized(OneBoard + "wait callback 1\n");
    BoardEventsRun noSize({"--check"});
    QCOMPARE(noSize.finish(), 1);
    QVERIFY(noSize.errors().contains(
        "board 1001 does not give its size: the board check needs it; give its width and height "
        "in mm with --size-mm WxH"));
}

void TestBoardEvents::commandLine()
{
    // No board at all: the simulated board without a scenario.
    qunsetenv("NORVABOARD_SCENARIO");
    qunsetenv("NORVABOARD_LOG");
    const QString usage =
        "\nUsage: boardevents [--raw] [--record <file>] [--duration <seconds>] "
        "[--idle <seconds>]\n                   [--configure] [--measure] [--check] "
        "[--json <file>] [--size-mm <WxH>]\n"
        "                   [--limit <name>=<value>[,...]]\n"
        "       boardevents --judge <folder> [--json <file>] [--limit <name>=<value>[,...]]\n"
        "       boardevents -h | --help | --version\n";
    BoardEventsRun help({"--help"});
    QVERIFY2(help.finish() == 0, qPrintable(help.outcome()));
    const QString helpText = help.lines().join('\n');
    QVERIFY(helpText.startsWith("boardevents " VISUALVIEW_VERSION + usage));
    QVERIFY(help.lines().contains("  --record <file>       Also writes the session to <file> as a "
                                  "scenario for the"));
    BoardEventsRun version({"--version"});
    QVERIFY2(version.finish() == 0, qPrintable(version.outcome()));
    QCOMPARE(version.lines(), QStringList({"boardevents " VISUALVIEW_VERSION}));

    QTemporaryDir dir;
    SimulatedBoard board(OneBoard + "wait callback 1\npen 0 1 1 tip\n");
    // The scenario under another name: a hard link is the same file.
    const QString scenario = QFile::decodeName(qgetenv("NORVABOARD_SCENARIO"));
    const QString alias = dir.filePath("alias.txt");
    QCOMPARE(::link(QFile::encodeName(scenario), QFile::encodeName(alias)), 0);
    // Those that would record do not last: the refusal is what is looked at.
    for (const QStringList& wrong :
         {QStringList{"--bogus"}, QStringList{"--duration", "-1"}, QStringList{"--duration"},
          QStringList{"extra"}, QStringList{"--idle", "soon"}, QStringList{"--idle", "3000000"},
          QStringList{"--idle"}, QStringList{"--record", "-", "--duration", "0"},
          QStringList{"--record", alias, "--duration", "0"}, QStringList{"--json", alias},
          QStringList{"--json", "-"}, QStringList{"--json", "a.txt", "--record", "./a.txt"},
          QStringList{"--size-mm", "300"}, QStringList{"--size-mm", "0x200"},
          QStringList{"--measure", "--duration", "0"}, QStringList{"--limit", "jitter=1"},
          QStringList{"--check", "--limit", "ghosts=-1"}, QStringList{"--judge", ".", "--raw"}}) {
        BoardEventsRun session(wrong);
        QVERIFY2(session.finish() == 2, qPrintable(session.outcome()));
        QVERIFY2(session.errors().contains(usage), qPrintable(session.errors()));
    }
    QVERIFY(readAll(scenario).startsWith(OneBoard));
    // The limits' own message.
    std::string error;
    QVERIFY(!CheckLimits::parse("pen-rate=fast", error));
    BoardEventsRun badLimit({"--check", "--limit", "pen-rate=fast"});
    QCOMPARE(badLimit.finish(), 2);
    QVERIFY(badLimit.errors().startsWith(
        "boardevents: bad --limit: " + QString::fromStdString(error) + '\n'));

    // 0 lists the boards, without a summary of a session that did not take place.
    BoardEventsRun listing({"--duration", "0"});
    QVERIFY2(listing.finish() == 0, qPrintable(listing.outcome()));
    // The board's first packet may come before the count: it waits only for
    // the board's callback, which enumeration registers first.
    QCOMPARE(listing.events().filter(QRegularExpression("^board")),
             QStringList({"board 0 device 1001 hid<NORVA-SIM-1> vid<1f2e> pid<0042> xp<4> xt<20> "
                          "xl<1>",
                          "boards 1 of 1"}));
    QCOMPARE(listing.lines().filter(QRegularExpression("^# (summary|board )")), QStringList());

    qunsetenv("NORVABOARD_SCENARIO");
    BoardEventsRun unwritable({"--record", "/nonexistent/session.txt"});
    QVERIFY2(unwritable.finish() == 1, qPrintable(unwritable.outcome()));
    QVERIFY(unwritable.errors().startsWith("boardevents: cannot write /nonexistent/session.txt: "));
    BoardEventsRun unwritableJson({"--json", "/nonexistent/measure.json"});
    QCOMPARE(unwritableJson.finish(), 1);
    QVERIFY(unwritableJson.errors().startsWith(
        "boardevents: cannot write /nonexistent/measure.json: "));

    BoardEventsRun noBoard({"--duration", "0"});
    QVERIFY2(noBoard.finish() == 0, qPrintable(noBoard.outcome()));
    QCOMPARE(noBoard.events(), QStringList({"boards 0 of 0"}));
    QCOMPARE(noBoard.lines().filter(QRegularExpression("^# ")),
             QStringList({"# boardevents: ms since start, the board (device id, ? when not known) "
                          "and what it sent",
                          "# no board"}));

    // Alone in a folder, with nothing on the library path: no driver.
    QTemporaryDir alone;
    const QString copy = alone.filePath("boardevents");
    QVERIFY(QFile::copy(BOARDEVENTS, copy));
    const QByteArray path = qgetenv("LD_LIBRARY_PATH");
    qputenv("LD_LIBRARY_PATH", "");
    BoardEventsRun noDriver({}, copy);
    qputenv("LD_LIBRARY_PATH", path);
    QVERIFY2(noDriver.finish() == 1, qPrintable(noDriver.outcome()));
    QVERIFY(noDriver.errors().contains("boardevents: no board driver"));
}

QTEST_GUILESS_MAIN(TestBoardEvents)
#include "tst_boardevents.moc"
