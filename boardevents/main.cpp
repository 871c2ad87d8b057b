#include "boardevents.h"
#include "fileidentity.h"
#include "interruptwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <iostream>
#include <limits>

namespace {

const char* const Usage =
    "Usage: boardevents [--raw] [--record <file>] [--duration <seconds>] [--configure]\n"
    "       boardevents -h | --help | --version";

const char* const Description = R"(
Lists the boards that the board driver reports and prints every packet they
send, decoded, one line each, until Ctrl+C or the end of --duration; then
detaches and prints a summary per board.

Lines (times are milliseconds since start):
  <ms> board <index> device <id> hid<..> vid<..> pid<..> xp<..> xt<..> xl<..>
  <ms> boards <accepted> of <count>   after each enumeration
  <ms> pnp                            a plug-and-play change; boards follow
  <ms> <board> pen <index> <x> <y> [tip] [button] [bit2]
  <ms> <board> touch [<id> down|up <x> <y> <size>[; ...]]
  <ms> <board> eraser [<id> down|up <x> <y> <width> <height>[; ...]]
  <ms> <board> status <six values> tag <driver's tag>
  <ms> <board> ignored length <bytes>
<board> is the device id, or ? while several boards are present (the driver
does not say which one sent a packet). Coordinates and sizes are board units.
--raw adds " | " and the packet's bytes in hex. Other lines start with #,
among them the summary: per board the packets by kind, the contacts seen, the
most down at once, and per pen, touch and eraser the intervals between
reports of a contact that is down, median and 99th percentile, with the
report rate the median gives.

A recording is a scenario for the simulated board: play it back with
NORVABOARD_SCENARIO=<file> set for boardevents or the visualiser. Each line
reaches the file as it comes, so a session that crashes or is killed leaves
the recording up to then.

Exit status: 0 when the session ends, also when the reader of the output goes
away (a closed pipe, as with "| head"); 1 when the driver cannot be loaded, or
when a line of the recording or of the output cannot be written (the session
ends there); 2 for a wrong command line, or --record naming the scenario that
NORVABOARD_SCENARIO plays.)";

int usageError(const QString& message)
{
    std::cerr << "boardevents: " << message.toStdString() << '\n' << Usage << std::endl;
    return 2;
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
    parser.addOptions({help, version, raw, record, duration, configure});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        // Our usage line in place of Qt's, which names the program by its path.
        std::cout << "boardevents " BOARDEVENTS_VERSION "\n"
                  << Usage << '\n'
                  << parser.helpText().section('\n', 1).toStdString();
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
    if (parser.isSet(duration)) {
        bool ok = false;
        const double seconds = parser.value(duration).toDouble(&ok);
        // A timer counts milliseconds in an int.
        if (!ok || !(seconds >= 0) || seconds * 1000 > std::numeric_limits<int>::max())
            return usageError(QStringLiteral("bad duration '%1': give seconds from 0 to 2147483")
                                  .arg(parser.value(duration)));
        options.durationMs = int(qRound64(seconds * 1000));
    }

    BoardEvents session(options);
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &session, &BoardEvents::stop);
    QObject::connect(&session, &BoardEvents::finished, &app,
                     [](int status) { QCoreApplication::exit(status); });
    if (!session.start())
        return 1;
    return app.exec();
}
