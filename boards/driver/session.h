#pragma once

#include "recording.h"
#include "scenario.h"
#include "scenarioreader.h"

#ifdef NORVABOARD_LIVE_DEVICES
#include "livebacklog.h"
#include "livedevices.h"
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// What one attachment holds, from norvaAttach to norvaDetach: its boards with
// what the host set on them, what its player plays, the recordings played,
// the callbacks registered and in flight, and its threads. A session that
// ends is dropped whole, so that a thread of it still running touches
// nothing of the next one. The driver's mutex guards it, all but the
// recordings, which the player and the checker share under a mutex of their
// own.
struct Session
{
    using Clock = std::chrono::steady_clock;

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
        // Keys of contactsDown: pens by index, then touch and eraser contacts
        // by id, and one for all that a recording or a real device has down.
        static constexpr int TouchKeys = 16;
        static constexpr int EraserKeys = TouchKeys + 128;
        static constexpr int RecordedKey = EraserKeys + 128;

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
#ifdef NORVABOARD_LIVE_DEVICES
        LiveBacklog backlog;
#endif
        // When the first of the packet callbacks now registered came.
        Clock::time_point registered;
    };

    // A callback running on a thread of the session, which clearing it
    // waits for unless it is that thread.
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

    // A deque, so that boards that come later leave the others in place.
    std::deque<Board> boards;
    // What the player plays: a scenario as it reads it, or these commands
    // (a recording played alone).
    std::unique_ptr<ScenarioReader> reader;
    std::vector<Scenario::Command> commands;
    // The scenario again, for the checker; its name in diagnostics, and the
    // folder that the paths in it are relative to.
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
    // Calls handing contacts back to the desktop through the live devices,
    // which the detach waits for before it closes them.
    int handingBack = 0;
    // Where the player's schedule stands: a wait ends its time after the
    // previous one was due to end, however long sending took in between;
    // waiting for a callback goes on from when the callback came, waiting
    // for a file from when the file was seen, a recording played from when
    // it ends.
    Clock::time_point due;
    std::thread player;
    std::thread notifier;
    std::thread checker;
#ifdef NORVABOARD_LIVE_DEVICES
    std::unique_ptr<LiveDevices> live;
    // Real devices' boards are numbered from here, apart from the
    // scenario's 1 to 999.
    int nextLiveNumber = 1000;
#endif

    // What NORVABOARD_SCENARIO names, set up: the boards of a scenario or
    // the demo, found without parsing it whole, with the streams that the
    // player and the checker read; or a recording played as a board of its
    // own.
    void loadScenario();
    // A recording that the scenario plays, read at its first use; the path
    // is relative to the scenario's folder.
    std::shared_ptr<const Recording> recording(const std::string& path);
    // The checker: reads the whole scenario, reports its first problems and
    // their count, and loads the recordings it plays, while the player plays
    // it.
    void check();

    Board* plugged(int32_t device);
    // A board that goes takes its registrations and contacts with it. False
    // when it was so already; otherwise the notifier owes the host a call.
    bool setPlugged(Board& board, bool plugged);
#ifdef NORVABOARD_LIVE_DEVICES
    // The plugged board of the device at the node.
    Board* liveBoard(const std::string& path);
    // The board the device was, or a new one; plugged.
    Board& plugLive(const std::string& path, const InputDevice& device);
    // Queues what a frame of the device at the node gives for the host,
    // within its board's backlog; false when it is no board now.
    bool queueLive(const std::string& path, const std::vector<LiveBacklog::Packet>& packets,
                   bool down);
    // Says how many packets of a live board were dropped, once the host has
    // caught up with it.
    void reportDropped(Board& board, std::size_t waiting);
#endif

    // One write a line, so that lines of the player and the checker stay
    // whole.
    static void print(const std::string& line);
};
