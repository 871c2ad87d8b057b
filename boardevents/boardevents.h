#pragma once

#include "scenariorecorder.h"
#include "sessioncheck.h"
#include "sessionmeasurement.h"
#include "sessionsummary.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class BoardConfigurator;

// One session of the board events tool: it attaches to the driver through
// the hardware object, prints the boards and every packet as lines on
// standard output, records and measures the session when asked, and at the
// end detaches and prints a summary, and the measurement's report.
//
// Packets and plug-and-play changes are timed on the driver's threads as
// they come, then handled in the thread of this object in the order they came.
class BoardEvents : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        bool raw = false;
        bool configure = false;
        QString recordPath;
        // How long the session lasts from its start; 0 lists the boards and
        // ends, without a summary. None: until stop().
        std::optional<int> durationMs;
        // Ends the session once no packet has come for this long, counted
        // from the last packet or, before the first, from the start; -1: never.
        int idleMs = -1;
        // Measures each board and reports its figures at the end, also as
        // JSON into jsonPath where given.
        bool measure = false;
        QString jsonPath;
        // Every board's, over what its description says.
        std::optional<BoardMeasurement::BoardSize> boardSize;
        // Runs the board check on the one board present, and ends the
        // session when it ends; jsonPath then gets its JSON (with the
        // measurement's, where both are asked for).
        bool check = false;
        CheckLimits checkLimits;
    };

    explicit BoardEvents(const Options& options, QObject* parent = nullptr);
    ~BoardEvents() override;

    // Starts the clock and the duration, attaches to the driver and opens
    // the recording. False, with the reason on standard error, when the
    // driver cannot be loaded; a recording that cannot be written ends the
    // session at once, with status 1.
    bool start();
    // Gives the boards back if this session configured them, detaches,
    // handles what came before the detach, completes the recording and
    // prints the summary and the measurement. Emits finished once, with the
    // exit status.
    void stop();

signals:
    void finished(int status);

    // What the driver's threads report, with when it came, on its way to
    // this object's thread.
    void timedPnp(double ms);
    void timedBoard(double ms, int index, NorvaHardware::DeviceInfo info, qint32 device);
    void timedCount(double ms, int count);
    void timedPacket(double ms, QByteArray bytes, quint32 tag);

private:
    using Board = std::optional<qint32>;

    double now() const;
    // A line on standard output. A reader that went away (a closed pipe)
    // ends the session as Ctrl+C does; any other failure ends it with status 1.
    void writeLine(const QString& line);
    void print(double ms, const QString& text);
    // Ends the session with status 1 at the first line that the recording
    // could not take.
    void checkRecording();
    void fail(const QString& message);
    // Says once per board that its figures in millimetres need its size.
    void sizeNeeded(const Board& board);
    // The check's and the measurement's reports, and the JSON file.
    void report(double ms);
    // Starts the check on the boards of an enumeration that ended, if it can.
    void startCheck();
    // Says what the check asks and found, keeps the idle time and the
    // step's deadline in step with it, and ends the session with it.
    void followCheck();
    // The idle time counts from ms, except while the check wants quiet.
    void restartIdle(double ms);
    void onPnp(double ms);
    void onBoard(double ms, int index, const NorvaHardware::DeviceInfo& info, qint32 device);
    void onCount(double ms, int count);
    void onPacket(double ms, const QByteArray& bytes, quint32 tag);

    Options options;
    QElapsedTimer clock;
    QTimer deadline;
    QTimer idle;
    ScenarioRecorder recorder;
    SessionSummary summary;
    SessionMeasurement measurement;
    SessionCheck check;
    // When the check's step ends if no packet comes.
    QTimer checkDeadline;
    QFile json;
    bool recording = false;
    bool outputClosed = false;
    bool stopped = false;
    // The idle time does not count while the check wants quiet.
    bool idleHeld = false;
    int status = 0;
    // Boards whose packets come in now, and the enumeration that lists them.
    QList<ScenarioRecorder::Board> present;
    // When the boards changed: the plug-and-play notification, or the first
    // board found at start; and when the last board was found.
    std::optional<double> changedMs;
    double foundMs = 0;
    // Declared last: destroyed first, so that no callback outlives the rest.
    std::unique_ptr<NorvaHardware> hardware;
    BoardConfigurator* configurator = nullptr;
};
