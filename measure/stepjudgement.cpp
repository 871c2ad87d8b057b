#include "stepjudgement.h"

#include <algorithm>
#include <cmath>

namespace {

using Step = BoardCheck::Step;
using Tap = BoardCheck::Tap;
using Hold = BoardCheck::Hold;
using Line = BoardCheck::Line;
using Rate = BoardCheck::Rate;
using Figure = BoardCheck::Figure;
using Place = BoardCheck::Place;

// By how much a figure is from passing, as a share of its limit, to find
// the worst of several.
double excess(double value, double limit, bool atLeast = false)
{
    return atLeast ? (limit - value) / limit : (value - limit) / limit;
}

} // namespace

double StepJudgement::contactsRequired(const BoardCheck::Board& board, const CheckLimits& limits)
{
    return std::max(limits.contacts,
                    double(std::min(board.touches, BoardCheck::MostContactsRequired)));
}

bool StepJudgement::faultSeen(const Result& result, const CheckLimits& limits,
                              std::optional<double> holding)
{
    switch (result.step) {
    case Step::Quiet:
        return double(result.ghostCount) > limits.ghosts;
    case Step::Taps:
        return std::any_of(result.taps.begin(), result.taps.end(), [&](const Tap& t) {
            return t.offsetMm > (t.edge ? limits.edgeAccuracy : limits.accuracy);
        });
    case Step::Hold:
        return holding > limits.jitter ||
               std::any_of(result.holds.begin(), result.holds.end(),
                           [&](const Hold& h) { return h.jitterMm > limits.jitter; });
    case Step::Lines:
        return std::any_of(result.lines.begin(), result.lines.end(), [&](const Line& l) {
            return l.straightnessMm > limits.straightness || l.movingJitterMm > limits.movingJitter;
        });
    case Step::Rate:
        return (result.slowestTouch && *result.slowestTouch->rate < limits.touchRate) ||
               (result.slowestPen && *result.slowestPen->rate < limits.penRate);
    case Step::Contacts:
        return result.doubledCount > 0;
    case Step::Sweep:
        break;
    }
    return false;
}

void StepJudgement::judge(Result& result, const BoardCheck::Board& board, const CheckLimits& limits,
                          bool asksForTouch)
{
    const auto largest = [](auto first, auto last, auto value) {
        std::optional<double> most;
        for (auto i = first; i != last; ++i)
            most = std::max(most.value_or(0.0), value(*i));
        return most;
    };
    result.figures.clear();
    result.worst.reset();
    switch (result.step) {
    case Step::Quiet:
        result.figures = {{"ghosts", double(result.ghostCount), limits.ghosts}};
        if (!result.ghosts.empty())
            result.worst = result.ghosts.front();
        break;
    case Step::Taps: {
        const auto firstEdge = std::find_if(result.taps.begin(), result.taps.end(),
                                            [](const Tap& t) { return t.edge; });
        const auto offset = [](const Tap& t) { return t.offsetMm; };
        result.figures = {
            {"accuracy", largest(result.taps.begin(), firstEdge, offset), limits.accuracy},
            {"edge-accuracy", largest(firstEdge, result.taps.end(), offset), limits.edgeAccuracy}};
        const Tap* worst = nullptr;
        for (const Tap& t : result.taps) {
            const double limit = t.edge ? limits.edgeAccuracy : limits.accuracy;
            if (!worst ||
                excess(t.offsetMm, limit) >
                    excess(worst->offsetMm, worst->edge ? limits.edgeAccuracy : limits.accuracy))
                worst = &t;
        }
        if (worst)
            result.worst = worst->place;
        break;
    }
    case Step::Hold: {
        std::optional<double> jitter;
        const Hold* worst = nullptr;
        for (const Hold& h : result.holds) {
            if (!h.jitterMm) {
                // Not measured: the step has no figure to pass.
                worst = &h;
                jitter.reset();
                break;
            }
            if (!worst || *h.jitterMm > *worst->jitterMm)
                worst = &h;
            jitter = std::max(jitter.value_or(0.0), *h.jitterMm);
        }
        result.figures = {{"jitter", jitter, limits.jitter}};
        if (worst)
            result.worst = worst->place;
        break;
    }
    case Step::Lines: {
        result.figures = {{"straightness",
                           largest(result.lines.begin(), result.lines.end(),
                                   [](const Line& l) { return l.straightnessMm; }),
                           limits.straightness},
                          {"moving-jitter",
                           largest(result.lines.begin(), result.lines.end(),
                                   [](const Line& l) { return l.movingJitterMm; }),
                           limits.movingJitter}};
        double most = -HUGE_VAL;
        for (const Line& l : result.lines) {
            if (excess(l.straightnessMm, limits.straightness) > most) {
                most = excess(l.straightnessMm, limits.straightness);
                result.worst = l.straightnessAt;
            }
            if (excess(l.movingJitterMm, limits.movingJitter) > most) {
                most = excess(l.movingJitterMm, limits.movingJitter);
                result.worst = l.movingJitterAt;
            }
        }
        break;
    }
    case Step::Rate: {
        const auto lowest = [](const std::optional<Rate>& r) {
            return r ? r->rate : std::optional<double>();
        };
        if (asksForTouch || result.slowestTouch)
            result.figures.push_back(
                {"touch-rate", lowest(result.slowestTouch), limits.touchRate, true});
        if (board.pens > 0 || result.slowestPen)
            result.figures.push_back({"pen-rate", lowest(result.slowestPen), limits.penRate, true});
        const std::optional<Rate>* worst = &result.slowestTouch;
        if (result.slowestPen && (!result.slowestTouch ||
                                  excess(*result.slowestPen->rate, limits.penRate, true) >
                                      excess(*result.slowestTouch->rate, limits.touchRate, true)))
            worst = &result.slowestPen;
        if (*worst)
            result.worst = (*worst)->place;
        break;
    }
    case Step::Contacts:
        if (result.verdict == BoardCheck::Verdict::NotApplicable)
            break;
        result.figures = {
            {"contacts", double(result.mostTouches), contactsRequired(board, limits), true}};
        if (!result.doubled.empty())
            result.worst = result.doubled.front().place;
        break;
    case Step::Sweep: {
        result.figures = {
            {"coverage", 100.0 * result.cellsReached / CoverageGrid::Cells, limits.coverage, true}};
        if (!result.cellsNotReached.empty() && result.sweepBegun) {
            const auto [column, row] = result.cellsNotReached.front();
            result.worst = Place{(column + 0.5) * board.widthMm / CoverageGrid::Columns,
                                 (row + 0.5) * board.heightMm / CoverageGrid::Rows,
                                 result.endedMs.value_or(*result.beganMs)};
        }
        break;
    }
    }
    // A step never begun has its limits and no figure.
    if (!result.beganMs) {
        for (Figure& figure : result.figures)
            figure.value.reset();
        result.worst.reset();
        result.cellsNotReached.clear();
    }
}
