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
// millimetres are absent. It is taken when the board first comes; a board
// that comes again with another size is measured anew, beside what it
// measured before, so that no figure mixes two sizes.
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

    explicit SessionMeasurement(std::optional<BoardMeasurement::BoardSize> size);

    enum class Found
    {
        Known,
        // New to the session, or back with another size: measured anew.
        New,
        Resized,
    };
    // A board found by an enumeration. sizeNeeded is set when it is new and
    // has no size, which a person should hear of while there is time to give
    // one.
    Found addBoard(qint32 device, const NorvaHardware::DeviceInfo& info, bool* sizeNeeded);
    // One packet of the board, of the kind, that came at ms with these
    // contacts. True as for addBoard, when the board comes with this packet.
    bool add(Board board, BoardPackets::Kind kind, double ms,
             const std::vector<ContactReport>& contacts);
    // The session is over: contacts still down are stuck.
    void finish();

    // In the order they came.
    const std::vector<Measured>& boards() const { return measured; }

private:
    // The board's latest entry, made with the size that it has now if it is
    // new or its size changed.
    Measured& entry(Board board, const NorvaHardware::DeviceInfo* info, Found* found);

    std::optional<BoardMeasurement::BoardSize> size;
    std::vector<Measured> measured;
};
