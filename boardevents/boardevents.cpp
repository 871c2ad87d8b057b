#include "boardevents.h"

#include "boardconfigurator.h"
#include "measurementreport.h"
#include "packetreport.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace {

void complain(const QString& text)
{
    std::cerr << "boardevents: " << text.toStdString() << std::endl;
}

} // namespace

BoardEvents::BoardEvents(const Options& options, QObject* parent)
    : QObject(parent), options(options), measurement(options.boardSize),
      check(options.boardSize, options.checkLimits), hardware(std::make_unique<NorvaHardware>())
{
    if (options.configure)
        configurator = new BoardConfigurator(hardware.get(), this);

    // Timed on the thread that reports it, handled here in order; the
    // enumeration at attach reports on this thread, and is queued alike.
    const NorvaHardware* h = hardware.get();
    const auto direct = Qt::DirectConnection;
    connect(
        h, &NorvaHardware::pnpEvent, this, [this] { emit timedPnp(now()); }, direct);
    connect(
        h, &NorvaHardware::deviceEnumerated, this,
        [this](int index, const NorvaHardware::DeviceInfo& info, qint32 device) {
            emit timedBoard(now(), index, info, device);
        },
        direct);
    connect(
        h, &NorvaHardware::deviceEnumCount, this,
        [this](int count) { emit timedCount(now(), count); }, direct);
    connect(
        h, &NorvaHardware::packetReceived, this,
        [this](const QByteArray& bytes, quint32 tag) { emit timedPacket(now(), bytes, tag); },
        direct);
    idle.setSingleShot(true);
    idle.setTimerType(Qt::PreciseTimer);
    connect(&idle, &QTimer::timeout, this, &BoardEvents::stop);
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, this, &BoardEvents::stop);
    checkDeadline.setSingleShot(true);
    checkDeadline.setTimerType(Qt::PreciseTimer);
    connect(&checkDeadline, &QTimer::timeout, this, [this] {
        // Packets that came before now count first.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        check.advance(now());
        followCheck();
    });
    const auto queued = Qt::QueuedConnection;
    connect(this, &BoardEvents::timedPnp, this, &BoardEvents::onPnp, queued);
    connect(this, &BoardEvents::timedBoard, this, &BoardEvents::onBoard, queued);
    connect(this, &BoardEvents::timedCount, this, &BoardEvents::onCount, queued);
    connect(this, &BoardEvents::timedPacket, this, &BoardEvents::onPacket, queued);
}

BoardEvents::~BoardEvents()
{
    // No callback may come once the rest is gone.
    hardware.reset();
}

bool BoardEvents::start()
{
    clock.start();
    // From the start, as the lines' times are: a driver that is slow to load
    // does not make the session longer.
    if (options.durationMs)
        deadline.start(*options.durationMs);
    // A driver without the entry points that the session needs would show
    // too little, or nothing, without a word.
    hardware->attachDriver();
    const QString problem = hardware->driverProblem();
    if (!problem.isEmpty()) {
        complain(problem);
        return false;
    }
    // What the driver reports meanwhile waits in the event queue.
    if (!options.recordPath.isEmpty()) {
        recording = recorder.open(options.recordPath,
                                  QStringLiteral("A board events session recorded by boardevents"));
        if (!recording)
            fail(QStringLiteral("cannot write %1: %2; the session ends: give --record a file "
                                "that can be written")
                     .arg(options.recordPath, recorder.error()));
    }
    // Written at the end, but a file that cannot be is known now, not after
    // a session of drawing.
    if (!options.jsonPath.isEmpty()) {
        json.setFileName(options.jsonPath);
        if (!json.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail(QStringLiteral("cannot write %1: %2; the session ends: give --json a file that "
                                "can be written")
                     .arg(options.jsonPath, json.errorString()));
    }
    writeLine(QStringLiteral("# boardevents: ms since start, the board (device id, ? when not "
                             "known) and what it sent"));
    if (configurator && status == 0)
        configurator->configure();
    restartIdle(0);
    return true;
}

void BoardEvents::stop()
{
    if (stopped)
        return;
    stopped = true;
    deadline.stop();
    idle.stop();
    checkDeadline.stop();
    if (configurator)
        configurator->release();
    hardware->detachDriver();
    // What the driver delivered before the detach may still be on its way here.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);

    const double ms = now();
    check.finish(ms);
    followCheck();
    if (recording) {
        recorder.finish(ms);
        checkRecording();
    }
    // A listing of the boards has nothing to sum up.
    if (options.durationMs != 0) {
        writeLine(QStringLiteral("# summary: %1 ms").arg(ms, 0, 'f', 3));
        const QStringList lines = summary.lines();
        if (lines.isEmpty())
            writeLine(QStringLiteral("# no board and no packet"));
        for (const QString& line : lines)
            writeLine(QStringLiteral("# ") + line);
        if (options.measure || options.check)
            report(ms);
    }
    emit finished(status);
}

double BoardEvents::now() const
{
    return double(clock.nsecsElapsed()) / 1e6;
}

void BoardEvents::writeLine(const QString& line)
{
    if (outputClosed)
        return;
    const QByteArray bytes = line.toUtf8() + '\n';
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
        std::fflush(stdout) == 0)
        return;
    const int reason = errno;
    outputClosed = true;
    // As other text tools end under "| head": the reader has what it wanted.
    if (reason == EPIPE)
        QMetaObject::invokeMethod(this, &BoardEvents::stop, Qt::QueuedConnection);
    else
        fail(QStringLiteral("cannot write to standard output: %1; the session ends")
                 .arg(qt_error_string(reason)));
}

void BoardEvents::print(double ms, const QString& text)
{
    writeLine(QString::number(ms, 'f', 3).rightJustified(10) + ' ' + text);
}

void BoardEvents::checkRecording()
{
    if (!recording || recorder.error().isEmpty())
        return;
    recording = false;
    fail(QStringLiteral("cannot write %1: %2; the session ends, and the recording holds what "
                        "came before")
             .arg(options.recordPath, recorder.error()));
}

void BoardEvents::fail(const QString& message)
{
    complain(message);
    status = 1;
    QMetaObject::invokeMethod(this, &BoardEvents::stop, Qt::QueuedConnection);
}

void BoardEvents::sizeNeeded(const Board& board)
{
    if (board)
        complain(QStringLiteral("board %1 does not give its size: its jitter, straightness, "
                                "lengths and jumps are not measured; give its width and height "
                                "in mm with --size-mm WxH")
                     .arg(*board));
    else
        complain(QStringLiteral("the packets of several boards, not told apart (board ?), have no "
                                "size: their jitter, straightness, lengths and jumps are not "
                                "measured; give the boards' width and height in mm with "
                                "--size-mm WxH"));
}

void BoardEvents::report(double ms)
{
    QJsonObject document;
    if (options.measure) {
        measurement.finish();
        for (const QString& line : MeasurementReport::lines(measurement))
            writeLine(line);
        document = MeasurementReport::json(measurement, ms);
    }
    if (options.check) {
        for (const QString& line : check.report())
            writeLine(QStringLiteral("# ") + line);
        const QJsonObject checked = QJsonDocument::fromJson(check.json()).object();
        if (options.measure) {
            // Both, each under its name, beside the check's version.
            document.remove(QStringLiteral("version"));
            document = QJsonObject{{QStringLiteral("version"), checked.value("version")},
                                   {QStringLiteral("check"), checked.value("check")},
                                   {QStringLiteral("measurement"), document}};
        } else {
            document = checked;
        }
    }
    if (!json.isOpen())
        return;
    const QByteArray text = QJsonDocument(document).toJson();
    if (json.write(text) != text.size() || !json.flush())
        fail(QStringLiteral("cannot write %1: %2; the report on standard output holds the same "
                            "figures")
                 .arg(options.jsonPath, json.errorString()));
    json.close();
}

void BoardEvents::startCheck()
{
    if (!options.check || check.isStarted() || present.isEmpty())
        return;
    if (present.size() > 1) {
        complain(QStringLiteral("the board check needs one board, and %1 are present: it waits "
                                "until only the board to check is plugged in")
                     .arg(present.size()));
        return;
    }
    const QString problem = check.start(present.first(), foundMs);
    if (!problem.isEmpty()) {
        complain(problem + QStringLiteral("; the session ends"));
        status = 1;
        QMetaObject::invokeMethod(this, &BoardEvents::stop, Qt::QueuedConnection);
        return;
    }
    followCheck();
}

void BoardEvents::followCheck()
{
    for (const QString& line : check.takeLines())
        std::cerr << "check: " << line.toStdString() << std::endl;
    if (check.isQuiet() != idleHeld) {
        idleHeld = check.isQuiet();
        restartIdle(now());
    }
    if (const std::optional<double> due = check.deadline())
        checkDeadline.start(std::max(0, int(std::ceil(*due - now()))));
    else
        checkDeadline.stop();
    // The session is the check's.
    if (check.isStarted() && !check.isRunning())
        QMetaObject::invokeMethod(this, &BoardEvents::stop, Qt::QueuedConnection);
}

void BoardEvents::restartIdle(double ms)
{
    if (options.idleMs < 0 || stopped)
        return;
    if (idleHeld)
        idle.stop();
    else
        idle.start(std::max(0, options.idleMs - int(now() - ms)));
}

void BoardEvents::onPnp(double ms)
{
    // Packets can no longer be told to be the checked board's.
    if (check.isRunning()) {
        check.finish(ms);
        followCheck();
    }
    changedMs = ms;
    present.clear();
    print(ms, QStringLiteral("pnp"));
}

void BoardEvents::onBoard(double ms, int index, const NorvaHardware::DeviceInfo& info,
                          qint32 device)
{
    if (!changedMs)
        changedMs = ms;
    foundMs = ms;
    present.append({device, info});
    summary.addBoard(device);
    bool needsSize = false;
    const SessionMeasurement::Found found = options.measure
                                                ? measurement.addBoard(device, info, &needsSize)
                                                : SessionMeasurement::Found::Known;
    if (needsSize)
        sizeNeeded(device);
    if (found == SessionMeasurement::Found::Resized)
        complain(QStringLiteral("board %1 came back with another size: it is measured anew, "
                                "apart from what it measured before")
                     .arg(device));
    if (recording) {
        recorder.found(ms, present.last());
        checkRecording();
    }
    print(ms, QStringLiteral("board %1 device %2 %3")
                  .arg(index)
                  .arg(device)
                  .arg(ScenarioRecorder::description(info)));
}

void BoardEvents::onCount(double ms, int count)
{
    print(ms, QStringLiteral("boards %1 of %2").arg(present.size()).arg(count));
    if (present.isEmpty())
        writeLine(options.durationMs == 0
                      ? QStringLiteral("# no board")
                      : QStringLiteral("# no board: waiting for one to be plugged in"));
    if (recording) {
        recorder.enumerated(changedMs.value_or(ms));
        checkRecording();
    }
    changedMs.reset();
    startCheck();
    // Not once the boards were given back at the end.
    if (configurator && !stopped)
        configurator->configureLater();
}

void BoardEvents::onPacket(double ms, const QByteArray& bytes, quint32 tag)
{
    const PacketReport report = PacketReport::decode(bytes, tag);
    // The driver calls back with the same context for every board: only
    // a single board tells where a packet came from.
    const Board board = present.size() == 1 ? Board(present.first().device) : std::nullopt;
    const std::vector<ContactReport> contacts = report.contacts(ms);
    summary.add(board, report.kind, contacts);
    if (options.measure && measurement.add(board, report.kind, ms, contacts))
        sizeNeeded(board);
    check.add(ms, contacts);
    followCheck();
    // From when the packet came, not from when its turn came here.
    restartIdle(ms);
    if (recording) {
        recorder.packet(ms, board, bytes);
        checkRecording();
    }
    QString text = (board ? QString::number(*board) : QStringLiteral("?")) + ' ' + report.text();
    if (options.raw)
        text += QStringLiteral(" | ") + report.hex();
    print(ms, text);
}
