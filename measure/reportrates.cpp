#include "reportrates.h"

#include <algorithm>
#include <vector>

std::optional<double> ReportRates::rate(std::size_t intervals, double ms)
{
    if (intervals == 0 || !(ms > 0))
        return std::nullopt;
    return double(intervals) * 1000.0 / ms;
}

void ReportRates::add(const ContactReport& report)
{
    Kind& kind = kinds[report.kind];
    const auto found = kind.down.find(report.id);
    if (found == kind.down.end()) {
        if (report.down)
            kind.down.emplace(report.id, Contact{report.ms, report.ms, 0});
        return;
    }
    Contact& contact = found->second;
    kind.intervals.add(report.ms - contact.lastMs);
    ++contact.intervals;
    contact.lastMs = report.ms;
    if (report.down)
        return;
    if (const auto r = rate(contact.intervals, contact.lastMs - contact.firstMs)) {
        kind.meanIntervals.add(1000.0 / *r);
        kind.lowest = std::min(kind.lowest.value_or(*r), *r);
    }
    kind.down.erase(found);
}

ReportRates::Rate ReportRates::boardRate(ContactReport::Kind which) const
{
    const Kind& kind = kinds[which];
    Rate result;
    result.lowest = kind.lowest;
    // The few contacts down, exactly.
    std::vector<double> down;
    for (const auto& entry : kind.down) {
        const Contact& contact = entry.second;
        if (const auto r = rate(contact.intervals, contact.lastMs - contact.firstMs)) {
            down.push_back(1000.0 / *r);
            result.lowest = std::min(result.lowest.value_or(*r), *r);
        }
    }
    std::sort(down.begin(), down.end());
    const std::size_t n = kind.meanIntervals.count() + down.size();
    result.ratedContacts = n;
    if (n == 0)
        return result;
    // The median rate, by nearest rank, is the rate of the mean interval of
    // the rank counted from the other end.
    const std::size_t rank = (n + 1) / 2;
    result.rate = 1000.0 / kind.meanIntervals.ofRank(n - rank + 1, down);
    return result;
}

ReportRates::Figures ReportRates::figures(ContactReport::Kind which) const
{
    const Kind& kind = kinds[which];
    const Rate r = boardRate(which);
    Figures figures;
    figures.ratedContacts = r.ratedContacts;
    figures.rate = r.rate;
    figures.lowest = r.lowest;
    figures.intervals = kind.intervals.count();
    if (!kind.intervals.isEmpty()) {
        figures.median = kind.intervals.median();
        figures.p99 = kind.intervals.percentile(0.99);
        figures.longest = kind.intervals.largest();
    }
    return figures;
}
