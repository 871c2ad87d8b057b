#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

// Keeps the packets that a live device's board has waiting for the host
// within a bound, as a synchronous channel keeps its own: a host that stalls
// must cost neither memory nor delay without end. Past the bound a frame's
// packets are dropped, all but the lifts of contacts that the host was sent
// down, so that every contact that it saw come down also ends; what it never
// saw come down, it need not see end.
class LiveBacklog
{
public:
    using Packet = std::vector<uint8_t>;

    static constexpr std::size_t Capacity = 256;

    // What to queue of a frame's packets, with waiting of the board's queued
    // already: all of them while there is room, then only lifts (a touch
    // packet cut down to them).
    std::vector<Packet> admit(const std::vector<Packet>& frame, std::size_t waiting);
    // The packets dropped since the host last caught up, once nothing is
    // waiting any more; else 0.
    std::size_t caughtUp(std::size_t waiting);

private:
    // The lifts of contacts that the host was sent down; empty for none.
    Packet liftsOf(const Packet& packet) const;
    void note(const Packet& packet);

    // The contacts that the host was sent down: pens by index, touch
    // contacts by 16 + id, eraser contacts by 144 + id.
    std::set<int> m_down;
    std::size_t m_dropped = 0;
};
