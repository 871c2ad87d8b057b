#pragma once

#include "norvahardware.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <variant>

// Carries the hardware object's signals from the driver's threads to the GUI
// thread, in the order they came, and keeps the GUI thread responsive when a
// board floods it: waiting input is handed on in slices of a few
// milliseconds, so that repaints, timers and keys go on between them, and
// past a bound that a real board never reaches whole packets are dropped
// here, in front of the adapter, instead of waiting without end: a packet
// that would make more contact reports wait than a second's worth at ten
// times a board's rate. Once that happened, and until the queue has caught
// up, a packet that has waited a second is dropped too, so that input which
// costs far more to draw than it takes to send is not drawn for minutes
// after the flood.
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
    // After an overflow, the longest a packet may have waited.
    static constexpr int MostWaitMs = 1000;
    // The longest that one slice hands on input before the event loop turns.
    static constexpr int SliceMs = 5;

    explicit InputQueue(NorvaHardware* hardware, QObject* parent = nullptr);

    // Totals since construction; any thread.
    std::int64_t droppedPackets() const;
    std::int64_t droppedReports() const;
    // The contact reports waiting now, and the most that ever waited at once.
    int reportsWaiting() const;
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
        // Contact reports of a packet, at least 1; 0 for anything else,
        // which is never dropped.
        int reports;
        std::chrono::steady_clock::time_point since;
    };

    // From the signal's own thread: hands the input on at once on the GUI
    // thread, else queues it.
    void receive(Input&& input, int reports);
    void handOn(const Input& input);
    // Called with the mutex held.
    void countDropped(int reports);

    mutable std::mutex mutex;
    std::deque<Waiting> waiting;
    int waitingReports = 0;
    int mostWaiting = 0;
    bool wakePosted = false;
    // Whether the newest queued item marks a drop, and whether the bound was
    // reached since the queue was last empty.
    bool lastQueuedDropped = false;
    bool overflowed = false;
    // GUI thread only: whether a run of drops was reported on standard error
    // and not yet ended, and whether the adapter heard of a drop since the
    // last packet that it was handed.
    bool dropping = false;
    bool toldOfDrop = false;
    std::int64_t droppedNow = 0;
    std::int64_t packetsDropped = 0;
    std::int64_t reportsDropped = 0;
};
