#pragma once

#include "boardmeasurement.h"
#include "boardpackets.h"
#include "norvahardware.h"

#include <QtGlobal>

#include <optional>
#include <vector>

// The measuring core's figures of each board over a session, fed with the
// contacts of every packet as it came. A board is its device id, as in the
// summary; packets whose board is not known go to a board of their own (no
// id), which measures those of every board present as one board.
//
// A board's size in millimetres is the one given for every board, else the
// one its description gives (mm<W,H>), else none: then its figures in
// millimetres are absent. It is taken when the board first comes.
class SessionMeasurement
{
public:
    using Board = std::optional<qint32>;

    enum class SizeFrom
    {
        None,
        Option,
        Description
    };

    struct Measured
    {
        Board board;
        // As the last enumeration described it; none for the board of packets
        // whose board is not known.
        std::optional<NorvaHardware::DeviceInfo> info;
        SizeFrom sizeFrom = SizeFrom::None;
        BoardMeasurement measurement;
    };

    SessionMeasurement(std::optional<BoardMeasurement::BoardSize> size,
                       const MeasureLimits& limits);

    // A board found by an enumeration. True when it is new to the session
    // and has no size, which a person should hear of while there is time to
    // give one.
    bool addBoard(qint32 device, const NorvaHardware::DeviceInfo& info);
    // One packet of the board, of the kind, that came at ms with these
    // contacts. True as for addBoard, when the board comes with this packet.
    bool add(Board board, BoardPackets::Kind kind, double ms,
             const std::vector<ContactReport>& contacts);
    // The session is over: contacts still down are stuck.
    void finish();

    const MeasureLimits& limits() const { return limitsGiven; }
    // In the order they came.
    const std::vector<Measured>& boards() const { return measured; }

private:
    // The board's entry, made with the size that it has now if it is new.
    Measured& entry(Board board, const NorvaHardware::DeviceInfo* info, bool* isNew);

    std::optional<BoardMeasurement::BoardSize> size;
    MeasureLimits limitsGiven;
    std::vector<Measured> measured;
};
