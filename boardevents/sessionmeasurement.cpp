#include "sessionmeasurement.h"

#include <algorithm>

namespace {

// The kind of contact that a packet of the kind carries; status packets
// and those ignored carry none, and no frame rate counts them.
std::optional<ContactReport::Kind> contactKindOf(BoardPackets::Kind kind)
{
    switch (kind) {
    case BoardPackets::Kind::Pen:
        return ContactReport::Pen;
    case BoardPackets::Kind::Touch:
        return ContactReport::Touch;
    case BoardPackets::Kind::Erase:
        return ContactReport::Eraser;
    case BoardPackets::Kind::TouchStatus:
    case BoardPackets::Kind::Ignored:
        break;
    }
    return std::nullopt;
}

} // namespace

SessionMeasurement::SessionMeasurement(std::optional<BoardMeasurement::BoardSize> size,
                                       const MeasureLimits& limits)
    : size(size), limitsGiven(limits)
{
}

SessionMeasurement::Measured&
SessionMeasurement::entry(Board board, const NorvaHardware::DeviceInfo* info, bool* isNew)
{
    const auto found = std::find_if(measured.begin(), measured.end(),
                                    [&](const Measured& m) { return m.board == board; });
    *isNew = found == measured.end();
    if (!*isNew)
        return *found;
    Measured m;
    m.board = board;
    std::optional<BoardMeasurement::BoardSize> boardSize = size;
    if (boardSize) {
        m.sizeFrom = SizeFrom::Option;
    } else if (info && info->millimetres) {
        boardSize =
            BoardMeasurement::BoardSize{info->millimetres->width(), info->millimetres->height()};
        m.sizeFrom = SizeFrom::Description;
    }
    m.measurement = BoardMeasurement(boardSize, limitsGiven);
    measured.push_back(std::move(m));
    return measured.back();
}

bool SessionMeasurement::addBoard(qint32 device, const NorvaHardware::DeviceInfo& info)
{
    bool isNew = false;
    Measured& m = entry(device, &info, &isNew);
    m.info = info;
    return isNew && m.sizeFrom == SizeFrom::None;
}

bool SessionMeasurement::add(Board board, BoardPackets::Kind kind, double ms,
                             const std::vector<ContactReport>& contacts)
{
    bool isNew = false;
    Measured& m = entry(board, nullptr, &isNew);
    if (const std::optional<ContactReport::Kind> contactKind = contactKindOf(kind))
        m.measurement.addPacket(*contactKind, ms);
    for (const ContactReport& contact : contacts)
        m.measurement.add(contact);
    return isNew && m.sizeFrom == SizeFrom::None;
}

void SessionMeasurement::finish()
{
    for (Measured& m : measured)
        m.measurement.finish();
}
