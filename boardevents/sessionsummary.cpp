#include "sessionsummary.h"

#include <algorithm>

namespace {

QString boardName(const SessionSummary::Board& board)
{
    return board ? QString::number(*board) : QStringLiteral("?");
}

QString milliseconds(const std::optional<double>& ms)
{
    return QString::number(ms.value_or(0), 'f', 2) + QStringLiteral(" ms");
}

} // namespace

void SessionSummary::Stats::report(const ContactReport& report)
{
    bool& wasDown = isDown[{report.kind, report.id}];
    contacts[report.kind] += int(report.down && !wasDown);
    down += int(report.down) - int(wasDown);
    mostDown = std::max(mostDown, down);
    wasDown = report.down;
    rates.add(report);
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

void SessionSummary::add(Board board, BoardPackets::Kind kind,
                         const std::vector<ContactReport>& contacts)
{
    Stats& s = stats(board);
    ++s.packets[kind];
    for (const ContactReport& contact : contacts)
        s.report(contact);
}

QStringList SessionSummary::lines() const
{
    using Kind = BoardPackets::Kind;
    static const char* const names[ContactReport::Kinds] = {"pen", "touch", "eraser"};
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
                            .arg(s.contacts[ContactReport::Pen])
                            .arg(s.contacts[ContactReport::Touch])
                            .arg(s.contacts[ContactReport::Eraser])
                            .arg(s.mostDown);
        for (int kind = 0; kind < ContactReport::Kinds; ++kind) {
            const ReportRates::Figures f = s.rates.figures(ContactReport::Kind(kind));
            QString line = name + ' ' + names[kind] +
                           QStringLiteral(" rated-contacts %1 rate ").arg(f.ratedContacts) +
                           (f.rate ? QString::number(*f.rate, 'f', 1) + QStringLiteral("/s")
                                   : QStringLiteral("none")) +
                           QStringLiteral(" intervals %1").arg(f.intervals);
            if (f.intervals > 0)
                line += QStringLiteral(" median ") + milliseconds(f.median) +
                        QStringLiteral(" p99 ") + milliseconds(f.p99) +
                        QStringLiteral(" longest ") + milliseconds(f.longest);
            lines << line;
        }
    }
    return lines;
}
