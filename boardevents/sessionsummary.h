#pragma once

#include "boardpackets.h"
#include "contactreport.h"
#include "reportrates.h"

#include <QStringList>

#include <array>
#include <map>
#include <optional>
#include <utility>
#include <vector>

// What each board sent over a session: packets by kind, the contacts, the
// most contacts down at once, and how often each contact reported. A
// contact lasts from the report that puts it down to the one that lifts it,
// as for its rate: an id that comes down again is another contact.
// A board is its device id; packets whose board is not known count under
// a board of their own (no id).
class SessionSummary
{
public:
    using Board = std::optional<qint32>;

    // Lists a board even if it sends nothing.
    void addBoard(Board board);
    // A packet of the given kind and the contacts that it carries.
    void add(Board board, BoardPackets::Kind kind, const std::vector<ContactReport>& contacts);

    // The summary's lines, per board in the order they came: packets by
    // kind, contacts and the most down at once, then per contact kind
    // how often its contacts report, as ReportRates defines it: the contacts
    // with a rate and their median rate, and the intervals' count, median,
    // 99th percentile and longest.
    QStringList lines() const;

private:
    struct Stats
    {
        std::map<BoardPackets::Kind, int> packets;
        std::array<int, ContactReport::Kinds> contacts{};
        std::map<std::pair<int, int>, bool> isDown;
        int down = 0;
        int mostDown = 0;
        ReportRates rates;

        void report(const ContactReport& report);
    };

    Stats& stats(Board board);

    std::vector<std::pair<Board, Stats>> boards;
};
