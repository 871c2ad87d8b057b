#include "sessionsummary.h"

#include <algorithm>
#include <cmath>

namespace {

QString boardName(const SessionSummary::Board& board)
{
    return board ? QString::number(*board) : QStringLiteral("?");
}

// The nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double p)
{
    const auto rank = std::size_t(std::ceil(p * double(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

} // namespace

void SessionSummary::Stats::report(Contact kind, int id, double ms, bool isDown)
{
    seen[kind].insert(id);
    LastReport& previous = last[{kind, id}];
    if (previous.down)
        intervals[kind].push_back(ms - previous.ms);
    down += int(isDown) - int(previous.down);
    mostDown = std::max(mostDown, down);
    previous = {ms, isDown};
}

SessionSummary::Stats& SessionSummary::stats(Board board)
{
    const auto found = std::find_if(boards.begin(), boards.end(),
                                    [&](const auto& entry) { return entry.first == board; });
    if (found != boards.end())
        return found->second;
    boards.emplace_back(board, Stats());
    return boards.back().second;
}

void SessionSummary::addBoard(Board board)
{
    stats(board);
}

void SessionSummary::add(Board board, double ms, const PacketReport& report)
{
    Stats& s = stats(board);
    ++s.packets[report.kind];
    if (report.kind == BoardPackets::Kind::Pen)
        s.report(Pen, report.pen.pen, ms, report.pen.tip);
    for (const NorvaHardware::TouchContact& c : report.touches)
        s.report(Touch, c.id, ms, c.down);
    for (const NorvaHardware::EraseContact& c : report.erasers)
        s.report(Eraser, c.id, ms, c.down);
}

QStringList SessionSummary::lines() const
{
    using Kind = BoardPackets::Kind;
    static const char* const names[ContactKinds] = {"pen", "touch", "eraser"};
    QStringList lines;
    for (const auto& [board, s] : boards) {
        const QString name = QStringLiteral("board ") + boardName(board);
        const auto count = [&s = s](Kind kind) {
            const auto found = s.packets.find(kind);
            return found == s.packets.end() ? 0 : found->second;
        };
        int total = 0;
        for (const auto& entry : s.packets)
            total += entry.second;
        lines << name + QStringLiteral(" packets %1 pen %2 touch %3 eraser %4 status %5 ignored %6")
                            .arg(total)
                            .arg(count(Kind::Pen))
                            .arg(count(Kind::Touch))
                            .arg(count(Kind::Erase))
                            .arg(count(Kind::TouchStatus))
                            .arg(count(Kind::Ignored));
        lines << name + QStringLiteral(" contacts pen %1 touch %2 eraser %3 most-down %4")
                            .arg(s.seen[Pen].size())
                            .arg(s.seen[Touch].size())
                            .arg(s.seen[Eraser].size())
                            .arg(s.mostDown);
        for (int kind = 0; kind < ContactKinds; ++kind) {
            std::vector<double> sorted = s.intervals[kind];
            QString line =
                name + ' ' + names[kind] + QStringLiteral(" intervals %1").arg(sorted.size());
            if (!sorted.empty()) {
                std::sort(sorted.begin(), sorted.end());
                const double median = percentile(sorted, 0.5);
                line += QStringLiteral(" median %1 ms p99 %2 ms")
                            .arg(median, 0, 'f', 2)
                            .arg(percentile(sorted, 0.99), 0, 'f', 2);
                if (median > 0)
                    line += QStringLiteral(" rate %1/s").arg(1000.0 / median, 0, 'f', 1);
            }
            lines << line;
        }
    }
    return lines;
}
