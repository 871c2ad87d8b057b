#include "checkreport.h"

#include "checklayout.h"

#include "decimaltext.h"
#include "jsonwriter.h"

#include <algorithm>
#include <cctype>

namespace {

using Check = BoardCheck;

std::string at(double xMm, double yMm)
{
    return decimalText(xMm) + ", " + decimalText(yMm) + " mm";
}

std::string at(const Check::Place& place)
{
    return at(place.xMm, place.yMm) + ", " + decimalText(place.ms) + " ms";
}

std::string padded(std::string text, std::size_t width)
{
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

// A detail line of a step, under its verdict.
std::string detail(const std::string& text)
{
    return std::string(24, ' ') + text;
}

// At most this many of a step's details as lines; the JSON has them all.
constexpr std::size_t ShownDetails = 20;

void details(const Check::Result& r, std::vector<std::string>& out)
{
    std::vector<std::string> lines;
    for (const Check::Place& ghost : r.ghosts)
        lines.push_back("ghost at " + at(ghost));
    for (const Check::Tap& tap : r.taps)
        lines.push_back("target " + std::to_string(tap.target + 1) + (tap.edge ? " (edge)" : "") +
                        ": " + decimalText(tap.offsetMm) + " mm off, tapped at " + at(tap.place));
    for (std::size_t i = 0; i < r.holds.size(); ++i) {
        const Check::Hold& hold = r.holds[i];
        lines.push_back("hold " + std::to_string(i + 1) + " at " + at(hold.place) + " to " +
                        decimalText(hold.endedMs) + " ms, " + std::to_string(hold.reports) +
                        " reports: jitter " +
                        (hold.jitterMm ? decimalText(*hold.jitterMm) + " mm" : "none"));
    }
    for (const Check::Line& line : r.lines)
        lines.push_back("line " + std::to_string(line.line + 1) + " from " +
                        at(line.from.xMm, line.from.yMm) + " to " + at(line.to.xMm, line.to.yMm) +
                        ": straightness " + decimalText(line.straightnessMm) + " mm at " +
                        at(line.straightnessAt) + "; moving jitter " +
                        decimalText(line.movingJitterMm) + " mm at " + at(line.movingJitterAt));
    for (const Check::Rate& rate : r.rates)
        lines.push_back(std::string(rate.kind == ContactReport::Pen ? "pen " : "touch ") +
                        std::to_string(rate.id) + " down at " + at(rate.place) + " to " +
                        decimalText(rate.endedMs) + " ms, " + std::to_string(rate.reports) +
                        " reports: " + decimalText(*rate.rate) + "/s");
    if (r.step == Check::Step::Contacts && r.beganMs && r.verdict != Check::Verdict::NotApplicable)
        lines.push_back("most touches down at once " + std::to_string(r.mostTouches));
    for (const Check::Doubled& d : r.doubled)
        lines.push_back("touch id " + std::to_string(d.id) + " for two contacts at once: at " +
                        at(d.place) + " and at " + at(d.other.xMm, d.other.yMm));
    const std::size_t total = lines.size();
    for (std::size_t i = 0; i < std::min(total, ShownDetails); ++i)
        out.push_back(detail(lines[i]));
    const std::size_t more = total - std::min(total, ShownDetails) + r.ghostCount -
                             r.ghosts.size() + r.rateCount - r.rates.size() + r.doubledCount -
                             r.doubled.size();
    if (more > 0)
        out.push_back(detail(std::to_string(more) + " more, in the JSON"));
    if (r.step == Check::Step::Sweep && r.beganMs) {
        out.push_back(detail(std::to_string(r.cellsReached) + " of " +
                             std::to_string(CoverageGrid::Cells) + " cells reached (#):"));
        std::vector<std::string> grid(CoverageGrid::Rows, std::string(CoverageGrid::Columns, '#'));
        for (const auto& [column, row] : r.cellsNotReached)
            grid[std::size_t(row)][std::size_t(column)] = '.';
        for (const std::string& row : grid)
            out.push_back(detail(row));
    }
}

void place(JsonWriter& json, const char* key, const Check::Place& p)
{
    json.beginObject(key);
    json.number("x_mm", p.xMm);
    json.number("y_mm", p.yMm);
    json.number("ms", p.ms);
    json.endObject();
}

void point(JsonWriter& json, const char* key, double xMm, double yMm)
{
    json.beginObject(key);
    json.number("x_mm", xMm);
    json.number("y_mm", yMm);
    json.endObject();
}

void optionalNumber(JsonWriter& json, const char* key, const std::optional<double>& value)
{
    if (value)
        json.number(key, *value);
    else
        json.null(key);
}

void stepDetails(JsonWriter& json, const Check& check, const Check::Result& r)
{
    switch (r.step) {
    case Check::Step::Quiet:
        json.integer("ghost_count", (long long)r.ghostCount);
        json.beginArray("ghosts");
        for (const Check::Place& ghost : r.ghosts)
            place(json, nullptr, ghost);
        json.endArray();
        break;
    case Check::Step::Taps: {
        const std::vector<Check::Point> targets = CheckLayout::targets(check.board());
        json.beginArray("targets");
        for (std::size_t i = 0; i < targets.size(); ++i) {
            json.beginObject();
            json.integer("target", (long long)i + 1);
            json.text("kind", i < std::size_t(Check::InnerTargets) ? "inner" : "edge");
            point(json, "at", targets[i].xMm, targets[i].yMm);
            if (i < r.taps.size()) {
                const Check::Tap& tap = r.taps[i];
                json.beginObject("tap");
                json.number("x_mm", tap.place.xMm);
                json.number("y_mm", tap.place.yMm);
                json.number("ms", tap.place.ms);
                json.number("dx_mm", tap.dxMm);
                json.number("dy_mm", tap.dyMm);
                json.number("offset_mm", tap.offsetMm);
                json.endObject();
            } else {
                json.null("tap");
            }
            json.endObject();
        }
        json.endArray();
        break;
    }
    case Check::Step::Hold:
        json.beginArray("holds");
        for (const Check::Hold& hold : r.holds) {
            json.beginObject();
            json.number("x_mm", hold.place.xMm);
            json.number("y_mm", hold.place.yMm);
            json.number("began_ms", hold.place.ms);
            json.number("ended_ms", hold.endedMs);
            json.integer("reports", (long long)hold.reports);
            optionalNumber(json, "jitter_mm", hold.jitterMm);
            json.endObject();
        }
        json.endArray();
        break;
    case Check::Step::Lines:
        json.beginArray("lines");
        for (const Check::Line& line : r.lines) {
            json.beginObject();
            json.integer("line", line.line + 1);
            place(json, "from", line.from);
            place(json, "to", line.to);
            json.integer("reports", (long long)line.reports);
            json.number("length_mm", line.lengthMm);
            json.number("straightness_mm", line.straightnessMm);
            place(json, "straightness_at", line.straightnessAt);
            json.number("moving_jitter_mm", line.movingJitterMm);
            place(json, "moving_jitter_at", line.movingJitterAt);
            json.endObject();
        }
        json.endArray();
        break;
    case Check::Step::Rate:
        json.integer("contact_count", (long long)r.rateCount);
        json.beginArray("contacts");
        for (const Check::Rate& rate : r.rates) {
            json.beginObject();
            json.text("kind", rate.kind == ContactReport::Pen ? "pen" : "touch");
            json.integer("id", rate.id);
            place(json, "down", rate.place);
            json.number("ended_ms", rate.endedMs);
            json.integer("reports", (long long)rate.reports);
            optionalNumber(json, "rate_hz", rate.rate);
            json.endObject();
        }
        json.endArray();
        break;
    case Check::Step::Contacts:
        json.integer("most_at_once", r.mostTouches);
        json.integer("declared", check.board().touches);
        json.integer("doubled_count", (long long)r.doubledCount);
        json.beginArray("doubled_ids");
        for (const Check::Doubled& d : r.doubled) {
            json.beginObject();
            json.integer("id", d.id);
            place(json, "at", d.place);
            point(json, "other", d.other.xMm, d.other.yMm);
            json.endObject();
        }
        json.endArray();
        break;
    case Check::Step::Sweep:
        json.integer("cells_reached", r.cellsReached);
        json.beginArray("cells_not_reached");
        for (const auto& [column, row] : r.cellsNotReached) {
            json.beginObject();
            json.integer("column", column);
            json.integer("row", row);
            json.endObject();
        }
        json.endArray();
        break;
    }
}

} // namespace

std::string CheckReport::shout(BoardCheck::Verdict verdict)
{
    if (verdict == BoardCheck::Verdict::NotApplicable)
        return "N/A";
    std::string text = BoardCheck::name(verdict);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

std::string CheckReport::shout(BoardCheck::BoardVerdict verdict)
{
    std::string text = BoardCheck::name(verdict);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

const char* CheckReport::unit(const std::string& figure)
{
    if (figure == "ghosts" || figure == "contacts")
        return "";
    if (figure == "touch-rate" || figure == "pen-rate")
        return "/s";
    if (figure == "coverage")
        return "%";
    return "mm";
}

std::string CheckReport::figures(const BoardCheck::Result& r)
{
    std::string text;
    for (const BoardCheck::Figure& figure : r.figures) {
        const std::string u = unit(figure.name);
        const std::string space = u == "mm" ? " " : "";
        text += (text.empty() ? "" : "; ") + figure.name + " " +
                (figure.value ? decimalText(*figure.value) + space + u : "none") + ", limit " +
                (figure.atLeast ? "at least " : "") + decimalText(figure.limit) + space + u;
    }
    if (r.doubledCount > 0)
        text += "; " + std::to_string(r.doubledCount) + " ids held by two contacts at once";
    return text;
}

std::string CheckReport::stepLine(const BoardCheck::Result& r)
{
    return padded(BoardCheck::name(r.step), 10) + padded(shout(r.verdict), 12) + figures(r);
}

std::vector<std::string> CheckReport::lines(const BoardCheck& check, const Identity& board)
{
    std::vector<std::string> out;
    const BoardCheck::Board& b = check.board();
    out.push_back("check of board " + (board.device ? std::to_string(*board.device) : "?") + ": " +
                  board.description);
    out.push_back("  size      " + decimalText(b.widthMm) + " x " + decimalText(b.heightMm) +
                  " mm; declares pens " + std::to_string(b.pens) + ", touches " +
                  std::to_string(b.touches));
    out.push_back("  limits    " + check.limits().text());
    for (const BoardCheck::Result& r : check.results()) {
        out.push_back("  " + stepLine(r));
        if (r.beganMs)
            out.push_back(
                detail(decimalText(*r.beganMs) + " to " +
                       (r.endedMs ? decimalText(*r.endedMs) + " ms, " + BoardCheck::name(*r.ended)
                                  : std::string("now"))));
        if (r.worst)
            out.push_back(detail("worst at " + at(*r.worst)));
        details(r, out);
    }
    std::string failed, other;
    for (const BoardCheck::Result& r : check.results()) {
        std::string& list = r.verdict == BoardCheck::Verdict::Fail ? failed : other;
        if (r.verdict == BoardCheck::Verdict::Fail ||
            (r.verdict != BoardCheck::Verdict::Pass &&
             r.verdict != BoardCheck::Verdict::NotApplicable))
            list += (list.empty() ? "" : ", ") + std::string(BoardCheck::name(r.step));
    }
    std::string why;
    if (!failed.empty())
        why = "failed " + failed;
    if (!other.empty())
        why += (why.empty() ? "" : "; ") + std::string("not judged ") + other;
    out.push_back("  " + padded("verdict", 10) + padded(shout(check.verdict()), 12) + why);
    return out;
}

std::string CheckReport::json(const BoardCheck& check, const Identity& board)
{
    JsonWriter json;
    json.beginObject();
    json.integer("version", Version);
    json.beginObject("check");
    json.beginObject("board");
    if (board.device)
        json.integer("device", *board.device);
    else
        json.null("device");
    json.text("description", board.description);
    json.beginArray("size_mm");
    json.number(nullptr, check.board().widthMm);
    json.number(nullptr, check.board().heightMm);
    json.endArray();
    json.integer("pens", check.board().pens);
    json.integer("touches", check.board().touches);
    json.endObject();

    const CheckLimits& limits = check.limits();
    json.beginObject("limits");
    for (const std::string& name : CheckLimits::names())
        json.number(name.c_str(), *limits.value(name));
    json.endObject();

    json.beginArray("steps");
    for (const BoardCheck::Result& r : check.results()) {
        json.beginObject();
        json.text("name", BoardCheck::name(r.step));
        json.text("verdict", BoardCheck::name(r.verdict));
        optionalNumber(json, "began_ms", r.beganMs);
        optionalNumber(json, "ended_ms", r.endedMs);
        if (r.ended)
            json.text("ended", BoardCheck::name(*r.ended));
        else
            json.null("ended");
        json.beginObject("figures");
        for (const BoardCheck::Figure& figure : r.figures)
            optionalNumber(json, figure.name.c_str(), figure.value);
        json.endObject();
        json.beginObject("limits");
        for (const BoardCheck::Figure& figure : r.figures)
            json.number(figure.name.c_str(), figure.limit);
        json.endObject();
        if (r.worst)
            place(json, "worst", *r.worst);
        else
            json.null("worst");
        stepDetails(json, check, r);
        json.endObject();
    }
    json.endArray();
    json.text("verdict", BoardCheck::name(check.verdict()));
    json.endObject();
    json.endObject();
    return json.document();
}
