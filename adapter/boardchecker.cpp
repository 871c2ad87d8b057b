#include "boardchecker.h"

#include "packetreport.h"

#include <QDir>
#include <QLocale>

#include <algorithm>

namespace {

std::optional<QSizeF> positive(const std::optional<QSizeF>& size)
{
    if (size && size->width() > 0 && size->height() > 0)
        return size;
    return std::nullopt;
}

// The shortest text that reads back as the same number.
QString exactly(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

BoardChecker::BoardChecker(NorvaHardware* hardware, const Settings& settings, QObject* parent)
    : QObject(parent), settings(settings)
{
    // Direct: each packet is timed and checked on the thread that delivers
    // it, in the order it came.
    const auto direct = Qt::DirectConnection;
    connect(hardware, &NorvaHardware::packetReceived, this, &BoardChecker::packet, direct);
    connect(hardware, &NorvaHardware::pnpEvent, this, &BoardChecker::changed, direct);
    connect(
        hardware, &NorvaHardware::deviceEnumerated, this,
        [this](int, const NorvaHardware::DeviceInfo& info, qint32 device) {
            enumerated(info, device);
        },
        direct);
    connect(
        hardware, &NorvaHardware::deviceEnumCount, this, [this](int) { enumerationEnded(); },
        direct);
}

QString BoardChecker::withSize(const QString& description, double widthMm, double heightMm)
{
    const QString tag = QStringLiteral("mm<%1,%2>").arg(exactly(widthMm), exactly(heightMm));
    // Where the description reads its size from: the first "mm".
    const int at = description.indexOf(QLatin1String("mm"));
    if (at < 0)
        return description.isEmpty() ? tag : description + ' ' + tag;
    const int close = description.indexOf('>', at);
    if (description.midRef(at, 3) == QLatin1String("mm<") && close > at)
        return QString(description).replace(at, close - at + 1, tag);
    // An "mm" within another tag's value: first, ours is the one read.
    return tag + ' ' + description;
}

QString BoardChecker::start()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (boards.isEmpty())
        return QStringLiteral("No board: the board check needs the board to check, plugged in.");
    if (boards.size() > 1)
        return QStringLiteral("%1 boards are present: the board check needs one, the board to "
                              "check; unplug the others.")
            .arg(boards.size());
    ScenarioRecorder::Board board = boards.first();
    std::optional<QSizeF> size = positive(settings.userSize);
    sizeFrom = QStringLiteral("from VISUALVIEW_SIZE_MM");
    if (!size) {
        size = positive(board.info.millimetres);
        sizeFrom = QStringLiteral("from the board");
    }
    if (!size) {
        size = positive(settings.screenSize);
        sizeFrom = QStringLiteral("from the screen");
    }
    if (!size)
        return QStringLiteral("The board does not give its size: the board check needs it; give "
                              "its width and height in mm with VISUALVIEW_SIZE_MM=WxH.");

    captureFile = std::make_unique<QTemporaryFile>(
        QDir(QDir::tempPath()).filePath(QStringLiteral("visualview-check-XXXXXX.scn")));
    recorder = std::make_unique<ScenarioRecorder>();
    // Closed at once: the recorder writes it by its name.
    const bool created = captureFile->open();
    captureFile->close();
    if (!created || !recorder->open(captureFile->fileName(),
                                    QStringLiteral("A board check recorded by visualview"))) {
        const QString why = created ? recorder->error() : captureFile->errorString();
        recorder.reset();
        captureFile.reset();
        return QStringLiteral("The board check cannot record what the board sends: %1.").arg(why);
    }
    board.info.description = withSize(board.info.description, size->width(), size->height());
    // The capture's time 0 is the check's: its board is registered for then.
    recorder->found(0, board);
    recorder->enumerated(0);
    device = board.device;
    identity = {board.device, ScenarioRecorder::description(board.info).toStdString()};
    captureError.clear();
    captureDone = false;
    check.emplace(BoardCheck::Board{size->width(), size->height(), board.info.xp, board.info.xt});
    lastMs = 0;
    lastPacketMs = -1;
    clock.start();
    active = true;
    return {};
}

double BoardChecker::now(double atLeast)
{
    lastMs = std::max({lastMs, atLeast, double(qRound64(double(clock.nsecsElapsed()) / 1e6))});
    return lastMs;
}

void BoardChecker::packet(const QByteArray& bytes, quint32 tag)
{
    if (!active)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (!check || check->isFinished())
        return;
    // The capture's own time, to the millisecond: played again, the check
    // sees what it sees now. Packets that came together keep one time; the
    // check tells them apart as packets.
    const double ms = now();
    lastPacketMs = ms;
    recorder->packet(ms, device, bytes);
    check->add(PacketReport::decode(bytes, tag).contacts(ms));
    followEnd(ms);
}

void BoardChecker::skip()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!check || check->isFinished())
        return;
    // After the last packet, as played again: a skip at a packet's own time
    // comes before it there.
    const double ms = now(lastPacketMs + 1);
    check->skip(ms);
    followEnd(ms);
}

void BoardChecker::leave()
{
    std::lock_guard<std::mutex> lock(mutex);
    active = false;
    check.reset();
    recorder.reset();
    captureFile.reset();
}

// The recorder stays, its file closed: it goes on the GUI thread, which
// made it.
void BoardChecker::followEnd(double ms)
{
    if (!check->isFinished() || captureDone)
        return;
    recorder->finish(ms);
    captureError = recorder->error();
    captureDone = true;
}

// The boards changed: packets can no longer be told to be the checked
// board's, and the check ends with what came.
void BoardChecker::changed()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!check || check->isFinished())
        return;
    const double ms = now();
    check->finish(ms);
    followEnd(ms);
}

// Enumerations never overlap, but run on the GUI thread at the attach and
// on the plug-and-play thread afterwards: the lock orders them.
void BoardChecker::enumerated(const NorvaHardware::DeviceInfo& info, qint32 device)
{
    std::lock_guard<std::mutex> lock(mutex);
    enumerating.append({device, info});
}

void BoardChecker::enumerationEnded()
{
    std::lock_guard<std::mutex> lock(mutex);
    boards.swap(enumerating);
    enumerating.clear();
}

BoardChecker::Reading BoardChecker::read()
{
    std::lock_guard<std::mutex> lock(mutex);
    Reading reading;
    if (!check)
        return reading;
    if (!check->isFinished()) {
        const double ms = now();
        check->advance(ms);
        followEnd(ms);
    }
    reading.running = !check->isFinished();
    reading.board = check->board();
    reading.sizeFrom = sizeFrom;
    reading.step = check->step();
    reading.instruction = QString::fromStdString(check->instruction());
    reading.progress = QString::fromStdString(check->progress(lastMs));
    reading.target = check->target();
    reading.line = check->line();
    if (reading.running && reading.step == BoardCheck::Step::Sweep) {
        for (int cell = 0; cell < CoverageGrid::Cells; ++cell)
            reading.swept[std::size_t(cell)] =
                check->sweep().reached(cell % CoverageGrid::Columns, cell / CoverageGrid::Columns);
    }
    reading.events = check->takeEvents();
    for (BoardCheck::Event& event : reading.events) {
        if (event.kind == BoardCheck::Event::Kind::Ended && event.text.empty())
            event.text = CheckReport::figures(check->results()[std::size_t(event.step)]);
    }
    return reading;
}

std::optional<BoardChecker::Outcome> BoardChecker::takeOutcome()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!check || !check->isFinished())
        return std::nullopt;
    active = false;
    recorder.reset();
    Outcome outcome{std::move(*check), identity, sizeFrom, std::move(captureFile), captureError};
    check.reset();
    return outcome;
}
