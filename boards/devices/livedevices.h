#pragma once

#include "contactids.h"
#include "directorywatcher.h"
#include "eventtranslator.h"
#include "systemtouch.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct libevdev;
struct libevdev_uinput;

// Real touchscreens, touch frames and pens on Linux, read through libevdev,
// each one a board: described from the device, its events translated like a
// recording's, in real time, on a thread of its own, with contact ids that no
// other device's contact down holds. Devices that come and go under
// /dev/input are plugged and unplugged, also those named by a link
// (/dev/input/by-id/...). Where /dev/uinput can be opened, the devices are
// grabbed once nothing is on them, so that the desktop no longer sees them,
// and the contacts handed back reach it through a touchscreen of our own,
// made when the first device opens, with that device's size; those of a
// device not grabbed reach the desktop from the device itself and are not
// handed back.
class LiveDevices
{
public:
    struct Sink
    {
        std::function<void(const std::string& path, const InputDevice& device)> plugged;
        std::function<void(const std::string& path)> unplugged;
        std::function<void(const std::string& path, const std::vector<EventTranslator::Packet>&,
                           bool down)>
            packets;
    };

    // devices: "auto" for every touch or pen device on a screen, or a
    // comma-separated list of device nodes or links to them. Opens them at
    // once; start() begins reading.
    LiveDevices(const std::string& devices, bool grab, Sink sink);
    ~LiveDevices();
    LiveDevices(const LiveDevices&) = delete;
    LiveDevices& operator=(const LiveDevices&) = delete;

    // The devices opened so far, by node.
    std::vector<std::pair<std::string, InputDevice>> boards() const;
    void start();
    // Hands a packet of contacts back to the desktop, when there is a
    // touchscreen of our own; from any thread.
    void sendToSystem(const uint8_t* bytes, std::size_t length);

private:
    struct Device
    {
        std::string path;
        int fd = -1;
        libevdev* evdev = nullptr;
        std::unique_ptr<EventTranslator> translator;
        InputDevice description;
        // What its contacts' ids say of their holder.
        int holder = 0;
        // To be grabbed once nothing is on it.
        bool grabPending = false;
    };
    // A device closed by a read error while its node is still there.
    struct Retry
    {
        int tries = 0;
        std::chrono::steady_clock::time_point at;
    };
    using Clock = std::chrono::steady_clock;

    void run();
    // The node /dev/input/eventN that a path names, through the links that
    // lead to it, or the path itself.
    static std::string nodeOf(const std::string& path);
    bool wanted(const std::string& node) const;
    // False when the device is not opened; says why once, on standard error,
    // unless quiet: a node that has only just appeared may not have its
    // group from udev yet, and a device tried again says only that it gave
    // up.
    bool open(const std::string& node, bool quiet = false);
    // The desktop's touchscreen, made once, before the first grab.
    void createSystemTouch(const InputDevice& grabbed);
    // A grab sends the desktop no release: a device is grabbed only while
    // nothing is on it, and until then its contacts are not handed back.
    void grabIfIdle(Device& device);
    // A wanted node that came, or whose attributes changed.
    void arrived(const std::string& node, bool appeared);
    // A node that appeared and could not be opened is tried again when its
    // attributes change, and given up on (with the reason) a second after
    // it appeared.
    void settle(const std::string& node);
    void retry(const std::string& node);
    int timeout() const;
    void read(Device& device);
    void readFailed(const std::string& node, int error);
    void close(const std::string& node, bool announce);
    void report(const std::string& node, const std::string& message);

    bool m_auto = false;
    bool m_grab = false;
    bool m_systemTried = false;
    std::set<std::string> m_listed;
    Sink m_sink;
    DirectoryWatcher m_watcher;
    std::map<std::string, Device> m_devices;
    std::set<std::string> m_reported;
    std::map<std::string, Clock::time_point> m_settling;
    std::map<std::string, Retry> m_retries;
    std::shared_ptr<ContactIds> m_ids = std::make_shared<ContactIds>();
    int m_nextHolder = 1;
    int m_wake = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;

    std::mutex m_systemMutex;
    libevdev* m_systemDevice = nullptr;
    libevdev_uinput* m_system = nullptr;
    SystemTouch m_systemTouch;
    // The holders whose contacts are not handed back: devices not grabbed.
    std::set<int> m_notHandedBack;
};
