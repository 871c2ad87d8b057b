// Before Qt, whose "signals" keyword would break GLib's headers.
#include <umockdev.h>

#include "emulateddevices.h"
#include "emulateduinput.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <linux/uinput.h>

namespace {

constexpr unsigned UinputVersion = 5;

// The argument's memory in the calling program, size bytes of it.
UMockdevIoctlData* memoryOf(UMockdevIoctlClient* client, std::size_t size)
{
    GError* error = nullptr;
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, &error);
    if (error)
        g_error_free(error);
    return data;
}

} // namespace

EmulatedUinput::EmulatedUinput(EmulatedDevices& devices, int number) : m_number(number)
{
    // The node, and the input device that libevdev looks for once it has
    // created one, by the name that UI_GET_SYSNAME gives.
    const QByteArray description = QStringLiteral("P: /devices/virtual/misc/uinput\n"
                                                  "N: uinput\n"
                                                  "E: DEVNAME=/dev/uinput\n"
                                                  "E: MAJOR=10\nE: MINOR=223\n"
                                                  "E: SUBSYSTEM=misc\n"
                                                  "A: dev=10:223\n\n"
                                                  "P: /devices/virtual/input/input%1\n"
                                                  "E: SUBSYSTEM=input\n\n"
                                                  "P: /devices/virtual/input/input%1/event%1\n"
                                                  "E: SUBSYSTEM=input\n"
                                                  "E: DEVNAME=/dev/input/event%1\n")
                                       .arg(number)
                                       .toUtf8();
    GError* error = nullptr;
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(m_handler, "handle-write", G_CALLBACK(onWrite), this);
    if (!umockdev_testbed_add_from_string(devices.testbed(), description.constData(), &error) ||
        !umockdev_testbed_attach_ioctl(devices.testbed(), "/dev/uinput", m_handler, &error)) {
        m_error = QString::fromUtf8(error->message);
        g_error_free(error);
    }
}

EmulatedUinput::~EmulatedUinput()
{
    g_object_unref(m_handler);
}

bool EmulatedUinput::created() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_created;
}

QByteArray EmulatedUinput::name() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_name;
}

EmulatedUinput::Axis EmulatedUinput::axis(uint16_t code) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_axes.value(code);
}

QList<EmulatedUinput::Event> EmulatedUinput::events() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

int EmulatedUinput::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* context)
{
    auto* self = static_cast<EmulatedUinput*>(context);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    int result = 0;
    std::lock_guard<std::mutex> lock(self->m_mutex);
    if (request == UI_GET_VERSION) {
        UMockdevIoctlData* data = memoryOf(client, sizeof UinputVersion);
        std::memcpy(data->data, &UinputVersion, sizeof UinputVersion);
    } else if (request == UI_DEV_SETUP) {
        uinput_setup setup;
        std::memcpy(&setup, memoryOf(client, sizeof setup)->data, sizeof setup);
        self->m_name = QByteArray(setup.name, int(strnlen(setup.name, sizeof setup.name)));
    } else if (request == UI_ABS_SETUP) {
        uinput_abs_setup setup;
        std::memcpy(&setup, memoryOf(client, sizeof setup)->data, sizeof setup);
        self->m_axes[setup.code] = {setup.absinfo.minimum, setup.absinfo.maximum,
                                    setup.absinfo.resolution};
    } else if (request == UI_DEV_CREATE) {
        self->m_created = true;
    } else if (_IOC_TYPE(request) == UINPUT_IOCTL_BASE &&
               _IOC_NR(request) == _IOC_NR(UI_GET_SYSNAME(0))) {
        const QByteArray name = "input" + QByteArray::number(self->m_number);
        UMockdevIoctlData* data = memoryOf(client, std::size_t(name.size() + 1));
        std::memcpy(data->data, name.constData(), std::size_t(name.size() + 1));
        result = name.size() + 1;
    } else if (request != UI_SET_EVBIT && request != UI_SET_KEYBIT && request != UI_SET_ABSBIT &&
               request != UI_SET_PROPBIT && request != UI_DEV_DESTROY) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }
    umockdev_ioctl_client_complete(client, result, 0);
    return TRUE;
}

int EmulatedUinput::onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* context)
{
    auto* self = static_cast<EmulatedUinput*>(context);
    // What was written comes with the call.
    const UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
    const std::size_t length = std::size_t(std::max(data->data_len, 0));
    std::lock_guard<std::mutex> lock(self->m_mutex);
    for (std::size_t at = 0; at + sizeof(input_event) <= length; at += sizeof(input_event)) {
        input_event event;
        std::memcpy(&event, data->data + at, sizeof event);
        self->m_events.append({event.type, event.code, event.value});
    }
    umockdev_ioctl_client_complete(client, long(length), 0);
    return TRUE;
}
