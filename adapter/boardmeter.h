#pragma once

#include "boardmeasurement.h"
#include "norvahardware.h"

#include <QList>
#include <QObject>
#include <QSizeF>
#include <QString>

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

// The measuring core fed every decoded contact of the hardware object as it
// arrives, timed on the driver's thread: before the adapter drops repeats
// and before the input queue, so that a rate measured is the board's and not
// what reached the screen. Packets do not say which board sent them: with
// one board enumerated the figures are that board's, with several they are
// of all of them together.
//
// The driver's thread takes the time, converts the packet's contacts and
// adds them under the lock, nothing more; the GUI thread reads a copy of
// what a display shows under the same lock.
class BoardMeter : public QObject
{
    Q_OBJECT

public:
    // Where the board's size in millimetres came from, in the order they
    // count: the person's, the one board's description, the screen's.
    enum class SizeSource
    {
        None,
        User,
        Board,
        Screen
    };

    struct Settings
    {
        std::optional<QSizeF> userSize;
        std::optional<QSizeF> screenSize;
    };

    struct Reading
    {
        BoardMeasurement::Figures figures;
        std::optional<BoardMeasurement::StillContact> still;
        std::optional<BoardMeasurement::StraightStroke> straight;
        CoverageGrid coverage;
        std::vector<BoardMeasurement::Tap> taps;
        std::vector<BoardMeasurement::Point> targets;
        std::optional<BoardMeasurement::BoardSize> size;
        SizeSource sizeSource = SizeSource::None;
        // The boards of the last enumeration, and whether their descriptions
        // give different sizes (measured together, they share one); the hid
        // of the one board and the most pens and touches that it declares
        // (xp, xt).
        int boards = 0;
        bool sizesDiffer = false;
        QString board;
        int declaredPens = 0;
        int declaredTouches = 0;
    };

    BoardMeter(NorvaHardware* hardware, const Settings& settings, QObject* parent = nullptr);

    // Taps are matched against these, board units; none matches no tap.
    void setTargets(std::vector<BoardMeasurement::Point> targets);
    // Forgets every figure; size and targets stay.
    void clear();
    Reading read() const;

private:
    void addPen(const NorvaHardware::PenEvent& event);
    template <typename Contacts>
    void addContacts(ContactReport::Kind kind, const Contacts& contacts);
    double now() const;
    void enumerated(const NorvaHardware::DeviceInfo& info);
    void enumerationEnded();
    // A measurement of the size that now counts, if that changed; called
    // with the lock held.
    void resize();

    const Settings settings;
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    mutable std::mutex mutex;
    BoardMeasurement measurement;
    SizeSource sizeSource = SizeSource::None;
    // The boards of the enumeration under way, and of the last one.
    QList<NorvaHardware::DeviceInfo> enumerating;
    QList<NorvaHardware::DeviceInfo> boards;
};
