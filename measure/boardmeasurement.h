#pragma once

#include "contactreport.h"
#include "coveragegrid.h"
#include "distribution.h"
#include "framerate.h"
#include "measurelimits.h"
#include "reportrates.h"
#include "sample.h"
#include "stilljitter.h"

#include <array>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

// Every figure of one board that the board events tool prints and the
// visualiser shows, from the reports of its contacts with their own times.
// One object per board; reports of boards that cannot be told apart may go
// to one object, which then measures them as one board.
//
// Given the board's size in millimetres (both above 0, else it counts as
// not given), a board unit is width / BoardUnits
// mm across and height / BoardUnits mm down. Without it every figure in
// millimetres is absent, and so are those that need a distance to decide
// (still runs, straight strokes, jumps, taps); rates, counts and coverage
// are still given.
//
// Figures, each defined where it is declared below or in the class that
// computes it:
// - report rates per kind (ReportRates) and per contact;
// - frame rates per kind (FrameRate), from the packets rather than reports;
// - still jitter and its RMS (StillJitter), judged against the jitter limit;
// - straightness of strokes drawn along a ruler (StrokeLine), judged
//   against the straightness limit;
// - the pen's report rate, judged against the pen-rate limit;
// - tap accuracy against targets, judged against the accuracy limit;
// - the most contacts down at once, per kind and all together;
// - anomalies: stuck contacts, orphan lifts, jumps and short contacts;
// - coverage of the board (CoverageGrid).
//
// A contact lasts from its report down to its lift, as ReportRates has it.
// Positions are those of its reports down: the lift ends the contact at its
// time, but what boards put in a lift differs (the last position, the pen
// already hovering, nothing), so its position counts for no figure.
//
// Cost: adding a report takes constant time, amortised, and in the common
// case allocates nothing: a contact's reports are kept until it lifts, in
// buffers used again by later contacts, what lasts per contact (the
// strokes) grows by doubling, and ReportRates counts the intervals in a
// histogram of bounded size (IntervalHistogram). A packet takes constant
// time into a histogram of fixed size (FrameRate). What a
// contact's whole path decides (straightness, jumps, taps) is computed once,
// when it lifts. Every read below is cheap enough for a display to call at
// each frame: none goes over the reports again.
//
// Not thread-safe, and it takes no lock: a caller that adds reports on one
// thread (the driver's, in the visualiser) and reads on another holds one
// mutex of its own around both. References returned stay valid until the
// next call that is not const.
class BoardMeasurement
{
public:
    // A contact that moves more than JumpDistance mm between two consecutive
    // reports less than JumpIntervals times its median interval apart jumps:
    // a lost report moves a contact far only in twice the time.
    static constexpr double JumpDistance = 50.0;
    static constexpr double JumpIntervals = 2.0;
    // A contact lifted less than this after it came down is short.
    static constexpr double ShortMs = 30.0;
    // A tap is a contact lifted within TapMs of coming down whose every
    // report lies less than TapMovement mm from its first. Its position is
    // the mean of its reports (a finger's roll as it lifts weighs no more
    // than any other report), and it hits the nearest target within
    // TapReach mm.
    static constexpr double TapMs = 1000.0;
    static constexpr double TapMovement = 5.0;
    static constexpr double TapReach = 15.0;

    struct BoardSize
    {
        double width = 0;
        double height = 0;
    };

    // Board units.
    struct Point
    {
        double x = 0;
        double y = 0;
    };

    // The contact a figure comes from, and when: the start of the contact,
    // of its still run or of the tap.
    struct Source
    {
        ContactReport::Kind kind = ContactReport::Touch;
        int id = 0;
        double ms = 0;
    };

    // A figure judged against a limit, with the contact that decides it.
    struct Limited
    {
        std::optional<double> value;
        MeasureLimits::Verdict verdict = MeasureLimits::Verdict::None;
        std::optional<Source> worst;
    };

    struct Anomalies
    {
        // Contacts still down when finish() was called.
        std::size_t stuck = 0;
        // Lifts of touches and erasers that were not down. A pen reports
        // while it hovers, with its tip up, so its reports up are no lifts.
        std::size_t orphanLifts = 0;
        // Pairs of consecutive reports that jump (JumpDistance), counted
        // when their contact lifts; none without the board's size.
        std::optional<std::size_t> jumps;
        // Contacts lifted less than ShortMs after they came down.
        std::size_t shortContacts = 0;
    };

    struct Figures
    {
        // Per kind, ReportRates' median of its contacts' rates; the
        // intervals' statistics are rates().figures().
        std::array<ReportRates::Rate, ContactReport::Kinds> rates;
        // Per kind, FrameRate::rate() of the packets added with addPacket().
        std::array<std::optional<double>, ContactReport::Kinds> frameRates;
        // The pen's rate; at least the limit passes. The worst contact is the
        // pen lifted with the lowest rate.
        Limited penRate;
        // The largest jitter of any contact's still run; at most the limit
        // passes. jitterRms is the largest RMS of a still run.
        Limited jitter;
        std::optional<double> jitterRms;
        // Contacts with a still run.
        std::size_t stillContacts = 0;
        // The largest straightness of a straight stroke; at most the limit
        // passes.
        Limited straightness;
        std::size_t straightStrokes = 0;
        // The largest offset of a tap from its target; at most the limit
        // passes. meanOffset is the mean of all taps' offsets.
        Limited accuracy;
        std::optional<double> meanOffset;
        std::size_t taps = 0;

        // Contacts down now, and the most at once since the start or the last
        // clear(), all kinds together (contacts of different kinds down at
        // one time add up) and per kind, for comparison with what the board
        // declares for pens and for touches.
        int downNow = 0;
        int mostAtOnce = 0;
        std::array<int, ContactReport::Kinds> mostAtOnceOfKind{};

        Anomalies anomalies;
        // CoverageGrid::share().
        double coverage = 0;
        std::size_t strokes = 0;
    };

    // A contact from down to up (or to finish(), for one that never lifted).
    struct Stroke
    {
        ContactReport::Kind kind = ContactReport::Touch;
        int id = 0;
        double startMs = 0;
        double endMs = 0;
        // False for a contact stuck down.
        bool lifted = true;
        // Its lift included.
        std::size_t reports = 0;
        // ReportRates::rate() of its intervals.
        std::optional<double> rate;
        // Along its path, mm.
        std::optional<double> length;
        // The largest of its still runs' (StillJitter); absent when never
        // still.
        std::optional<double> jitter;
        std::optional<double> jitterRms;
        // Absent when not a straight stroke (StrokeLine).
        std::optional<double> straightness;
        std::size_t jumps = 0;
    };

    struct Tap
    {
        Source source;
        // Into targets().
        std::size_t target = 0;
        // From the target to the tap, mm, and its length.
        double dx = 0;
        double dy = 0;
        double offset = 0;
    };

    // For drawing: where a contact was held still and how much it scattered.
    struct StillContact
    {
        Source source;
        Point mean;
        // The jitter as radii in board units, which differ across and down
        // unless the board's units are square.
        double radiusX = 0;
        double radiusY = 0;
        double jitter = 0;
        double rms = 0;
        // Still now, rather than a run that ended.
        bool ongoing = false;
    };

    // For drawing: a straight stroke's fitted line between the projections
    // of its ends.
    struct StraightStroke
    {
        Source source;
        Point from;
        Point to;
        double straightness = 0;
    };

    explicit BoardMeasurement(std::optional<BoardSize> size = std::nullopt,
                              const MeasureLimits& limits = {});

    const std::optional<BoardSize>& boardSize() const { return m_size; }
    void setLimits(const MeasureLimits& limits) { m_limits = limits; }
    const MeasureLimits& limits() const { return m_limits; }
    // Taps are matched against these from the next one that lifts.
    void setTargets(std::vector<Point> targets) { m_targets = std::move(targets); }
    const std::vector<Point>& targets() const { return m_targets; }

    // Reports of each contact in the order they came, from any thread that
    // holds the caller's lock.
    void add(const ContactReport& report);
    // A packet of the kind came at this time, whatever contacts it carries
    // (each given to add() as well): what the frame rate counts.
    void addPacket(ContactReport::Kind kind, double ms);
    // The session is over: contacts still down are stuck, and end here as
    // strokes that never lifted, with the figures of what they reported.
    void finish();
    // Forgets every figure and stroke; limits and targets stay. A contact
    // down now counts as coming down at its next report, and its lift
    // without one ends nothing, as for ReportRates.
    void clear();

    Figures figures() const;
    // The contact that was held still most recently: the one still now, else
    // the last still run that ended.
    std::optional<StillContact> lastStill() const;
    std::optional<StraightStroke> lastStraight() const { return m_lastStraight; }
    const CoverageGrid& coverage() const { return m_coverage; }
    // In the order they ended.
    const std::vector<Stroke>& strokes() const { return m_strokes; }
    const std::vector<Tap>& taps() const { return m_taps; }
    // The intervals' statistics per kind: ReportRates::figures() goes over
    // the histogram of every interval of the session, tens of thousands of
    // counts, so a report calls it, not a display at every frame.
    const ReportRates& rates() const { return m_rates; }

private:
    struct Contact
    {
        ContactReport::Kind kind = ContactReport::Touch;
        int id = 0;
        // False when held across clear(): it starts at its next report down.
        bool started = true;
        double firstMs = 0;
        double lastMs = 0;
        std::size_t reports = 0;
        // Board units.
        double lastX = 0;
        double lastY = 0;
        // With the board's size only: its reports down, in mm.
        std::vector<Sample> samples;
        double length = 0;
        StillJitter still;
        double sumX = 0;
        double sumY = 0;
        // The largest squared distance of a report from its first, mm².
        double tapReach = 0;
    };

    // A figure's worst so far.
    struct Worst
    {
        double value = 0;
        Source source;
    };

    Contact* find(ContactReport::Kind kind, int id);
    // A contact down that was not, with the buffers of one lifted before.
    Contact& comeDown(ContactReport::Kind kind, int id);
    void begin(Contact& contact, const ContactReport& report);
    void move(Contact& contact, const ContactReport& report);
    void track(Contact& contact, const Sample& sample);
    // After a still run of the contact ended.
    void runEnded(const Contact& contact);
    void end(std::size_t index, bool lifted);
    Stroke measure(Contact& contact, bool lifted);
    std::size_t countJumps(const Contact& contact, bool lifted);
    void tap(const Contact& contact);
    Sample sample(const ContactReport& report) const;
    Point point(double xMm, double yMm) const;
    StillContact stillContact(const Source& source, const StillJitter::Run& run,
                              bool ongoing) const;
    static void raise(std::optional<Worst>& worst, double value, const Source& source);

    std::optional<BoardSize> m_size;
    // Millimetres per board unit across and down.
    double m_mmX = 0;
    double m_mmY = 0;
    MeasureLimits m_limits;
    std::vector<Point> m_targets;

    ReportRates m_rates;
    std::array<FrameRate, ContactReport::Kinds> m_frames;
    // Contacts down, and buffers of lifted ones kept for the next.
    std::vector<Contact> m_down;
    std::vector<Contact> m_spare;
    std::array<int, ContactReport::Kinds> m_downOfKind{};
    int m_mostAtOnce = 0;
    std::array<int, ContactReport::Kinds> m_mostAtOnceOfKind{};

    std::vector<Stroke> m_strokes;
    std::vector<Tap> m_taps;
    CoverageGrid m_coverage;
    Anomalies m_anomalies;
    // A contact's intervals when it lifts, for their median.
    Distribution m_intervals;

    std::optional<Worst> m_jitter;
    std::optional<double> m_jitterRms;
    std::size_t m_stillContacts = 0;
    std::optional<Worst> m_straightness;
    std::size_t m_straightStrokes = 0;
    std::optional<Worst> m_slowestPen;
    std::optional<Worst> m_farthestTap;
    double m_offsetSum = 0;

    // The contact shown as still while its run goes on, and the last run
    // shown that ended.
    std::optional<Source> m_stillNow;
    std::optional<StillContact> m_stillEnded;
    std::optional<StraightStroke> m_lastStraight;
};
