#pragma once

#include "directorywatcher.h"
#include "eventtranslator.h"
#include "systemtouch.h"

#include <atomic>
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
// recording's, in real time, on a thread of its own. Devices that come and go
// under /dev/input are plugged and unplugged. Where /dev/uinput can be
// opened, the devices are grabbed, so that the desktop no longer sees them,
// and the contacts handed back reach it through a touchscreen of our own.
class LiveDevices
{
public:
    struct Sink
    {
        std::function<void(const std::string& path, const std::string& description)> plugged;
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

    // The devices opened so far, by path, with their board descriptions.
    std::vector<std::pair<std::string, std::string>> boards() const;
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
        std::string description;
    };

    void run();
    bool wanted(const std::string& path) const;
    // False when the device is not opened; says why once, on standard error.
    bool open(const std::string& path);
    void read(Device& device);
    void close(const std::string& path, bool announce);
    void report(const std::string& path, const std::string& message);

    bool m_auto = false;
    std::set<std::string> m_listed;
    Sink m_sink;
    DirectoryWatcher m_watcher;
    std::map<std::string, Device> m_devices;
    std::set<std::string> m_reported;
    int m_wake = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;

    std::mutex m_systemMutex;
    libevdev* m_systemDevice = nullptr;
    libevdev_uinput* m_system = nullptr;
    SystemTouch m_systemTouch;
};
