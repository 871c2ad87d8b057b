#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <cstdint>
#include <mutex>

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
class EmulatedDevices;

// /dev/uinput as the kernel gives it to libevdev, emulated in a testbed of
// umockdev: it takes the device a program creates (its name, event codes
// and axes) and the events written to it, for a test to look at.
class EmulatedUinput
{
public:
    struct Event
    {
        uint16_t type = 0;
        uint16_t code = 0;
        int32_t value = 0;
    };

    struct Axis
    {
        int32_t minimum = 0;
        int32_t maximum = 0;
        int32_t resolution = 0;
    };

    // Number: the N of the input device the created one is, /sys/devices/
    // virtual/input/input<N> (it gets no node).
    EmulatedUinput(EmulatedDevices& devices, int number);
    ~EmulatedUinput();
    EmulatedUinput(const EmulatedUinput&) = delete;
    EmulatedUinput& operator=(const EmulatedUinput&) = delete;

    // Empty when /dev/uinput is there, else why not.
    QString error() const { return m_error; }

    bool created() const;
    QByteArray name() const;
    // The axis as created; all 0 for an axis it does not have.
    Axis axis(uint16_t code) const;
    QList<Event> events() const;

private:
    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static int onWrite(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);

    UMockdevIoctlBase* m_handler = nullptr;
    QString m_error;
    int m_number = 0;
    mutable std::mutex m_mutex;
    bool m_created = false;
    QByteArray m_name;
    QMap<uint16_t, Axis> m_axes;
    QList<Event> m_events;
};
