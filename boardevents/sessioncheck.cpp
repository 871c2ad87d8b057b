#include "sessioncheck.h"

#include "decimaltext.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString decimal(double value)
{
    return QString::fromStdString(decimalText(value));
}

// Board units of a place in mm, for a robot.
QString units(const BoardCheck::Board& board, const BoardCheck::Point& p)
{
    return QStringLiteral("%1 %2")
        .arg(qRound(p.xMm * ContactReport::BoardUnits / board.widthMm))
        .arg(qRound(p.yMm * ContactReport::BoardUnits / board.heightMm));
}

QString at(const BoardCheck::Board& board, const BoardCheck::Point& p)
{
    return QStringLiteral("%1, %2 mm (board units %3)")
        .arg(decimal(p.xMm), decimal(p.yMm), units(board, p));
}

} // namespace

SessionCheck::SessionCheck(std::optional<BoardMeasurement::BoardSize> size,
                           const CheckLimits& limits)
    : m_size(size), m_limits(limits)
{
}

QString SessionCheck::start(const ScenarioRecorder::Board& board, double foundMs)
{
    BoardCheck::Board b;
    if (m_size) {
        b.widthMm = m_size->width;
        b.heightMm = m_size->height;
    } else if (board.info.millimetres) {
        b.widthMm = board.info.millimetres->width();
        b.heightMm = board.info.millimetres->height();
    } else {
        m_notStarted = QStringLiteral("board %1 does not give its size").arg(board.device);
        return m_notStarted + QStringLiteral(": the board check needs it; give its width and "
                                             "height in mm with --size-mm WxH");
    }
    b.pens = board.info.xp;
    b.touches = board.info.xt;
    m_identity = {board.device, ScenarioRecorder::description(board.info).toStdString()};
    m_startMs = foundMs;
    m_check.emplace(b, m_limits);
    return {};
}

void SessionCheck::add(double ms, const std::vector<ContactReport>& contacts)
{
    if (!isRunning())
        return;
    // To the millisecond, as the capture's schedule keeps it.
    const double at = double(qRound64(ms - m_startMs));
    std::vector<ContactReport> packet = contacts;
    for (ContactReport& contact : packet)
        contact.ms = at;
    m_check->add(packet);
}

void SessionCheck::advance(double ms)
{
    if (isRunning())
        m_check->advance(ms - m_startMs);
}

void SessionCheck::skip(double ms)
{
    if (isRunning())
        m_check->skip(ms - m_startMs);
}

void SessionCheck::finish(double ms)
{
    if (isRunning())
        m_check->finish(ms - m_startMs);
}

std::optional<double> SessionCheck::deadline() const
{
    if (!isRunning() || !m_check->deadline())
        return std::nullopt;
    return *m_check->deadline() + m_startMs;
}

QString SessionCheck::where() const
{
    const BoardCheck::Board& b = m_check->board();
    const auto& results = m_check->results();
    if (const auto line = m_check->line())
        return QStringLiteral("line %1 of 3 from %2 to %3")
            .arg(results[std::size_t(BoardCheck::Step::Lines)].lines.size() + 1)
            .arg(at(b, line->first), at(b, line->second));
    const auto target = m_check->target();
    if (!target)
        return {};
    if (m_check->step() == BoardCheck::Step::Taps)
        return QStringLiteral("target %1 of 13 at %2")
            .arg(results[std::size_t(BoardCheck::Step::Taps)].taps.size() + 1)
            .arg(at(b, *target));
    return QStringLiteral("hold %1 of 2 at %2")
        .arg(results[std::size_t(BoardCheck::Step::Hold)].holds.size() + 1)
        .arg(at(b, *target));
}

QStringList SessionCheck::takeLines()
{
    QStringList lines;
    if (!m_check)
        return lines;
    for (const BoardCheck::Event& event : m_check->takeEvents()) {
        const QString step = QString::fromLatin1(BoardCheck::name(event.step));
        const QString text = QString::fromStdString(event.text);
        switch (event.kind) {
        case BoardCheck::Event::Kind::Began:
            lines << QStringLiteral("step %1 of %2, %3: %4")
                         .arg(int(event.step) + 1)
                         .arg(BoardCheck::Steps)
                         .arg(step, text);
            break;
        case BoardCheck::Event::Kind::Note:
            lines << step + QStringLiteral(": ") + text;
            break;
        case BoardCheck::Event::Kind::Ended:
            lines << QStringLiteral("%1: %2 %3")
                         .arg(step, QString::fromStdString(CheckReport::shout(event.verdict)),
                              text.isEmpty() ? QString::fromStdString(CheckReport::figures(
                                                   m_check->results()[std::size_t(event.step)]))
                                             : text);
            break;
        }
    }
    // The next place to act at, once what led to it is said.
    const QString next = m_check->isFinished() ? QString() : where();
    if (!next.isEmpty() && next != m_lastWhere)
        lines << QString::fromLatin1(BoardCheck::name(m_check->step())) + QStringLiteral(": ") +
                     next;
    m_lastWhere = next;
    if (m_check->isFinished() && !lines.isEmpty())
        lines << QStringLiteral("board: ") +
                     QString::fromStdString(CheckReport::shout(m_check->verdict()));
    return lines;
}

QStringList SessionCheck::report() const
{
    QStringList lines;
    if (!m_check) {
        lines << QStringLiteral("check: not done: ") + m_notStarted;
        return lines;
    }
    for (const std::string& line : CheckReport::lines(*m_check, m_identity))
        lines << QString::fromStdString(line);
    return lines;
}

QByteArray SessionCheck::json() const
{
    if (!m_check)
        return QJsonDocument(QJsonObject{{QStringLiteral("version"), CheckReport::Version},
                                         {QStringLiteral("check"), QJsonValue::Null}})
            .toJson();
    return QByteArray::fromStdString(CheckReport::json(*m_check, m_identity));
}
