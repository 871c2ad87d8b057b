// A driver library with only the entry points that enumeration needs: it
// reports one usable board and takes a packet callback that it never calls.
// Everything else the system calls is missing, so its fallbacks are what run.
#include "devicerecord.h"
#include "driverlog.h"

#include "driverplatform.h"


using DriverLog::functionPointer;
using DriverLog::number;
using DriverLog::pointer;
using DriverLog::record;

typedef void(NORVA_CALLBACK* PacketCallback)(uint32_t, const uint8_t*, uint32_t, void*);

namespace {

constexpr int32_t Device = 1001;
const char Description[] = "hid<ENUMERATION-ONLY> vid<1f2e> pid<0042> xp<4> xt<20>";

} // namespace

NORVA_EXPORT int32_t NORVA_API norvaAttach()
{
    record("norvaAttach", {}, "1");
    return 1;
}

NORVA_EXPORT int32_t NORVA_API norvaGetDeviceCount()
{
    record("norvaGetDeviceCount", {}, "1");
    return 1;
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
}
