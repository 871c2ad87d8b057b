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

SessionMeasurement::SessionMeasurement(std::optional<BoardMeasurement::BoardSize> size) : size(size)
{
}

SessionMeasurement::Measured&
SessionMeasurement::entry(Board board, const NorvaHardware::DeviceInfo* info, Found* found)
{
    const auto latest = std::find_if(measured.rbegin(), measured.rend(),
                                     [&](const Measured& m) { return m.board == board; });
    *found = latest == measured.rend() ? Found::New : Found::Known;
    if (*found == Found::Known) {
        const auto& had = latest->measurement.boardSize();
        const auto& has = info ? info->millimetres : std::nullopt;
        const bool resized =
            info && latest->sizeFrom != SizeFrom::Option &&
            (had.has_value() != has.has_value() ||
             (had && (had->width != has->width() || had->height != has->height())));
        if (!resized)
            return *latest;
        *found = Found::Resized;
    }
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
    m.measurement = BoardMeasurement(boardSize);
    measured.push_back(std::move(m));
    return measured.back();
}

SessionMeasurement::Found
SessionMeasurement::addBoard(qint32 device, const NorvaHardware::DeviceInfo& info, bool* sizeNeeded)
{
    Found found = Found::Known;
    Measured& m = entry(device, &info, &found);
    m.info = info;
    *sizeNeeded = found == Found::New && m.sizeFrom == SizeFrom::None;
    return found;
}

bool SessionMeasurement::add(Board board, BoardPackets::Kind kind, double ms,
                             const std::vector<ContactReport>& contacts)
{
    Found found = Found::Known;
    Measured& m = entry(board, nullptr, &found);
    if (const std::optional<ContactReport::Kind> contactKind = contactKindOf(kind))
        m.measurement.addPacket(*contactKind, ms);
    for (const ContactReport& contact : contacts)
        m.measurement.add(contact);
    return found == Found::New && m.sizeFrom == SizeFrom::None;
}

void SessionMeasurement::finish()
{
    for (Measured& m : measured)
        m.measurement.finish();
}
