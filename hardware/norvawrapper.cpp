#include "norvawrapper.h"

namespace {

// Calls the entry point when it is bound, else gives the fixed result.
template <typename Function, typename Result, typename... Args>
Result callOr(const std::atomic<Function>& entry, Result missing, Args... args)
{
    const Function function = entry.load(std::memory_order_acquire);
    return function ? Result(function(args...)) : missing;
}

template <typename Function, typename... Args>
void callIfBound(const std::atomic<Function>& entry, Args... args)
{
    const Function function = entry.load(std::memory_order_acquire);
    if (function)
        function(args...);
}

// A bool travels to the driver as the 32-bit integer 0 or 1, never as
// another non-zero value.
int32_t asFlag(bool value)
{
    return value ? 1 : 0;
}

} // namespace

NorvaWrapper::~NorvaWrapper()
{
    const DriverPlatform::ModuleHandle handle = module.exchange(nullptr);
    if (handle == nullptr)
        return;
    callIfBound(pDetach);
    DriverPlatform::freeDriver(handle);
}

bool NorvaWrapper::isLoaded() const
{
    return module.load() != nullptr;
}

std::string NorvaWrapper::loadError() const
{
    std::lock_guard<std::mutex> guard(bindMutex);
    return loadFailure;
}

// The loader's reason names the file that it found, or the library itself
// when it found none.
bool NorvaWrapper::libraryNotFound() const
{
    std::lock_guard<std::mutex> guard(bindMutex);
    return loadFailure.rfind(std::string(DriverPlatform::LibraryName) + ':', 0) == 0;
}

std::string NorvaWrapper::libraryPath() const
{
    const DriverPlatform::ModuleHandle handle = module.load();
    return handle != nullptr ? DriverPlatform::modulePath(handle) : std::string();
}

std::vector<std::string> NorvaWrapper::missingEntryPoints() const
{
    std::lock_guard<std::mutex> guard(bindMutex);
    return missing;
}

template <typename Function>
void NorvaWrapper::bind(Entry<Function>& entry, const char* name, Need need)
{
    const auto function = reinterpret_cast<Function>(DriverPlatform::resolve(module.load(), name));
    entry.store(function, std::memory_order_release);
    if (function == nullptr && need == Need::Required)
        missing.push_back(name);
}

int32_t NorvaWrapper::attach()
{
    {
        std::lock_guard<std::mutex> guard(bindMutex);
        if (module.load() == nullptr) {
            std::string error;
            const DriverPlatform::ModuleHandle handle = DriverPlatform::loadDriver(&error);
            if (handle == nullptr) {
                loadFailure = error;
                return 0;
            }
            loadFailure.clear();
            module.store(handle);
        }
        missing.clear();
        // Resolved again on every attach: a driver may only offer some entry
        // points once attached. The values are the same each time, and the
        // atomic stores keep concurrent callers from seeing half a pointer.
        bind(pAttach, "norvaAttach");
        bind(pDetach, "norvaDetach");
        bind(pInterface, "norvaInterface");
        bind(pSetCallback, "norvaSetCallback");
        bind(pClearCallback, "norvaClearCallback");
        bind(pSendCommand, "norvaSendCommand");
        bind(pWritePacket, "norvaWritePacket");
        bind(pSetXferMask, "norvaSetXferMask");
        bind(pGetDeviceCount, "norvaGetDeviceCount");
        bind(pEnumDeviceInfo, "norvaEnumDeviceInfo");
        bind(pSetPnpCallback, "norvaSetPnpCallback");
        bind(pSetPointingDeviceDestination, "norvaSetPointingDeviceDestination");
        bind(pSetPointingDeviceDestinationEx, "norvaSetPointingDeviceDestinationEx",
             Need::Optional);
        bind(pGetPointingDeviceDestination, "norvaGetPointingDeviceDestination");
        bind(pOpenSynchronousChannel, "norvaOpenSynchronousChannel");
        bind(pCloseSynchronousChannel, "norvaCloseSynchronousChannel");
        bind(pReadSynchronousPacket, "norvaReadSynchronousPacket");
        bind(pSetCalibrationMode, "norvaSetCalibrationMode");
        bind(pSetCalibrationData, "norvaSetCalibrationData");
        bind(pSetCalibrationDataEx, "norvaSetCalibrationDataEx");
        bind(pGetCalibrationPoints, "norvaGetCalibrationPoints");
        bind(pSetWirelessCalibrationData, "norvaSetWirelessCalibrationData");
        bind(pLibraryVersionNumber, "norvaLibraryVersionNumber");
        bind(pLock, "norvaLock");
        bind(pUnlock, "norvaUnlock");
        bind(pSerialConnect, "norvaSerialConnect");
        bind(pSerialDisconnect, "norvaSerialDisconnect");
        bind(pSerialGetConnected, "norvaSerialGetConnected");
        bind(pSerialSetStartupMode, "norvaSerialSetStartupMode");
        bind(pSerialGetStartupMode, "norvaSerialGetStartupMode");
        bind(pSetDoubleClickDistance, "norvaSetDoubleClickDistance");
        bind(pSetDriverDebugMode, "norvaSetDriverDebugMode");
        bind(pEcho, "norvaEcho");
        bind(pInject, "norvaInject");
        bind(pSendTouchPacketToSystem, "norvaSendTouchPacketToSystem");
        bind(pSetTouchDestination, "norvaSetTouchDestination");
        bind(pSetTouchDestinationEx, "norvaSetTouchDestinationEx", Need::Optional);
        bind(pGetTouchDestination, "norvaGetTouchDestination");
        bind(pSetTouchEnabled, "norvaSetTouchEnabled");
        bind(pGetTouchEnabled, "norvaGetTouchEnabled");
        bind(pSetTouchSystemRedirectionEnabled, "norvaSetTouchSystemRedirectionEnabled");
        bind(pGetTouchSystemRedirectionEnabled, "norvaGetTouchSystemRedirectionEnabled");
        bind(pSetLATEDetection, "norvaSetLATEDetection");
        bind(pGetLATEDetection, "norvaGetLATEDetection");
        bind(pIsSomethingOnBoard, "norvaIsSomethingOnBoard");
        bind(pSetTwoFingerScroll, "norvaSetTwoFingerScroll");
        bind(pReverseButtons, "norvaReverseButtons");
        bind(pGetHIDCoordinateReportMode, "norvaGetHIDCoordinateReportMode");
        bind(pSetHIDCoordinateReportMode, "norvaSetHIDCoordinateReportMode");
    }
    // Outside the lock: the driver may call back into us from here.
    return callOr(pAttach, int32_t(0));
}

void NorvaWrapper::detach()
{
    callIfBound(pDetach);
}

int32_t NorvaWrapper::driverInterface()
{
    return callOr(pInterface, int32_t(0));
}

void NorvaWrapper::setCallback(int32_t device, NorvaPacketCallback callback, void* context)
{
    callIfBound(pSetCallback, device, callback, context);
}

void NorvaWrapper::clearCallback(int32_t device, NorvaPacketCallback callback, void* context)
{
    callIfBound(pClearCallback, device, reinterpret_cast<void*>(callback), context);
}

void NorvaWrapper::setPnpCallback(NorvaPnpCallback callback, void* context)
{
    callIfBound(pSetPnpCallback, callback, context);
}

int32_t NorvaWrapper::clearPnpCallback(NorvaPnpCallback callback, void* context)
{
    // Device 0 tells the driver that the callback is the plug-and-play one.
    return callOr(pClearCallback, int32_t(0), int32_t(0), reinterpret_cast<void*>(callback),
                  context);
}

int32_t NorvaWrapper::sendCommand(int32_t device, const char* command)
{
    return callOr(pSendCommand, int32_t(-1), device, command);
}

int32_t NorvaWrapper::writePacket(int32_t device, const uint8_t* bytes, int32_t length)
{
    return callOr(pWritePacket, int32_t(-1), device, bytes, length);
}

void NorvaWrapper::setXferMask(int32_t device, int32_t mask)
{
    callIfBound(pSetXferMask, device, mask);
}

int32_t NorvaWrapper::getDeviceCount()
{
    return callOr(pGetDeviceCount, int32_t(0));
}

bool NorvaWrapper::enumDeviceInfo(int32_t index, void* record)
{
    return callOr(pEnumDeviceInfo, false, index, record);
}

void NorvaWrapper::setPointingDeviceDestination(int32_t device, int32_t pen, int32_t reserved,
                                                int32_t flag)
{
    callIfBound(pSetPointingDeviceDestination, device, pen, reserved, flag);
}

void NorvaWrapper::setPointingDeviceDestinationEx(int32_t device, int32_t pen, int32_t reserved,
                                                  int32_t flag, bool enable)
{
    if (const auto ex = pSetPointingDeviceDestinationEx.load(std::memory_order_acquire))
        ex(device, pen, reserved, flag, asFlag(enable));
    else
        callIfBound(pSetPointingDeviceDestination, device, pen, reserved, flag);
}

int8_t NorvaWrapper::getPointingDeviceDestination(int32_t device, int32_t pen, int32_t reserved)
{
    return callOr(pGetPointingDeviceDestination, int8_t(-1), device, pen, reserved);
}

void NorvaWrapper::setTouchDestination(int32_t device, int32_t value)
{
    callIfBound(pSetTouchDestination, device, value);
}

void NorvaWrapper::setTouchDestinationEx(int32_t device, int32_t value, bool enable)
{
    if (const auto ex = pSetTouchDestinationEx.load(std::memory_order_acquire))
        ex(device, value, asFlag(enable));
    else
        callIfBound(pSetTouchDestination, device, value);
}

int8_t NorvaWrapper::getTouchDestination(int32_t device)
{
    return callOr(pGetTouchDestination, int8_t(-1), device);
}

void NorvaWrapper::setTouchEnabled(int32_t device, bool enabled)
{
    callIfBound(pSetTouchEnabled, device, asFlag(enabled));
}

bool NorvaWrapper::getTouchEnabled(int32_t device)
{
    // Only the value 1 means enabled; the driver uses other values for other states.
    return callOr(pGetTouchEnabled, Byte(1), device) == 1;
}

void NorvaWrapper::setTouchSystemRedirectionEnabled(int32_t device, bool enabled)
{
    callIfBound(pSetTouchSystemRedirectionEnabled, device, asFlag(enabled));
}

bool NorvaWrapper::getTouchSystemRedirectionEnabled(int32_t device)
{
    return callOr(pGetTouchSystemRedirectionEnabled, Byte(1), device) == 1;
}

void NorvaWrapper::setLATEDetection(int32_t device, int32_t value)
{
    callIfBound(pSetLATEDetection, device, value);
}

int8_t NorvaWrapper::getLATEDetection(int32_t device)
{
    return callOr(pGetLATEDetection, int8_t(-1), device);
}

bool NorvaWrapper::isSomethingOnBoard(int32_t device)
{
    return callOr(pIsSomethingOnBoard, false, device);
}

void NorvaWrapper::setTwoFingerScroll(int32_t device, int32_t value)
{
    callIfBound(pSetTwoFingerScroll, device, value);
}

int32_t NorvaWrapper::openSynchronousChannel(int32_t device, int32_t mode, int32_t flags)
{
    return callOr(pOpenSynchronousChannel, int32_t(-1), device, mode, flags);
}

void NorvaWrapper::closeSynchronousChannel(int32_t device, int32_t channel)
{
    callIfBound(pCloseSynchronousChannel, device, channel);
}

int32_t NorvaWrapper::readSynchronousPacket(int32_t device, int32_t channel, uint8_t* buffer,
                                            int32_t capacity, int32_t timeoutMs)
{
    return callOr(pReadSynchronousPacket, int32_t(-1), device, channel, buffer, capacity,
                  timeoutMs);
}

bool NorvaWrapper::setCalibrationMode(int32_t device, int32_t mode)
{
    return callOr(pSetCalibrationMode, false, device, mode);
}

void NorvaWrapper::setCalibrationData(int32_t device, const void* data)
{
    callIfBound(pSetCalibrationData, device, data);
}

void NorvaWrapper::setCalibrationDataEx(int32_t device, const void* data, int32_t a, int32_t b)
{
    callIfBound(pSetCalibrationDataEx, device, data, a, b);
}

void NorvaWrapper::setWirelessCalibrationData(int32_t device, const void* data)
{
    callIfBound(pSetWirelessCalibrationData, device, data);
}

void NorvaWrapper::getCalibrationPoints(int32_t device, void* points, int32_t count)
{
    callIfBound(pGetCalibrationPoints, device, points, count);
}

bool NorvaWrapper::getHIDCoordinateReportMode(int32_t device)
{
    return callOr(pGetHIDCoordinateReportMode, false, device);
}

void NorvaWrapper::setHIDCoordinateReportMode(int32_t device, int32_t mode)
{
    callIfBound(pSetHIDCoordinateReportMode, device, mode);
}

void NorvaWrapper::libraryVersionNumber(int32_t* major, int32_t* minor, int32_t* build,
                                        int32_t* revision)
{
    callIfBound(pLibraryVersionNumber, major, minor, build, revision);
}

void NorvaWrapper::lock()
{
    callIfBound(pLock);
}

void NorvaWrapper::unlock()
{
    callIfBound(pUnlock);
}

bool NorvaWrapper::serialConnect(const char* port)
{
    return callOr(pSerialConnect, false, port);
}

bool NorvaWrapper::serialDisconnect()
{
    return callOr(pSerialDisconnect, false);
}

bool NorvaWrapper::serialGetConnected(char* port)
{
    return callOr(pSerialGetConnected, false, port);
}

void NorvaWrapper::serialSetStartupMode(int32_t mode)
{
    callIfBound(pSerialSetStartupMode, mode);
}

int32_t NorvaWrapper::serialGetStartupMode()
{
    return callOr(pSerialGetStartupMode, int32_t(0));
}

void NorvaWrapper::setDoubleClickDistance(int32_t device, int32_t distance)
{
    callIfBound(pSetDoubleClickDistance, device, distance);
}

void NorvaWrapper::setDriverDebugMode(int32_t device, int32_t mode, int32_t level)
{
    callIfBound(pSetDriverDebugMode, device, mode, level);
}

void NorvaWrapper::echo(int32_t device, const uint8_t* bytes, int32_t length)
{
    callIfBound(pEcho, device, bytes, length);
}

void NorvaWrapper::inject(int32_t device, const uint8_t* bytes, int32_t length)
{
    callIfBound(pInject, device, bytes, length);
}

void NorvaWrapper::sendTouchPacketToSystem(int32_t device, uint8_t length, const uint8_t* bytes)
{
    callIfBound(pSendTouchPacketToSystem, device, length, bytes);
}

void NorvaWrapper::reverseButtons(int32_t device, bool reversed)
{
    callIfBound(pReverseButtons, device, asFlag(reversed));
}
