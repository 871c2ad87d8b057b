#include "boardcheck.h"

#include "checklayout.h"
#include "decimaltext.h"
#include "reportrates.h"
#include "ruledline.h"
#include "stepjudgement.h"

#include <algorithm>
#include <cmath>

namespace {

using Step = BoardCheck::Step;

double distance(double dx, double dy)
{
    return std::hypot(dx, dy);
}

} // namespace

bool BoardCheck::Figure::passes() const
{
    return value && (atLeast ? *value >= limit : *value <= limit);
}

BoardCheck::BoardCheck(const Board& board, const CheckLimits& limits)
    : m_board(board), m_limits(limits), m_sweep(board.widthMm, board.heightMm)
{
    for (int step = 0; step < Steps; ++step)
        m_results[std::size_t(step)].step = Step(step);
    begin(0, 0);
}

Sample BoardCheck::sample(const ContactReport& report) const
{
    return {report.x * m_board.widthMm / ContactReport::BoardUnits,
            report.y * m_board.heightMm / ContactReport::BoardUnits, report.ms};
}

void BoardCheck::begin(int step, double ms)
{
    m_step = step;
    Result& result = current();
    result.beganMs = ms;
    if (Step(step) == Step::Contacts && m_board.touches < 2) {
        result.verdict = Verdict::NotApplicable;
        result.endedMs = ms;
        result.ended = Ended::Done;
        m_events.push_back({Event::Kind::Ended, Step(step), ms,
                            "the board declares fewer than 2 touches", result.verdict});
        begin(step + 1, ms);
        return;
    }
    m_quietSince = ms;
    m_events.push_back({Event::Kind::Began, Step(step), ms, instruction()});
}

void BoardCheck::end(Ended how, double ms)
{
    Result& result = current();
    result.endedMs = ms;
    result.ended = how;
    judge(result);
    if (how == Ended::Done)
        result.verdict = std::all_of(result.figures.begin(), result.figures.end(),
                                     [](const Figure& f) { return f.passes(); }) &&
                                 result.doubledCount == 0
                             ? Verdict::Pass
                             : Verdict::Fail;
    else if (failedAlready())
        result.verdict = Verdict::Fail;
    else if (result.sweepBegun)
        result.verdict = result.figures.front().passes() ? Verdict::Pass : Verdict::Fail;
    else
        result.verdict = how == Ended::Skipped ? Verdict::Skipped : Verdict::NotDone;

    m_events.push_back({Event::Kind::Ended, Step(m_step), ms, {}, result.verdict});

    if (how == Ended::InputEnded || m_step + 1 == Steps) {
        m_finished = true;
        for (int later = m_step + 1; later < Steps; ++later) {
            Result& r = m_results[std::size_t(later)];
            r.verdict = Step(later) == Step::Contacts && m_board.touches < 2
                            ? Verdict::NotApplicable
                            : Verdict::NotDone;
            judge(r);
        }
        return;
    }
    // Contacts down now belong to the step that ends.
    begin(m_step + 1, ms);
}

void BoardCheck::note(const std::string& text, double ms)
{
    m_events.push_back({Event::Kind::Note, Step(m_step), ms, text});
}

void BoardCheck::advance(double ms)
{
    ms = std::max(ms, m_lastMs);
    m_lastMs = ms;
    if (m_finished)
        return;
    if (const std::optional<double> due = deadline(); due && ms >= *due)
        end(Ended::Done, *due);
}

std::optional<double> BoardCheck::deadline() const
{
    if (m_finished || Step(m_step) != Step::Quiet || !m_down.empty())
        return std::nullopt;
    return m_quietSince + QuietMs;
}

void BoardCheck::skip(double ms)
{
    advance(ms);
    if (!m_finished)
        end(Ended::Skipped, m_lastMs);
}

void BoardCheck::finish(double ms)
{
    advance(ms);
    if (!m_finished)
        end(Ended::InputEnded, m_lastMs);
}

void BoardCheck::add(const std::vector<ContactReport>& packet)
{
    ++m_frame;
    for (const ContactReport& report : packet)
        take(report);
}

void BoardCheck::add(const ContactReport& report)
{
    ++m_frame;
    take(report);
}

void BoardCheck::take(const ContactReport& report)
{
    advance(report.ms);
    if (m_finished)
        return;
    const double ms = m_lastMs;
    const auto found = std::find_if(m_down.begin(), m_down.end(), [&](const Contact& c) {
        return c.kind == report.kind && c.id == report.id;
    });
    if (found == m_down.end()) {
        // A pen hovering reports with its tip up: no contact.
        if (report.down)
            comeDown(report, ms);
    } else if (report.down) {
        move(*found, report, ms);
    } else {
        lift(std::size_t(found - m_down.begin()), ms);
    }
}

void BoardCheck::comeDown(const ContactReport& report, double ms)
{
    Contact c;
    c.kind = report.kind;
    c.id = report.id;
    c.step = m_step;
    c.firstMs = c.lastMs = ms;
    c.lastFrame = m_frame;
    c.reports = 1;
    c.first = c.last = sample(report);
    c.first.ms = c.last.ms = ms;
    c.lastUnits = {report.x, report.y};
    c.sumX = c.first.x;
    c.sumY = c.first.y;
    Result& result = current();
    switch (Step(m_step)) {
    case Step::Quiet:
        if (result.ghosts.size() < MaxDetails)
            result.ghosts.push_back(place(c.first));
        ++result.ghostCount;
        note("a contact came down at " + decimalText(c.first.x) + ", " + decimalText(c.first.y) +
                 " mm while nothing touched the board: a ghost",
             ms);
        break;
    case Step::Lines:
        c.samples.push_back(c.first);
        break;
    case Step::Contacts:
        if (c.kind == ContactReport::Touch)
            result.mostTouches = std::max(result.mostTouches, ++m_touchesDown);
        break;
    case Step::Sweep:
        result.sweepBegun = true;
        m_sweep.add(nullptr, report.x, report.y);
        break;
    case Step::Taps:
    case Step::Hold:
    case Step::Rate:
        break;
    }
    m_down.push_back(std::move(c));
    if (Step(m_step) == Step::Sweep && m_sweep.reachedCount() == CoverageGrid::Cells)
        end(Ended::Done, ms);
}

void BoardCheck::move(Contact& c, const ContactReport& report, double ms)
{
    Sample s = sample(report);
    s.ms = ms;
    const bool sameFrame = c.lastFrame == m_frame;
    c.lastMs = ms;
    c.lastFrame = m_frame;
    ++c.reports;
    if (c.step == m_step) {
        Result& result = current();
        switch (Step(m_step)) {
        case Step::Taps:
            c.tapReach = std::max(c.tapReach, distance(s.x - c.first.x, s.y - c.first.y));
            break;
        case Step::Hold:
            if (ms >= c.firstMs + SettleMs)
                c.settled.add({s.x, s.y});
            if (!m_holdChosen && ms >= c.firstMs + HoldMs)
                m_holdChosen = c.isHold = true;
            break;
        case Step::Lines:
            if (c.samples.size() < MaxLineReports)
                c.samples.push_back(s);
            else
                c.tooLong = true;
            break;
        case Step::Contacts:
            // One frame, two places for one id: two contacts hold it.
            if (sameFrame && c.kind == ContactReport::Touch &&
                (s.x != c.last.x || s.y != c.last.y)) {
                if (result.doubled.size() < MaxDetails)
                    result.doubled.push_back({c.id, place(s), place(c.last)});
                ++result.doubledCount;
                note("touch id " + std::to_string(c.id) +
                         " came for two contacts at once: each contact needs an id of its own",
                     ms);
            }
            break;
        case Step::Sweep:
            m_sweep.add(&c.lastUnits, report.x, report.y);
            break;
        case Step::Quiet:
        case Step::Rate:
            break;
        }
    }
    c.sumX += s.x;
    c.sumY += s.y;
    c.last = s;
    c.lastUnits = {report.x, report.y};
    if (Step(m_step) == Step::Sweep && m_sweep.reachedCount() == CoverageGrid::Cells)
        end(Ended::Done, ms);
}

void BoardCheck::lift(std::size_t index, double ms)
{
    const Contact c = std::move(m_down[index]);
    m_down.erase(m_down.begin() + std::ptrdiff_t(index));
    if (c.step != m_step)
        return;
    switch (Step(m_step)) {
    case Step::Quiet:
        if (m_down.empty())
            m_quietSince = ms;
        break;
    case Step::Taps:
        tapped(c, ms);
        break;
    case Step::Hold:
        held(c, ms);
        break;
    case Step::Lines:
        drawn(c, ms);
        break;
    case Step::Rate:
        rated(c, ms);
        break;
    case Step::Contacts:
        if (c.kind == ContactReport::Touch && --m_touchesDown == 0 && current().mostTouches >= 2)
            end(Ended::Done, ms);
        break;
    case Step::Sweep:
        break;
    }
}

void BoardCheck::tapped(const Contact& c, double ms)
{
    if (ms - c.firstMs > TapMs) {
        note("held " + decimalText((ms - c.firstMs) / 1000) + " s: not a tap, which lifts within " +
                 decimalText(TapMs / 1000) + " s",
             ms);
        return;
    }
    if (c.tapReach > TapMovementMm) {
        note("moved " + decimalText(c.tapReach) + " mm: not a tap, which stays within " +
                 decimalText(TapMovementMm) + " mm",
             ms);
        return;
    }
    Result& result = current();
    const int index = int(result.taps.size());
    const Point target = CheckLayout::targets(m_board)[std::size_t(index)];
    Tap tap;
    tap.target = index;
    tap.edge = index >= InnerTargets;
    tap.place = {c.sumX / double(c.reports), c.sumY / double(c.reports), c.firstMs};
    tap.dxMm = tap.place.xMm - target.xMm;
    tap.dyMm = tap.place.yMm - target.yMm;
    tap.offsetMm = distance(tap.dxMm, tap.dyMm);
    result.taps.push_back(tap);
    note("target " + std::to_string(index + 1) + ": " + decimalText(tap.offsetMm) + " mm off", ms);
    if (result.taps.size() == CheckLayout::targets(m_board).size())
        end(Ended::Done, ms);
}

void BoardCheck::held(const Contact& c, double ms)
{
    const double heldMs = ms - c.firstMs;
    if (!c.isHold && (m_holdChosen || heldMs < HoldMs)) {
        note(m_holdChosen ? "another contact is the hold"
                          : "held " + decimalText(heldMs / 1000) + " s: a hold lasts " +
                                decimalText(HoldMs / 1000) + " s",
             ms);
        return;
    }
    m_holdChosen = false;
    Result& result = current();
    Hold hold;
    hold.place = {c.sumX / double(c.reports), c.sumY / double(c.reports), c.firstMs};
    hold.endedMs = ms;
    hold.reports = c.reports;
    if (c.settled.count() >= 2)
        hold.jitterMm = c.settled.largestDistance();
    result.holds.push_back(hold);
    note("hold " + std::to_string(result.holds.size()) + ": " +
             (hold.jitterMm ? "jitter " + decimalText(*hold.jitterMm) + " mm"
                            : std::string("no reports after it settled, so no jitter")),
         ms);
    if (result.holds.size() == CheckLayout::holds(m_board).size())
        end(Ended::Done, ms);
}

void BoardCheck::drawn(const Contact& c, double ms)
{
    Result& result = current();
    const int index = int(result.lines.size());
    const auto [from, to] = CheckLayout::lines(m_board)[std::size_t(index)];
    const double wanted = distance(to.xMm - from.xMm, to.yMm - from.yMm);
    const double drawnMm = distance(c.last.x - c.first.x, c.last.y - c.first.y);
    if (c.tooLong) {
        note("more than " + std::to_string(MaxLineReports) +
                 " reports: not a line drawn along a ruler",
             ms);
        return;
    }
    if (drawnMm < wanted / 2) {
        note("drew " + decimalText(drawnMm) + " mm: draw the whole line, at least " +
                 decimalText(wanted / 2) + " mm",
             ms);
        return;
    }
    const RuledLine ruled = RuledLine::of(c.samples);
    Line line;
    line.line = index;
    line.from = place(c.first);
    line.to = place(c.last);
    line.reports = c.reports;
    line.lengthMm = ruled.length;
    line.straightnessMm = ruled.straightness;
    line.straightnessAt = place(ruled.straightnessAt);
    line.movingJitterMm = ruled.movingJitter;
    line.movingJitterAt = place(ruled.movingJitterAt);
    result.lines.push_back(line);
    note("line " + std::to_string(index + 1) + ": straightness " +
             decimalText(line.straightnessMm) + " mm, moving jitter " +
             decimalText(line.movingJitterMm) + " mm",
         ms);
    if (result.lines.size() == CheckLayout::lines(m_board).size())
        end(Ended::Done, ms);
}

void BoardCheck::rated(const Contact& c, double ms)
{
    if (c.kind == ContactReport::Eraser) {
        note("an eraser: draw with a finger or a pen", ms);
        return;
    }
    Rate rate;
    rate.kind = c.kind;
    rate.id = c.id;
    rate.place = place(c.first);
    rate.endedMs = ms;
    rate.reports = c.reports;
    rate.rate = ReportRates::rate(c.reports, ms - c.firstMs);
    if (!rate.rate) {
        note("its reports and its lift came all at one time: no rate", ms);
        return;
    }
    const bool pen = c.kind == ContactReport::Pen;
    Result& result = current();
    if (result.rates.size() < MaxDetails)
        result.rates.push_back(rate);
    ++result.rateCount;
    std::optional<Rate>& slowest = pen ? result.slowestPen : result.slowestTouch;
    if (!slowest || *rate.rate < *slowest->rate)
        slowest = rate;
    const bool long_enough = ms - c.firstMs >= RateMs;
    (pen ? m_penRated : m_touchRated) |= long_enough;
    note(std::string(pen ? "pen" : "finger") + ": " + decimalText(*rate.rate) + " reports/s" +
             (long_enough ? "" : ", down less than " + decimalText(RateMs / 1000) + " s"),
         ms);
    if ((m_touchRated || !CheckLayout::asksForTouch(m_board)) && (m_penRated || m_board.pens <= 0))
        end(Ended::Done, ms);
}

bool BoardCheck::failedAlready() const
{
    // A hold still down is judged on what it reported so far: its jitter
    // can only grow.
    std::optional<double> holding;
    for (const Contact& c : m_down) {
        if (c.isHold && c.settled.count() >= 2)
            holding = c.settled.largestDistance();
    }
    return StepJudgement::faultSeen(current(), m_limits, holding);
}

void BoardCheck::judge(Result& result) const
{
    if (result.step == Step::Sweep) {
        result.cellsReached = m_sweep.reachedCount();
        result.cellsNotReached = m_sweep.notReached();
    }
    StepJudgement::judge(result, m_board, m_limits, CheckLayout::asksForTouch(m_board));
}

BoardCheck::BoardVerdict BoardCheck::verdict() const
{
    bool complete = m_finished;
    for (const Result& result : m_results) {
        if (result.verdict == Verdict::Fail)
            return BoardVerdict::Fail;
        complete &= result.verdict == Verdict::Pass || result.verdict == Verdict::NotApplicable;
    }
    return complete ? BoardVerdict::Pass : BoardVerdict::Incomplete;
}

std::string BoardCheck::instruction() const
{
    return CheckLayout::instruction(Step(m_step), m_board);
}

std::string BoardCheck::progress(double ms) const
{
    const Result& result = current();
    // In whole tenths, as a hold's: a count that a person reads as it runs.
    const auto seconds = [](double from, double to) {
        return decimalText(std::floor(std::max(0.0, to - from) / 100) / 10);
    };
    switch (Step(m_step)) {
    case Step::Quiet: {
        std::string text = m_down.empty() ? "quiet for " + seconds(m_quietSince, ms) + " s of " +
                                                decimalText(QuietMs / 1000) + " s"
                                          : "a contact is down: lift it";
        if (result.ghostCount > 0)
            text += ", ghosts " + std::to_string(result.ghostCount);
        return text;
    }
    case Step::Taps:
        return "target " +
               std::to_string(
                   std::min(result.taps.size() + 1, CheckLayout::targets(m_board).size())) +
               " of " + std::to_string(CheckLayout::targets(m_board).size());
    case Step::Hold: {
        std::string text = "hold " + std::to_string(result.holds.size() + 1) + " of " +
                           std::to_string(CheckLayout::holds(m_board).size());
        double longest = -1;
        for (const Contact& c : m_down) {
            if (c.step == m_step)
                longest = std::max(longest, ms - c.firstMs);
        }
        if (longest >= 0)
            text += ", held " + decimalText(std::floor(longest / 100) / 10) + " s of " +
                    decimalText(HoldMs / 1000) + " s";
        return text;
    }
    case Step::Lines:
        return "line " + std::to_string(result.lines.size() + 1) + " of " +
               std::to_string(CheckLayout::lines(m_board).size());
    case Step::Rate:
        return std::string(m_touchRated || !CheckLayout::asksForTouch(m_board)
                               ? "with a pen"
                               : "with one finger") +
               ", " + std::to_string(result.rateCount) + " contacts rated";
    case Step::Contacts:
        return std::to_string(m_touchesDown) + " down, most " + std::to_string(result.mostTouches) +
               " of " + decimalText(StepJudgement::contactsRequired(m_board, m_limits));
    case Step::Sweep:
        return std::to_string(m_sweep.reachedCount()) + " of " +
               std::to_string(CoverageGrid::Cells) + " cells";
    }
    return {};
}

std::optional<BoardCheck::Point> BoardCheck::target() const
{
    const Result& result = current();
    if (m_finished)
        return std::nullopt;
    if (Step(m_step) == Step::Taps)
        return CheckLayout::targets(m_board)[result.taps.size()];
    if (Step(m_step) == Step::Hold)
        return CheckLayout::holds(m_board)[result.holds.size()];
    return std::nullopt;
}

std::optional<std::pair<BoardCheck::Point, BoardCheck::Point>> BoardCheck::line() const
{
    if (m_finished || Step(m_step) != Step::Lines)
        return std::nullopt;
    return CheckLayout::lines(m_board)[current().lines.size()];
}

const char* BoardCheck::name(Step step)
{
    static const char* const names[] = {"quiet", "taps",     "hold", "lines",
                                        "rate",  "contacts", "sweep"};
    return names[int(step)];
}

const char* BoardCheck::name(Verdict verdict)
{
    static const char* const names[] = {"pending", "pass",     "fail",
                                        "skipped", "not done", "not applicable"};
    return names[int(verdict)];
}

const char* BoardCheck::name(Ended ended)
{
    static const char* const names[] = {"done", "skipped", "input ended"};
    return names[int(ended)];
}

const char* BoardCheck::name(BoardVerdict verdict)
{
    static const char* const names[] = {"pass", "fail", "incomplete"};
    return names[int(verdict)];
}
