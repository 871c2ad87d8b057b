// A driver library whose device count, packets and plug-and-play
// notifications the test controls. Unlike a careful driver, clearing a
// callback does not wait for callbacks in flight: a board's clear made from
// inside a notification even waits (a while) for the detach, so that a
// caller that detaches while a notification is in flight is caught calling
// the driver after its detach.
#include "devicerecord.h"
#include "driverlog.h"

#include "driverplatform.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using DriverLog::functionPointer;
using DriverLog::number;
using DriverLog::pointer;
using DriverLog::record;

typedef void(NORVA_CALLBACK* PacketCallback)(uint32_t, const uint8_t*, uint32_t, void*);
typedef void(NORVA_CALLBACK* PnpCallback)(void*);

namespace {

constexpr int32_t Device = 1001;
const char Description[] = "hid<NOTIFYING> vid<1f2e> pid<0042> xp<4> xt<20>";

std::mutex mutex;
std::condition_variable detached;
bool isDetached = false;
int32_t deviceCount = 1;
PacketCallback packetCallback = nullptr;
void* packetContext = nullptr;
PnpCallback pnpCallback = nullptr;
void* pnpContext = nullptr;
std::thread::id notifier;
std::thread notification;

} // namespace

NORVA_EXPORT int32_t NORVA_API norvaAttach()
{
    record("norvaAttach", {}, "1");
    std::lock_guard<std::mutex> lock(mutex);
    isDetached = false;
    return 1;
}

NORVA_EXPORT void NORVA_API norvaDetach()
{
    record("norvaDetach", {});
    std::lock_guard<std::mutex> lock(mutex);
    isDetached = true;
    detached.notify_all();
}

NORVA_EXPORT int32_t NORVA_API norvaGetDeviceCount()
{
    std::lock_guard<std::mutex> lock(mutex);
    record("norvaGetDeviceCount", {}, number(deviceCount));
    return deviceCount;
}

NORVA_EXPORT bool NORVA_API norvaEnumDeviceInfo(int32_t index, void* info)
{
    const bool found = index == 0 && info != nullptr;
    record("norvaEnumDeviceInfo", {number(index), pointer(info)}, number(found));
    if (!found)
        return false;
    fillDeviceRecord(info, Device, Description);
    return true;
}

NORVA_EXPORT void NORVA_API norvaSetCallback(int32_t device, PacketCallback callback, void* context)
{
    record("norvaSetCallback", {number(device), functionPointer(callback), pointer(context)});
    std::lock_guard<std::mutex> lock(mutex);
    packetCallback = callback;
    packetContext = context;
}

NORVA_EXPORT void NORVA_API norvaSetXferMask(int32_t device, int32_t mask)
{
    record("norvaSetXferMask", {number(device), number(mask)});
}

NORVA_EXPORT void NORVA_API norvaSetPnpCallback(PnpCallback callback, void* context)
{
    record("norvaSetPnpCallback", {functionPointer(callback), pointer(context)});
    std::lock_guard<std::mutex> lock(mutex);
    pnpCallback = callback;
    pnpContext = context;
}

NORVA_EXPORT int32_t NORVA_API norvaClearCallback(int32_t device, void* callback, void* context)
{
    record("norvaClearCallback", {number(device), pointer(callback), pointer(context)}, "1");
    std::unique_lock<std::mutex> lock(mutex);
    if (device == 0) {
        pnpCallback = nullptr;
    } else {
        packetCallback = nullptr;
        if (std::this_thread::get_id() == notifier)
            detached.wait_for(lock, std::chrono::milliseconds(300), [] { return isDetached; });
    }
    return 1;
}

// Sets the count that the next enumeration finds; boards past the first
// one are not usable.
NORVA_EXPORT void NORVA_API testDriverSetDeviceCount(int32_t count)
{
    std::lock_guard<std::mutex> lock(mutex);
    deviceCount = count;
}

// Delivers one packet from a thread of the driver's own and waits for it.
NORVA_EXPORT void NORVA_API testDriverDeliver(const uint8_t* bytes, uint32_t length)
{
    PacketCallback callback;
    void* context;
    {
        std::lock_guard<std::mutex> lock(mutex);
        callback = packetCallback;
        context = packetContext;
    }
    if (callback)
        std::thread([=] { callback(1, bytes, length, context); }).join();
}

// Starts a plug-and-play notification on a thread of the driver's own.
NORVA_EXPORT void NORVA_API testDriverNotify()
{
    if (notification.joinable())
        notification.join();
    std::lock_guard<std::mutex> lock(mutex);
    const PnpCallback callback = pnpCallback;
    void* const context = pnpContext;
    if (!callback)
        return;
    notification = std::thread([=] { callback(context); });
    notifier = notification.get_id();
}

// Waits for the notification's thread to end.
NORVA_EXPORT void NORVA_API testDriverSettle()
{
    if (notification.joinable())
        notification.join();
}
