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
// /dev/input are plugged and unplugged. Where /dev/uinput can be opened, the
// devices are grabbed, so that the desktop no longer sees them, and the
// contacts handed back reach it through a touchscreen of our own, made when
// the first device opens, with that device's size.
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

    // devices: "auto" for every direct touch or pen device, or a
    // comma-separated list of device nodes. Opens them at once; start()
    // begins reading.
    LiveDevices(const std::string& devices, bool grab, Sink sink);
    ~LiveDevices();
    LiveDevices(const LiveDevices&) = delete;
    LiveDevices& operator=(const LiveDevices&) = delete;

    // The devices opened so far, by path.
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
    };
    using Clock = std::chrono::steady_clock;

    void run();
    bool wanted(const std::string& path) const;
    // False when the device is not opened; says why once, on standard error,
    // unless the node has only just appeared: udev may not have given it
    // its group yet.
    bool open(const std::string& path, bool appeared = false);
    // The desktop's touchscreen, made once, before the first grab.
    void createSystemTouch(const InputDevice& grabbed);
    // A node that appeared and could not be opened is tried again when its
    // attributes change, and given up on (with the reason) a second after
    // it appeared.
    void settle(const std::string& path);
    int settlingTimeout() const;
    void read(Device& device);
    void close(const std::string& path, bool announce);
    void report(const std::string& path, const std::string& message);

    bool m_auto = false;
    bool m_grab = false;
    bool m_systemTried = false;
    std::set<std::string> m_listed;
    Sink m_sink;
    DirectoryWatcher m_watcher;
    std::map<std::string, Device> m_devices;
    std::set<std::string> m_reported;
    std::map<std::string, Clock::time_point> m_settling;
    std::shared_ptr<ContactIds> m_ids = std::make_shared<ContactIds>();
    int m_wake = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;

    std::mutex m_systemMutex;
    libevdev* m_systemDevice = nullptr;
    libevdev_uinput* m_system = nullptr;
    SystemTouch m_systemTouch;
};
