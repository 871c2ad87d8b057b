#include "measurementreport.h"

#include <QJsonArray>

#include <array>

namespace {

using Kind = ContactReport::Kind;
using Verdict = MeasureLimits::Verdict;
using Measured = SessionMeasurement::Measured;

const char* const KindNames[ContactReport::Kinds] = {"pen", "touch", "eraser"};

// Where a figure's name starts in the report, and its verdict's text.
const int NameWidth = 14;
const int VerdictWidth = 6;

// A figure judged against its limit, and the contacts that decide it.
struct Judged
{
    // As --limit names it.
    QString name;
    BoardMeasurement::Limited figure;
    double limit = 0;
    // The contacts that have the figure, and those of them beyond the limit.
    int counted = 0;
    int beyond = 0;
};

QString kindName(Kind kind)
{
    return QString::fromLatin1(KindNames[kind]);
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString counted(int count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromLatin1(count == 1 ? one : many));
}

QJsonValue value(const std::optional<double>& figure)
{
    return figure ? QJsonValue(*figure) : QJsonValue();
}

QJsonValue value(const std::optional<std::size_t>& count)
{
    return count ? QJsonValue(qint64(*count)) : QJsonValue();
}

QJsonValue value(const std::optional<int>& count)
{
    return count ? QJsonValue(*count) : QJsonValue();
}

QJsonValue verdictValue(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return QStringLiteral("pass");
    case Verdict::Fail:
        return QStringLiteral("fail");
    case Verdict::None:
        break;
    }
    return QJsonValue();
}

// The most contacts at once that the board declares: pens in xp<n>,
// touches in xt<n>; none where its description lacks the tag.
std::optional<int> declared(const Measured& m, Kind kind)
{
    if (!m.info || kind == ContactReport::Eraser)
        return std::nullopt;
    const bool pen = kind == ContactReport::Pen;
    if (!m.info->description.contains(QLatin1String(pen ? "xp<" : "xt<")))
        return std::nullopt;
    return pen ? m.info->xp : m.info->xt;
}

// Jitter, straightness and the pen's rate, in that order.
std::array<Judged, 3> judge(const BoardMeasurement& m)
{
    const BoardMeasurement::Figures f = m.figures();
    const MeasureLimits& limits = m.limits();
    Judged jitter{QStringLiteral("jitter"), f.jitter, limits.jitter};
    Judged straightness{QStringLiteral("straightness"), f.straightness, limits.straightness};
    Judged penRate{QStringLiteral("pen-rate"), f.penRate, limits.penRate};
    for (const BoardMeasurement::Stroke& s : m.strokes()) {
        if (s.jitter) {
            ++jitter.counted;
            jitter.beyond += *s.jitter > limits.jitter;
        }
        if (s.straightness) {
            ++straightness.counted;
            straightness.beyond += *s.straightness > limits.straightness;
        }
        // As the core judges the pen: contacts lifted with a rate.
        if (s.kind == ContactReport::Pen && s.lifted && s.rate) {
            ++penRate.counted;
            penRate.beyond += *s.rate < limits.penRate;
        }
    }
    return {jitter, straightness, penRate};
}

// Failed if any figure failed, passed if any passed and none failed.
Verdict overall(const std::array<Judged, 3>& judged)
{
    Verdict verdict = Verdict::None;
    for (const Judged& j : judged) {
        if (j.figure.verdict == Verdict::Fail)
            return Verdict::Fail;
        if (j.figure.verdict == Verdict::Pass)
            verdict = Verdict::Pass;
    }
    return verdict;
}

// The longest interval of any kind, and its kind.
std::optional<std::pair<double, Kind>> longestGap(const BoardMeasurement& m)
{
    std::optional<std::pair<double, Kind>> longest;
    for (int kind = 0; kind < ContactReport::Kinds; ++kind) {
        const std::optional<double> ms = m.rates().figures(Kind(kind)).longest;
        if (ms && (!longest || *ms > longest->first))
            longest = std::make_pair(*ms, Kind(kind));
    }
    return longest;
}

// The grid's rows, a cell reached as # and one never reached as a dot.
QStringList cellRows(const CoverageGrid& grid)
{
    QStringList rows;
    for (int row = 0; row < CoverageGrid::Rows; ++row) {
        QString cells;
        for (int column = 0; column < CoverageGrid::Columns; ++column)
            cells += grid.reached(column, row) ? '#' : '.';
        rows << cells;
    }
    return rows;
}

class BoardLines
{
public:
    explicit BoardLines(QStringList& lines) : lines(lines) {}

    void add(const QString& name, const QString& text)
    {
        lines << QStringLiteral("#   ") + name.leftJustified(NameWidth) + text;
    }
    void judged(const QString& name, const QString& verdict, const QString& text)
    {
        add(name, verdict.leftJustified(VerdictWidth) + text);
    }
    // A line that goes on from the one before, under its text.
    void more(const QString& text, int indent)
    {
        lines << QStringLiteral("#   ") + QString(NameWidth + indent, ' ') + text;
    }

private:
    QStringList& lines;
};

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return QStringLiteral("PASS");
    case Verdict::Fail:
        return QStringLiteral("FAIL");
    case Verdict::None:
        break;
    }
    return QStringLiteral("-");
}

// How the report words a judged figure.
struct Wording
{
    QString label;
    QString unit;
    // Why there is no figure.
    QString none;
    // The contacts that have the figure, one and several.
    const char* one;
    const char* many;
    // "above" or "below" the limit.
    const char* beyond;
    // What the time of the worst contact is: "down at", "still from".
    const char* when;
};

void addJudged(BoardLines& out, const Judged& j, const QString& figure, const Wording& w)
{
    const QString verdict = verdictText(j.figure.verdict);
    const QString limit = QStringLiteral("limit %1%2").arg(j.limit).arg(w.unit);
    if (!j.figure.value) {
        out.judged(w.label, verdict, w.none + QStringLiteral("; ") + limit);
        return;
    }
    out.judged(w.label, verdict, figure + QStringLiteral(", ") + limit);
    QString detail = QStringLiteral("%1, %2 %3 the limit")
                         .arg(counted(j.counted, w.one, w.many))
                         .arg(j.beyond)
                         .arg(QLatin1String(w.beyond));
    if (const auto& worst = j.figure.worst)
        detail += QStringLiteral("; %1 %2 %3, %4 %5 ms")
                      .arg(j.name == QLatin1String("pen-rate") ? "slowest" : "worst")
                      .arg(kindName(worst->kind))
                      .arg(worst->id)
                      .arg(QLatin1String(w.when))
                      .arg(fixed(worst->ms, 3));
    out.more(detail, VerdictWidth);
}

void boardLines(QStringList& lines, const Measured& m)
{
    const BoardMeasurement& bm = m.measurement;
    const BoardMeasurement::Figures f = bm.figures();
    const std::array<Judged, 3> judged = judge(bm);
    const bool sized = bm.boardSize().has_value();

    lines << (m.board ? QStringLiteral("# measurement of board %1: %2")
                            .arg(*m.board)
                            .arg(m.info ? m.info->description : QString())
                      : QStringLiteral("# measurement of board ?: the packets of several boards, "
                                       "not told apart"));
    BoardLines out(lines);
    if (sized) {
        const QString from = m.sizeFrom == SessionMeasurement::SizeFrom::Option
                                 ? QStringLiteral("--size-mm")
                                 : QStringLiteral("the board's description");
        out.add(QStringLiteral("size"), QStringLiteral("%1 x %2 mm, from %3")
                                            .arg(bm.boardSize()->width)
                                            .arg(bm.boardSize()->height)
                                            .arg(from));
    } else {
        out.add(QStringLiteral("size"),
                QStringLiteral("none: no figure in mm; give --size-mm WxH"));
    }

    QStringList rates;
    for (int kind = 0; kind < ContactReport::Kinds; ++kind) {
        const ReportRates::Rate& rate = f.rates[std::size_t(kind)];
        rates << kindName(Kind(kind)) + ' ' +
                     (rate.rate ? QStringLiteral("%1/s (%2)")
                                      .arg(fixed(*rate.rate, 1))
                                      .arg(counted(int(rate.ratedContacts), "contact", "contacts"))
                                : QStringLiteral("none"));
    }
    out.add(QStringLiteral("report rate"), rates.join(QStringLiteral(", ")));
    QStringList frames;
    for (int kind = 0; kind < ContactReport::Kinds; ++kind) {
        const std::optional<double>& rate = f.frameRates[std::size_t(kind)];
        frames << kindName(Kind(kind)) + ' ' +
                      (rate ? fixed(*rate, 1) + QStringLiteral(" packets/s")
                            : QStringLiteral("none"));
    }
    out.add(QStringLiteral("frame rate"), frames.join(QStringLiteral(", ")));
    const auto gap = longestGap(bm);
    out.add(QStringLiteral("longest gap"),
            gap ? QStringLiteral("%1 ms, %2").arg(fixed(gap->first, 2), kindName(gap->second))
                : QStringLiteral("none: no contact reported twice"));

    QStringList most;
    for (int kind = 0; kind < ContactReport::Kinds; ++kind) {
        const int n = f.mostAtOnceOfKind[std::size_t(kind)];
        QString text = kindName(Kind(kind)) + ' ' + QString::number(n);
        if (const std::optional<int> d = declared(m, Kind(kind)))
            text += QStringLiteral(" (declares %1%2)").arg(*d).arg(n > *d ? ": more" : "");
        most << text;
    }
    out.add(
        QStringLiteral("most down"),
        QStringLiteral("%1 at once: %2").arg(f.mostAtOnce).arg(most.join(QStringLiteral(", "))));

    const QString unmeasured = QStringLiteral("not measured without the board's size");
    addJudged(out, judged[0],
              QStringLiteral("%1 mm, RMS %2 mm")
                  .arg(fixed(f.jitter.value.value_or(0), 3))
                  .arg(fixed(f.jitterRms.value_or(0), 3)),
              {QStringLiteral("jitter"), QStringLiteral(" mm"),
               sized ? QStringLiteral("none: no contact held still") : unmeasured,
               "contact held still", "contacts held still", "above", "still from"});
    addJudged(out, judged[1], fixed(f.straightness.value.value_or(0), 3) + QStringLiteral(" mm"),
              {QStringLiteral("straightness"), QStringLiteral(" mm"),
               sized ? QStringLiteral("none: no straight stroke") : unmeasured, "straight stroke",
               "straight strokes", "above", "down at"});
    addJudged(out, judged[2], fixed(f.penRate.value.value_or(0), 1) + QStringLiteral("/s"),
              {QStringLiteral("pen rate"), QStringLiteral("/s"),
               QStringLiteral("none: no pen with a rate"), "pen stroke with a rate",
               "pen strokes with a rate", "below", "down at"});
    out.judged(QStringLiteral("accuracy"), QStringLiteral("n/a"),
               QStringLiteral("taps on targets: measured in the visualiser; limit %1 mm")
                   .arg(bm.limits().accuracy));

    const BoardMeasurement::Anomalies& a = f.anomalies;
    out.add(QStringLiteral("anomalies"),
            QStringLiteral("stuck %1, orphan lifts %2, jumps %3, short %4")
                .arg(a.stuck)
                .arg(a.orphanLifts)
                .arg(a.jumps ? QString::number(*a.jumps) : QStringLiteral("not measured"))
                .arg(a.shortContacts));
    out.add(QStringLiteral("strokes"), QStringLiteral("%1, each in --json").arg(f.strokes));
    out.add(QStringLiteral("coverage"), QStringLiteral("%1 %: %2 of %3 cells reached (#)")
                                            .arg(fixed(100 * f.coverage, 1))
                                            .arg(bm.coverage().reachedCount())
                                            .arg(CoverageGrid::Cells));
    for (const QString& row : cellRows(bm.coverage()))
        out.more(row, 0);

    QStringList passed, failed, without;
    for (const Judged& j : judged)
        (j.figure.verdict == Verdict::Pass   ? passed
         : j.figure.verdict == Verdict::Fail ? failed
                                             : without)
            << j.name;
    QStringList verdict;
    if (!failed.isEmpty())
        verdict << QStringLiteral("failed ") + failed.join(QStringLiteral(", "));
    if (!passed.isEmpty())
        verdict << QStringLiteral("passed ") + passed.join(QStringLiteral(", "));
    if (!without.isEmpty())
        verdict << QStringLiteral("no figure for ") + without.join(QStringLiteral(", "));
    out.judged(QStringLiteral("verdict"), verdictText(overall(judged)),
               verdict.join(QStringLiteral("; ")));
}

QJsonValue sourceValue(const std::optional<BoardMeasurement::Source>& source)
{
    if (!source)
        return QJsonValue();
    return QJsonObject{{"kind", kindName(source->kind)}, {"id", source->id}, {"ms", source->ms}};
}

QJsonObject strokeObject(const BoardMeasurement::Stroke& s, bool sized)
{
    return QJsonObject{
        {"kind", kindName(s.kind)},
        {"id", s.id},
        {"start_ms", s.startMs},
        {"end_ms", s.endMs},
        {"lifted", s.lifted},
        {"reports", qint64(s.reports)},
        {"rate_hz", value(s.rate)},
        {"length_mm", value(s.length)},
        {"jitter_mm", value(s.jitter)},
        {"jitter_rms_mm", value(s.jitterRms)},
        {"straightness_mm", value(s.straightness)},
        {"jumps", sized ? QJsonValue(qint64(s.jumps)) : QJsonValue()},
    };
}

QJsonObject boardObject(const Measured& m)
{
    const BoardMeasurement& bm = m.measurement;
    const BoardMeasurement::Figures f = bm.figures();
    const std::array<Judged, 3> judged = judge(bm);
    const auto& size = bm.boardSize();

    QJsonObject o;
    o["device"] = m.board ? QJsonValue(*m.board) : QJsonValue();
    o["description"] = m.info ? QJsonValue(m.info->description) : QJsonValue();
    o["size_mm"] = size ? QJsonValue(QJsonArray{size->width, size->height}) : QJsonValue();
    o["size_from"] = m.sizeFrom == SessionMeasurement::SizeFrom::Option ? QJsonValue("option")
                     : m.sizeFrom == SessionMeasurement::SizeFrom::Description
                         ? QJsonValue("description")
                         : QJsonValue();

    QJsonObject rates, frameRates, rated, intervals, most{{"all", f.mostAtOnce}}, declaredMost;
    for (int kind = 0; kind < ContactReport::Kinds; ++kind) {
        const QString name = kindName(Kind(kind));
        const ReportRates::Figures r = bm.rates().figures(Kind(kind));
        rates[name] = value(r.rate);
        frameRates[name] = value(f.frameRates[std::size_t(kind)]);
        rated[name] = qint64(r.ratedContacts);
        intervals[name] = QJsonObject{{"count", qint64(r.intervals)},
                                      {"median_ms", value(r.median)},
                                      {"p99_ms", value(r.p99)},
                                      {"longest_ms", value(r.longest)}};
        most[name] = f.mostAtOnceOfKind[std::size_t(kind)];
        if (kind != ContactReport::Eraser)
            declaredMost[name] = value(declared(m, Kind(kind)));
    }
    o["rate_hz"] = rates;
    o["frame_rate_hz"] = frameRates;
    o["rated_contacts"] = rated;
    o["intervals"] = intervals;
    const auto gap = longestGap(bm);
    o["longest_gap_ms"] = gap ? QJsonValue(gap->first) : QJsonValue();
    o["most_down"] = most;
    o["declared_most"] = declaredMost;

    o["jitter_mm"] = value(f.jitter.value);
    o["jitter_rms_mm"] = value(f.jitterRms);
    o["still_contacts"] = qint64(f.stillContacts);
    o["straightness_mm"] = value(f.straightness.value);
    o["straight_strokes"] = qint64(f.straightStrokes);
    o["pen_rate_hz"] = value(f.penRate.value);
    QJsonObject verdicts, worst, beyond;
    for (const Judged& j : judged) {
        verdicts[j.name] = verdictValue(j.figure.verdict);
        worst[j.name] = sourceValue(j.figure.worst);
        beyond[j.name] = j.beyond;
    }
    o["verdicts"] = verdicts;
    o["verdict"] = verdictValue(overall(judged));
    o["worst"] = worst;
    o["beyond_limit"] = beyond;

    o["anomalies"] = QJsonObject{{"stuck", qint64(f.anomalies.stuck)},
                                 {"orphan_lifts", qint64(f.anomalies.orphanLifts)},
                                 {"jumps", value(f.anomalies.jumps)},
                                 {"short", qint64(f.anomalies.shortContacts)}};
    o["coverage"] = f.coverage;
    o["coverage_cells"] = QJsonArray::fromStringList(cellRows(bm.coverage()));
    QJsonArray strokes;
    for (const BoardMeasurement::Stroke& s : bm.strokes())
        strokes.append(strokeObject(s, size.has_value()));
    o["strokes"] = strokes;
    return o;
}

} // namespace

QStringList MeasurementReport::lines(const SessionMeasurement& session)
{
    QStringList lines{QStringLiteral("# measurement, limits %1")
                          .arg(QString::fromStdString(session.limits().text()))};
    if (session.boards().empty())
        lines << QStringLiteral("# measurement: no board");
    for (const Measured& m : session.boards())
        boardLines(lines, m);
    return lines;
}

QJsonObject MeasurementReport::json(const SessionMeasurement& session, double durationMs)
{
    const MeasureLimits& limits = session.limits();
    QJsonArray boards;
    for (const Measured& m : session.boards())
        boards.append(boardObject(m));
    return QJsonObject{
        {"version", Version},
        {"program", QStringLiteral("boardevents " BOARDEVENTS_VERSION)},
        {"duration_ms", durationMs},
        {"limits", QJsonObject{{"jitter", limits.jitter},
                               {"straightness", limits.straightness},
                               {"pen-rate", limits.penRate},
                               {"accuracy", limits.accuracy}}},
        {"boards", boards},
    };
}
