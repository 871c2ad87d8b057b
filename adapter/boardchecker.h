#pragma once

#include "boardcheck.h"
#include "checkreport.h"
#include "norvahardware.h"
#include "scenariorecorder.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSizeF>
#include <QString>
#include <QTemporaryFile>

#include <atomic>
#include <bitset>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

// The board check in the visualiser: fed every packet of the hardware object
// on the driver's thread as it comes, as boardevents --check is, and
// recording each into a capture as boardevents --record writes one, so that
// boardevents --judge, playing that capture, gives the same verdicts.
//
// Its time 0 is the start; every time it is given is the capture's own, in
// whole milliseconds, each packet at one of its own, so that the check and
// the capture played again see the same reports at the same times, the
// tester's skips between the same two packets. The capture goes to a temporary file until the check
// ends: a check left before its end leaves nothing behind.
//
// The driver's threads feed under the lock, the GUI thread starts, skips,
// leaves and reads under the same lock.
class BoardChecker : public QObject
{
    Q_OBJECT

public:
    // Where the board's size comes from, in the order they count: the
    // person's, the one board's description, the screen's.
    struct Settings
    {
        std::optional<QSizeF> userSize;
        std::optional<QSizeF> screenSize;
    };

    // What a display shows of the check under way.
    struct Reading
    {
        bool running = false;
        BoardCheck::Board board;
        // "from the board", "from VISUALVIEW_SIZE_MM", "from the screen".
        QString sizeFrom;
        BoardCheck::Step step = BoardCheck::Step::Quiet;
        QString instruction;
        QString progress;
        // In mm from the board's top left.
        std::optional<BoardCheck::Point> target;
        std::optional<std::pair<BoardCheck::Point, BoardCheck::Point>> line;
        // The sweep's cells reached, while it runs.
        std::bitset<CoverageGrid::Cells> swept;
        // What happened since the last reading; a step that ended has its
        // figures as text.
        std::vector<BoardCheck::Event> events;
    };

    // A check that ran to its end, with its capture.
    struct Outcome
    {
        BoardCheck check;
        CheckReport::Identity board;
        // "from the board", "from VISUALVIEW_SIZE_MM", "from the screen".
        QString sizeFrom;
        std::unique_ptr<QTemporaryFile> capture;
        // Why the capture lacks lines, empty when it has them all.
        QString captureError;
    };

    BoardChecker(NorvaHardware* hardware, const Settings& settings, QObject* parent = nullptr);

    // Starts the check on the one board present. Empty when it started;
    // else why it cannot, and what to do.
    QString start();
    // The tester skips the step under way.
    void skip();
    // Discards the check and its capture.
    void leave();
    // Brings the check to now, which ends a step whose time is up with no
    // report, and reads what a display shows.
    Reading read();
    // The check once it has ended, and its capture; the checker is then
    // free for the next.
    std::optional<Outcome> takeOutcome();

    // The description with its mm<W,H> tag saying the given size, added
    // where there is none: what a capture's board line says.
    static QString withSize(const QString& description, double widthMm, double heightMm);

private:
    void packet(const QByteArray& bytes, quint32 tag);
    void changed();
    void enumerated(const NorvaHardware::DeviceInfo& info, qint32 device);
    void enumerationEnded();
    // The check's time now, in whole ms, never before a time already given
    // nor before atLeast.
    double now(double atLeast = 0);
    // After the check was fed: completes the capture once it has ended.
    void followEnd(double ms);

    const Settings settings;
    std::atomic<bool> active{false};

    std::mutex mutex;
    QElapsedTimer clock;
    std::optional<BoardCheck> check;
    qint32 device = 0;
    CheckReport::Identity identity;
    QString sizeFrom;
    // Before the recorder, which thus closes the file before it is removed.
    std::unique_ptr<QTemporaryFile> captureFile;
    std::unique_ptr<ScenarioRecorder> recorder;
    QString captureError;
    // Whether the capture was completed, as the check ended.
    bool captureDone = false;
    // The last time given to the check, and the last packet's.
    double lastMs = 0;
    double lastPacketMs = -1;
    // The boards of the enumeration under way, and of the last one.
    QList<ScenarioRecorder::Board> enumerating;
    QList<ScenarioRecorder::Board> boards;
};
