#include "norvaboardex.h"

#include "boarddriver.h"

#include <cstring>

// Every entry point writes its line to the call log: one without a result
// before it acts, one with a result when the result is known.

namespace {

BoardDriver driver;

using Line = CallLog::Line;

void log(const Line& line)
{
    driver.log().write(line.text());
}

template <typename Result> Result logged(const Line& line, Result result)
{
    driver.log().write(line.text(static_cast<long long>(result)));
    return result;
}

template <typename Function> const void* address(Function* function)
{
    return reinterpret_cast<const void*>(function);
}

// Setting a value on a board that is not there does nothing.
template <typename Action> void onBoard(int32_t device, Action action)
{
    driver.withBoard(device, false, [&](BoardDriver::Board& board) {
        action(board);
        return true;
    });
}

} // namespace

NORVA_EXPORT int32_t NORVA_API norvaAttach(void)
{
    const int32_t result = driver.attach();
    return logged(Line("norvaAttach"), result);
}

NORVA_EXPORT void NORVA_API norvaDetach(void)
{
    log(Line("norvaDetach"));
    driver.detach();
}

NORVA_EXPORT int32_t NORVA_API norvaInterface(void)
{
    return logged(Line("norvaInterface"), int32_t(1));
}

NORVA_EXPORT void NORVA_API norvaSetCallback(int32_t device, NorvaPacketCallback callback,
                                             void* context)
{
    log(Line("norvaSetCallback").arg(device).arg(address(callback)).arg(context));
    driver.setCallback(device, callback, context);
}

NORVA_EXPORT int32_t NORVA_API norvaClearCallback(int32_t device, void* callback, void* context)
{
    const int32_t result = driver.clearCallback(device, callback, context);
    return logged(Line("norvaClearCallback").arg(device).arg(callback).arg(context), result);
}

NORVA_EXPORT int32_t NORVA_API norvaSendCommand(int32_t device, const char* command)
{
    const int32_t length = command ? static_cast<int32_t>(std::strlen(command)) : -1;
    const int32_t result = command && driver.known(device) ? length : -1;
    return logged(Line("norvaSendCommand").arg(device).bytes(command, length), result);
}

NORVA_EXPORT int32_t NORVA_API norvaWritePacket(int32_t device, const uint8_t* bytes,
                                                int32_t length)
{
    const int32_t result = bytes && length >= 0 && driver.known(device) ? length : -1;
    return logged(Line("norvaWritePacket").arg(device).bytes(bytes, length).arg(length), result);
}

NORVA_EXPORT void NORVA_API norvaSetXferMask(int32_t device, int32_t mask)
{
    log(Line("norvaSetXferMask").arg(device).arg(mask));
}

NORVA_EXPORT int32_t NORVA_API norvaGetDeviceCount(void)
{
    return logged(Line("norvaGetDeviceCount"), driver.deviceCount());
}

NORVA_EXPORT bool NORVA_API norvaEnumDeviceInfo(int32_t index, void* record)
{
    const bool result = driver.enumDeviceInfo(index, record);
    return logged(Line("norvaEnumDeviceInfo").arg(index).arg(record), result);
}

NORVA_EXPORT void NORVA_API norvaSetPnpCallback(NorvaPnpCallback callback, void* context)
{
    log(Line("norvaSetPnpCallback").arg(address(callback)).arg(context));
    driver.setPnpCallback(callback, context);
}

NORVA_EXPORT void NORVA_API norvaSetPointingDeviceDestination(int32_t device, int32_t pen,
                                                              int32_t reserved, int32_t flag)
{
    log(Line("norvaSetPointingDeviceDestination").arg(device).arg(pen).arg(reserved).arg(flag));
    onBoard(device,
            [&](BoardDriver::Board& b) { b.penDestinations[pen] = static_cast<int8_t>(flag); });
}

NORVA_EXPORT void NORVA_API norvaSetPointingDeviceDestinationEx(int32_t device, int32_t pen,
                                                                int32_t reserved, int32_t flag,
                                                                int32_t enable)
{
    log(Line("norvaSetPointingDeviceDestinationEx")
            .arg(device)
            .arg(pen)
            .arg(reserved)
            .arg(flag)
            .arg(enable));
    onBoard(device, [&](BoardDriver::Board& b) {
        b.penDestinations[pen] = static_cast<int8_t>(enable ? flag : 0);
    });
}

NORVA_EXPORT int8_t NORVA_API norvaGetPointingDeviceDestination(int32_t device, int32_t pen,
                                                                int32_t reserved)
{
    const int8_t result = driver.withBoard(device, int8_t(-1), [&](BoardDriver::Board& b) {
        const auto found = b.penDestinations.find(pen);
        return found == b.penDestinations.end() ? int8_t(0) : found->second;
    });
    return logged(Line("norvaGetPointingDeviceDestination").arg(device).arg(pen).arg(reserved),
                  result);
}

NORVA_EXPORT void NORVA_API norvaSetTouchDestination(int32_t device, int32_t value)
{
    log(Line("norvaSetTouchDestination").arg(device).arg(value));
    onBoard(device,
            [&](BoardDriver::Board& b) { b.touchDestination = static_cast<int8_t>(value); });
}

NORVA_EXPORT void NORVA_API norvaSetTouchDestinationEx(int32_t device, int32_t value,
                                                       int32_t enable)
{
    log(Line("norvaSetTouchDestinationEx").arg(device).arg(value).arg(enable));
    onBoard(device, [&](BoardDriver::Board& b) {
        b.touchDestination = static_cast<int8_t>(enable ? value : 0);
    });
}

NORVA_EXPORT int8_t NORVA_API norvaGetTouchDestination(int32_t device)
{
    const int8_t result = driver.withBoard(
        device, int8_t(-1), [](BoardDriver::Board& b) { return b.touchDestination; });
    return logged(Line("norvaGetTouchDestination").arg(device), result);
}

NORVA_EXPORT void NORVA_API norvaSetTouchEnabled(int32_t device, int32_t enabled)
{
    log(Line("norvaSetTouchEnabled").arg(device).arg(enabled));
    onBoard(device, [&](BoardDriver::Board& b) { b.touchEnabled = enabled != 0; });
}

NORVA_EXPORT uint8_t NORVA_API norvaGetTouchEnabled(int32_t device)
{
    const uint8_t result = driver.withBoard(
        device, uint8_t(0), [](BoardDriver::Board& b) { return uint8_t(b.touchEnabled ? 1 : 0); });
    return logged(Line("norvaGetTouchEnabled").arg(device), result);
}

NORVA_EXPORT void NORVA_API norvaSetTouchSystemRedirectionEnabled(int32_t device, int32_t enabled)
{
    log(Line("norvaSetTouchSystemRedirectionEnabled").arg(device).arg(enabled));
    onBoard(device, [&](BoardDriver::Board& b) { b.touchRedirection = enabled != 0; });
}

NORVA_EXPORT uint8_t NORVA_API norvaGetTouchSystemRedirectionEnabled(int32_t device)
{
    const uint8_t result = driver.withBoard(device, uint8_t(0), [](BoardDriver::Board& b) {
        return uint8_t(b.touchRedirection ? 1 : 0);
    });
    return logged(Line("norvaGetTouchSystemRedirectionEnabled").arg(device), result);
}

NORVA_EXPORT void NORVA_API norvaSetLATEDetection(int32_t device, int32_t value)
{
    log(Line("norvaSetLATEDetection").arg(device).arg(value));
    onBoard(device, [&](BoardDriver::Board& b) { b.lateDetection = static_cast<int8_t>(value); });
}

NORVA_EXPORT int8_t NORVA_API norvaGetLATEDetection(int32_t device)
{
    const int8_t result =
        driver.withBoard(device, int8_t(-1), [](BoardDriver::Board& b) { return b.lateDetection; });
    return logged(Line("norvaGetLATEDetection").arg(device), result);
}

NORVA_EXPORT bool NORVA_API norvaIsSomethingOnBoard(int32_t device)
{
    const bool result = driver.withBoard(
        device, false, [](BoardDriver::Board& b) { return !b.contactsDown.empty(); });
    return logged(Line("norvaIsSomethingOnBoard").arg(device), result);
}

NORVA_EXPORT void NORVA_API norvaSetTwoFingerScroll(int32_t device, int32_t value)
{
    log(Line("norvaSetTwoFingerScroll").arg(device).arg(value));
}

NORVA_EXPORT int32_t NORVA_API norvaOpenSynchronousChannel(int32_t device, int32_t mode,
                                                           int32_t flags)
{
    const int32_t result = driver.openChannel(device);
    return logged(Line("norvaOpenSynchronousChannel").arg(device).arg(mode).arg(flags), result);
}

NORVA_EXPORT void NORVA_API norvaCloseSynchronousChannel(int32_t device, int32_t channel)
{
    log(Line("norvaCloseSynchronousChannel").arg(device).arg(channel));
    driver.closeChannel(device, channel);
}

NORVA_EXPORT int32_t NORVA_API norvaReadSynchronousPacket(int32_t device, int32_t channel,
                                                          uint8_t* buffer, int32_t capacity,
                                                          int32_t timeoutMs)
{
    const int32_t result = driver.readChannel(device, channel, buffer, capacity, timeoutMs);
    return logged(Line("norvaReadSynchronousPacket")
                      .arg(device)
                      .arg(channel)
                      .arg(buffer)
                      .arg(capacity)
                      .arg(timeoutMs),
                  result);
}

NORVA_EXPORT bool NORVA_API norvaSetCalibrationMode(int32_t device, int32_t mode)
{
    return logged(Line("norvaSetCalibrationMode").arg(device).arg(mode), driver.known(device));
}

NORVA_EXPORT void NORVA_API norvaSetCalibrationData(int32_t device, const void* data)
{
    log(Line("norvaSetCalibrationData").arg(device).arg(data));
}

NORVA_EXPORT void NORVA_API norvaSetCalibrationDataEx(int32_t device, const void* data, int32_t a,
                                                      int32_t b)
{
    log(Line("norvaSetCalibrationDataEx").arg(device).arg(data).arg(a).arg(b));
}

NORVA_EXPORT void NORVA_API norvaSetWirelessCalibrationData(int32_t device, const void* data)
{
    log(Line("norvaSetWirelessCalibrationData").arg(device).arg(data));
}

// The simulated boards need no calibration, so there are no points to give;
// the caller's buffer, whose layout only it knows, stays as it is.
NORVA_EXPORT void NORVA_API norvaGetCalibrationPoints(int32_t device, void* points, int32_t count)
{
    log(Line("norvaGetCalibrationPoints").arg(device).arg(points).arg(count));
}

NORVA_EXPORT bool NORVA_API norvaGetHIDCoordinateReportMode(int32_t device)
{
    const bool result = driver.withBoard(
        device, false, [](BoardDriver::Board& b) { return b.hidCoordinateReportMode; });
    return logged(Line("norvaGetHIDCoordinateReportMode").arg(device), result);
}

NORVA_EXPORT void NORVA_API norvaSetHIDCoordinateReportMode(int32_t device, int32_t mode)
{
    log(Line("norvaSetHIDCoordinateReportMode").arg(device).arg(mode));
    onBoard(device, [&](BoardDriver::Board& b) { b.hidCoordinateReportMode = mode != 0; });
}

NORVA_EXPORT void NORVA_API norvaLibraryVersionNumber(int32_t* major, int32_t* minor,
                                                      int32_t* build, int32_t* revision)
{
    log(Line("norvaLibraryVersionNumber").arg(major).arg(minor).arg(build).arg(revision));
    const int32_t version[] = {1, 0, 0, 0};
    int32_t* parts[] = {major, minor, build, revision};
    for (int i = 0; i < 4; ++i) {
        if (parts[i])
            *parts[i] = version[i];
    }
}

NORVA_EXPORT void NORVA_API norvaLock(void)
{
    log(Line("norvaLock"));
    driver.lock();
}

NORVA_EXPORT void NORVA_API norvaUnlock(void)
{
    log(Line("norvaUnlock"));
    driver.unlock();
}

// There is no serial port on a simulated board.
NORVA_EXPORT bool NORVA_API norvaSerialConnect(const char* port)
{
    return logged(Line("norvaSerialConnect").arg(port), false);
}

NORVA_EXPORT bool NORVA_API norvaSerialDisconnect(void)
{
    return logged(Line("norvaSerialDisconnect"), false);
}

NORVA_EXPORT bool NORVA_API norvaSerialGetConnected(char* port)
{
    return logged(Line("norvaSerialGetConnected").arg(port), false);
}

NORVA_EXPORT void NORVA_API norvaSerialSetStartupMode(int32_t mode)
{
    log(Line("norvaSerialSetStartupMode").arg(mode));
    driver.serialStartupMode = mode;
}

NORVA_EXPORT int32_t NORVA_API norvaSerialGetStartupMode(void)
{
    return logged(Line("norvaSerialGetStartupMode"), driver.serialStartupMode.load());
}

NORVA_EXPORT void NORVA_API norvaSetDoubleClickDistance(int32_t device, int32_t distance)
{
    log(Line("norvaSetDoubleClickDistance").arg(device).arg(distance));
}

NORVA_EXPORT void NORVA_API norvaSetDriverDebugMode(int32_t device, int32_t mode, int32_t level)
{
    log(Line("norvaSetDriverDebugMode").arg(device).arg(mode).arg(level));
}

// A board echoes what it is sent; both come back through the packet callbacks.
NORVA_EXPORT void NORVA_API norvaEcho(int32_t device, const uint8_t* bytes, int32_t length)
{
    log(Line("norvaEcho").arg(device).bytes(bytes, length).arg(length));
    driver.inject(device, bytes, length);
}

NORVA_EXPORT void NORVA_API norvaInject(int32_t device, const uint8_t* bytes, int32_t length)
{
    log(Line("norvaInject").arg(device).bytes(bytes, length).arg(length));
    driver.inject(device, bytes, length);
}

NORVA_EXPORT void NORVA_API norvaSendTouchPacketToSystem(int32_t device, uint8_t length,
                                                         const uint8_t* bytes)
{
    log(Line("norvaSendTouchPacketToSystem").arg(device).arg(length).bytes(bytes, length));
    driver.sendToSystem(bytes, length);
}

NORVA_EXPORT void NORVA_API norvaReverseButtons(int32_t device, int32_t reversed)
{
    log(Line("norvaReverseButtons").arg(device).arg(reversed));
}
