#include "reportrates.h"

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
    if (const auto r = rate(contact.intervals, contact.lastMs - contact.firstMs))
        kind.rates.add(*r);
    kind.down.erase(found);
}

ReportRates::Figures ReportRates::figures(ContactReport::Kind which) const
{
    const Kind& kind = kinds[which];
    Distribution rates = kind.rates;
    for (const auto& entry : kind.down) {
        const Contact& contact = entry.second;
        if (const auto r = rate(contact.intervals, contact.lastMs - contact.firstMs))
            rates.add(*r);
    }
    Figures figures;
    figures.ratedContacts = rates.count();
    if (!rates.isEmpty())
        figures.rate = rates.median();
    figures.intervals = kind.intervals.count();
    if (!kind.intervals.isEmpty()) {
        figures.median = kind.intervals.median();
        figures.p99 = kind.intervals.percentile(0.99);
        figures.longest = kind.intervals.largest();
    }
    return figures;
}
