#include "livedevices.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* InputFolder = "/dev/input";
constexpr const char* NodePrefix = "event";
// How long after a node appears udev has to give it its group.
constexpr std::chrono::seconds SettlingTime(1);
// A device that fails to read is opened again this often, this many times.
constexpr std::chrono::seconds RetryInterval(1);
constexpr int MostTries = 3;
// Links followed to find a node, as the kernel follows them.
constexpr int MostLinks = 40;

std::string failure(int error)
{
    return std::strerror(error < 0 ? -error : error);
}

// A device node as inotify reports it: /dev/input/eventN.
bool isNode(const std::filesystem::path& path)
{
    return path.parent_path() == InputFolder &&
           path.filename().string().compare(0, std::strlen(NodePrefix), NodePrefix) == 0;
}

bool exists(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

// What the device says about itself, as a recording's description says it.
InputDevice describe(const libevdev* evdev)
{
    InputDevice device;
    device.name = libevdev_get_name(evdev);
    const char* phys = libevdev_get_phys(evdev);
    const char* uniq = libevdev_get_uniq(evdev);
    device.phys = phys ? phys : "";
    device.uniq = uniq ? uniq : "";
    device.bus = uint16_t(libevdev_get_id_bustype(evdev));
    device.vendor = uint16_t(libevdev_get_id_vendor(evdev));
    device.product = uint16_t(libevdev_get_id_product(evdev));
    device.version = uint16_t(libevdev_get_id_version(evdev));
    for (uint16_t code = 0; code <= InputCode::KeyMax; ++code) {
        if (!libevdev_has_event_code(evdev, EV_KEY, code))
            continue;
        device.enable(EV_KEY, code);
        if (libevdev_get_event_value(evdev, EV_KEY, code))
            device.initialKeys.insert(code);
    }
    for (uint16_t code = 0; code <= InputCode::AbsMax; ++code) {
        const input_absinfo* info = libevdev_get_abs_info(evdev, code);
        if (!info || !libevdev_has_event_code(evdev, EV_ABS, code))
            continue;
        device.enable(EV_ABS, code);
        device.axes[code] = {info->minimum, info->maximum, info->fuzz, info->flat,
                             info->resolution};
        device.initialValues[code] = info->value;
    }
    // Fingers already resting when the device is opened are only ever seen
    // through the slots' current values.
    const int slots = libevdev_get_num_slots(evdev);
    if (slots > 0) {
        device.initialSlot = libevdev_get_current_slot(evdev);
        device.initialSlots.resize(std::size_t(slots));
        for (int slot = 0; slot < slots; ++slot) {
            for (const uint16_t code : InputDevice::SlotCodes) {
                if (libevdev_has_event_code(evdev, EV_ABS, code))
                    device.initialSlots[std::size_t(slot)][code] =
                        libevdev_get_slot_value(evdev, unsigned(slot), code);
            }
        }
    }
    for (uint16_t property = 0; property <= InputCode::InputPropMax; ++property) {
        if (libevdev_has_property(evdev, property))
            device.properties.insert(property);
    }
    return device;
}

// A libevdev device with what the description says, to create a uinput
// device from.
libevdev* evdevOf(const InputDevice& device)
{
    libevdev* evdev = libevdev_new();
    libevdev_set_name(evdev, device.name.c_str());
    libevdev_set_id_bustype(evdev, device.bus);
    for (const uint16_t property : device.properties)
        libevdev_enable_property(evdev, property);
    for (uint16_t code = 0; code <= InputCode::KeyMax; ++code) {
        if (device.has(EV_KEY, code))
            libevdev_enable_event_code(evdev, EV_KEY, code, nullptr);
    }
    for (const auto& [code, axis] : device.axes) {
        const input_absinfo info{0,         axis.minimum, axis.maximum,
                                 axis.fuzz, axis.flat,    axis.resolution};
        libevdev_enable_event_code(evdev, EV_ABS, code, &info);
    }
    return evdev;
}

} // namespace

LiveDevices::LiveDevices(const std::string& devices, bool grab, Sink sink)
    : m_auto(devices == "auto"), m_grab(grab), m_sink(std::move(sink)),
      m_watcher(InputFolder, NodePrefix)
{
    if (!m_watcher.watching())
        std::cerr << "norvaboardex: cannot watch " << InputFolder << " (" << m_watcher.error()
                  << "): devices that come later are not seen" << std::endl;
    if (!m_auto) {
        std::istringstream list(devices);
        for (std::string path; std::getline(list, path, ',');) {
            if (!path.empty())
                m_listed.insert(path);
        }
    }
    // Links that people give because they outlive a reboot (by-id,
    // by-path), watched in their folders, and the folders in theirs: udev
    // removes a folder of links with its last link.
    std::set<std::string> folders;
    for (const std::string& path : m_listed) {
        const std::filesystem::path link(path);
        const std::string folder = link.parent_path().string();
        if (isNode(link))
            continue;
        m_watcher.watch(folder, link.filename().string());
        if (folder != InputFolder && folders.insert(folder).second)
            m_watcher.watch(link.parent_path().parent_path().string(),
                            link.parent_path().filename().string());
    }
    std::vector<std::string> nodes = m_auto ? m_watcher.current() : std::vector<std::string>();
    for (const std::string& path : m_listed)
        nodes.push_back(nodeOf(path));
    for (const std::string& node : nodes) {
        if (open(node))
            grabIfIdle(m_devices[node]);
    }
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

LiveDevices::~LiveDevices()
{
    m_stopping = true;
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        if (write(m_wake, &one, sizeof one) < 0)
            std::cerr << "norvaboardex: cannot stop reading the devices" << std::endl;
        m_thread.join();
    }
    while (!m_devices.empty())
        close(m_devices.begin()->first, false);
    if (m_wake >= 0)
        ::close(m_wake);
    if (m_system)
        libevdev_uinput_destroy(m_system);
    if (m_systemDevice)
        libevdev_free(m_systemDevice);
}

std::vector<std::pair<std::string, InputDevice>> LiveDevices::boards() const
{
    std::vector<std::pair<std::string, InputDevice>> boards;
    for (const auto& [path, device] : m_devices)
        boards.emplace_back(path, device.description);
    return boards;
}

void LiveDevices::start()
{
    m_thread = std::thread(&LiveDevices::run, this);
}

void LiveDevices::sendToSystem(const uint8_t* bytes, std::size_t length)
{
    std::lock_guard<std::mutex> lock(m_systemMutex);
    if (!m_system)
        return;
    const auto wanted = [this](bool pen, int id) {
        return m_notHandedBack.count(
                   m_ids->holder(pen ? ContactIds::Pen : ContactIds::Touch, id)) == 0;
    };
    for (const InputDevice::Event& event : m_systemTouch.events(bytes, length, wanted))
        libevdev_uinput_write_event(m_system, event.type, event.code, event.value);
}

std::string LiveDevices::nodeOf(const std::string& path)
{
    // Followed by hand and only up to the node: a node can be a link too
    // (umockdev's are), and it is the node that inotify reports.
    std::filesystem::path node(path);
    for (int links = 0; links < MostLinks && !isNode(node); ++links) {
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(node, error);
        if (error)
            break;
        node = (target.is_absolute() ? target : node.parent_path() / target).lexically_normal();
    }
    return node.string();
}

bool LiveDevices::wanted(const std::string& node) const
{
    return m_auto || std::any_of(m_listed.begin(), m_listed.end(),
                                 [&](const std::string& path) { return nodeOf(path) == node; });
}

bool LiveDevices::open(const std::string& node, bool quiet)
{
    if (m_devices.count(node))
        return true;
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (!quiet)
            report(node, "cannot open it (" + failure(error) + ")" +
                             (error == EACCES ? ": is the user in the input group?" : ""));
        return false;
    }
    libevdev* evdev = nullptr;
    const int error = libevdev_new_from_fd(fd, &evdev);
    if (error != 0) {
        ::close(fd);
        if (!quiet)
            report(node, "not an input device (" + failure(error) + ")");
        return false;
    }
    const InputDevice device = describe(evdev);
    // Our own touchscreen for the desktop is not a board; a touchpad or a
    // tablet beside the screen is a board only where it is listed.
    const bool ours =
        device.bus == SystemTouch::device().bus && device.name == SystemTouch::device().name;
    if (ours || !device.isBoard() || (m_auto && !device.isOnScreen())) {
        libevdev_free(evdev);
        ::close(fd);
        if (!m_auto)
            report(node, "not a touchscreen or a pen (" + device.name + ")");
        return false;
    }
    if (m_grab && !m_systemTried)
        createSystemTouch(device);
    Device& opened = m_devices[node];
    opened.path = node;
    opened.fd = fd;
    opened.evdev = evdev;
    opened.holder = m_nextHolder++;
    opened.translator = std::make_unique<EventTranslator>(device, m_ids, opened.holder);
    opened.description = device;
    m_reported.erase(node);
    std::lock_guard<std::mutex> lock(m_systemMutex);
    if (m_system) {
        opened.grabPending = true;
        m_notHandedBack.insert(opened.holder);
    }
    return true;
}

void LiveDevices::createSystemTouch(const InputDevice& grabbed)
{
    m_systemTried = true;
    const auto [xResolution, yResolution] = SystemTouch::resolutionOf(grabbed);
    libevdev* device = evdevOf(SystemTouch::device(xResolution, yResolution));
    libevdev_uinput* system = nullptr;
    const int error =
        libevdev_uinput_create_from_device(device, LIBEVDEV_UINPUT_OPEN_MANAGED, &system);
    if (error != 0) {
        std::cerr << "norvaboardex: cannot create a touchscreen on /dev/uinput (" << failure(error)
                  << "): the devices are not grabbed, and the desktop sees their contacts as well"
                  << std::endl;
        libevdev_free(device);
        return;
    }
    std::lock_guard<std::mutex> lock(m_systemMutex);
    m_systemDevice = device;
    m_system = system;
}

void LiveDevices::grabIfIdle(Device& device)
{
    if (!device.grabPending || !device.translator->idle())
        return;
    device.grabPending = false;
    const int error = libevdev_grab(device.evdev, LIBEVDEV_GRAB);
    if (error != 0) {
        report(device.path, "cannot grab it (" + failure(error) +
                                "): its contacts reach the desktop from the device, and none "
                                "are handed back");
        return;
    }
    std::lock_guard<std::mutex> lock(m_systemMutex);
    m_notHandedBack.erase(device.holder);
}

void LiveDevices::close(const std::string& node, bool announce)
{
    const auto found = m_devices.find(node);
    if (found == m_devices.end())
        return;
    Device& device = found->second;
    if (announce) {
        m_sink.packets(node, device.translator->finish(), false);
        m_sink.unplugged(node);
    }
    {
        std::lock_guard<std::mutex> lock(m_systemMutex);
        m_notHandedBack.erase(device.holder);
    }
    libevdev_free(device.evdev);
    ::close(device.fd);
    m_devices.erase(found);
}

void LiveDevices::report(const std::string& node, const std::string& message)
{
    if (m_reported.insert(node).second)
        std::cerr << "norvaboardex: " << node << ": " << message << std::endl;
}

void LiveDevices::arrived(const std::string& node, bool appeared)
{
    // A link that leads to no node yet is not one.
    if (!isNode(node) || !wanted(node) || m_devices.count(node))
        return;
    if (!appeared) {
        // Its group or permissions changed: what it gives now is final.
        m_settling.erase(node);
        settle(node);
    } else if (open(node, true)) {
        m_sink.plugged(node, m_devices[node].description);
        grabIfIdle(m_devices[node]);
    } else {
        m_settling[node] = Clock::now() + SettlingTime;
    }
}

void LiveDevices::settle(const std::string& node)
{
    if (!open(node))
        return;
    m_sink.plugged(node, m_devices[node].description);
    grabIfIdle(m_devices[node]);
}

void LiveDevices::retry(const std::string& node)
{
    Retry& pending = m_retries[node];
    if (pending.tries < MostTries) {
        ++pending.tries;
        if (open(node, true)) {
            // The tries are counted on until it reads again.
            m_sink.plugged(node, m_devices[node].description);
            grabIfIdle(m_devices[node]);
            return;
        }
        if (pending.tries < MostTries) {
            pending.at = Clock::now() + RetryInterval;
            return;
        }
    }
    m_retries.erase(node);
    std::cerr << "norvaboardex: " << node << ": given up after " << MostTries
              << " tries: it is left out until it is plugged in again" << std::endl;
}

int LiveDevices::timeout() const
{
    std::optional<Clock::time_point> first;
    for (const auto& [node, deadline] : m_settling)
        first = std::min(first.value_or(deadline), deadline);
    for (const auto& [node, pending] : m_retries) {
        if (m_devices.count(node) == 0)
            first = std::min(first.value_or(pending.at), pending.at);
    }
    if (!first)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*first - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

void LiveDevices::run()
{
    while (!m_stopping) {
        std::vector<pollfd> fds{{m_wake, POLLIN, 0}, {m_watcher.descriptor(), POLLIN, 0}};
        std::vector<std::string> nodes;
        for (const auto& [node, device] : m_devices) {
            fds.push_back({device.fd, POLLIN, 0});
            nodes.push_back(node);
        }
        if (poll(fds.data(), fds.size(), timeout()) < 0 && errno != EINTR) {
            // Left grabbed and unread, the devices would give no input
            // anywhere.
            const int error = errno;
            std::cerr << "norvaboardex: cannot wait for the devices' events (" << failure(error)
                      << "): they are closed, and the desktop sees their contacts" << std::endl;
            while (!m_devices.empty())
                close(m_devices.begin()->first, true);
            return;
        }
        if (m_stopping)
            return;
        for (std::size_t i = 2; i < fds.size(); ++i) {
            const auto found = m_devices.find(nodes[i - 2]);
            if (fds[i].revents != 0 && found != m_devices.end())
                read(found->second);
        }
        for (const DirectoryWatcher::Change& change : m_watcher.changes()) {
            if (!isNode(change.path)) {
                // A listed link, or a folder of them, that came: the node it
                // leads to may be a device wanted now. A folder is watched
                // anew, and its links may be there already. The node's own
                // changes unplug the device.
                for (const std::string& path : m_listed) {
                    const std::filesystem::path link(path);
                    const bool inFolder = link.parent_path() == change.path;
                    if (inFolder && change.appeared)
                        m_watcher.watch(change.path, link.filename().string());
                    if ((inFolder || path == change.path) && change.appeared)
                        arrived(nodeOf(path), true);
                }
                continue;
            }
            // A node that comes or goes is a new device: what was said of
            // the old one is no longer true.
            if (change.appeared || !change.present) {
                m_reported.erase(change.path);
                m_retries.erase(change.path);
            }
            if (!change.present) {
                m_settling.erase(change.path);
                if (m_devices.count(change.path))
                    report(change.path, "the device is gone");
                close(change.path, true);
            } else {
                arrived(change.path, change.appeared);
            }
        }
        for (auto it = m_settling.begin(); it != m_settling.end();) {
            if (Clock::now() < it->second) {
                ++it;
                continue;
            }
            const std::string node = it->first;
            it = m_settling.erase(it);
            settle(node);
        }
        std::vector<std::string> due;
        for (const auto& [node, pending] : m_retries) {
            if (!m_devices.count(node) && Clock::now() >= pending.at)
                due.push_back(node);
        }
        for (const std::string& node : due)
            retry(node);
    }
}

void LiveDevices::read(Device& device)
{
    input_event ev;
    for (;;) {
        int status = libevdev_next_event(device.evdev, LIBEVDEV_READ_FLAG_NORMAL, &ev);
        if (status == -EAGAIN)
            break;
        if (status < 0) {
            readFailed(device.path, status);
            return;
        }
        if (!m_retries.empty())
            m_retries.erase(device.path);
        std::vector<EventTranslator::Packet> packets;
        if (status == LIBEVDEV_READ_STATUS_SYNC) {
            // Events were lost (SYN_DROPPED): libevdev hands over the events
            // that bring the state up to date instead.
            std::vector<InputDevice::Event> replay;
            while ((status = libevdev_next_event(device.evdev, LIBEVDEV_READ_FLAG_SYNC, &ev)) ==
                   LIBEVDEV_READ_STATUS_SYNC)
                replay.push_back({0, ev.type, ev.code, ev.value, 0});
            packets = device.translator->resynchronise(replay);
        } else {
            packets = device.translator->feed({0, ev.type, ev.code, ev.value, 0});
        }
        if (!packets.empty())
            m_sink.packets(device.path, packets, device.translator->anythingDown());
    }
    grabIfIdle(device);
}

void LiveDevices::readFailed(const std::string& node, int error)
{
    // Copied: closing destroys the device that named it.
    const std::string path = node;
    close(path, true);
    if (!exists(path)) {
        report(path, "the device is gone (" + failure(error) + ")");
        return;
    }
    // Its node is still there: the fault may pass.
    Retry& pending = m_retries[path];
    if (pending.tries == 0)
        std::cerr << "norvaboardex: " << path << ": cannot read it (" << failure(error)
                  << "): opening it again" << std::endl;
    // Once it has had its tries, the next turn gives up.
    pending.at = Clock::now() + (pending.tries < MostTries ? RetryInterval : Clock::duration());
}
