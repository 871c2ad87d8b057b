#pragma once

#include "calllog.h"
#include "norvaboardex.h"
#include "recording.h"
#include "scenario.h"
#include "scenarioreader.h"

#ifdef NORVABOARD_LIVE_DEVICES
#include "livedevices.h"
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

// The driver behind the entry points. An attachment starts a session: the
// boards of the scenario or recording and, on Linux, of real devices; a
// player thread that sends their packets, a notifier thread that calls the
// plug-and-play callbacks and a checker thread that reads the scenario
// through once, beside the player, to report its problems.
class BoardDriver
{
public:
    struct Callback
    {
        void* function = nullptr;
        void* context = nullptr;

        bool operator==(const Callback& other) const
        {
            return function == other.function && context == other.context;
        }
    };

    // A declared board, with what the host set on it.
    struct Board
    {
        Scenario::Board declared;
        bool plugged = true;
        std::vector<Callback> callbacks;
        std::map<int32_t, int8_t> penDestinations;
        int8_t touchDestination = 0;
        bool touchEnabled = true;
        bool touchRedirection = true;
        int8_t lateDetection = 0;
        bool hidCoordinateReportMode = false;
        // Pens with the tip down, touch and eraser contacts that are down.
        std::set<int> contactsDown;
        // A real device's board: the device's node while it is plugged, and
        // what identifies the device, so that it is the same board when it
        // comes back under another node.
        std::string livePath;
        std::string liveIdentity;
        std::string livePhys;
        // When the first of the packet callbacks now registered came.
        std::chrono::steady_clock::time_point registered;
    };

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
        Board* board = m_session ? plugged(*m_session, device) : nullptr;
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
    struct Invocation
    {
        bool active = false;
        std::thread::id thread;
        int32_t device = 0;
        Callback callback;

        bool blocks(int32_t device, const Callback& callback) const;
    };

    struct Channel
    {
        int32_t device = 0;
        std::deque<std::vector<uint8_t>> packets;
    };

    struct Session
    {
        // A deque, so that boards that come later leave the others in place.
        std::deque<Board> boards;
        // What the player plays: a scenario as it reads it, or these
        // commands (a recording played alone).
        std::unique_ptr<ScenarioReader> reader;
        std::vector<Scenario::Command> commands;
        // The scenario again, for the checker; its name in diagnostics, and
        // the folder that the paths in it are relative to.
        std::unique_ptr<std::istream> checked;
        std::string name;
        std::string folder;
        // The recordings that the commands play, by path; the player and the
        // checker load them.
        std::mutex recordingsMutex;
        std::map<std::string, std::shared_ptr<const Recording>> recordings;
        std::vector<Callback> pnpCallbacks;
        std::atomic<bool> stopping{false};
        int pnpPending = 0;
        uint32_t sequence = 0;
        int locks = 0;
        std::deque<std::pair<int32_t, std::vector<uint8_t>>> injected;
        std::map<int32_t, Channel> channels;
        int32_t nextChannel = 1;
        Invocation packetInFlight;
        Invocation pnpInFlight;
        // Where the player's schedule stands: a wait ends its time after the
        // previous one was due to end, however long sending took in between;
        // waiting for a callback goes on from when the callback came, waiting
        // for a file from when the file was seen, a recording played from
        // when it ends.
        std::chrono::steady_clock::time_point due;
        std::thread player;
        std::thread notifier;
        std::thread checker;
#ifdef NORVABOARD_LIVE_DEVICES
        std::shared_ptr<LiveDevices> live;
        // Real devices' boards are numbered from here, apart from the
        // scenario's 1 to 999.
        int nextLiveNumber = 1000;
#endif
    };

    using Clock = std::chrono::steady_clock;
    using Lock = std::unique_lock<std::mutex>;

    static Board* plugged(Session& session, int32_t device);
    // What NORVABOARD_SCENARIO names, set up in the session: the boards of a
    // scenario or the demo, found without parsing it whole, with the
    // streams that the player and the checker read; or a recording played
    // as a board of its own.
    static void loadScenario(Session& session);
    // A recording that the scenario plays, read at its first use; the path
    // is relative to the scenario's folder.
    static std::shared_ptr<const Recording> recording(Session& session, const std::string& path);

    void play(std::shared_ptr<Session> session);
    void notify(std::shared_ptr<Session> session);
    // Reads the whole scenario, reports its first problems and their count,
    // and loads the recordings it plays, while the player plays it.
    static void check(std::shared_ptr<Session> session);
    void run(Session& session, const std::vector<Scenario::Command>& commands, double t);
    void run(Session& session, ScenarioReader& reader, double t);
    // A repeat's rounds, each given its progress.
    void repeat(Session& session, const Scenario::Command& command, double t,
                const std::function<void(double)>& round);
    void execute(Session& session, const Scenario::Command& command, double t);
    // Sleeps until the deadline or until done() holds, sending injected
    // packets meanwhile. False when done() did not come true.
    bool waitFor(Session& session, std::optional<Clock::time_point> deadline,
                 const std::function<bool()>& done);
    void deliver(Lock& lock, Session& session, int32_t device, const std::vector<uint8_t>& packet);
    // Plays a recording's frames at their recorded times, divided by the speed.
    void playRecording(Session& session, const Scenario::Command& command);
    void sendFrame(Session& session, int32_t device,
                   const std::vector<std::vector<uint8_t>>& packets, bool down);
    void noteContacts(Session& session, const Scenario::Command& command);
    void setPlugged(Session& session, int number, bool plugged);
    void setPluggedLocked(Session& session, Board& board, bool plugged);
#ifdef NORVABOARD_LIVE_DEVICES
    // Opens the devices NORVABOARD_DEVICES names, as boards of the session.
    void startLiveDevices(const std::shared_ptr<Session>& session);
    // The plugged board of the device at the node.
    static Board* liveBoard(Session& session, const std::string& path);
    // The board the device was, or a new one; plugged.
    static Board& plugLive(Session& session, const std::string& path, const InputDevice& device);
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
