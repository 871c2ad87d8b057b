#include "boardevents.h"
#include "checkjudge.h"
#include "fileidentity.h"
#include "interruptwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <iostream>
#include <limits>

namespace {

const char* const Usage =
    "Usage: boardevents [--raw] [--record <file>] [--duration <seconds>] [--idle <seconds>]\n"
    "                   [--configure] [--measure] [--check] [--json <file>] [--size-mm <WxH>]\n"
    "                   [--limit <name>=<value>[,...]]\n"
    "       boardevents --judge <folder> [--json <file>] [--limit <name>=<value>[,...]]\n"
    "       boardevents -h | --help | --version";

const char* const Description = R"(
Lists the boards that the board driver reports and prints every packet they
send, decoded, one line each, until Ctrl+C, the end of --duration or --idle
seconds without a packet; then detaches and prints a summary per board.)";

const char* const Epilogue = R"(
Exit status: 0 when the session ends, also when the reader of the output goes
away (a closed pipe, as with "| head"); 1 when the driver cannot be loaded or
lacks entry points that it must have, a line of the recording, of the output
or the --json file cannot be written, the board to check gives no size, or
--judge cannot read its folder or finds other verdicts than those saved (a
board that fails the check is no error); 2 for a wrong command line, --record
or --json naming the scenario that NORVABOARD_SCENARIO plays or both the same
file, or measuring or checking with --duration 0.

The lines, the summary and recordings: boardevents(1) and docs/boardevents.md;
the board check and every figure of the measurement: docs/measuring.md
(installed, in /usr/share/doc/visualview/docs/).
)";

int usageError(const QString& message)
{
    std::cerr << "boardevents: " << message.toStdString() << '\n' << Usage << std::endl;
    return 2;
}

// In the words of the program's own errors: Qt's parser writes sentences,
// and names an unknown option without the dashes typed.
QString parseError(const QCommandLineParser& parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty()) {
        QString error = parser.errorText();
        error[0] = error[0].toLower();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        return error;
    }
    const QString name = unknown.first();
    QString typed = (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        const QString option = argument.section(QLatin1Char('='), 0, 0);
        if (option == QLatin1String("--") + name || option == QLatin1String("-") + name)
            typed = option;
    }
    return QStringLiteral("unknown option '%1'").arg(typed);
}

// The option's seconds in milliseconds in *ms, left as it is when the option
// is not given; false, with the usage error on standard error, for a bad value.
bool milliseconds(const QCommandLineParser& parser, const QCommandLineOption& option,
                  const char* what, qint64* ms)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const double seconds = parser.value(option).toDouble(&ok);
    // A timer counts milliseconds in an int.
    if (!ok || !(seconds >= 0) || seconds * 1000 > std::numeric_limits<int>::max()) {
        usageError(QStringLiteral("bad %1 '%2': give seconds from 0 to 2147483")
                       .arg(QString::fromLatin1(what), parser.value(option)));
        return false;
    }
    *ms = qRound64(seconds * 1000);
    return true;
}

// "<width>x<height>" in millimetres, both numbers above 0 with a '.' for
// the decimal point.
std::optional<BoardMeasurement::BoardSize> boardSize(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    if (parts.size() != 2)
        return std::nullopt;
    bool widthOk = false;
    bool heightOk = false;
    const BoardMeasurement::BoardSize size{QLocale::c().toDouble(parts[0], &widthOk),
                                           QLocale::c().toDouble(parts[1], &heightOk)};
    if (!widthOk || !heightOk || !qIsFinite(size.width) || !qIsFinite(size.height) ||
        !(size.width > 0) || !(size.height > 0))
        return std::nullopt;
    return size;
}

// Whether the two paths name one file, also one that does not exist yet.
bool sameFile(const QString& a, const QString& b)
{
    const std::optional<FileIdentity> identity = FileIdentity::of(a);
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath() ||
           (identity && identity == FileIdentity::of(b));
}

// Whether recording to this path would empty the scenario that the
// simulated board plays, under this name or another (a link).
bool playedByTheBoard(const QString& path)
{
    const QString played = QFile::decodeName(qgetenv("NORVABOARD_SCENARIO"));
    if (played.isEmpty() || played == QLatin1String("demo"))
        return false;
    const std::optional<FileIdentity> recorded = FileIdentity::of(path);
    return recorded && recorded == FileIdentity::of(played);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("boardevents"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description).trimmed());
    const QCommandLineOption help({"h", "help"}, QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the version of boardevents."));
    const QCommandLineOption raw(QStringLiteral("raw"),
                                 QStringLiteral("Adds each packet's bytes in hex to its line."));
    const QCommandLineOption record(
        QStringLiteral("record"),
        QStringLiteral("Also writes the session to <file> as a scenario for the simulated board."),
        QStringLiteral("file"));
    const QCommandLineOption duration(
        QStringLiteral("duration"),
        QStringLiteral("Ends the session <seconds> after it started, however long the driver "
                       "took to load (decimals allowed; 0: list the boards and end, without a "
                       "summary)."),
        QStringLiteral("seconds"));
    const QCommandLineOption configure(
        QStringLiteral("configure"),
        QStringLiteral("Routes the boards' input to this program as the visualiser does, at start "
                       "and after plug-and-play changes, and gives it back at the end. Without "
                       "it the boards are left as they are."));
    const QCommandLineOption idle(
        QStringLiteral("idle"),
        QStringLiteral("Ends the session once no packet has come for <seconds>, counted from the "
                       "last packet (from the start before the first): a capture played back "
                       "ends by itself."),
        QStringLiteral("seconds"));
    const QCommandLineOption measure(
        QStringLiteral("measure"),
        QStringLiteral("Measures each board and prints its figures after the summary: what "
                       "the board did, without verdicts, which come from --check."));
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("Runs the board check on the one board present: each step's instruction "
                       "and verdict on standard error as it comes, the report at the end; the "
                       "session ends with the check."));
    const QCommandLineOption judge(
        QStringLiteral("judge"),
        QStringLiteral("Judges again the check saved in <folder> (check.json and capture.scn, "
                       "as the visualiser saves them), with no driver: its report, and whether "
                       "the verdicts are those saved."),
        QStringLiteral("folder"));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("Also writes the check's report (with --check or --judge), the "
                       "measurement with every stroke (with --measure, which it implies "
                       "otherwise), or both, to <file> as JSON."),
        QStringLiteral("file"));
    const QCommandLineOption sizeMm(
        QStringLiteral("size-mm"),
        QStringLiteral("The boards' width and height in millimetres, e.g. 1650x930, over what "
                       "their descriptions say (implies --measure without --check)."),
        QStringLiteral("WxH"));
    const QCommandLineOption limit(
        QStringLiteral("limit"),
        QStringLiteral("With --check or --judge, changes the <limits> that the check judges "
                       "against, e.g. jitter=0.5,pen-rate=120; names and defaults: ghosts=0, "
                       "accuracy=1 (mm), edge-accuracy=2 (mm), jitter=1 (mm), straightness=1 "
                       "(mm), moving-jitter=1 (mm), touch-rate=100 (reports/s), pen-rate=100 "
                       "(reports/s), contacts=5, coverage=100 (%)."),
        QStringLiteral("limits"));
    // -bogus is one option mistyped, not -b -o -g -u -s.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({help, version, raw, record, duration, idle, configure, measure, check, judge,
                       json, sizeMm, limit});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parseError(parser));
    if (parser.isSet(help)) {
        // Our usage line in place of Qt's, which names the program by its path.
        std::cout << "boardevents " BOARDEVENTS_VERSION "\n"
                  << Usage << "\n\n"
                  << parser.helpText().section('\n', 1).toStdString() << Epilogue;
        return 0;
    }
    if (parser.isSet(version)) {
        std::cout << "boardevents " BOARDEVENTS_VERSION << std::endl;
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    BoardEvents::Options options;
    options.raw = parser.isSet(raw);
    options.configure = parser.isSet(configure);
    options.recordPath = parser.value(record);
    if (parser.isSet(record) && options.recordPath.isEmpty())
        return usageError(QStringLiteral("--record needs a file name"));
    if (options.recordPath == QLatin1String("-"))
        return usageError(QStringLiteral("--record - would mix the recording into the lines on "
                                         "standard output: give it a file name"));
    if (parser.isSet(record) && playedByTheBoard(options.recordPath))
        return usageError(QStringLiteral("--record %1 would empty the scenario that "
                                         "NORVABOARD_SCENARIO plays: record to another file")
                              .arg(options.recordPath));
    qint64 durationMs = -1;
    qint64 idleMs = -1;
    if (!milliseconds(parser, duration, "duration", &durationMs) ||
        !milliseconds(parser, idle, "idle time", &idleMs))
        return 2;
    if (durationMs >= 0)
        options.durationMs = int(durationMs);
    options.idleMs = int(idleMs);

    options.jsonPath = parser.value(json);
    if (parser.isSet(json) && options.jsonPath.isEmpty())
        return usageError(QStringLiteral("--json needs a file name"));
    if (options.jsonPath == QLatin1String("-"))
        return usageError(QStringLiteral("--json - would mix the JSON into the lines on standard "
                                         "output: give it a file name"));
    if (parser.isSet(json) && playedByTheBoard(options.jsonPath))
        return usageError(QStringLiteral("--json %1 would empty the scenario that "
                                         "NORVABOARD_SCENARIO plays: write it to another file")
                              .arg(options.jsonPath));
    if (parser.isSet(json) && parser.isSet(record) &&
        sameFile(options.jsonPath, options.recordPath))
        return usageError(QStringLiteral("--json and --record name the same file, which would "
                                         "hold neither: give each its own"));
    if (parser.isSet(sizeMm)) {
        options.boardSize = boardSize(parser.value(sizeMm));
        if (!options.boardSize)
            return usageError(QStringLiteral("bad --size-mm '%1': give the board's width and "
                                             "height in millimetres as WxH, e.g. 1650x930")
                                  .arg(parser.value(sizeMm)));
    }
    options.check = parser.isSet(check);
    const bool judging = parser.isSet(judge);
    if (parser.isSet(limit)) {
        if (!options.check && !judging)
            return usageError(QStringLiteral("--limit sets the board check's limits: give it "
                                             "with --check or --judge (the measurement judges "
                                             "nothing)"));
        std::string error;
        const std::optional<CheckLimits> limits =
            CheckLimits::parse(parser.value(limit).toStdString(), error);
        if (!limits)
            return usageError(QStringLiteral("bad --limit: ") + QString::fromStdString(error));
        options.checkLimits = *limits;
    }
    if (judging) {
        for (const QCommandLineOption* session :
             {&raw, &record, &duration, &idle, &configure, &measure, &check}) {
            if (parser.isSet(*session))
                return usageError(QStringLiteral("--judge plays a saved check: --%1 has no "
                                                 "place beside it")
                                      .arg(session->names().constFirst()));
        }
        return CheckJudge::run(parser.value(judge), options.jsonPath,
                               parser.isSet(limit) ? std::optional(options.checkLimits)
                                                   : std::nullopt,
                               options.boardSize);
    }
    options.measure =
        parser.isSet(measure) || (!options.check && (parser.isSet(json) || parser.isSet(sizeMm)));
    if ((options.measure || options.check) && options.durationMs == 0)
        return usageError(QStringLiteral("--duration 0 lists the boards and measures nothing: "
                                         "give the session time to measure"));

    BoardEvents session(options);
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &session, &BoardEvents::stop);
    QObject::connect(&session, &BoardEvents::finished, &app,
                     [](int status) { QCoreApplication::exit(status); });
    if (!session.start())
        return 1;
    return app.exec();
}
