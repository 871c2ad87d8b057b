#pragma once

#include "boardpackets.h"
#include "contactreport.h"
#include "norvahardware.h"

#include <QByteArray>
#include <QString>

#include <vector>

// One packet as the driver delivered it, decoded by the board packet decoders,
// and the text that the board events tool prints for it.
struct PacketReport
{
    QByteArray bytes; // as delivered, prefix included
    quint32 tag = 0;  // the driver's tag of the packet
    BoardPackets::Kind kind = BoardPackets::Kind::Ignored;
    NorvaHardware::PenEvent pen;
    NorvaHardware::TouchEvent touches;
    NorvaHardware::EraseEvent erasers;
    NorvaHardware::TouchStatus status;

    static PacketReport decode(const QByteArray& delivered, quint32 tag);

    // Each contact that the packet carries, in packet order, as the measuring
    // core takes it, with the time the packet came: a pen is down while its
    // tip is, a touch or an eraser while its down bit is set.
    std::vector<ContactReport> contacts(double ms) const;

    // What the packet carries, e.g. "pen 0 16384 8000 tip" or
    // "touch 1 down 4000 6000 300; 2 up 9000 6000 300": for pens, touches and
    // erasers the simulated board's scenario command that sends the packet.
    QString text() const;
    // The delivered bytes in hex, two digits a byte, separated by spaces.
    QString hex() const;
};
