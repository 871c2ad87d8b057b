#include "inputqueue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QThread>

#include <algorithm>
#include <iostream>
#include <string>
#include <utility>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {

// Qt's event queue hands a posted event to the receiving thread under a lock
// that ThreadSanitizer cannot see (Debian's Qt is not instrumented), so the
// hand-over of the wake-up that this queue makes is declared to it here.
void handedOver(QEvent* event)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(event);
#else
    Q_UNUSED(event);
#endif
}

void takenOver(QEvent* event)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(event);
#else
    Q_UNUSED(event);
#endif
}

const QEvent::Type HandOnEvent = QEvent::Type(QEvent::registerEventType());

template <class... Handlers> struct Overloaded : Handlers...
{
    using Handlers::operator()...;
};
template <class... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

// One write, so that the line stays whole beside other threads' output.
void report(const std::string& line)
{
    std::cerr << line << std::flush;
}

} // namespace

InputQueue::InputQueue(NorvaHardware* hardware, QObject* parent) : QObject(parent)
{
    // Direct: the queue decides on the driver's thread what waits and what
    // is dropped.
    connect(
        hardware, &NorvaHardware::pnpEvent, this, [this] { receive(Pnp{}, 0); },
        Qt::DirectConnection);
    connect(
        hardware, &NorvaHardware::deviceEnumerated, this,
        [this](int index, const NorvaHardware::DeviceInfo& info) {
            receive(Enumerated{index, info}, 0);
        },
        Qt::DirectConnection);
    connect(
        hardware, &NorvaHardware::deviceEnumCount, this,
        [this](int count) { receive(Count{count}, 0); }, Qt::DirectConnection);
    connect(
        hardware, &NorvaHardware::penEvent, this,
        [this](const NorvaHardware::PenEvent& ev) { receive(ev, 1); }, Qt::DirectConnection);
    // A packet without contacts counts as one report: a board sending
    // nothing else would otherwise fill the queue without bound.
    connect(
        hardware, &NorvaHardware::touchEvent, this,
        [this](const NorvaHardware::TouchEvent& ev) { receive(ev, std::max(1, int(ev.size()))); },
        Qt::DirectConnection);
    connect(
        hardware, &NorvaHardware::eraseEvent, this,
        [this](const NorvaHardware::EraseEvent& ev) { receive(ev, std::max(1, int(ev.size()))); },
        Qt::DirectConnection);
}

std::int64_t InputQueue::droppedPackets() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return packetsDropped;
}

std::int64_t InputQueue::droppedReports() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return reportsDropped;
}

int InputQueue::reportsWaiting() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return waitingReports;
}

int InputQueue::mostReportsWaited() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return mostWaiting;
}

void InputQueue::countDropped(int reports)
{
    ++packetsDropped;
    ++droppedNow;
    reportsDropped += reports;
}

void InputQueue::receive(Input&& input, int reports)
{
    if (QThread::currentThread() == thread()) {
        handOn(input);
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (reports > 0 && waitingReports + reports > MostWaitingReports) {
        countDropped(reports);
        // The adapter learns of it in its place in the input.
        if (!lastQueuedDropped)
            waiting.push_back({Dropped{}, 0, {}});
        lastQueuedDropped = true;
        overflowed = true;
    } else {
        waiting.push_back({std::move(input), reports, std::chrono::steady_clock::now()});
        waitingReports += reports;
        mostWaiting = std::max(mostWaiting, waitingReports);
        lastQueuedDropped = false;
    }
    if (wakePosted)
        return;
    wakePosted = true;
    lock.unlock();
    auto* wake = new QEvent(HandOnEvent);
    handedOver(wake);
    QCoreApplication::postEvent(this, wake);
}

bool InputQueue::event(QEvent* event)
{
    takenOver(event);
    if (event->type() != HandOnEvent)
        return QObject::event(event);
    const QDeadlineTimer slice(SliceMs, Qt::PreciseTimer);
    const auto mostWait = std::chrono::milliseconds(MostWaitMs);
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex);
        if (waiting.empty()) {
            wakePosted = false;
            // Caught up: whatever was dropped is over.
            const std::int64_t count = std::exchange(droppedNow, 0);
            lock.unlock();
            if (std::exchange(dropping, false))
                report("Dropped " + std::to_string(count) + " packets of input.\n");
            return true;
        }
        if (slice.hasExpired()) {
            // What is left waits for the next turn of the event loop, behind
            // the repaints, timers and keys that came meanwhile.
            lock.unlock();
            QCoreApplication::postEvent(this, new QEvent(HandOnEvent), Qt::LowEventPriority);
            return true;
        }
        Waiting next = std::move(waiting.front());
        waiting.pop_front();
        waitingReports -= next.reports;
        if (waiting.empty())
            lastQueuedDropped = overflowed = false;
        const bool stale = overflowed && next.reports > 0 &&
                           std::chrono::steady_clock::now() - next.since > mostWait;
        if (stale)
            countDropped(next.reports);
        lock.unlock();
        if (stale)
            next.input = Dropped{};
        handOn(next.input);
    }
}

void InputQueue::handOn(const Input& input)
{
    std::visit(Overloaded{[this](const Pnp&) { emit pnpEvent(); },
                          [this](const Enumerated& e) { emit deviceEnumerated(e.index, e.info); },
                          [this](const Count& c) { emit deviceEnumCount(c.count); },
                          [this](const NorvaHardware::PenEvent& ev) {
                              toldOfDrop = false;
                              emit penEvent(ev);
                          },
                          [this](const NorvaHardware::TouchEvent& ev) {
                              toldOfDrop = false;
                              emit touchEvent(ev);
                          },
                          [this](const NorvaHardware::EraseEvent& ev) {
                              toldOfDrop = false;
                              emit eraseEvent(ev);
                          },
                          [this](const Dropped&) {
                              if (!std::exchange(dropping, true))
                                  report("Input arrives faster than it can be drawn: dropping "
                                         "whole packets.\n");
                              // Once for a run of drops.
                              if (!std::exchange(toldOfDrop, true))
                                  emit dropped();
                          }},
               input);
}
