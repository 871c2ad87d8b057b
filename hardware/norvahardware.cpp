#include "norvahardware.h"

#include "boardpackets.h"

NorvaHardware::NorvaHardware(QObject* parent) : QObject(parent)
{
    registerMetaTypes();
}

void NorvaHardware::registerMetaTypes()
{
    qRegisterMetaType<DeviceInfo>("NorvaHardware::DeviceInfo");
    qRegisterMetaType<TouchContact>("NorvaHardware::TouchContact");
    qRegisterMetaType<TouchEvent>("NorvaHardware::TouchEvent");
    qRegisterMetaType<TouchStatus>("NorvaHardware::TouchStatus");
    qRegisterMetaType<PenEvent>("NorvaHardware::PenEvent");
    qRegisterMetaType<EraseContact>("NorvaHardware::EraseContact");
    qRegisterMetaType<EraseEvent>("NorvaHardware::EraseEvent");
}

void NorvaHardware::dispatchPacket(const QByteArray& packet)
{
    switch (BoardPackets::classify(packet)) {
    case BoardPackets::Kind::Pen:
        emit penEvent(BoardPackets::decodePen(packet));
        break;
    case BoardPackets::Kind::Touch:
        emit touchEvent(BoardPackets::decodeTouch(packet));
        break;
    case BoardPackets::Kind::Erase:
        emit eraseEvent(BoardPackets::decodeErase(packet));
        break;
    case BoardPackets::Kind::TouchStatus: {
        TouchStatus status;
        BoardPackets::decodeTouchStatus(packet, status);
        emit touchStatus(statusId, status);
        break;
    }
    case BoardPackets::Kind::Ignored:
        break;
    }
}
