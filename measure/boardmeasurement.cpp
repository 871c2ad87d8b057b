#include "boardmeasurement.h"

#include "strokeline.h"

#include <algorithm>
#include <cmath>

namespace {

double square(double value)
{
    return value * value;
}

} // namespace

BoardMeasurement::BoardMeasurement(std::optional<BoardSize> size, const MeasureLimits& limits)
    : m_size(size), m_limits(limits)
{
    // A size of nothing would put every figure in millimetres at infinity.
    if (m_size && !(m_size->width > 0 && m_size->height > 0))
        m_size.reset();
    if (m_size) {
        m_mmX = m_size->width / ContactReport::BoardUnits;
        m_mmY = m_size->height / ContactReport::BoardUnits;
    }
    m_anomalies.jumps = m_size ? std::optional<std::size_t>(0) : std::nullopt;
}

Sample BoardMeasurement::sample(const ContactReport& report) const
{
    return {report.x * m_mmX, report.y * m_mmY, report.ms};
}

BoardMeasurement::Point BoardMeasurement::point(double xMm, double yMm) const
{
    return {xMm / m_mmX, yMm / m_mmY};
}

BoardMeasurement::Contact* BoardMeasurement::find(ContactReport::Kind kind, int id)
{
    // A board has a few contacts down at once: a search beats a map.
    for (Contact& contact : m_down) {
        if (contact.kind == kind && contact.id == id)
            return &contact;
    }
    return nullptr;
}

void BoardMeasurement::raise(std::optional<Worst>& worst, double value, const Source& source)
{
    if (!worst || value > worst->value)
        worst = Worst{value, source};
}

void BoardMeasurement::add(const ContactReport& report)
{
    m_rates.add(report);
    Contact* contact = find(report.kind, report.id);
    if (!contact) {
        if (report.down)
            begin(comeDown(report.kind, report.id), report);
        else if (report.kind != ContactReport::Pen)
            ++m_anomalies.orphanLifts;
        return;
    }
    const std::size_t index = std::size_t(contact - m_down.data());
    if (!contact->started) {
        if (report.down)
            begin(*contact, report);
        else
            end(index, true);
        return;
    }
    ++contact->reports;
    contact->lastMs = report.ms;
    if (report.down)
        move(*contact, report);
    else
        end(index, true);
}

void BoardMeasurement::addPacket(ContactReport::Kind kind, double ms)
{
    m_frames[kind].add(ms);
}

BoardMeasurement::Contact& BoardMeasurement::comeDown(ContactReport::Kind kind, int id)
{
    if (m_spare.empty()) {
        m_down.emplace_back();
    } else {
        m_down.push_back(std::move(m_spare.back()));
        m_spare.pop_back();
    }
    Contact& contact = m_down.back();
    contact.kind = kind;
    contact.id = id;
    const int ofKind = ++m_downOfKind[kind];
    m_mostAtOnceOfKind[kind] = std::max(m_mostAtOnceOfKind[kind], ofKind);
    int all = 0;
    for (const int n : m_downOfKind)
        all += n;
    m_mostAtOnce = std::max(m_mostAtOnce, all);
    return contact;
}

void BoardMeasurement::begin(Contact& contact, const ContactReport& report)
{
    contact.started = true;
    contact.firstMs = contact.lastMs = report.ms;
    contact.reports = 1;
    contact.lastX = report.x;
    contact.lastY = report.y;
    contact.samples.clear();
    contact.length = 0;
    contact.still.reset();
    contact.sumX = contact.sumY = contact.tapReach = 0;
    m_coverage.addPoint(report.x, report.y);
    if (m_size)
        track(contact, sample(report));
}

void BoardMeasurement::move(Contact& contact, const ContactReport& report)
{
    m_coverage.addSegment(contact.lastX, contact.lastY, report.x, report.y);
    contact.lastX = report.x;
    contact.lastY = report.y;
    if (!m_size)
        return;
    const Sample s = sample(report);
    const Sample& previous = contact.samples.back();
    // sqrt rather than hypot, which guards against overflow that
    // millimetres on a board never reach, at several times the cost.
    contact.length += std::sqrt(square(s.x - previous.x) + square(s.y - previous.y));
    track(contact, s);
}

void BoardMeasurement::track(Contact& contact, const Sample& s)
{
    contact.samples.push_back(s);
    const Sample& first = contact.samples.front();
    contact.tapReach = std::max(contact.tapReach, square(s.x - first.x) + square(s.y - first.y));
    contact.sumX += s.x;
    contact.sumY += s.y;

    const bool wasStill = contact.still.isStill();
    contact.still.add(s);
    const bool still = contact.still.isStill();
    if (wasStill && !still)
        runEnded(contact);
    if (still && !m_stillNow)
        m_stillNow = Source{contact.kind, contact.id, contact.still.current()->startMs};
}

void BoardMeasurement::runEnded(const Contact& contact)
{
    // The run shown ended: shown as it ended until another contact is still.
    if (m_stillNow && m_stillNow->kind == contact.kind && m_stillNow->id == contact.id) {
        m_stillEnded = stillContact(*m_stillNow, *contact.still.lastEnded(), false);
        m_stillNow.reset();
    }
}

std::size_t BoardMeasurement::countJumps(const Contact& contact, bool lifted)
{
    const std::vector<Sample>& s = contact.samples;
    m_intervals.clear();
    for (std::size_t i = 1; i < s.size(); ++i)
        m_intervals.add(s[i].ms - s[i - 1].ms);
    // The lift ends an interval too, as in ReportRates.
    if (lifted && contact.reports > s.size())
        m_intervals.add(contact.lastMs - s.back().ms);
    if (m_intervals.isEmpty())
        return 0;
    const double quick = JumpIntervals * m_intervals.median();
    std::size_t jumps = 0;
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i].ms - s[i - 1].ms < quick &&
            square(s[i].x - s[i - 1].x) + square(s[i].y - s[i - 1].y) > square(JumpDistance))
            ++jumps;
    }
    return jumps;
}

void BoardMeasurement::tap(const Contact& contact)
{
    if (contact.lastMs - contact.firstMs > TapMs || !(contact.tapReach < square(TapMovement)))
        return;
    const double n = double(contact.samples.size());
    const double x = contact.sumX / n;
    const double y = contact.sumY / n;
    std::optional<Tap> nearest;
    for (std::size_t i = 0; i < m_targets.size(); ++i) {
        const double dx = x - m_targets[i].x * m_mmX;
        const double dy = y - m_targets[i].y * m_mmY;
        const double offset = std::hypot(dx, dy);
        if (offset <= TapReach && (!nearest || offset < nearest->offset))
            nearest = Tap{{contact.kind, contact.id, contact.firstMs}, i, dx, dy, offset};
    }
    if (!nearest)
        return;
    m_taps.push_back(*nearest);
    m_offsetSum += nearest->offset;
    raise(m_farthestTap, nearest->offset, nearest->source);
}

BoardMeasurement::Stroke BoardMeasurement::measure(Contact& contact, bool lifted)
{
    Stroke stroke;
    stroke.kind = contact.kind;
    stroke.id = contact.id;
    stroke.startMs = contact.firstMs;
    stroke.endMs = contact.lastMs;
    stroke.lifted = lifted;
    stroke.reports = contact.reports;
    stroke.rate = ReportRates::rate(contact.reports - 1, contact.lastMs - contact.firstMs);
    if (!lifted)
        ++m_anomalies.stuck;
    else if (contact.lastMs - contact.firstMs < ShortMs)
        ++m_anomalies.shortContacts;
    const Source source{contact.kind, contact.id, contact.firstMs};
    if (lifted && contact.kind == ContactReport::Pen && stroke.rate) {
        // The slowest is the worst: raise() on the negated rate.
        raise(m_slowestPen, -*stroke.rate, source);
    }
    if (!m_size)
        return stroke;

    stroke.length = contact.length;
    stroke.jumps = countJumps(contact, lifted);
    *m_anomalies.jumps += stroke.jumps;

    const bool wasStill = contact.still.isStill();
    contact.still.finish();
    if (wasStill)
        runEnded(contact);
    if (const auto& run = contact.still.largestEnded()) {
        stroke.jitter = run->jitter;
        stroke.jitterRms = contact.still.largestEndedRms();
        raise(m_jitter, run->jitter, {contact.kind, contact.id, run->startMs});
        m_jitterRms = std::max(m_jitterRms.value_or(0.0), *stroke.jitterRms);
        ++m_stillContacts;
    }

    if (!lifted)
        return stroke;
    if (const std::optional<StrokeLine::Fit> fit = StrokeLine::fit(contact.samples)) {
        stroke.straightness = fit->straightness;
        raise(m_straightness, fit->straightness, source);
        ++m_straightStrokes;
        m_lastStraight = StraightStroke{source, point(fit->from.x, fit->from.y),
                                        point(fit->to.x, fit->to.y), fit->straightness};
    }
    tap(contact);
    return stroke;
}

void BoardMeasurement::end(std::size_t index, bool lifted)
{
    Contact& contact = m_down[index];
    if (contact.started)
        m_strokes.push_back(measure(contact, lifted));
    --m_downOfKind[contact.kind];
    // Its buffers go to the next contact.
    m_spare.push_back(std::move(contact));
    if (index + 1 != m_down.size())
        m_down[index] = std::move(m_down.back());
    m_down.pop_back();
}

void BoardMeasurement::finish()
{
    while (!m_down.empty())
        end(m_down.size() - 1, false);
}

void BoardMeasurement::clear()
{
    const std::optional<BoardSize> size = m_size;
    const MeasureLimits limits = m_limits;
    std::vector<Point> targets = std::move(m_targets);
    std::vector<Contact> down = std::move(m_down);
    std::vector<Contact> spare = std::move(m_spare);
    const std::array<int, ContactReport::Kinds> downOfKind = m_downOfKind;
    *this = BoardMeasurement(size, limits);
    m_targets = std::move(targets);
    m_down = std::move(down);
    m_spare = std::move(spare);
    for (Contact& contact : m_down) {
        contact.started = false;
        contact.still.reset();
    }
    m_downOfKind = m_mostAtOnceOfKind = downOfKind;
    for (const int n : downOfKind)
        m_mostAtOnce += n;
}

BoardMeasurement::StillContact BoardMeasurement::stillContact(const Source& source,
                                                              const StillJitter::Run& run,
                                                              bool ongoing) const
{
    StillContact still;
    still.source = source;
    still.mean = point(run.x, run.y);
    still.radiusX = run.jitter / m_mmX;
    still.radiusY = run.jitter / m_mmY;
    still.jitter = run.jitter;
    still.rms = run.rms;
    still.ongoing = ongoing;
    return still;
}

std::optional<BoardMeasurement::StillContact> BoardMeasurement::lastStill() const
{
    if (m_stillNow) {
        for (const Contact& contact : m_down) {
            if (contact.kind == m_stillNow->kind && contact.id == m_stillNow->id) {
                if (const auto run = contact.still.current())
                    return stillContact(*m_stillNow, *run, true);
            }
        }
    }
    return m_stillEnded;
}

BoardMeasurement::Figures BoardMeasurement::figures() const
{
    Figures f;
    for (int kind = 0; kind < ContactReport::Kinds; ++kind) {
        f.rates[std::size_t(kind)] = m_rates.boardRate(ContactReport::Kind(kind));
        f.frameRates[std::size_t(kind)] = m_frames[std::size_t(kind)].rate();
    }
    const auto judged = [](Limited& figure, const std::optional<Worst>& worst) {
        if (worst)
            figure.worst = worst->source;
    };

    f.penRate.value = f.rates[ContactReport::Pen].rate;
    f.penRate.verdict = MeasureLimits::atLeast(f.penRate.value, m_limits.penRate);
    judged(f.penRate, m_slowestPen);

    // Contacts down count with their still runs so far.
    std::optional<Worst> jitter = m_jitter;
    f.jitterRms = m_jitterRms;
    f.stillContacts = m_stillContacts;
    for (const Contact& contact : m_down) {
        const auto& ended = contact.still.largestEnded();
        const std::optional<StillJitter::Run> now = contact.still.current();
        for (const auto& run : {ended, now}) {
            if (!run)
                continue;
            raise(jitter, run->jitter, {contact.kind, contact.id, run->startMs});
            f.jitterRms = std::max(f.jitterRms.value_or(0.0), run->rms);
        }
        f.stillContacts += ended || now;
    }
    if (jitter)
        f.jitter.value = jitter->value;
    f.jitter.verdict = MeasureLimits::atMost(f.jitter.value, m_limits.jitter);
    judged(f.jitter, jitter);

    if (m_straightness)
        f.straightness.value = m_straightness->value;
    f.straightness.verdict = MeasureLimits::atMost(f.straightness.value, m_limits.straightness);
    judged(f.straightness, m_straightness);
    f.straightStrokes = m_straightStrokes;

    if (m_farthestTap) {
        f.accuracy.value = m_farthestTap->value;
        f.meanOffset = m_offsetSum / double(m_taps.size());
    }
    f.accuracy.verdict = MeasureLimits::atMost(f.accuracy.value, m_limits.accuracy);
    judged(f.accuracy, m_farthestTap);
    f.taps = m_taps.size();

    for (const int n : m_downOfKind)
        f.downNow += n;
    f.mostAtOnce = m_mostAtOnce;
    f.mostAtOnceOfKind = m_mostAtOnceOfKind;
    f.anomalies = m_anomalies;
    f.coverage = m_coverage.share();
    f.strokes = m_strokes.size();
    return f;
}
