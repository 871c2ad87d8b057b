// The driver binding against three driver libraries: none at all, one that
// offers only norvaSetTouchDestination, and one that records every call.
// Plain C++ without Qt, so that it also runs as a Windows program.
//
// Usage: tst_norvawrapper missing|onlytouchdestination|recording
// The library found under the name libnorvaboardex decides what is tested.

#include "drivers/driverlog.h"
#include "norvawrapper.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

int failures = 0;

std::string show(const std::string& value)
{
    return '"' + value + '"';
}

std::string show(long long value)
{
    return std::to_string(value);
}

void checkThat(bool ok, const char* what, const char* file, int line)
{
    if (ok)
        return;
    ++failures;
    std::cerr << file << ':' << line << ": FAIL: " << what << '\n';
}

template <typename Actual, typename Expected>
void checkEqual(const Actual& actual, const Expected& expected, const char* what, const char* file,
                int line)
{
    if (actual == expected)
        return;
    ++failures;
    std::cerr << file << ':' << line << ": FAIL: " << what << "\n  actual:   " << show(actual)
              << "\n  expected: " << show(expected) << '\n';
}

#define CHECK(condition) checkThat((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(actual, expected)                                                                 \
    checkEqual((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)

void NORVA_CALLBACK packetCallback(uint32_t, const uint8_t*, uint32_t, void*) {}
void NORVA_CALLBACK pnpCallback(void*) {}

// The test's own view of the loaded test driver, to read its call record.
class DriverRecord
{
public:
    DriverRecord() : module(DriverPlatform::loadDriver())
    {
        if (module == nullptr)
            return;
        log = reinterpret_cast<LogFn>(DriverPlatform::resolve(module, "testDriverLog"));
        clear = reinterpret_cast<ClearFn>(DriverPlatform::resolve(module, "testDriverClearLog"));
    }
    ~DriverRecord()
    {
        if (module != nullptr)
            DriverPlatform::freeDriver(module);
    }
    DriverRecord(const DriverRecord&) = delete;
    DriverRecord& operator=(const DriverRecord&) = delete;

    bool usable() const { return log != nullptr && clear != nullptr; }

    // The calls recorded since the last take.
    std::string take()
    {
        const std::string text = log();
        clear();
        return text;
    }

private:
    using LogFn = const char*(NORVA_API*)();
    using ClearFn = void(NORVA_API*)();

    DriverPlatform::ModuleHandle module;
    LogFn log = nullptr;
    ClearFn clear = nullptr;
};

void withoutLibrary()
{
    NorvaWrapper wrapper;
    CHECK_EQ(wrapper.attach(), 0);
    CHECK(!wrapper.isLoaded());
    // A failed load leaves the wrapper unloaded, so the next attach tries again.
    CHECK_EQ(wrapper.attach(), 0);
    CHECK(!wrapper.isLoaded());
    // The library and the system's reason, e.g. "libnorvaboardex.so: cannot
    // open shared object file: No such file or directory".
    const std::string reason = std::string(DriverPlatform::LibraryName) + ": ";
    CHECK_EQ(wrapper.loadError().substr(0, reason.size()), reason);
    CHECK(wrapper.loadError().size() > reason.size());

    int32_t version[4] = {-7, -7, -7, -7};
    char port[8] = "none";
    uint8_t buffer[4] = {};
    const void* context = &wrapper;

    // Void operations must not touch their arguments or crash.
    wrapper.detach();
    wrapper.setCallback(1, packetCallback, &wrapper);
    wrapper.clearCallback(1, packetCallback, &wrapper);
    wrapper.setPnpCallback(pnpCallback, &wrapper);
    wrapper.setXferMask(1, 0xFF);
    wrapper.setPointingDeviceDestination(1, 1, 0, 1);
    wrapper.setPointingDeviceDestinationEx(1, 1, 0, 1, true);
    wrapper.setTouchDestination(1, 1);
    wrapper.setTouchDestinationEx(1, 1, true);
    wrapper.setTouchEnabled(1, true);
    wrapper.setTouchSystemRedirectionEnabled(1, true);
    wrapper.setLATEDetection(1, 1);
    wrapper.setTwoFingerScroll(1, 1);
    wrapper.closeSynchronousChannel(1, 1);
    wrapper.setCalibrationData(1, context);
    wrapper.setCalibrationDataEx(1, context, 1, 2);
    wrapper.setWirelessCalibrationData(1, context);
    wrapper.getCalibrationPoints(1, buffer, 1);
    wrapper.setHIDCoordinateReportMode(1, 1);
    wrapper.libraryVersionNumber(&version[0], &version[1], &version[2], &version[3]);
    wrapper.lock();
    wrapper.unlock();
    wrapper.serialSetStartupMode(1);
    wrapper.setDoubleClickDistance(1, 5);
    wrapper.setDriverDebugMode(1, 1, 1);
    wrapper.echo(1, buffer, 4);
    wrapper.inject(1, buffer, 4);
    wrapper.sendTouchPacketToSystem(1, 4, buffer);
    wrapper.reverseButtons(1, true);
    CHECK_EQ(version[0], -7);
    CHECK_EQ(version[3], -7);
    CHECK_EQ(buffer[0], 0);

    CHECK_EQ(wrapper.driverInterface(), 0);
    CHECK_EQ(wrapper.clearPnpCallback(pnpCallback, &wrapper), 0);
    CHECK_EQ(wrapper.sendCommand(1, ":PL1\r"), -1);
    CHECK_EQ(wrapper.writePacket(1, buffer, 4), -1);
    CHECK_EQ(wrapper.getDeviceCount(), 0);
    CHECK_EQ(wrapper.enumDeviceInfo(0, buffer), false);
    CHECK_EQ(wrapper.getPointingDeviceDestination(1, 1, 0), -1);
    CHECK_EQ(wrapper.getTouchDestination(1), -1);
    CHECK_EQ(wrapper.getTouchEnabled(1), true);
    CHECK_EQ(wrapper.getTouchSystemRedirectionEnabled(1), true);
    CHECK_EQ(wrapper.getLATEDetection(1), -1);
    CHECK_EQ(wrapper.isSomethingOnBoard(1), false);
    CHECK_EQ(wrapper.openSynchronousChannel(1, 1, 1), -1);
    CHECK_EQ(wrapper.readSynchronousPacket(1, 1, buffer, 4, 10), -1);
    CHECK_EQ(buffer[0], 0);
    CHECK_EQ(wrapper.setCalibrationMode(1, 1), false);
    CHECK_EQ(wrapper.getHIDCoordinateReportMode(1), false);
    CHECK_EQ(wrapper.serialConnect("COM1"), false);
    CHECK_EQ(wrapper.serialDisconnect(), false);
    CHECK_EQ(wrapper.serialGetConnected(port), false);
    CHECK_EQ(std::string(port), std::string("none"));
    CHECK_EQ(wrapper.serialGetStartupMode(), 0);
}

void withOnlyTouchDestination()
{
    NorvaWrapper wrapper;
    DriverRecord driver;
    CHECK(driver.usable());
    if (!driver.usable())
        return;

    CHECK_EQ(wrapper.attach(), 0);
    CHECK(wrapper.isLoaded());
    CHECK_EQ(driver.take(), std::string());
    CHECK_EQ(wrapper.loadError(), std::string());
    const std::string path = wrapper.libraryPath();
    const std::string name = DriverPlatform::LibraryName;
    CHECK_EQ(path.substr(path.size() - std::min(path.size(), name.size())), name);

    // All but the one it has and the two that fall back to it.
    const std::vector<std::string> missing = wrapper.missingEntryPoints();
    CHECK_EQ(static_cast<long long>(missing.size()), 49LL - 1 - 2);
    for (const char* bound : {"norvaSetTouchDestination", "norvaSetTouchDestinationEx",
                              "norvaSetPointingDeviceDestinationEx"})
        CHECK(std::find(missing.begin(), missing.end(), bound) == missing.end());

    wrapper.setTouchDestinationEx(3, 2, true);
    CHECK_EQ(driver.take(), std::string("norvaSetTouchDestination(3, 2)\n"));
    wrapper.setTouchDestinationEx(4, -1, false);
    CHECK_EQ(driver.take(), std::string("norvaSetTouchDestination(4, -1)\n"));

    // Everything else is missing: fixed results, no call reaches the driver.
    wrapper.setPointingDeviceDestinationEx(1, 2, 0, 1, true);
    wrapper.setTouchEnabled(1, true);
    CHECK_EQ(wrapper.getDeviceCount(), 0);
    CHECK_EQ(wrapper.getTouchEnabled(1), true);
    CHECK_EQ(wrapper.getLATEDetection(1), -1);
    CHECK_EQ(wrapper.writePacket(1, nullptr, 0), -1);
    CHECK_EQ(wrapper.clearPnpCallback(pnpCallback, nullptr), 0);
    CHECK_EQ(driver.take(), std::string());
}

struct Case
{
    std::function<std::string()> call; // gives the result as text, empty for none
    std::string result;
    std::string line; // what the driver records
};

std::string asText(long long value)
{
    return std::to_string(value);
}

void withRecordingLibrary()
{
    auto wrapper = std::make_unique<NorvaWrapper>();
    CHECK_EQ(wrapper->attach(), 1);
    // The second attach binds again and attaches again without loading again;
    // that it did not load again shows when the library is unloaded below.
    CHECK_EQ(wrapper->attach(), 2);

    auto driver = std::make_unique<DriverRecord>();
    CHECK(driver->usable());
    if (!driver->usable())
        return;
    CHECK_EQ(driver->take(), std::string("norvaAttach() = 1\nnorvaAttach() = 2\n"));
    CHECK(wrapper->missingEntryPoints().empty());

    NorvaWrapper& w = *wrapper;
    int context = 0;
    const std::string ctx = DriverLog::pointer(&context);
    const std::string packetFn = DriverLog::functionPointer(&packetCallback);
    const std::string pnpFn = DriverLog::functionPointer(&pnpCallback);
    const uint8_t packet[] = {0x3a, 0x50, 0x4e, 0x30, 0x32, 0x0d};
    uint8_t buffer[3] = {};
    int32_t version[4] = {};
    char port[16] = {};
    const std::string bufferAt = DriverLog::pointer(buffer);
    const std::string calibration = DriverLog::pointer(packet);

    const std::vector<Case> cases = {
        {[&] { return asText(w.driverInterface()); }, "7", "norvaInterface() = 7"},
        {[&] {
             w.detach();
             return std::string();
         },
         "", "norvaDetach()"},
        {[&] {
             w.setCallback(7, packetCallback, &context);
             return std::string();
         },
         "", "norvaSetCallback(7, " + packetFn + ", " + ctx + ")"},
        {[&] {
             w.clearCallback(7, packetCallback, &context);
             return std::string();
         },
         "", "norvaClearCallback(7, " + packetFn + ", " + ctx + ") = 1"},
        {[&] {
             w.setPnpCallback(pnpCallback, &context);
             return std::string();
         },
         "", "norvaSetPnpCallback(" + pnpFn + ", " + ctx + ")"},
        {[&] { return asText(w.clearPnpCallback(pnpCallback, &context)); }, "1",
         "norvaClearCallback(0, " + pnpFn + ", " + ctx + ") = 1"},
        {[&] { return asText(w.sendCommand(2, ":PL1\r")); }, "5",
         "norvaSendCommand(2, \":PL1\r\") = 5"},
        {[&] { return asText(w.writePacket(7, packet, 6)); }, "6",
         "norvaWritePacket(7, 3a504e30320d, 6) = 6"},
        {[&] {
             w.setXferMask(7, 0xFF);
             return std::string();
         },
         "", "norvaSetXferMask(7, 255)"},
        {[&] { return asText(w.getDeviceCount()); }, "3", "norvaGetDeviceCount() = 3"},
        {[&] { return asText(w.enumDeviceInfo(1, buffer)); }, "1",
         "norvaEnumDeviceInfo(1, " + bufferAt + ") = 1"},
        // Only the low byte of a bool result counts: 0x100 is false.
        {[&] { return asText(w.enumDeviceInfo(0x100, buffer)); }, "0",
         "norvaEnumDeviceInfo(256, " + bufferAt + ") = 256"},
        {[&] {
             w.setPointingDeviceDestination(7, 3, 0, 1);
             return std::string();
         },
         "", "norvaSetPointingDeviceDestination(7, 3, 0, 1)"},
        {[&] {
             w.setPointingDeviceDestinationEx(7, 3, 0, 1, true);
             return std::string();
         },
         "", "norvaSetPointingDeviceDestinationEx(7, 3, 0, 1, 1)"},
        {[&] {
             w.setPointingDeviceDestinationEx(7, 3, 0, 1, false);
             return std::string();
         },
         "", "norvaSetPointingDeviceDestinationEx(7, 3, 0, 1, 0)"},
        {[&] { return asText(w.getPointingDeviceDestination(7, 3, 0)); }, "10",
         "norvaGetPointingDeviceDestination(7, 3, 0) = 10"},
        {[&] {
             w.setTouchDestination(7, 2);
             return std::string();
         },
         "", "norvaSetTouchDestination(7, 2)"},
        {[&] {
             w.setTouchDestinationEx(7, 2, true);
             return std::string();
         },
         "", "norvaSetTouchDestinationEx(7, 2, 1)"},
        {[&] { return asText(w.getTouchDestination(7)); }, "-7",
         "norvaGetTouchDestination(7) = -7"},
        {[&] {
             w.setTouchEnabled(7, true);
             return std::string();
         },
         "", "norvaSetTouchEnabled(7, 1)"},
        {[&] {
             w.setTouchEnabled(7, false);
             return std::string();
         },
         "", "norvaSetTouchEnabled(7, 0)"},
        {[&] { return asText(w.getTouchEnabled(1)); }, "1", "norvaGetTouchEnabled(1) = 1"},
        // Enabled means exactly 1: any other byte is false.
        {[&] { return asText(w.getTouchEnabled(2)); }, "0", "norvaGetTouchEnabled(2) = 2"},
        {[&] {
             w.setTouchSystemRedirectionEnabled(7, true);
             return std::string();
         },
         "", "norvaSetTouchSystemRedirectionEnabled(7, 1)"},
        {[&] { return asText(w.getTouchSystemRedirectionEnabled(1)); }, "1",
         "norvaGetTouchSystemRedirectionEnabled(1) = 1"},
        {[&] { return asText(w.getTouchSystemRedirectionEnabled(255)); }, "0",
         "norvaGetTouchSystemRedirectionEnabled(255) = 255"},
        {[&] {
             w.setLATEDetection(7, 4);
             return std::string();
         },
         "", "norvaSetLATEDetection(7, 4)"},
        {[&] { return asText(w.getLATEDetection(-3)); }, "-3", "norvaGetLATEDetection(-3) = -3"},
        {[&] { return asText(w.isSomethingOnBoard(5)); }, "1", "norvaIsSomethingOnBoard(5) = 1"},
        {[&] {
             w.setTwoFingerScroll(7, 1);
             return std::string();
         },
         "", "norvaSetTwoFingerScroll(7, 1)"},
        {[&] { return asText(w.openSynchronousChannel(1, 2, 3)); }, "123",
         "norvaOpenSynchronousChannel(1, 2, 3) = 123"},
        {[&] {
             w.closeSynchronousChannel(1, 123);
             return std::string();
         },
         "", "norvaCloseSynchronousChannel(1, 123)"},
        {[&] { return asText(w.readSynchronousPacket(1, 123, buffer, 3, 50)); }, "3",
         "norvaReadSynchronousPacket(1, 123, " + bufferAt + ", 3, 50) = 3"},
        {[&] { return asText(w.setCalibrationMode(7, 1)); }, "1",
         "norvaSetCalibrationMode(7, 1) = 1"},
        {[&] {
             w.setCalibrationData(7, packet);
             return std::string();
         },
         "", "norvaSetCalibrationData(7, " + calibration + ")"},
        {[&] {
             w.setCalibrationDataEx(7, packet, 8, 9);
             return std::string();
         },
         "", "norvaSetCalibrationDataEx(7, " + calibration + ", 8, 9)"},
        {[&] {
             w.setWirelessCalibrationData(7, packet);
             return std::string();
         },
         "", "norvaSetWirelessCalibrationData(7, " + calibration + ")"},
        {[&] {
             w.getCalibrationPoints(7, buffer, 3);
             return std::string();
         },
         "", "norvaGetCalibrationPoints(7, " + bufferAt + ", 3)"},
        {[&] { return asText(w.getHIDCoordinateReportMode(1)); }, "1",
         "norvaGetHIDCoordinateReportMode(1) = 1"},
        {[&] {
             w.setHIDCoordinateReportMode(7, 2);
             return std::string();
         },
         "", "norvaSetHIDCoordinateReportMode(7, 2)"},
        {[&] {
             w.libraryVersionNumber(&version[0], &version[1], &version[2], &version[3]);
             return std::string();
         },
         "",
         "norvaLibraryVersionNumber(" + DriverLog::pointer(&version[0]) + ", " +
             DriverLog::pointer(&version[1]) + ", " + DriverLog::pointer(&version[2]) + ", " +
             DriverLog::pointer(&version[3]) + ")"},
        {[&] {
             w.lock();
             return std::string();
         },
         "", "norvaLock()"},
        {[&] {
             w.unlock();
             return std::string();
         },
         "", "norvaUnlock()"},
        {[&] { return asText(w.serialConnect("COM2")); }, "1", "norvaSerialConnect(\"COM2\") = 1"},
        {[&] { return asText(w.serialDisconnect()); }, "1", "norvaSerialDisconnect() = 1"},
        {[&] { return asText(w.serialGetConnected(port)); }, "1",
         "norvaSerialGetConnected(" + DriverLog::pointer(port) + ") = 1"},
        {[&] {
             w.serialSetStartupMode(3);
             return std::string();
         },
         "", "norvaSerialSetStartupMode(3)"},
        {[&] { return asText(w.serialGetStartupMode()); }, "2", "norvaSerialGetStartupMode() = 2"},
        {[&] {
             w.setDoubleClickDistance(7, 40);
             return std::string();
         },
         "", "norvaSetDoubleClickDistance(7, 40)"},
        {[&] {
             w.setDriverDebugMode(7, 1, 5);
             return std::string();
         },
         "", "norvaSetDriverDebugMode(7, 1, 5)"},
        {[&] {
             w.echo(7, packet, 2);
             return std::string();
         },
         "", "norvaEcho(7, 3a50, 2)"},
        {[&] {
             w.inject(7, packet, 3);
             return std::string();
         },
         "", "norvaInject(7, 3a504e, 3)"},
        // Length before bytes.
        {[&] {
             w.sendTouchPacketToSystem(7, 6, packet);
             return std::string();
         },
         "", "norvaSendTouchPacketToSystem(7, 6, 3a504e30320d)"},
        {[&] {
             w.reverseButtons(7, true);
             return std::string();
         },
         "", "norvaReverseButtons(7, 1)"},
    };

    for (const Case& c : cases) {
        CHECK_EQ(c.call(), c.result);
        CHECK_EQ(driver->take(), c.line + '\n');
    }
    CHECK_EQ(version[0], 1);
    CHECK_EQ(version[3], 4);
    CHECK_EQ(std::string(port), std::string("COM3"));
    CHECK_EQ(buffer[2], 0xAB);

    // The destructor detaches before it frees the library.
    wrapper.reset();
    CHECK_EQ(driver->take(), std::string("norvaDetach()\n"));

    // With the test's own reference gone the library is unloaded, which only
    // happens when the wrapper loaded it exactly once: a fresh load starts
    // counting attaches at 1 again.
    driver.reset();
    NorvaWrapper again;
    CHECK_EQ(again.attach(), 1);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "missing")
        withoutLibrary();
    else if (mode == "onlytouchdestination")
        withOnlyTouchDestination();
    else if (mode == "recording")
        withRecordingLibrary();
    else {
        std::cerr << "usage: " << argv[0] << " missing|onlytouchdestination|recording\n";
        return 2;
    }
    if (failures > 0) {
        std::cerr << failures << " check(s) failed\n";
        return 1;
    }
    std::cout << mode << ": all checks passed\n";
    return 0;
}
