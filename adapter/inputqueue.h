#pragma once

#include "norvahardware.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <mutex>
#include <variant>

// Carries the hardware object's signals from the driver's threads to the GUI
// thread, in the order they came, and keeps the GUI thread responsive when a
// board floods it: waiting input is handed on in slices of a few
// milliseconds, so that repaints, timers and keys go on between them, and
// past a bound that a real board never reaches whole packets are dropped
// here, in front of the adapter, instead of waiting without end.
//
// Signals emitted on the GUI thread itself (the enumeration inside
// attachDriver) are handed on at once.
class InputQueue : public QObject
{
    Q_OBJECT

public:
    // A second's worth of contact reports at ten times a board's rate
    // (4 pens and 20 touches, each 200 times a second).
    static constexpr int MostWaitingReports = 48000;
    // Dropping stops once the waiting reports are down to this.
    static constexpr int ResumeBelowReports = MostWaitingReports / 2;
    // The longest that one slice hands on input before the event loop turns.
    static constexpr int SliceMs = 5;

    explicit InputQueue(NorvaHardware* hardware, QObject* parent = nullptr);

    // Totals since construction; any thread.
    std::int64_t droppedPackets() const;
    std::int64_t droppedReports() const;
    // The most contact reports that were ever waiting at once.
    int mostReportsWaited() const;

signals:
    void pnpEvent();
    void deviceEnumerated(int index, NorvaHardware::DeviceInfo info);
    void deviceEnumCount(int count);
    void penEvent(NorvaHardware::PenEvent ev);
    void touchEvent(NorvaHardware::TouchEvent ev);
    void eraseEvent(NorvaHardware::EraseEvent ev);
    // Packets were dropped just before this point of the input: the contacts
    // that they would have moved or ended cannot be trusted any more.
    void dropped();

protected:
    bool event(QEvent* event) override;

private:
    struct Pnp
    {
    };
    struct Enumerated
    {
        int index;
        NorvaHardware::DeviceInfo info;
    };
    struct Count
    {
        int count;
    };
    struct Dropped
    {
    };
    using Input = std::variant<Pnp, Enumerated, Count, NorvaHardware::PenEvent,
                               NorvaHardware::TouchEvent, NorvaHardware::EraseEvent, Dropped>;
    struct Waiting
    {
        Input input;
        int reports;
    };

    // From the signal's own thread: hands the input on at once on the GUI
    // thread, else queues it (a packet of `reports` contact reports, or
    // anything else with 0, which is never dropped).
    void receive(Input&& input, int reports);
    void handOn(const Input& input);

    mutable std::mutex mutex;
    std::deque<Waiting> waiting;
    int waitingReports = 0;
    int mostWaiting = 0;
    bool wakePosted = false;
    bool dropping = false;
    std::int64_t droppedNow = 0;
    std::int64_t packetsDropped = 0;
    std::int64_t reportsDropped = 0;
};
