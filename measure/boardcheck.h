#pragma once

#include "checklimits.h"
#include "contactreport.h"
#include "pointhull.h"
#include "sample.h"
#include "sweepgrid.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The board check: a fixed sequence of steps, each telling the tester what
// to do, where and for how long, and judging what the board reported
// knowing that. docs/measuring.md defines every step, figure and limit.
//
// It is fed contact reports with their own times and nothing else (no keys,
// no clock of its own), so that a board, a scenario, a recording or a
// capture performs it exactly as a person does. Every boundary is decided on
// the reports' times: a report at or after a step's deadline first closes
// that step; advance() closes one when no report comes. Times are
// milliseconds since the check began; positions board units in, millimetres
// out, from the top left.
//
// A contact belongs to the step during which it came down, and counts for
// no other. A skip (the tester's) ends the current step as skipped; a step
// in which a fault was already seen (a ghost, a tap or a hold beyond its
// limit, a line beyond either limit, a contact reporting too slowly, an id
// held twice) or a sweep that has begun fails instead, whether skipped or
// cut short by the end of the check, since what was seen stays seen.
//
// Memory is bounded whatever the contacts do: a hold keeps the corners of
// its reports' hull (PointHull), a line at most MaxLineReports reports,
// the details at most MaxDetails entries a step (with counts of all).
//
// Not thread-safe: a caller that feeds it on one thread and reads on another
// holds one lock around both.
class BoardCheck
{
public:
    enum class Step
    {
        Quiet,
        Taps,
        Hold,
        Lines,
        Rate,
        Contacts,
        Sweep
    };
    static constexpr int Steps = 7;

    enum class Verdict
    {
        Pending,
        Pass,
        Fail,
        Skipped,
        NotDone,
        NotApplicable
    };

    enum class Ended
    {
        Done,
        Skipped,
        InputEnded
    };

    enum class BoardVerdict
    {
        Pass,
        Fail,
        Incomplete
    };

    // What the steps take as given.
    static constexpr double QuietMs = 10000;
    static constexpr double TapMs = 1000;
    static constexpr double TapMovementMm = 5;
    static constexpr double EdgeTargetMm = 2;
    static constexpr double HoldMs = 5000;
    static constexpr double SettleMs = 500;
    static constexpr double RateMs = 3000;
    static constexpr int MostContactsRequired = 10;
    static constexpr std::size_t MaxLineReports = 1 << 20;
    static constexpr std::size_t MaxDetails = 1000;

    struct Board
    {
        double widthMm = 0;
        double heightMm = 0;
        // What its description declares: pens (xp) and touches (xt).
        int pens = 0;
        int touches = 0;
    };

    struct Point
    {
        double xMm = 0;
        double yMm = 0;
    };

    // Where and when a figure happened.
    struct Place
    {
        double xMm = 0;
        double yMm = 0;
        double ms = 0;
    };

    // A figure judged against its limit; none when it could not be measured,
    // which never passes.
    struct Figure
    {
        std::string name;
        std::optional<double> value;
        double limit = 0;
        // Passes at least the limit, else at most.
        bool atLeast = false;

        bool passes() const;
    };

    struct Tap
    {
        int target = 0;
        bool edge = false;
        // The mean of its reports, at the time it came down.
        Place place;
        double dxMm = 0;
        double dyMm = 0;
        double offsetMm = 0;
    };

    struct Hold
    {
        // Its reports' mean, at the time it came down.
        Place place;
        double endedMs = 0;
        std::size_t reports = 0;
        // From SettleMs after it came down to its lift; none without two
        // reports then.
        std::optional<double> jitterMm;
    };

    struct Line
    {
        int line = 0;
        Place from;
        Place to;
        std::size_t reports = 0;
        double lengthMm = 0;
        double straightnessMm = 0;
        Place straightnessAt;
        double movingJitterMm = 0;
        Place movingJitterAt;
    };

    struct Rate
    {
        ContactReport::Kind kind = ContactReport::Touch;
        int id = 0;
        // Where it came down.
        Place place;
        double endedMs = 0;
        std::size_t reports = 0;
        std::optional<double> rate;
    };

    // An id reported for two contacts in one frame.
    struct Doubled
    {
        int id = 0;
        Place place;
        Place other;
    };

    struct Result
    {
        Step step = Step::Quiet;
        Verdict verdict = Verdict::Pending;
        std::optional<double> beganMs;
        std::optional<double> endedMs;
        std::optional<Ended> ended;
        std::vector<Figure> figures;
        std::optional<Place> worst;

        // Each step's details, the first MaxDetails of each list.
        std::vector<Place> ghosts;
        std::size_t ghostCount = 0;
        std::vector<Tap> taps;
        std::vector<Hold> holds;
        std::vector<Line> lines;
        std::vector<Rate> rates;
        std::size_t rateCount = 0;
        std::optional<Rate> slowestTouch;
        std::optional<Rate> slowestPen;
        int mostTouches = 0;
        std::vector<Doubled> doubled;
        std::size_t doubledCount = 0;
        std::vector<std::pair<int, int>> cellsNotReached;
        int cellsReached = 0;
        bool sweepBegun = false;
    };

    // Something the tester should hear of as it happens.
    struct Event
    {
        enum class Kind
        {
            Began,
            // A contact ignored and why, or what a contact showed.
            Note,
            Ended
        };
        Kind kind = Kind::Began;
        Step step = Step::Quiet;
        double ms = 0;
        // The instruction, the note, or why a step that ended does not
        // apply; its figures are in results().
        std::string text;
        Verdict verdict = Verdict::Pending;
    };

    // Begins the first step at time 0.
    BoardCheck(const Board& board, const CheckLimits& limits = {});

    // The reports of one packet, a frame of the board: an id reported twice
    // in one frame at two places is held by two contacts. Frames are told
    // apart by the packets, not by their times, which may be the same.
    void add(const std::vector<ContactReport>& packet);
    // A report that is a frame of its own.
    void add(const ContactReport& report);
    // Time has come to ms without a report: closes a step whose deadline
    // passed.
    void advance(double ms);
    // The tester skips the current step at ms.
    void skip(double ms);
    // The check ends at ms (the input ended, or the tester left it): the
    // current step and those after it end as not done, failed or not
    // applicable.
    void finish(double ms);

    bool isFinished() const { return m_finished; }
    // The step under way; the last one once finished.
    Step step() const { return Step(m_step); }
    // When a step ends if no report comes first; none when only a report
    // can end it.
    std::optional<double> deadline() const;
    // Every step's result; those not begun are pending.
    const std::array<Result, Steps>& results() const { return m_results; }
    BoardVerdict verdict() const;
    const Board& board() const { return m_board; }
    const CheckLimits& limits() const { return m_limits; }
    std::vector<Event> takeEvents() { return std::exchange(m_events, {}); }

    // For showing the step under way: its instruction, how far it got at
    // ms ("target 5 of 13"), the target to tap or the place to hold, the line
    // to draw, and the cells the sweep reached.
    std::string instruction() const;
    std::string progress(double ms) const;
    std::optional<Point> target() const;
    std::optional<std::pair<Point, Point>> line() const;
    const SweepGrid& sweep() const { return m_sweep; }

    // Of the taps step's targets (CheckLayout::targets), those inside.
    static constexpr int InnerTargets = 9;

    static const char* name(Step step);
    static const char* name(Verdict verdict);
    static const char* name(Ended ended);
    static const char* name(BoardVerdict verdict);

private:
    struct Contact
    {
        ContactReport::Kind kind = ContactReport::Touch;
        int id = 0;
        int step = 0;
        double firstMs = 0;
        double lastMs = 0;
        // The frame of its last report.
        std::size_t lastFrame = 0;
        std::size_t reports = 0;
        Sample first;
        Sample last;
        // Board units, for the sweep.
        std::pair<double, double> lastUnits;
        double sumX = 0;
        double sumY = 0;
        double tapReach = 0;
        // A hold's reports after it settled.
        PointHull settled;
        // A line's reports.
        std::vector<Sample> samples;
        bool tooLong = false;
        bool isHold = false;
    };

    Result& current() { return m_results[std::size_t(m_step)]; }
    const Result& current() const { return m_results[std::size_t(m_step)]; }
    Sample sample(const ContactReport& report) const;
    Place place(const Sample& sample) const { return {sample.x, sample.y, sample.ms}; }
    void begin(int step, double ms);
    void end(Ended how, double ms);
    // Whether the step under way has seen a fault already.
    bool failedAlready() const;
    void judge(Result& result) const;
    // Tells the tester what a contact showed, or why it was ignored.
    void note(const std::string& text, double ms);

    void take(const ContactReport& report);
    void comeDown(const ContactReport& report, double ms);
    void move(Contact& contact, const ContactReport& report, double ms);
    void lift(std::size_t index, double ms);
    void tapped(const Contact& contact, double ms);
    void held(const Contact& contact, double ms);
    void drawn(const Contact& contact, double ms);
    void rated(const Contact& contact, double ms);

    Board m_board;
    CheckLimits m_limits;
    int m_step = 0;
    bool m_finished = false;
    double m_lastMs = 0;
    // Counts the frames added.
    std::size_t m_frame = 0;
    std::array<Result, Steps> m_results;
    std::vector<Event> m_events;

    std::vector<Contact> m_down;
    // The quiet step's ten seconds count from here.
    double m_quietSince = 0;
    // Whether the rate step saw a contact of 3 s lifted, by kind.
    bool m_touchRated = false;
    bool m_penRated = false;
    int m_touchesDown = 0;
    bool m_holdChosen = false;
    SweepGrid m_sweep;
};
