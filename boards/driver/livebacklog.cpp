#include "livebacklog.h"

#include <utility>

namespace {

constexpr uint8_t PenType = 0x21;
constexpr uint8_t TouchType = 0x45;
constexpr uint8_t EraserType = 0x46;
constexpr uint8_t DownBit = 0x80;
constexpr uint8_t TipBit = 0x01;
constexpr std::size_t PenSize = 8;
constexpr std::size_t TouchContactSize = 7;
constexpr std::size_t EraserSize = 11;
constexpr int TouchKeys = 16;
constexpr int EraserKeys = TouchKeys + 128;

bool isPen(const LiveBacklog::Packet& packet)
{
    return packet.size() >= PenSize && packet[1] == PenType;
}

bool isEraser(const LiveBacklog::Packet& packet)
{
    return packet.size() >= EraserSize && packet[1] == EraserType;
}

bool isTouch(const LiveBacklog::Packet& packet)
{
    return packet.size() >= 2 && packet[1] == TouchType;
}

} // namespace

std::vector<LiveBacklog::Packet> LiveBacklog::admit(const std::vector<Packet>& frame,
                                                    std::size_t waiting)
{
    std::vector<Packet> queued;
    for (const Packet& packet : frame) {
        Packet kept = waiting + queued.size() < Capacity ? packet : liftsOf(packet);
        if (kept.empty()) {
            ++m_dropped;
            continue;
        }
        note(kept);
        queued.push_back(std::move(kept));
    }
    return queued;
}

std::size_t LiveBacklog::caughtUp(std::size_t waiting)
{
    return waiting == 0 ? std::exchange(m_dropped, 0) : 0;
}

LiveBacklog::Packet LiveBacklog::liftsOf(const Packet& packet) const
{
    if (isPen(packet))
        return !(packet[PenSize - 1] & TipBit) && m_down.count(packet[2]) ? packet : Packet();
    if (isEraser(packet)) {
        const int key = EraserKeys + (packet[2] & ~DownBit);
        return !(packet[2] & DownBit) && m_down.count(key) ? packet : Packet();
    }
    if (!isTouch(packet))
        return {};
    Packet lifts{0, TouchType};
    for (std::size_t at = 2; at + TouchContactSize <= packet.size(); at += TouchContactSize) {
        if (!(packet[at] & DownBit) && m_down.count(TouchKeys + packet[at]))
            lifts.insert(lifts.end(), packet.begin() + long(at),
                         packet.begin() + long(at + TouchContactSize));
    }
    if (lifts.size() == 2)
        return {};
    lifts[0] = uint8_t(lifts.size());
    return lifts;
}

void LiveBacklog::note(const Packet& packet)
{
    const auto set = [this](int key, bool down) {
        if (down)
            m_down.insert(key);
        else
            m_down.erase(key);
    };
    if (isPen(packet)) {
        set(packet[2], packet[PenSize - 1] & TipBit);
    } else if (isEraser(packet)) {
        set(EraserKeys + (packet[2] & ~DownBit), packet[2] & DownBit);
    } else if (isTouch(packet)) {
        for (std::size_t at = 2; at + TouchContactSize <= packet.size(); at += TouchContactSize)
            set(TouchKeys + (packet[at] & ~DownBit), packet[at] & DownBit);
    }
}
