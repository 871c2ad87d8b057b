#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <array>

// The connection to the board driver: it publishes every decoded board packet
// as a signal, emitted on the thread that delivered the packet.
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
    };

    explicit NorvaHardware(QObject* parent = nullptr);

    // Registers the record types under the names that string-based connections
    // use; queued delivery across threads depends on it.
    static void registerMetaTypes();

    // Decodes one packet (prefix already removed) and emits at most one signal.
    void dispatchPacket(const QByteArray& packet);

signals:
    void pnpEvent();
    void deviceEnumerated(int index, NorvaHardware::DeviceInfo info);
    void deviceEnumCount(int count);
    void penEvent(NorvaHardware::PenEvent ev);
    void touchEvent(NorvaHardware::TouchEvent ev);
    void eraseEvent(NorvaHardware::EraseEvent ev);
    void touchStatus(int id, NorvaHardware::TouchStatus status);

private:
    qint32 statusId = 0;
};

Q_DECLARE_METATYPE(NorvaHardware::DeviceInfo)
Q_DECLARE_METATYPE(NorvaHardware::TouchContact)
Q_DECLARE_METATYPE(NorvaHardware::TouchStatus)
Q_DECLARE_METATYPE(NorvaHardware::PenEvent)
Q_DECLARE_METATYPE(NorvaHardware::EraseContact)
