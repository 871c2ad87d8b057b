#pragma once

#include "abstracthardwarewrapper.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSizeF>
#include <QString>

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

class NorvaWrapper;

// The connection to the board driver: it publishes every board packet, as it
// came and decoded, as signals emitted on the thread that delivered it, and sends
// commands and pass-through packets back to the boards.
//
// The driver calls back on threads of its own: packets on one, plug-and-play
// notifications (with their re-enumeration) on another, while the commands
// come from the GUI thread. The device list is guarded, enumerations never
// overlap, and detaching (or, without it, the destructor) lets callbacks in
// flight finish and clears them with the driver before it is detached and
// anything is freed.
class NorvaHardware : public QObject
{
    Q_OBJECT

public:
    // Coordinates and sizes are raw 16-bit board units (0..65535), never scaled.
    struct PenEvent
    {
        quint8 pen = 0;
        qint32 x = 0;
        qint32 y = 0;
        bool tip = false;
        bool button = false;
        bool statusBit2 = false;
    };

    struct TouchContact
    {
        quint8 id = 0;
        qint32 x = 0;
        qint32 y = 0;
        qint32 size = 0;
        bool down = false;
    };
    using TouchEvent = QList<TouchContact>;

    struct EraseContact
    {
        quint8 id = 0;
        qint32 x = 0;
        qint32 y = 0;
        qint32 width = 0;
        qint32 height = 0;
        bool down = false;
    };
    using EraseEvent = QList<EraseContact>;

    struct TouchStatus
    {
        std::array<qint32, 6> values{};
    };

    struct DeviceInfo
    {
        QString hid;
        qint32 vid = 0;
        qint32 pid = 0;
        qint32 xp = 0;
        qint32 xt = 0;
        qint32 xl = 0;
        // The width and height in millimetres of what the board's positions
        // span, where its description gives them.
        std::optional<QSizeF> millimetres;
        // The description as the driver gave it, up to its NUL.
        QString description;
    };

    // How the driver stands once attachDriver has run.
    enum class DriverState
    {
        // No file of the library's name where the system looks for it.
        NotFound,
        // A file found that the system cannot load.
        Unloadable,
        // Loaded, without entry points that it must have.
        Incomplete,
        Ready
    };

    explicit NorvaHardware(QObject* parent = nullptr);
    ~NorvaHardware() override;

    // Registers the record types under the names that string-based connections
    // use; queued delivery across threads depends on it.
    static void registerMetaTypes();

    // Loads and attaches to the driver, then enumerates the boards. False when
    // the driver library cannot be loaded; a later call does not try again.
    bool attachDriver();
    // Why the driver cannot serve, for a person: the library that could not
    // be loaded, the file tried and the system's reason; or the file loaded
    // and the entry points it lacks that the binding cannot do without.
    // Empty when it can serve, or before attachDriver.
    QString driverProblem() const;
    DriverState driverState() const;
    // The file the driver was loaded from, else the library's name.
    QString driverPath() const;
    // Lets callbacks in flight finish and turns later ones away for good,
    // clears the plug-and-play and packet callbacks, then detaches. Commands
    // after it reach no board.
    void detachDriver();

    // Each command goes to every enumerated board, in enumeration order.
    void sendPenModeCommand(quint8 pen, qint32 mode);
    void sendPlCommand(qint32 on);
    void setPenDestination(qint32 pen, qint32 flag);
    void setTouchDestination(qint32 value);

    // Hand input back to the system through the first enumerated board;
    // nothing is sent while there is none.
    void sendPenToSystem(NorvaHardware::PenEvent ev);
    void sendTouchesToSystem(NorvaHardware::TouchEvent ev);

    // Decodes one packet (prefix already removed) and emits at most one signal.
    // statusId is the driver's tag of the packet, passed on by touchStatus.
    void dispatchPacket(const QByteArray& packet, qint32 statusId = 0);

signals:
    void pnpEvent();
    // device is the driver's identifier of the board, which packets do not carry.
    void deviceEnumerated(int index, NorvaHardware::DeviceInfo info, qint32 device);
    void deviceEnumCount(int count);
    void penEvent(NorvaHardware::PenEvent ev);
    void touchEvent(NorvaHardware::TouchEvent ev);
    void eraseEvent(NorvaHardware::EraseEvent ev);
    void touchStatus(int id, NorvaHardware::TouchStatus status);
    // Every packet as the driver delivered it, prefix included, with the
    // driver's tag; emitted before it is decoded, on the driver's thread.
    void packetReceived(QByteArray bytes, quint32 tag);

private:
    // Counts the driver's callbacks in flight, so that destruction can wait
    // for them and turn away later ones.
    class CallbackGate
    {
    public:
        bool enter();
        void leave();
        void close();

    private:
        std::mutex mutex;
        std::condition_variable idle;
        int inFlight = 0;
        bool closed = false;
    };

    static void NORVA_CALLBACK packetCallback(uint32_t tag, const uint8_t* bytes, uint32_t length,
                                              void* context);
    static void NORVA_CALLBACK pnpCallback(void* context);

    void enumerateDevices();
    // Needs the gate closed: the driver forgets every callback of this object.
    void clearCallbacks();
    void handlePnp();
    QList<qint32> deviceList() const;
    void writeToEveryDevice(const QByteArray& command);
    void sendToSystem(qint32 device, const QByteArray& packet);

    std::unique_ptr<AbstractHardwareWrapper> binding;
    // The same object, for what only the library binding can tell.
    const NorvaWrapper* library = nullptr;
    QList<qint32> devices;

    // Standard mutexes rather than Qt's: ThreadSanitizer sees through these.
    mutable std::mutex devicesMutex;
    // Held for a whole enumeration, which runs on the GUI thread at attach and
    // on the plug-and-play thread afterwards.
    std::mutex enumerationMutex;
    CallbackGate gate;
    bool driverLoaded = false;
    bool pnpRegistered = false;
};

Q_DECLARE_METATYPE(NorvaHardware::DeviceInfo)
Q_DECLARE_METATYPE(NorvaHardware::TouchContact)
Q_DECLARE_METATYPE(NorvaHardware::TouchStatus)
Q_DECLARE_METATYPE(NorvaHardware::PenEvent)
Q_DECLARE_METATYPE(NorvaHardware::EraseContact)
