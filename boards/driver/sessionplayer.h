#pragma once

#include "norvaboardex.h"
#include "session.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

// The player of a session, on the session's player thread: it plays the
// scenario's commands (or a recording alone) to their schedule and, between
// and after them, the packets injected by the host and real devices, and
// delivers each packet to its board's synchronous channels and packet
// callbacks. It waits on the driver's mutex and condition, which everything
// that changes the session notifies.
class SessionPlayer
{
public:
    SessionPlayer(std::mutex& mutex, std::condition_variable& changed, Session& session);

    // Returns when the session stops.
    void play();

private:
    using Board = Session::Board;
    using Callback = Session::Callback;
    using Clock = Session::Clock;
    using Lock = std::unique_lock<std::mutex>;

    void run(const std::vector<Scenario::Command>& commands, double t);
    void run(ScenarioReader& reader, double t);
    // A repeat's rounds, each given its progress.
    void repeat(const Scenario::Command& command, double t,
                const std::function<void(double)>& round);
    void execute(const Scenario::Command& command, double t);
    // Sleeps until the deadline or until done() holds, sending injected
    // packets meanwhile. False when done() did not come true.
    bool waitFor(std::optional<Clock::time_point> deadline, const std::function<bool()>& done);
    void deliver(Lock& lock, int32_t device, const std::vector<uint8_t>& packet);
    // Plays a recording's frames at their recorded times, divided by the speed.
    void playRecording(const Scenario::Command& command);
    void sendFrame(int32_t device, const std::vector<std::vector<uint8_t>>& packets, bool down);
    void noteContacts(const Scenario::Command& command);
    void setPlugged(int number, bool plugged);

    std::mutex& m_mutex;
    std::condition_variable& m_changed;
    Session& m_session;
};
