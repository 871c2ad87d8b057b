#pragma once

#include "contactreport.h"
#include "intervalhistogram.h"

#include <array>
#include <cstddef>
#include <map>
#include <optional>

// How often the contacts of one board report, per kind, from their reports
// and the times they came.
//
// A contact lasts from the report that puts it down to the one that lifts
// it; an id that comes down again is a new contact. Each report of a contact
// that is down starts an interval, which the contact's next report ends, so
// the time between two contacts of an id counts for neither. A contact's
// rate is its reports per second while it is down: its intervals over their
// time. A contact with a single report, or whose reports all came at one
// time, has no rate. Whether several contacts came in one packet or a scan
// was sent as several packets does not change any of this.
//
// A kind's rate is the median of its contacts' rates (nearest rank), beside
// the lowest of them. The contacts' rates are counted rather than kept, as
// their mean intervals (IntervalHistogram), so that a session of millions of
// contacts takes bounded memory: the median is the rate of a mean interval
// to the nearest microsecond (0.01 % of a rate of 100 a second), the lowest
// exact.
class ReportRates
{
public:
    struct Figures
    {
        // The contacts that have a rate, their median rate (nearest rank):
        // the kind's reports per second, and the lowest.
        std::size_t ratedContacts = 0;
        std::optional<double> rate;
        std::optional<double> lowest;
        // The intervals of all the kind's contacts, in milliseconds: their
        // count, median, 99th percentile (nearest rank) and the longest,
        // which a stall or dropout shows as a percentile does not. The
        // percentiles are true to IntervalHistogram's resolution (the
        // nearest microsecond up to 65.536 ms), the longest exactly.
        std::size_t intervals = 0;
        std::optional<double> median;
        std::optional<double> p99;
        std::optional<double> longest;
    };

    // The first three of Figures alone.
    struct Rate
    {
        std::size_t ratedContacts = 0;
        std::optional<double> rate;
        std::optional<double> lowest;
    };

    // Reports of each contact in the order they came.
    void add(const ContactReport& report);
    // Contacts still down count with what they reported so far.
    Figures figures(ContactReport::Kind kind) const;
    // The kind's rate without the intervals' statistics: it goes over the
    // kind's contacts only, not over every interval, so that a display can
    // read it while reports come.
    Rate boardRate(ContactReport::Kind kind) const;

    // Reports per second over the given intervals and their total time in
    // milliseconds; none without either.
    static std::optional<double> rate(std::size_t intervals, double ms);

private:
    struct Contact
    {
        double firstMs = 0;
        double lastMs = 0;
        std::size_t intervals = 0;
    };

    struct Kind
    {
        std::map<int, Contact> down;
        // Counted, not kept: a session that runs for hours would otherwise
        // keep 8 bytes a report.
        IntervalHistogram intervals;
        // Of the contacts lifted so far: their mean intervals, ms a report,
        // and the lowest rate.
        IntervalHistogram meanIntervals;
        std::optional<double> lowest;
    };

    std::array<Kind, ContactReport::Kinds> kinds;
};
