#include "livedevices.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr const char* InputFolder = "/dev/input";
constexpr const char* NodePrefix = "event";
// How long after a node appears udev has to give it its group.
constexpr std::chrono::seconds SettlingTime(1);

std::string failure(int error)
{
    return std::strerror(error < 0 ? -error : error);
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
    if (!m_auto) {
        std::istringstream list(devices);
        for (std::string path; std::getline(list, path, ',');) {
            if (!path.empty())
                m_listed.insert(path);
        }
    }
    if (!m_watcher.watching())
        std::cerr << "norvaboardex: cannot watch " << InputFolder << " (" << m_watcher.error()
                  << "): devices that come later are not seen" << std::endl;
    for (const std::string& path :
         m_auto ? m_watcher.current() : std::vector<std::string>(m_listed.begin(), m_listed.end()))
        open(path);
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
    for (const InputDevice::Event& event : m_systemTouch.events(bytes, length))
        libevdev_uinput_write_event(m_system, event.type, event.code, event.value);
}

bool LiveDevices::wanted(const std::string& path) const
{
    return m_auto || m_listed.count(path) != 0;
}

bool LiveDevices::open(const std::string& path, bool appeared)
{
    if (m_devices.count(path))
        return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (!appeared)
            report(path, "cannot open it (" + failure(error) + ")" +
                             (error == EACCES ? ": is the user in the input group?" : ""));
        return false;
    }
    libevdev* evdev = nullptr;
    const int error = libevdev_new_from_fd(fd, &evdev);
    if (error != 0) {
        ::close(fd);
        if (!appeared)
            report(path, "not an input device (" + failure(error) + ")");
        return false;
    }
    const InputDevice device = describe(evdev);
    // Our own touchscreen for the desktop is not a board; a device that is
    // not direct is a touchpad or a tablet beside the screen.
    const bool ours =
        device.bus == SystemTouch::device().bus && device.name == SystemTouch::device().name;
    if (ours || !device.isBoard() || (m_auto && !device.isDirect())) {
        libevdev_free(evdev);
        ::close(fd);
        if (!m_auto)
            report(path, "not a touchscreen or a pen (" + device.name + ")");
        return false;
    }
    if (m_grab && !m_systemTried)
        createSystemTouch(device);
    if (m_system && libevdev_grab(evdev, LIBEVDEV_GRAB) != 0)
        report(path, "cannot grab it: the desktop sees its contacts as well");
    Device& opened = m_devices[path];
    opened.path = path;
    opened.fd = fd;
    opened.evdev = evdev;
    opened.translator = std::make_unique<EventTranslator>(device, m_ids);
    opened.description = device;
    m_reported.erase(path);
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

void LiveDevices::close(const std::string& path, bool announce)
{
    const auto found = m_devices.find(path);
    if (found == m_devices.end())
        return;
    Device& device = found->second;
    if (announce) {
        m_sink.packets(path, device.translator->finish(), false);
        m_sink.unplugged(path);
    }
    libevdev_free(device.evdev);
    ::close(device.fd);
    m_devices.erase(found);
}

void LiveDevices::report(const std::string& path, const std::string& message)
{
    if (m_reported.insert(path).second)
        std::cerr << "norvaboardex: " << path << ": " << message << std::endl;
}

void LiveDevices::settle(const std::string& path)
{
    if (open(path))
        m_sink.plugged(path, m_devices[path].description);
}

int LiveDevices::settlingTimeout() const
{
    if (m_settling.empty())
        return -1;
    Clock::time_point first = m_settling.begin()->second;
    for (const auto& [path, deadline] : m_settling)
        first = std::min(first, deadline);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

void LiveDevices::run()
{
    while (!m_stopping) {
        std::vector<pollfd> fds{{m_wake, POLLIN, 0}, {m_watcher.descriptor(), POLLIN, 0}};
        std::vector<std::string> paths;
        for (const auto& [path, device] : m_devices) {
            fds.push_back({device.fd, POLLIN, 0});
            paths.push_back(path);
        }
        if (poll(fds.data(), fds.size(), settlingTimeout()) < 0 && errno != EINTR)
            return;
        if (m_stopping)
            return;
        for (std::size_t i = 2; i < fds.size(); ++i) {
            const auto found = m_devices.find(paths[i - 2]);
            if (fds[i].revents != 0 && found != m_devices.end())
                read(found->second);
        }
        for (const DirectoryWatcher::Change& change : m_watcher.changes()) {
            // A node that comes or goes is a new device: what was said of
            // the old one is no longer true.
            if (change.appeared || !change.present)
                m_reported.erase(change.path);
            if (!change.present) {
                m_settling.erase(change.path);
                if (m_devices.count(change.path))
                    report(change.path, "the device is gone");
                close(change.path, true);
            } else if (wanted(change.path) && !m_devices.count(change.path)) {
                if (!change.appeared) {
                    // Its group or permissions changed: what it gives now
                    // is final.
                    m_settling.erase(change.path);
                    settle(change.path);
                } else if (open(change.path, true)) {
                    m_sink.plugged(change.path, m_devices[change.path].description);
                } else {
                    m_settling[change.path] = Clock::now() + SettlingTime;
                }
            }
        }
        for (auto it = m_settling.begin(); it != m_settling.end();) {
            if (Clock::now() < it->second) {
                ++it;
                continue;
            }
            const std::string path = it->first;
            it = m_settling.erase(it);
            settle(path);
        }
    }
}

void LiveDevices::read(Device& device)
{
    input_event ev;
    for (;;) {
        int status = libevdev_next_event(device.evdev, LIBEVDEV_READ_FLAG_NORMAL, &ev);
        if (status == -EAGAIN)
            return;
        if (status < 0) {
            report(device.path, "the device is gone (" + failure(status) + ")");
            close(device.path, true);
            return;
        }
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
}
