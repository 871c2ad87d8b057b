#pragma once

#include "abstracthardwarewrapper.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

// The binding of the board driver library, loaded by file name at run time.
//
// attach() may run on the driver's plug-and-play thread while other threads
// call through the entry points, so every entry point is an atomic pointer:
// a caller sees either null or a complete address. The library stays loaded
// until the destructor, so an address once read never dangles.
class NorvaWrapper : public AbstractHardwareWrapper
{
public:
    NorvaWrapper() = default;
    NorvaWrapper(const NorvaWrapper&) = delete;
    NorvaWrapper& operator=(const NorvaWrapper&) = delete;
    ~NorvaWrapper() override;

    // True once attach() has loaded the library.
    bool isLoaded() const;
    // Why the last attach() could not load the library: the file tried and
    // the system's reason. Empty once it is loaded.
    std::string loadError() const;
    // Whether the last attach() found no file of the library's name where
    // the system looks, rather than one that it could not load.
    bool libraryNotFound() const;
    // The file the library was loaded from.
    std::string libraryPath() const;
    // The entry points that the loaded library lacks, as of the last
    // attach(), but for those the binding does without (the Ex variants of
    // the destinations, which fall back to the plain ones).
    std::vector<std::string> missingEntryPoints() const;

    int32_t attach() override;
    void detach() override;
    int32_t driverInterface() override;
    void setCallback(int32_t device, NorvaPacketCallback callback, void* context) override;
    void clearCallback(int32_t device, NorvaPacketCallback callback, void* context) override;
    void setPnpCallback(NorvaPnpCallback callback, void* context) override;
    int32_t clearPnpCallback(NorvaPnpCallback callback, void* context) override;
    int32_t sendCommand(int32_t device, const char* command) override;
    int32_t writePacket(int32_t device, const uint8_t* bytes, int32_t length) override;
    void setXferMask(int32_t device, int32_t mask) override;
    int32_t getDeviceCount() override;
    bool enumDeviceInfo(int32_t index, void* record) override;
    void setPointingDeviceDestination(int32_t device, int32_t pen, int32_t reserved,
                                      int32_t flag) override;
    void setPointingDeviceDestinationEx(int32_t device, int32_t pen, int32_t reserved, int32_t flag,
                                        bool enable) override;
    int8_t getPointingDeviceDestination(int32_t device, int32_t pen, int32_t reserved) override;
    void setTouchDestination(int32_t device, int32_t value) override;
    void setTouchDestinationEx(int32_t device, int32_t value, bool enable) override;
    int8_t getTouchDestination(int32_t device) override;
    void setTouchEnabled(int32_t device, bool enabled) override;
    bool getTouchEnabled(int32_t device) override;
    void setTouchSystemRedirectionEnabled(int32_t device, bool enabled) override;
    bool getTouchSystemRedirectionEnabled(int32_t device) override;
    void setLATEDetection(int32_t device, int32_t value) override;
    int8_t getLATEDetection(int32_t device) override;
    bool isSomethingOnBoard(int32_t device) override;
    void setTwoFingerScroll(int32_t device, int32_t value) override;
    int32_t openSynchronousChannel(int32_t device, int32_t mode, int32_t flags) override;
    void closeSynchronousChannel(int32_t device, int32_t channel) override;
    int32_t readSynchronousPacket(int32_t device, int32_t channel, uint8_t* buffer,
                                  int32_t capacity, int32_t timeoutMs) override;
    bool setCalibrationMode(int32_t device, int32_t mode) override;
    void setCalibrationData(int32_t device, const void* data) override;
    void setCalibrationDataEx(int32_t device, const void* data, int32_t a, int32_t b) override;
    void setWirelessCalibrationData(int32_t device, const void* data) override;
    void getCalibrationPoints(int32_t device, void* points, int32_t count) override;
    bool getHIDCoordinateReportMode(int32_t device) override;
    void setHIDCoordinateReportMode(int32_t device, int32_t mode) override;
    void libraryVersionNumber(int32_t* major, int32_t* minor, int32_t* build,
                              int32_t* revision) override;
    void lock() override;
    void unlock() override;
    bool serialConnect(const char* port) override;
    bool serialDisconnect() override;
    bool serialGetConnected(char* port) override;
    void serialSetStartupMode(int32_t mode) override;
    int32_t serialGetStartupMode() override;
    void setDoubleClickDistance(int32_t device, int32_t distance) override;
    void setDriverDebugMode(int32_t device, int32_t mode, int32_t level) override;
    void echo(int32_t device, const uint8_t* bytes, int32_t length) override;
    void inject(int32_t device, const uint8_t* bytes, int32_t length) override;
    void sendTouchPacketToSystem(int32_t device, uint8_t length, const uint8_t* bytes) override;
    void reverseButtons(int32_t device, bool reversed) override;

private:
    // Entry points whose result is a C++ bool are read as their low byte only.
    using Byte = uint8_t;

    template <typename Function> using Entry = std::atomic<Function>;

    using AttachFn = int32_t(NORVA_API*)();
    using DetachFn = void(NORVA_API*)();
    using InterfaceFn = int32_t(NORVA_API*)();
    using SetCallbackFn = void(NORVA_API*)(int32_t, NorvaPacketCallback, void*);
    using ClearCallbackFn = int32_t(NORVA_API*)(int32_t, void*, void*);
    using SendCommandFn = int32_t(NORVA_API*)(int32_t, const char*);
    using WritePacketFn = int32_t(NORVA_API*)(int32_t, const uint8_t*, int32_t);
    using SetXferMaskFn = void(NORVA_API*)(int32_t, int32_t);
    using GetDeviceCountFn = int32_t(NORVA_API*)();
    using EnumDeviceInfoFn = Byte(NORVA_API*)(int32_t, void*);
    using SetPnpCallbackFn = void(NORVA_API*)(NorvaPnpCallback, void*);
    using SetPointingDestinationFn = void(NORVA_API*)(int32_t, int32_t, int32_t, int32_t);
    using SetPointingDestinationExFn = void(NORVA_API*)(int32_t, int32_t, int32_t, int32_t,
                                                        int32_t);
    using GetPointingDestinationFn = int8_t(NORVA_API*)(int32_t, int32_t, int32_t);
    using SetTouchDestinationFn = void(NORVA_API*)(int32_t, int32_t);
    using SetTouchDestinationExFn = void(NORVA_API*)(int32_t, int32_t, int32_t);
    using DeviceInt8Fn = int8_t(NORVA_API*)(int32_t);
    using DeviceByteFn = Byte(NORVA_API*)(int32_t);
    using DeviceValueFn = void(NORVA_API*)(int32_t, int32_t);
    using OpenChannelFn = int32_t(NORVA_API*)(int32_t, int32_t, int32_t);
    using CloseChannelFn = void(NORVA_API*)(int32_t, int32_t);
    using ReadPacketFn = int32_t(NORVA_API*)(int32_t, int32_t, uint8_t*, int32_t, int32_t);
    using SetCalibrationModeFn = Byte(NORVA_API*)(int32_t, int32_t);
    using DeviceDataFn = void(NORVA_API*)(int32_t, const void*);
    using SetCalibrationDataExFn = void(NORVA_API*)(int32_t, const void*, int32_t, int32_t);
    using GetCalibrationPointsFn = void(NORVA_API*)(int32_t, void*, int32_t);
    using VersionFn = void(NORVA_API*)(int32_t*, int32_t*, int32_t*, int32_t*);
    using PlainFn = void(NORVA_API*)();
    using SerialConnectFn = Byte(NORVA_API*)(const char*);
    using SerialDisconnectFn = Byte(NORVA_API*)();
    using SerialGetConnectedFn = Byte(NORVA_API*)(char*);
    using SerialSetStartupModeFn = void(NORVA_API*)(int32_t);
    using SerialGetStartupModeFn = int32_t(NORVA_API*)();
    using DebugModeFn = void(NORVA_API*)(int32_t, int32_t, int32_t);
    using DeviceBytesFn = void(NORVA_API*)(int32_t, const uint8_t*, int32_t);
    using SendTouchPacketFn = void(NORVA_API*)(int32_t, uint8_t, const uint8_t*);

    enum class Need
    {
        Required,
        Optional
    };
    template <typename Function>
    void bind(Entry<Function>& entry, const char* name, Need need = Need::Required);

    std::atomic<DriverPlatform::ModuleHandle> module{nullptr};

    Entry<AttachFn> pAttach{nullptr};
    Entry<DetachFn> pDetach{nullptr};
    Entry<InterfaceFn> pInterface{nullptr};
    Entry<SetCallbackFn> pSetCallback{nullptr};
    Entry<ClearCallbackFn> pClearCallback{nullptr};
    Entry<SendCommandFn> pSendCommand{nullptr};
    Entry<WritePacketFn> pWritePacket{nullptr};
    Entry<SetXferMaskFn> pSetXferMask{nullptr};
    Entry<GetDeviceCountFn> pGetDeviceCount{nullptr};
    Entry<EnumDeviceInfoFn> pEnumDeviceInfo{nullptr};
    Entry<SetPnpCallbackFn> pSetPnpCallback{nullptr};
    Entry<SetPointingDestinationFn> pSetPointingDeviceDestination{nullptr};
    Entry<SetPointingDestinationExFn> pSetPointingDeviceDestinationEx{nullptr};
    Entry<GetPointingDestinationFn> pGetPointingDeviceDestination{nullptr};
    Entry<SetTouchDestinationFn> pSetTouchDestination{nullptr};
    Entry<SetTouchDestinationExFn> pSetTouchDestinationEx{nullptr};
    Entry<DeviceInt8Fn> pGetTouchDestination{nullptr};
    Entry<DeviceValueFn> pSetTouchEnabled{nullptr};
    Entry<DeviceByteFn> pGetTouchEnabled{nullptr};
    Entry<DeviceValueFn> pSetTouchSystemRedirectionEnabled{nullptr};
    Entry<DeviceByteFn> pGetTouchSystemRedirectionEnabled{nullptr};
    Entry<OpenChannelFn> pOpenSynchronousChannel{nullptr};
    Entry<CloseChannelFn> pCloseSynchronousChannel{nullptr};
    Entry<ReadPacketFn> pReadSynchronousPacket{nullptr};
    Entry<SetCalibrationModeFn> pSetCalibrationMode{nullptr};
    Entry<DeviceDataFn> pSetCalibrationData{nullptr};
    Entry<DeviceDataFn> pSetWirelessCalibrationData{nullptr};
    Entry<SetCalibrationDataExFn> pSetCalibrationDataEx{nullptr};
    Entry<GetCalibrationPointsFn> pGetCalibrationPoints{nullptr};
    Entry<DeviceByteFn> pGetHIDCoordinateReportMode{nullptr};
    Entry<DeviceValueFn> pSetHIDCoordinateReportMode{nullptr};
    Entry<VersionFn> pLibraryVersionNumber{nullptr};
    Entry<PlainFn> pLock{nullptr};
    Entry<PlainFn> pUnlock{nullptr};
    Entry<SerialGetConnectedFn> pSerialGetConnected{nullptr};
    Entry<SerialConnectFn> pSerialConnect{nullptr};
    Entry<SerialDisconnectFn> pSerialDisconnect{nullptr};
    Entry<SerialSetStartupModeFn> pSerialSetStartupMode{nullptr};
    Entry<SerialGetStartupModeFn> pSerialGetStartupMode{nullptr};
    Entry<DeviceValueFn> pSetDoubleClickDistance{nullptr};
    Entry<DebugModeFn> pSetDriverDebugMode{nullptr};
    Entry<DeviceBytesFn> pEcho{nullptr};
    Entry<DeviceBytesFn> pInject{nullptr};
    Entry<SendTouchPacketFn> pSendTouchPacketToSystem{nullptr};
    Entry<DeviceValueFn> pSetLATEDetection{nullptr};
    Entry<DeviceInt8Fn> pGetLATEDetection{nullptr};
    Entry<DeviceByteFn> pIsSomethingOnBoard{nullptr};
    Entry<DeviceValueFn> pSetTwoFingerScroll{nullptr};
    Entry<DeviceValueFn> pReverseButtons{nullptr};

    // Serialises loading and binding when attach() runs on two threads, and
    // guards what they found.
    mutable std::mutex bindMutex;
    std::string loadFailure;
    std::vector<std::string> missing;
};
