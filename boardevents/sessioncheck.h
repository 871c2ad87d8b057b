#pragma once

#include "boardcheck.h"
#include "boardmeasurement.h"
#include "checkreport.h"
#include "scenariorecorder.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The board check over a session of the board events tool: it starts on the
// one board present once its size is known, takes the contacts of every
// packet at the times they came, and says as lines what the tester is to do
// and what each step found. Its times count from the moment the board was
// found, where a capture of the session starts its schedule, and are whole
// milliseconds, as the capture keeps them, so that a capture judged again
// gives the same figures.
class SessionCheck
{
public:
    // size: every board's, over what its description says.
    SessionCheck(std::optional<BoardMeasurement::BoardSize> size, const CheckLimits& limits);

    // Starts the check on the one board of an enumeration, found at
    // foundMs. Empty when it started; else why it cannot, and what to do.
    QString start(const ScenarioRecorder::Board& board, double foundMs);
    bool isStarted() const { return m_check.has_value(); }
    bool isRunning() const { return m_check && !m_check->isFinished(); }
    bool isQuiet() const { return isRunning() && m_check->step() == BoardCheck::Step::Quiet; }

    // Session times, as the packets' lines give them.
    void add(double ms, const std::vector<ContactReport>& contacts);
    void advance(double ms);
    void skip(double ms);
    void finish(double ms);
    // When the step under way ends without a report; none when only a
    // report ends it.
    std::optional<double> deadline() const;

    // What happened since the last call, a line each: the instruction of a
    // step as it begins, the target or line to draw, notes, the verdict of a
    // step as it ends.
    QStringList takeLines();
    // The report and the JSON at the end; a line that says why there is no
    // check when it never started.
    QStringList report() const;
    QByteArray json() const;
    const std::optional<BoardCheck>& check() const { return m_check; }

private:
    // Where the tester is to act next, in mm and in board units.
    QString where() const;

    std::optional<BoardMeasurement::BoardSize> m_size;
    CheckLimits m_limits;
    std::optional<BoardCheck> m_check;
    CheckReport::Identity m_identity;
    double m_startMs = 0;
    QString m_lastWhere;
    QString m_notStarted = QStringLiteral("no board came");
};
