#pragma once

#include "packetreport.h"

#include <QStringList>

#include <array>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

// What each board sent over a session: packets by kind, the contacts seen,
// the most contacts down at once, and how often each contact reported.
// A board is its device id; packets whose board is not known count under
// a board of their own (no id).
class SessionSummary
{
public:
    using Board = std::optional<qint32>;

    // Lists a board even if it sends nothing.
    void addBoard(Board board);
    void add(Board board, double ms, const PacketReport& report);

    // The summary's lines, per board in the order they came: packets by
    // kind, contacts seen and the most down at once, then per contact kind
    // the intervals between reports of one contact that is down (its next
    // report, whatever it says, ends the interval): their count, median and
    // 99th percentile (nearest rank) and the report rate the median gives.
    QStringList lines() const;

private:
    enum Contact
    {
        Pen,
        Touch,
        Eraser,
        ContactKinds
    };

    struct LastReport
    {
        double ms = 0;
        bool down = false;
    };

    struct Stats
    {
        std::map<BoardPackets::Kind, int> packets;
        std::array<std::set<int>, ContactKinds> seen;
        std::map<std::pair<int, int>, LastReport> last;
        int down = 0;
        int mostDown = 0;
        std::array<std::vector<double>, ContactKinds> intervals;

        void report(Contact kind, int id, double ms, bool down);
    };

    Stats& stats(Board board);

    std::vector<std::pair<Board, Stats>> boards;
};
