#pragma once

#include "norvahardware.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <map>
#include <optional>
#include <tuple>

// Writes a session as a scenario for the simulated board: the boards with
// their descriptions, every packet as a raw line, and the boards coming and
// going. Each line reaches the file as it is written, so that a session that
// ends in a crash or is killed leaves what came until then.
//
// Packets come only once the host has registered for them: after every
// enumeration with boards the scenario waits for that (wait callback), and
// its schedule starts again there. The waits keep each packet at its offset
// from then: each one is the difference of two offsets rounded to whole
// milliseconds, so no rounding error builds up.
class ScenarioRecorder
{
public:
    struct Board
    {
        qint32 device = 0;
        NorvaHardware::DeviceInfo info;
    };

    // The board's description as the driver gave it, every tag kept, made
    // safe for one scenario line.
    static QString description(const NorvaHardware::DeviceInfo& info);

    // Creates or empties the file and writes the heading, which begins with
    // what the file holds and who recorded it ("A board check recorded by
    // visualview"); false when it cannot (error() says why).
    bool open(const QString& path, const QString& what);
    // A board found by an enumeration, at ms: the host registers for its
    // packets right after.
    void found(double ms, const Board& board);
    // The end of the enumeration of the boards found since the last one;
    // changedMs is when the boards changed: the plug-and-play notification,
    // or at start when the first board was found.
    void enumerated(double changedMs);
    // A packet as delivered, from the given board or from one not known.
    void packet(double ms, std::optional<qint32> device, const QByteArray& bytes);
    // Ends the file with the number of packets.
    void finish(double ms);

    // Why a line could not be written; empty while every line was. Nothing
    // is written after the first line that failed.
    QString error() const;

private:
    void declare(const Board& board, bool plugged);
    void waitUntil(double ms);
    void write(const QString& line);

    QFile file;
    QString failure;
    // Scenario board numbers by device id, and whether each is plugged in.
    std::map<qint32, int> numbers;
    std::map<int, bool> plugged;
    bool started = false;
    // The boards of the enumeration under way, and when the last was found.
    QList<Board> enumeration;
    double registeredMs = 0;
    // The offset that the scenario's time 0 stands for, and how far its waits reach.
    double originMs = 0;
    qint64 scheduledMs = 0;
    int current = 0;
    int packets = 0;
    // Packets that came before their board was declared and registered for:
    // before the first enumeration with a board, or during an enumeration.
    QList<std::tuple<double, std::optional<qint32>, QByteArray>> held;
};
