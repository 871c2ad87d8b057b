#pragma once

// The 49 entry points of the board driver library, as every caller sees them.

#include <cstdint>

#ifdef _WIN32
#define NORVA_API __stdcall
#define NORVA_CALLBACK __cdecl
#define NORVA_EXPORT extern "C" __declspec(dllexport)
#else
#define NORVA_API
#define NORVA_CALLBACK
#define NORVA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

typedef void(NORVA_CALLBACK* NorvaPacketCallback)(uint32_t tag, const uint8_t* bytes,
                                                  uint32_t length, void* context);
typedef void(NORVA_CALLBACK* NorvaPnpCallback)(void* context);

// The device information record filled by norvaEnumDeviceInfo.
constexpr int NorvaRecordSize = 1128;
constexpr int NorvaRecordUsableOffset = 4;
constexpr int NorvaRecordDeviceOffset = 20;
constexpr int NorvaRecordDescriptionOffset = 613;
constexpr int NorvaRecordDescriptionCapacity = 515;

NORVA_EXPORT int32_t NORVA_API norvaAttach(void);
NORVA_EXPORT void NORVA_API norvaDetach(void);
NORVA_EXPORT int32_t NORVA_API norvaInterface(void);
NORVA_EXPORT void NORVA_API norvaSetCallback(int32_t device, NorvaPacketCallback callback,
                                             void* context);
NORVA_EXPORT int32_t NORVA_API norvaClearCallback(int32_t device, void* callback, void* context);
NORVA_EXPORT int32_t NORVA_API norvaSendCommand(int32_t device, const char* command);
NORVA_EXPORT int32_t NORVA_API norvaWritePacket(int32_t device, const uint8_t* bytes,
                                                int32_t length);
NORVA_EXPORT void NORVA_API norvaSetXferMask(int32_t device, int32_t mask);
NORVA_EXPORT int32_t NORVA_API norvaGetDeviceCount(void);
NORVA_EXPORT bool NORVA_API norvaEnumDeviceInfo(int32_t index, void* record);
NORVA_EXPORT void NORVA_API norvaSetPnpCallback(NorvaPnpCallback callback, void* context);
NORVA_EXPORT void NORVA_API norvaSetPointingDeviceDestination(int32_t device, int32_t pen,
                                                              int32_t reserved, int32_t flag);
NORVA_EXPORT void NORVA_API norvaSetPointingDeviceDestinationEx(int32_t device, int32_t pen,
                                                                int32_t reserved, int32_t flag,
                                                                int32_t enable);
NORVA_EXPORT int8_t NORVA_API norvaGetPointingDeviceDestination(int32_t device, int32_t pen,
                                                                int32_t reserved);
NORVA_EXPORT void NORVA_API norvaSetTouchDestination(int32_t device, int32_t value);
NORVA_EXPORT void NORVA_API norvaSetTouchDestinationEx(int32_t device, int32_t value,
                                                       int32_t enable);
NORVA_EXPORT int8_t NORVA_API norvaGetTouchDestination(int32_t device);
NORVA_EXPORT void NORVA_API norvaSetTouchEnabled(int32_t device, int32_t enabled);
NORVA_EXPORT uint8_t NORVA_API norvaGetTouchEnabled(int32_t device);
NORVA_EXPORT void NORVA_API norvaSetTouchSystemRedirectionEnabled(int32_t device, int32_t enabled);
NORVA_EXPORT uint8_t NORVA_API norvaGetTouchSystemRedirectionEnabled(int32_t device);
NORVA_EXPORT void NORVA_API norvaSetLATEDetection(int32_t device, int32_t value);
NORVA_EXPORT int8_t NORVA_API norvaGetLATEDetection(int32_t device);
NORVA_EXPORT bool NORVA_API norvaIsSomethingOnBoard(int32_t device);
NORVA_EXPORT void NORVA_API norvaSetTwoFingerScroll(int32_t device, int32_t value);
NORVA_EXPORT int32_t NORVA_API norvaOpenSynchronousChannel(int32_t device, int32_t mode,
                                                           int32_t flags);
NORVA_EXPORT void NORVA_API norvaCloseSynchronousChannel(int32_t device, int32_t channel);
NORVA_EXPORT int32_t NORVA_API norvaReadSynchronousPacket(int32_t device, int32_t channel,
                                                          uint8_t* buffer, int32_t capacity,
                                                          int32_t timeoutMs);
NORVA_EXPORT bool NORVA_API norvaSetCalibrationMode(int32_t device, int32_t mode);
NORVA_EXPORT void NORVA_API norvaSetCalibrationData(int32_t device, const void* data);
NORVA_EXPORT void NORVA_API norvaSetCalibrationDataEx(int32_t device, const void* data, int32_t a,
                                                      int32_t b);
NORVA_EXPORT void NORVA_API norvaSetWirelessCalibrationData(int32_t device, const void* data);
NORVA_EXPORT void NORVA_API norvaGetCalibrationPoints(int32_t device, void* points, int32_t count);
NORVA_EXPORT bool NORVA_API norvaGetHIDCoordinateReportMode(int32_t device);
NORVA_EXPORT void NORVA_API norvaSetHIDCoordinateReportMode(int32_t device, int32_t mode);
NORVA_EXPORT void NORVA_API norvaLibraryVersionNumber(int32_t* major, int32_t* minor,
                                                      int32_t* build, int32_t* revision);
NORVA_EXPORT void NORVA_API norvaLock(void);
NORVA_EXPORT void NORVA_API norvaUnlock(void);
NORVA_EXPORT bool NORVA_API norvaSerialConnect(const char* port);
NORVA_EXPORT bool NORVA_API norvaSerialDisconnect(void);
NORVA_EXPORT bool NORVA_API norvaSerialGetConnected(char* port);
NORVA_EXPORT void NORVA_API norvaSerialSetStartupMode(int32_t mode);
NORVA_EXPORT int32_t NORVA_API norvaSerialGetStartupMode(void);
NORVA_EXPORT void NORVA_API norvaSetDoubleClickDistance(int32_t device, int32_t distance);
NORVA_EXPORT void NORVA_API norvaSetDriverDebugMode(int32_t device, int32_t mode, int32_t level);
NORVA_EXPORT void NORVA_API norvaEcho(int32_t device, const uint8_t* bytes, int32_t length);
NORVA_EXPORT void NORVA_API norvaInject(int32_t device, const uint8_t* bytes, int32_t length);
NORVA_EXPORT void NORVA_API norvaSendTouchPacketToSystem(int32_t device, uint8_t length,
                                                         const uint8_t* bytes);
NORVA_EXPORT void NORVA_API norvaReverseButtons(int32_t device, int32_t reversed);
