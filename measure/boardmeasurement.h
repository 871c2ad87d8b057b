#pragma once

#include "contactreport.h"
#include "coveragegrid.h"
#include "framerate.h"
#include "reportrates.h"
#include "sample.h"
#include "stilljitter.h"
#include "strokeline.h"

#include <array>
#include <cstddef>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

// Every figure of one board that the board events tool prints and the
// visualiser shows, from the reports of its contacts with their own times.
// One object per board; reports of boards that cannot be told apart may go
// to one object, which then measures them as one board.
//
// The figures are observations of whatever the board was used for: they
// judge nothing, as they cannot know what the person meant to do (hold
// still, draw along a ruler, hit a target). Verdicts come from the board
// check (BoardCheck), which asks for each of those.
//
// Given the board's size in millimetres (both above 0, else it counts as
// not given), a board unit is width / BoardUnits mm across and height /
// BoardUnits mm down. Without it every figure in millimetres is absent, and
// so are those that need a distance to decide (still runs, straight strokes,
// jumps, taps); rates, counts and coverage are still given.
//
// Figures, each defined where it is declared below or in the class that
// computes it:
// - report rates per kind (ReportRates): the median contact, and the lowest;
// - frame rates per kind (FrameRate), from the packets rather than reports;
// - still jitter and its RMS (StillJitter), leaving out each contact's first
//   SettleMs;
// - straightness of strokes drawn along a ruler (StrokeLine);
// - taps' offsets from targets;
// - the most contacts down at once, per kind and all together;
// - anomalies: stuck contacts, orphan lifts, jumps and short contacts;
// - coverage of the board (CoverageGrid).
//
// A contact lasts from its report down to its lift, as ReportRates has it.
// Positions are those of its reports down: the lift ends the contact at its
// time, but what boards put in a lift differs (the last position, the pen
// already hovering, nothing), so its position counts for no figure.
//
// Memory is bounded however long the session and each contact last: no
// report is kept. A contact is streamed into what its figures need, the
// sums and the convex hull of its reports (StillJitter, StrokeLine), its
// length, its reach as a tap and the few pairs of reports that may be jumps
// (at most MaxJumpCandidates); rates and frame rates are counted in
// histograms of bounded size. Of the strokes and taps, the last MaxStrokes
// and MaxTaps are kept, and how many went before them is counted. Adding a
// report takes constant time, amortised; a contact's straightness and jumps
// are decided when it lifts. Every read below is cheap enough for a display
// to call at each frame; figures() walks the histogram of the contacts'
// rates up to their median (about 10 µs), and rates() every histogram.
//
// Not thread-safe, and it takes no lock: a caller that adds reports on one
// thread (the driver's, in the visualiser) and reads on another holds one
// mutex of its own around both. References returned stay valid until the
// next call that is not const.
class BoardMeasurement
{
public:
    // A contact that moves more than JumpDistance mm between two consecutive
    // reports less than JumpIntervals times its kind's median interval apart
    // jumps: a lost report moves a contact far only in twice the time.
    static constexpr double JumpDistance = 50.0;
    static constexpr double JumpIntervals = 2.0;
    // A contact lifted less than this after it came down is short.
    static constexpr double ShortMs = 30.0;
    // A contact's reports in its first SettleMs count for no still run: a
    // finger settles as it comes down.
    static constexpr double SettleMs = 500.0;
    // A tap is a contact lifted within TapMs of coming down whose every
    // report lies less than TapMovement mm from its first. Its position is
    // the mean of its reports (a finger's roll as it lifts weighs no more
    // than any other report), and it hits the nearest target within
    // TapReach mm.
    static constexpr double TapMs = 1000.0;
    static constexpr double TapMovement = 5.0;
    static constexpr double TapReach = 15.0;
    // What is kept of a session of any length.
    static constexpr std::size_t MaxStrokes = 10000;
    static constexpr std::size_t MaxTaps = 1000;
    static constexpr std::size_t MaxJumpCandidates = 1024;

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

    // A contact, and when: the start of the contact, of its still run or of
    // the tap.
    struct Source
    {
        ContactReport::Kind kind = ContactReport::Touch;
        int id = 0;
        double ms = 0;
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

    // The still run of the largest jitter: whose, from when, how long and
    // of how many reports.
    struct StillRun
    {
        Source source;
        double lengthMs = 0;
        std::size_t reports = 0;
    };

    struct Figures
    {
        // Per kind, ReportRates' median and lowest of its contacts' rates;
        // the intervals' statistics are rates().figures().
        std::array<ReportRates::Rate, ContactReport::Kinds> rates;
        // Per kind, FrameRate::rate() of the packets added with addPacket().
        std::array<std::optional<double>, ContactReport::Kinds> frameRates;
        // The largest jitter of any contact's still run, and its run; the
        // largest RMS of a still run.
        std::optional<double> jitter;
        std::optional<StillRun> jitterRun;
        std::optional<double> jitterRms;
        // Contacts with a still run.
        std::size_t stillContacts = 0;
        // The largest straightness of a straight stroke.
        std::optional<double> straightness;
        std::size_t straightStrokes = 0;
        // Of the taps on targets: the largest and the mean offset.
        std::optional<double> largestOffset;
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
        // Every stroke that ended, those not kept among them.
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
        // The run's length and reports.
        double lengthMs = 0;
        std::size_t reports = 0;
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

    explicit BoardMeasurement(std::optional<BoardSize> size = std::nullopt);

    const std::optional<BoardSize>& boardSize() const { return m_size; }
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
    // Forgets every figure and stroke; the targets stay. A contact down now
    // counts as coming down at its next report, and its lift without one
    // ends nothing, as for ReportRates.
    void clear();

    Figures figures() const;
    // The contact that was held still most recently: the one still now, else
    // the last still run that ended.
    std::optional<StillContact> lastStill() const;
    std::optional<StraightStroke> lastStraight() const { return m_lastStraight; }
    const CoverageGrid& coverage() const { return m_coverage; }
    // The last MaxStrokes in the order they ended, and how many ended
    // before them.
    const std::deque<Stroke>& strokes() const { return m_strokes; }
    std::size_t strokesLeftOut() const { return m_strokesLeftOut; }
    // The last MaxTaps, and how many came before them.
    const std::deque<Tap>& taps() const { return m_taps; }
    std::size_t tapsLeftOut() const { return m_tapsLeftOut; }
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
        // With the board's size only, in mm: its first and last reports down,
        // what its figures need of them all, and the intervals of pairs of
        // consecutive reports that may be jumps.
        Sample first;
        Sample last;
        double length = 0;
        StillJitter still;
        StrokeLine line;
        double sumX = 0;
        double sumY = 0;
        // The largest squared distance of a report from its first, mm².
        double tapReach = 0;
        std::vector<double> jumpIntervals;
        std::size_t jumps = 0;
    };

    // A figure's largest so far.
    struct Largest
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
    void tap(const Contact& contact);
    Sample sample(const ContactReport& report) const;
    Point point(double xMm, double yMm) const;
    StillContact stillContact(const Source& source, const StillJitter::Run& run,
                              bool ongoing) const;
    // The kind's median interval, for jumps.
    std::optional<double> medianInterval(ContactReport::Kind kind) const;
    static void raise(std::optional<Largest>& largest, double value, const Source& source);

    std::optional<BoardSize> m_size;
    // Millimetres per board unit across and down.
    double m_mmX = 0;
    double m_mmY = 0;
    std::vector<Point> m_targets;

    ReportRates m_rates;
    std::array<FrameRate, ContactReport::Kinds> m_frames;
    // Contacts down, and buffers of lifted ones kept for the next.
    std::vector<Contact> m_down;
    std::vector<Contact> m_spare;
    std::array<int, ContactReport::Kinds> m_downOfKind{};
    int m_mostAtOnce = 0;
    std::array<int, ContactReport::Kinds> m_mostAtOnceOfKind{};

    std::deque<Stroke> m_strokes;
    std::size_t m_strokesLeftOut = 0;
    std::deque<Tap> m_taps;
    std::size_t m_tapsLeftOut = 0;
    CoverageGrid m_coverage;
    Anomalies m_anomalies;

    std::optional<Largest> m_jitter;
    std::optional<StillRun> m_jitterRun;
    std::optional<double> m_jitterRms;
    std::size_t m_stillContacts = 0;
    std::optional<Largest> m_straightness;
    std::size_t m_straightStrokes = 0;
    std::optional<Largest> m_farthestTap;
    std::size_t m_tapCount = 0;
    double m_offsetSum = 0;

    // The contact shown as still while its run goes on, and the last run
    // shown that ended.
    std::optional<Source> m_stillNow;
    std::optional<StillContact> m_stillEnded;
    std::optional<StraightStroke> m_lastStraight;
};
