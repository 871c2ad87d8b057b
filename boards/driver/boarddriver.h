#pragma once

#include "calllog.h"
#include "norvaboardex.h"
#include "session.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The driver behind the entry points. An attachment starts a session: the
// boards of the scenario or recording and, on Linux, of real devices; a
// player thread that sends their packets (SessionPlayer), a notifier thread
// that calls the plug-and-play callbacks and a checker thread that reads the
// scenario through once, beside the player, to report its problems.
class BoardDriver
{
public:
    using Board = Session::Board;

    BoardDriver() = default;
    BoardDriver(const BoardDriver&) = delete;
    BoardDriver& operator=(const BoardDriver&) = delete;
    ~BoardDriver();

    // Starts a session unless one runs. Reads NORVABOARD_SCENARIO and
    // NORVABOARD_LOG then.
    int32_t attach();
    // Ends the session; no callback runs any more when this returns, except
    // one that called it.
    void detach();

    void setCallback(int32_t device, NorvaPacketCallback function, void* context);
    void setPnpCallback(NorvaPnpCallback function, void* context);
    // Device 0 means the plug-and-play callback. Waits for a call of the
    // callback in flight on another thread. 1 when something was cleared.
    int32_t clearCallback(int32_t device, void* function, void* context);

    int32_t deviceCount();
    bool enumDeviceInfo(int32_t index, void* record);

    // Acts on a plugged board of the session and returns the action's
    // result, or missing when there is no such board.
    template <typename Result, typename Action>
    Result withBoard(int32_t device, Result missing, Action action)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Board* board = m_session ? m_session->plugged(device) : nullptr;
        return board ? action(*board) : missing;
    }
    bool known(int32_t device)
    {
        return withBoard(device, false, [](Board&) { return true; });
    }

    // Sends a packet from the board, after the packets already queued.
    bool inject(int32_t device, const uint8_t* bytes, int32_t length);
    // Hands a packet of contacts back to the desktop, where real devices are
    // grabbed.
    void sendToSystem(const uint8_t* bytes, int32_t length);

    int32_t openChannel(int32_t device);
    void closeChannel(int32_t device, int32_t channel);
    int32_t readChannel(int32_t device, int32_t channel, uint8_t* buffer, int32_t capacity,
                        int32_t timeoutMs);

    // Holds delivery back until as many unlocks as locks.
    void lock();
    void unlock();

    std::atomic<int32_t> serialStartupMode{0};

    CallLog& log() { return m_log; }

private:
    using Callback = Session::Callback;
    using Invocation = Session::Invocation;
    using Channel = Session::Channel;
    using Clock = Session::Clock;
    using Lock = std::unique_lock<std::mutex>;

    // The notifier: a call of the plug-and-play callbacks for every plug
    // and unplug owed.
    void notify(std::shared_ptr<Session> session);
#ifdef NORVABOARD_LIVE_DEVICES
    // Opens the devices NORVABOARD_DEVICES names, as boards of the session.
    void startLiveDevices(const std::shared_ptr<Session>& session);
#endif
    void joinRetired();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::shared_ptr<Session> m_session;
    // Threads of ended sessions that could not be joined by the thread that
    // ended them, because it was one of them.
    std::vector<std::thread> m_retired;
    CallLog m_log;
};
