// A driver library that exports every entry point and records each call with
// its arguments. Results are simple functions of the arguments, so that a test
// can tell that they came back unchanged.
#include "driverlog.h"

#include "driverplatform.h"

#include <atomic>
#include <cstring>

using DriverLog::bytes;
using DriverLog::functionPointer;
using DriverLog::number;
using DriverLog::pointer;
using DriverLog::record;
using DriverLog::text;

typedef void(NORVA_CALLBACK* PacketCallback)(uint32_t, const uint8_t*, uint32_t, void*);
typedef void(NORVA_CALLBACK* PnpCallback)(void*);

namespace {

// Starts again at 0 whenever the library is loaded afresh.
std::atomic<int32_t> attachCount{0};

} // namespace

NORVA_EXPORT int32_t NORVA_API norvaAttach()
{
    const int32_t result = ++attachCount;
    record("norvaAttach", {}, number(result));
    return result;
}

NORVA_EXPORT void NORVA_API norvaDetach()
{
    record("norvaDetach", {});
}

NORVA_EXPORT int32_t NORVA_API norvaInterface()
{
    record("norvaInterface", {}, "7");
    return 7;
}

NORVA_EXPORT void NORVA_API norvaSetCallback(int32_t device, PacketCallback callback, void* context)
{
    record("norvaSetCallback", {number(device), functionPointer(callback), pointer(context)});
}

NORVA_EXPORT int32_t NORVA_API norvaClearCallback(int32_t device, void* callback, void* context)
{
    record("norvaClearCallback", {number(device), pointer(callback), pointer(context)}, "1");
    return 1;
}

NORVA_EXPORT int32_t NORVA_API norvaSendCommand(int32_t device, const char* command)
{
    const int32_t result = command ? int32_t(std::strlen(command)) : -1;
    record("norvaSendCommand", {number(device), text(command)}, number(result));
    return result;
}

NORVA_EXPORT int32_t NORVA_API norvaWritePacket(int32_t device, const uint8_t* data, int32_t length)
{
    record("norvaWritePacket", {number(device), bytes(data, length), number(length)},
           number(length));
    return length;
}

NORVA_EXPORT void NORVA_API norvaSetXferMask(int32_t device, int32_t mask)
{
    record("norvaSetXferMask", {number(device), number(mask)});
}

NORVA_EXPORT int32_t NORVA_API norvaGetDeviceCount()
{
    record("norvaGetDeviceCount", {}, "3");
    return 3;
}

// Declared as bool by the driver; the full register is returned here on
// purpose, so that a caller reading more than the low byte is caught.
NORVA_EXPORT int32_t NORVA_API norvaEnumDeviceInfo(int32_t index, void* record)
{
    DriverLog::record("norvaEnumDeviceInfo", {number(index), pointer(record)}, number(index));
    return index;
}

NORVA_EXPORT void NORVA_API norvaSetPnpCallback(PnpCallback callback, void* context)
{
    record("norvaSetPnpCallback", {functionPointer(callback), pointer(context)});
}

NORVA_EXPORT void NORVA_API norvaSetPointingDeviceDestination(int32_t device, int32_t pen,
                                                              int32_t reserved, int32_t flag)
{
    record("norvaSetPointingDeviceDestination",
           {number(device), number(pen), number(reserved), number(flag)});
}

NORVA_EXPORT void NORVA_API norvaSetPointingDeviceDestinationEx(int32_t device, int32_t pen,
                                                                int32_t reserved, int32_t flag,
                                                                int32_t enable)
{
    record("norvaSetPointingDeviceDestinationEx",
           {number(device), number(pen), number(reserved), number(flag), number(enable)});
}

NORVA_EXPORT int8_t NORVA_API norvaGetPointingDeviceDestination(int32_t device, int32_t pen,
                                                                int32_t reserved)
{
    const int8_t result = int8_t(device + pen + reserved);
    record("norvaGetPointingDeviceDestination", {number(device), number(pen), number(reserved)},
           number(result));
    return result;
}

NORVA_EXPORT void NORVA_API norvaSetTouchDestination(int32_t device, int32_t value)
{
    record("norvaSetTouchDestination", {number(device), number(value)});
}

NORVA_EXPORT void NORVA_API norvaSetTouchDestinationEx(int32_t device, int32_t value,
                                                       int32_t enable)
{
    record("norvaSetTouchDestinationEx", {number(device), number(value), number(enable)});
}

NORVA_EXPORT int8_t NORVA_API norvaGetTouchDestination(int32_t device)
{
    const int8_t result = int8_t(-device);
    record("norvaGetTouchDestination", {number(device)}, number(result));
    return result;
}

NORVA_EXPORT void NORVA_API norvaSetTouchEnabled(int32_t device, int32_t enabled)
{
    record("norvaSetTouchEnabled", {number(device), number(enabled)});
}

NORVA_EXPORT uint8_t NORVA_API norvaGetTouchEnabled(int32_t device)
{
    const uint8_t result = uint8_t(device);
    record("norvaGetTouchEnabled", {number(device)}, number(result));
    return result;
}

NORVA_EXPORT void NORVA_API norvaSetTouchSystemRedirectionEnabled(int32_t device, int32_t enabled)
{
    record("norvaSetTouchSystemRedirectionEnabled", {number(device), number(enabled)});
}

NORVA_EXPORT uint8_t NORVA_API norvaGetTouchSystemRedirectionEnabled(int32_t device)
{
    const uint8_t result = uint8_t(device);
    record("norvaGetTouchSystemRedirectionEnabled", {number(device)}, number(result));
    return result;
}

NORVA_EXPORT void NORVA_API norvaSetLATEDetection(int32_t device, int32_t value)
{
    record("norvaSetLATEDetection", {number(device), number(value)});
}

NORVA_EXPORT int8_t NORVA_API norvaGetLATEDetection(int32_t device)
{
    const int8_t result = int8_t(device);
    record("norvaGetLATEDetection", {number(device)}, number(result));
    return result;
}

NORVA_EXPORT bool NORVA_API norvaIsSomethingOnBoard(int32_t device)
{
    const bool result = device == 5;
    record("norvaIsSomethingOnBoard", {number(device)}, number(result));
    return result;
}

NORVA_EXPORT void NORVA_API norvaSetTwoFingerScroll(int32_t device, int32_t value)
{
    record("norvaSetTwoFingerScroll", {number(device), number(value)});
}

NORVA_EXPORT int32_t NORVA_API norvaOpenSynchronousChannel(int32_t device, int32_t mode,
                                                           int32_t flags)
{
    const int32_t result = device * 100 + mode * 10 + flags;
    record("norvaOpenSynchronousChannel", {number(device), number(mode), number(flags)},
           number(result));
    return result;
}

NORVA_EXPORT void NORVA_API norvaCloseSynchronousChannel(int32_t device, int32_t channel)
{
    record("norvaCloseSynchronousChannel", {number(device), number(channel)});
}

NORVA_EXPORT int32_t NORVA_API norvaReadSynchronousPacket(int32_t device, int32_t channel,
                                                          uint8_t* buffer, int32_t capacity,
                                                          int32_t timeoutMs)
{
    if (buffer != nullptr && capacity > 0)
        std::memset(buffer, 0xAB, std::size_t(capacity));
    record("norvaReadSynchronousPacket",
           {number(device), number(channel), pointer(buffer), number(capacity), number(timeoutMs)},
           number(capacity));
    return capacity;
}

NORVA_EXPORT bool NORVA_API norvaSetCalibrationMode(int32_t device, int32_t mode)
{
    const bool result = mode == 1;
    record("norvaSetCalibrationMode", {number(device), number(mode)}, number(result));
    return result;
}

NORVA_EXPORT void NORVA_API norvaSetCalibrationData(int32_t device, const void* data)
{
    record("norvaSetCalibrationData", {number(device), pointer(data)});
}

NORVA_EXPORT void NORVA_API norvaSetCalibrationDataEx(int32_t device, const void* data, int32_t a,
                                                      int32_t b)
{
    record("norvaSetCalibrationDataEx", {number(device), pointer(data), number(a), number(b)});
}

NORVA_EXPORT void NORVA_API norvaSetWirelessCalibrationData(int32_t device, const void* data)
{
    record("norvaSetWirelessCalibrationData", {number(device), pointer(data)});
}

NORVA_EXPORT void NORVA_API norvaGetCalibrationPoints(int32_t device, void* points, int32_t count)
{
    record("norvaGetCalibrationPoints", {number(device), pointer(points), number(count)});
}

NORVA_EXPORT bool NORVA_API norvaGetHIDCoordinateReportMode(int32_t device)
{
    const bool result = device == 1;
    record("norvaGetHIDCoordinateReportMode", {number(device)}, number(result));
    return result;
}

NORVA_EXPORT void NORVA_API norvaSetHIDCoordinateReportMode(int32_t device, int32_t mode)
{
    record("norvaSetHIDCoordinateReportMode", {number(device), number(mode)});
}

NORVA_EXPORT void NORVA_API norvaLibraryVersionNumber(int32_t* major, int32_t* minor,
                                                      int32_t* build, int32_t* revision)
{
    record("norvaLibraryVersionNumber",
           {pointer(major), pointer(minor), pointer(build), pointer(revision)});
    *major = 1;
    *minor = 2;
    *build = 3;
    *revision = 4;
}

NORVA_EXPORT void NORVA_API norvaLock()
{
    record("norvaLock", {});
}

NORVA_EXPORT void NORVA_API norvaUnlock()
{
    record("norvaUnlock", {});
}

NORVA_EXPORT bool NORVA_API norvaSerialConnect(const char* port)
{
    const bool result = port != nullptr && port[0] != '\0';
    record("norvaSerialConnect", {text(port)}, number(result));
    return result;
}

NORVA_EXPORT bool NORVA_API norvaSerialDisconnect()
{
    record("norvaSerialDisconnect", {}, "1");
    return true;
}

NORVA_EXPORT bool NORVA_API norvaSerialGetConnected(char* port)
{
    record("norvaSerialGetConnected", {pointer(port)}, "1");
    std::strcpy(port, "COM3");
    return true;
}

NORVA_EXPORT void NORVA_API norvaSerialSetStartupMode(int32_t mode)
{
    record("norvaSerialSetStartupMode", {number(mode)});
}

NORVA_EXPORT int32_t NORVA_API norvaSerialGetStartupMode()
{
    record("norvaSerialGetStartupMode", {}, "2");
    return 2;
}

NORVA_EXPORT void NORVA_API norvaSetDoubleClickDistance(int32_t device, int32_t distance)
{
    record("norvaSetDoubleClickDistance", {number(device), number(distance)});
}

NORVA_EXPORT void NORVA_API norvaSetDriverDebugMode(int32_t device, int32_t mode, int32_t level)
{
    record("norvaSetDriverDebugMode", {number(device), number(mode), number(level)});
}

NORVA_EXPORT void NORVA_API norvaEcho(int32_t device, const uint8_t* data, int32_t length)
{
    record("norvaEcho", {number(device), bytes(data, length), number(length)});
}

NORVA_EXPORT void NORVA_API norvaInject(int32_t device, const uint8_t* data, int32_t length)
{
    record("norvaInject", {number(device), bytes(data, length), number(length)});
}

// Only the low 8 bits of the length's argument slot are defined.
NORVA_EXPORT void NORVA_API norvaSendTouchPacketToSystem(int32_t device, uint8_t length,
                                                         const uint8_t* data)
{
    record("norvaSendTouchPacketToSystem", {number(device), number(length), bytes(data, length)});
}

NORVA_EXPORT void NORVA_API norvaReverseButtons(int32_t device, int32_t reversed)
{
    record("norvaReverseButtons", {number(device), number(reversed)});
}
