#pragma once

#include "driverplatform.h"

#include <cstdint>

// Called by the driver on a thread of its own for every packet of a device
// whose callback is set.
typedef void(NORVA_CALLBACK* NorvaPacketCallback)(uint32_t tag, const uint8_t* bytes,
                                                  uint32_t length, void* context);
// Called by the driver on a thread of its own whenever devices come or go.
typedef void(NORVA_CALLBACK* NorvaPnpCallback)(void* context);

// The board driver as the rest of the system sees it: one operation per entry
// point of the driver library. An operation whose entry point is not available
// returns a fixed result and does nothing else; none of them throws.
class AbstractHardwareWrapper
{
public:
    virtual ~AbstractHardwareWrapper() = default;

    virtual int32_t attach() = 0;
    virtual void detach() = 0;
    virtual int32_t driverInterface() = 0;
    virtual void setCallback(int32_t device, NorvaPacketCallback callback, void* context) = 0;
    virtual void clearCallback(int32_t device, NorvaPacketCallback callback, void* context) = 0;
    virtual void setPnpCallback(NorvaPnpCallback callback, void* context) = 0;
    virtual int32_t clearPnpCallback(NorvaPnpCallback callback, void* context) = 0;
    virtual int32_t sendCommand(int32_t device, const char* command) = 0;
    virtual int32_t writePacket(int32_t device, const uint8_t* bytes, int32_t length) = 0;
    virtual void setXferMask(int32_t device, int32_t mask) = 0;
    virtual int32_t getDeviceCount() = 0;
    virtual bool enumDeviceInfo(int32_t index, void* record) = 0;
    virtual void setPointingDeviceDestination(int32_t device, int32_t pen, int32_t reserved,
                                              int32_t flag) = 0;
    virtual void setPointingDeviceDestinationEx(int32_t device, int32_t pen, int32_t reserved,
                                                int32_t flag, bool enable) = 0;
    virtual int8_t getPointingDeviceDestination(int32_t device, int32_t pen, int32_t reserved) = 0;
    virtual void setTouchDestination(int32_t device, int32_t value) = 0;
    virtual void setTouchDestinationEx(int32_t device, int32_t value, bool enable) = 0;
    virtual int8_t getTouchDestination(int32_t device) = 0;
    virtual void setTouchEnabled(int32_t device, bool enabled) = 0;
    virtual bool getTouchEnabled(int32_t device) = 0;
    virtual void setTouchSystemRedirectionEnabled(int32_t device, bool enabled) = 0;
    virtual bool getTouchSystemRedirectionEnabled(int32_t device) = 0;
    virtual void setLATEDetection(int32_t device, int32_t value) = 0;
    virtual int8_t getLATEDetection(int32_t device) = 0;
    virtual bool isSomethingOnBoard(int32_t device) = 0;
    virtual void setTwoFingerScroll(int32_t device, int32_t value) = 0;
    virtual int32_t openSynchronousChannel(int32_t device, int32_t mode, int32_t flags) = 0;
    virtual void closeSynchronousChannel(int32_t device, int32_t channel) = 0;
    virtual int32_t readSynchronousPacket(int32_t device, int32_t channel, uint8_t* buffer,
                                          int32_t capacity, int32_t timeoutMs) = 0;
    virtual bool setCalibrationMode(int32_t device, int32_t mode) = 0;
    virtual void setCalibrationData(int32_t device, const void* data) = 0;
    virtual void setCalibrationDataEx(int32_t device, const void* data, int32_t a, int32_t b) = 0;
    virtual void setWirelessCalibrationData(int32_t device, const void* data) = 0;
    virtual void getCalibrationPoints(int32_t device, void* points, int32_t count) = 0;
    virtual bool getHIDCoordinateReportMode(int32_t device) = 0;
    virtual void setHIDCoordinateReportMode(int32_t device, int32_t mode) = 0;
    virtual void libraryVersionNumber(int32_t* major, int32_t* minor, int32_t* build,
                                      int32_t* revision) = 0;
    virtual void lock() = 0;
    virtual void unlock() = 0;
    virtual bool serialConnect(const char* port) = 0;
    virtual bool serialDisconnect() = 0;
    virtual bool serialGetConnected(char* port) = 0;
    virtual void serialSetStartupMode(int32_t mode) = 0;
    virtual int32_t serialGetStartupMode() = 0;
    virtual void setDoubleClickDistance(int32_t device, int32_t distance) = 0;
    virtual void setDriverDebugMode(int32_t device, int32_t mode, int32_t level) = 0;
    virtual void echo(int32_t device, const uint8_t* bytes, int32_t length) = 0;
    virtual void inject(int32_t device, const uint8_t* bytes, int32_t length) = 0;
    virtual void sendTouchPacketToSystem(int32_t device, uint8_t length, const uint8_t* bytes) = 0;
    virtual void reverseButtons(int32_t device, bool reversed) = 0;
};
