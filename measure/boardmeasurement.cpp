#include "boardmeasurement.h"

#include <algorithm>
#include <cmath>

namespace {

double square(double value)
{
    return value * value;
}

bool onBoard(double x, double y)
{
    return x >= 0 && x < ContactReport::BoardUnits && y >= 0 && y < ContactReport::BoardUnits;
}

// Appends to a list that keeps its last most entries, counting those that go.
template <typename T>
void keepLast(std::deque<T>& list, T item, std::size_t most, std::size_t& leftOut)
{
    list.push_back(std::move(item));
    if (list.size() > most) {
        list.pop_front();
        ++leftOut;
    }
}

} // namespace

BoardMeasurement::BoardMeasurement(std::optional<BoardSize> size) : m_size(size)
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

void BoardMeasurement::raise(std::optional<Largest>& largest, double value, const Source& source)
{
    if (!largest || value > largest->value)
        largest = Largest{value, source};
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
    contact.length = 0;
    contact.still.reset();
    contact.line.clear();
    contact.sumX = contact.sumY = contact.tapReach = 0;
    contact.jumpIntervals.clear();
    contact.jumps = 0;
    // A position off the board marks no cell.
    if (onBoard(report.x, report.y))
        m_coverage.addPoint(report.x, report.y);
    if (m_size) {
        contact.first = contact.last = sample(report);
        track(contact, contact.first);
    }
}

void BoardMeasurement::move(Contact& contact, const ContactReport& report)
{
    if (onBoard(report.x, report.y)) {
        if (onBoard(contact.lastX, contact.lastY))
            m_coverage.addSegment(contact.lastX, contact.lastY, report.x, report.y);
        else
            m_coverage.addPoint(report.x, report.y);
    }
    contact.lastX = report.x;
    contact.lastY = report.y;
    if (!m_size)
        return;
    const Sample s = sample(report);
    const Sample& previous = contact.last;
    // sqrt rather than hypot, which guards against overflow that
    // millimetres on a board never reach, at several times the cost.
    const double step = std::sqrt(square(s.x - previous.x) + square(s.y - previous.y));
    contact.length += step;
    if (step > JumpDistance) {
        if (contact.jumpIntervals.size() < MaxJumpCandidates)
            contact.jumpIntervals.push_back(s.ms - previous.ms);
        else if (const auto median = medianInterval(contact.kind);
                 median && s.ms - previous.ms < JumpIntervals * *median)
            // Beyond what is kept, judged by the median so far.
            ++contact.jumps;
    }
    contact.last = s;
    track(contact, s);
}

void BoardMeasurement::track(Contact& contact, const Sample& s)
{
    const Sample& first = contact.first;
    contact.tapReach = std::max(contact.tapReach, square(s.x - first.x) + square(s.y - first.y));
    contact.sumX += s.x;
    contact.sumY += s.y;
    contact.line.add(s);
    if (s.ms - contact.firstMs < SettleMs)
        return;

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

std::optional<double> BoardMeasurement::medianInterval(ContactReport::Kind kind) const
{
    return m_rates.figures(kind).median;
}

void BoardMeasurement::tap(const Contact& contact)
{
    if (contact.lastMs - contact.firstMs > TapMs || !(contact.tapReach < square(TapMovement)))
        return;
    // Every report down is a sample, the first included.
    const double n = double(contact.reports - 1);
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
    ++m_tapCount;
    m_offsetSum += nearest->offset;
    raise(m_farthestTap, nearest->offset, nearest->source);
    keepLast(m_taps, *nearest, MaxTaps, m_tapsLeftOut);
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
    if (!m_size)
        return stroke;

    stroke.length = contact.length;
    stroke.jumps = contact.jumps;
    if (!contact.jumpIntervals.empty()) {
        if (const std::optional<double> median = medianInterval(contact.kind)) {
            stroke.jumps += std::size_t(
                std::count_if(contact.jumpIntervals.begin(), contact.jumpIntervals.end(),
                              [&](double ms) { return ms < JumpIntervals * *median; }));
        }
    }
    *m_anomalies.jumps += stroke.jumps;

    const bool wasStill = contact.still.isStill();
    contact.still.finish();
    if (wasStill)
        runEnded(contact);
    if (const auto& run = contact.still.largestEnded()) {
        stroke.jitter = run->jitter;
        stroke.jitterRms = contact.still.largestEndedRms();
        const Source source{contact.kind, contact.id, run->startMs};
        if (!m_jitter || run->jitter > m_jitter->value)
            m_jitterRun = StillRun{source, run->endMs - run->startMs, run->reports};
        raise(m_jitter, run->jitter, source);
        m_jitterRms = std::max(m_jitterRms.value_or(0.0), *stroke.jitterRms);
        ++m_stillContacts;
    }

    if (!lifted)
        return stroke;
    const Source source{contact.kind, contact.id, contact.firstMs};
    if (const std::optional<StrokeLine::Fit> fit = contact.line.fit()) {
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
        keepLast(m_strokes, measure(contact, lifted), MaxStrokes, m_strokesLeftOut);
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
    std::vector<Point> targets = std::move(m_targets);
    std::vector<Contact> down = std::move(m_down);
    std::vector<Contact> spare = std::move(m_spare);
    const std::array<int, ContactReport::Kinds> downOfKind = m_downOfKind;
    *this = BoardMeasurement(size);
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
    still.lengthMs = run.endMs - run.startMs;
    still.reports = run.reports;
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

    // Contacts down count with their still runs so far.
    std::optional<Largest> jitter = m_jitter;
    std::optional<StillRun> jitterRun = m_jitterRun;
    f.jitterRms = m_jitterRms;
    f.stillContacts = m_stillContacts;
    for (const Contact& contact : m_down) {
        const auto& ended = contact.still.largestEnded();
        const std::optional<StillJitter::Run> now = contact.still.current();
        for (const auto& run : {ended, now}) {
            if (!run)
                continue;
            const Source source{contact.kind, contact.id, run->startMs};
            if (!jitter || run->jitter > jitter->value)
                jitterRun = StillRun{source, run->endMs - run->startMs, run->reports};
            raise(jitter, run->jitter, source);
            f.jitterRms = std::max(f.jitterRms.value_or(0.0), run->rms);
        }
        f.stillContacts += ended || now;
    }
    if (jitter) {
        f.jitter = jitter->value;
        f.jitterRun = jitterRun;
    }
    if (m_straightness)
        f.straightness = m_straightness->value;
    f.straightStrokes = m_straightStrokes;
    if (m_farthestTap) {
        f.largestOffset = m_farthestTap->value;
        f.meanOffset = m_offsetSum / double(m_tapCount);
    }
    f.taps = m_tapCount;

    for (const int n : m_downOfKind)
        f.downNow += n;
    f.mostAtOnce = m_mostAtOnce;
    f.mostAtOnceOfKind = m_mostAtOnceOfKind;
    f.anomalies = m_anomalies;
    f.coverage = m_coverage.share();
    f.strokes = m_strokes.size() + m_strokesLeftOut;
    return f;
}
