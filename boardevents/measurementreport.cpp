#include "measurementreport.h"

#include <QJsonArray>

namespace {

using Kind = ContactReport::Kind;
using Measured = SessionMeasurement::Measured;

const char* const KindNames[ContactReport::Kinds] = {"pen", "touch", "eraser"};

// Where a figure's name starts in the report.
const int NameWidth = 14;

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
    // A line that goes on from the one before, under its text.
    void more(const QString& text, int indent)
    {
        lines << QStringLiteral("#   ") + QString(NameWidth + indent, ' ') + text;
    }

private:
    QStringList& lines;
};

void boardLines(QStringList& lines, const Measured& m)
{
    const BoardMeasurement& bm = m.measurement;
    const BoardMeasurement::Figures f = bm.figures();
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
                     (rate.rate ? QStringLiteral("%1/s, lowest %2/s (%3)")
                                      .arg(fixed(*rate.rate, 1), fixed(*rate.lowest, 1))
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
    if (!f.jitter) {
        out.add(QStringLiteral("jitter"),
                sized ? QStringLiteral("none: no contact held still") : unmeasured);
    } else {
        const BoardMeasurement::StillRun& run = *f.jitterRun;
        out.add(
            QStringLiteral("jitter"),
            QStringLiteral("%1 mm, RMS %2 mm: the largest of %3")
                .arg(fixed(*f.jitter, 3), fixed(f.jitterRms.value_or(0), 3))
                .arg(counted(int(f.stillContacts), "contact held still", "contacts held still")));
        out.more(QStringLiteral("%1 %2 still from %3 ms for %4 ms, %5 reports; each contact's "
                                "first %6 ms left out")
                     .arg(kindName(run.source.kind))
                     .arg(run.source.id)
                     .arg(fixed(run.source.ms, 3), fixed(run.lengthMs, 3))
                     .arg(run.reports)
                     .arg(BoardMeasurement::SettleMs),
                 0);
    }
    out.add(QStringLiteral("straightness"),
            f.straightness
                ? QStringLiteral("%1 mm: the largest of %2")
                      .arg(fixed(*f.straightness, 3))
                      .arg(counted(int(f.straightStrokes), "straight stroke", "straight strokes"))
            : sized ? QStringLiteral("none: no straight stroke")
                    : unmeasured);
    out.add(QStringLiteral("taps"), QStringLiteral("on targets, measured in the visualiser (T)"));

    const BoardMeasurement::Anomalies& a = f.anomalies;
    out.add(QStringLiteral("anomalies"),
            QStringLiteral("stuck %1, orphan lifts %2, jumps %3, short %4")
                .arg(a.stuck)
                .arg(a.orphanLifts)
                .arg(a.jumps ? QString::number(*a.jumps) : QStringLiteral("not measured"))
                .arg(a.shortContacts));
    out.add(
        QStringLiteral("strokes"),
        bm.strokesLeftOut() == 0
            ? QStringLiteral("%1, each in --json").arg(f.strokes)
            : QStringLiteral("%1, the last %2 in --json").arg(f.strokes).arg(bm.strokes().size()));
    out.add(QStringLiteral("coverage"), QStringLiteral("%1 %: %2 of %3 cells reached (#)")
                                            .arg(fixed(100 * f.coverage, 1))
                                            .arg(bm.coverage().reachedCount())
                                            .arg(CoverageGrid::Cells));
    for (const QString& row : cellRows(bm.coverage()))
        out.more(row, 0);
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
    const auto& size = bm.boardSize();

    QJsonObject o;
    o["device"] = m.board ? QJsonValue(*m.board) : QJsonValue();
    o["description"] = m.info ? QJsonValue(m.info->description) : QJsonValue();
    o["size_mm"] = size ? QJsonValue(QJsonArray{size->width, size->height}) : QJsonValue();
    o["size_from"] = m.sizeFrom == SessionMeasurement::SizeFrom::Option ? QJsonValue("option")
                     : m.sizeFrom == SessionMeasurement::SizeFrom::Description
                         ? QJsonValue("description")
                         : QJsonValue();

    QJsonObject rates, lowest, frameRates, rated, intervals, most{{"all", f.mostAtOnce}},
        declaredMost;
    for (int kind = 0; kind < ContactReport::Kinds; ++kind) {
        const QString name = kindName(Kind(kind));
        const ReportRates::Figures r = bm.rates().figures(Kind(kind));
        rates[name] = value(r.rate);
        lowest[name] = value(r.lowest);
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
    o["lowest_rate_hz"] = lowest;
    o["frame_rate_hz"] = frameRates;
    o["rated_contacts"] = rated;
    o["intervals"] = intervals;
    const auto gap = longestGap(bm);
    o["longest_gap_ms"] = gap ? QJsonValue(gap->first) : QJsonValue();
    o["most_down"] = most;
    o["declared_most"] = declaredMost;

    o["jitter_mm"] = value(f.jitter);
    o["jitter_rms_mm"] = value(f.jitterRms);
    o["jitter_run"] = f.jitterRun
                          ? QJsonValue(QJsonObject{{"kind", kindName(f.jitterRun->source.kind)},
                                                   {"id", f.jitterRun->source.id},
                                                   {"start_ms", f.jitterRun->source.ms},
                                                   {"length_ms", f.jitterRun->lengthMs},
                                                   {"reports", qint64(f.jitterRun->reports)}})
                          : QJsonValue();
    o["still_contacts"] = qint64(f.stillContacts);
    o["straightness_mm"] = value(f.straightness);
    o["straight_strokes"] = qint64(f.straightStrokes);
    o["pen_rate_hz"] = value(f.rates[ContactReport::Pen].rate);
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
    o["strokes_left_out"] = qint64(bm.strokesLeftOut());
    return o;
}

} // namespace

QStringList MeasurementReport::lines(const SessionMeasurement& session)
{
    QStringList lines{QStringLiteral("# measurement: figures of what the boards did, which judge "
                                     "nothing; verdicts come from the board check (--check, or "
                                     "K in the visualiser)")};
    if (session.boards().empty())
        lines << QStringLiteral("# measurement: no board");
    for (const Measured& m : session.boards())
        boardLines(lines, m);
    return lines;
}

QJsonObject MeasurementReport::json(const SessionMeasurement& session, double durationMs)
{
    QJsonArray boards;
    for (const Measured& m : session.boards())
        boards.append(boardObject(m));
    return QJsonObject{
        {"version", Version},
        {"program", QStringLiteral("boardevents " BOARDEVENTS_VERSION)},
        {"duration_ms", durationMs},
        {"boards", boards},
    };
}
