#pragma once

#include "boardmeasurement.h"
#include "boardpackets.h"
#include "eventtranslator.h"
#include "recording.h"

#include <optional>
#include <vector>

// The contact reports of a recording as a board gives them: its events
// translated into board packets and decoded, each report with the time of
// the frame that gave it, in ms. Contacts still down at its end are lifted
// at the time of its last event, as a device that goes away lifts them.
inline std::vector<ContactReport> recordedReports(const Recording& recording)
{
    std::vector<ContactReport> reports;
    const auto decode = [&reports](const std::vector<EventTranslator::Packet>& packets, double ms) {
        for (const EventTranslator::Packet& bytes : packets) {
            const QByteArray packet(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
            switch (BoardPackets::classify(packet)) {
            case BoardPackets::Kind::Pen: {
                const NorvaHardware::PenEvent pen = BoardPackets::decodePen(packet);
                reports.push_back(
                    {ContactReport::Pen, pen.pen, pen.tip, double(pen.x), double(pen.y), ms});
                break;
            }
            case BoardPackets::Kind::Touch:
                for (const NorvaHardware::TouchContact& c : BoardPackets::decodeTouch(packet))
                    reports.push_back(
                        {ContactReport::Touch, c.id, c.down, double(c.x), double(c.y), ms});
                break;
            case BoardPackets::Kind::Erase:
                for (const NorvaHardware::EraseContact& c : BoardPackets::decodeErase(packet))
                    reports.push_back(
                        {ContactReport::Eraser, c.id, c.down, double(c.x), double(c.y), ms});
                break;
            default:
                break;
            }
        }
    };
    EventTranslator translator(recording.device);
    for (const InputDevice::Event& event : recording.events)
        decode(translator.feed(event), double(event.time) / 1000);
    decode(translator.finish(),
           recording.events.empty() ? 0 : double(recording.events.back().time) / 1000);
    return reports;
}

// The size that the recording's description gives the board, if any.
inline std::optional<BoardMeasurement::BoardSize> recordedBoardSize(const InputDevice& device)
{
    const std::optional<InputDevice::Size> mm = device.millimetres();
    if (!mm)
        return std::nullopt;
    return BoardMeasurement::BoardSize{mm->width, mm->height};
}
