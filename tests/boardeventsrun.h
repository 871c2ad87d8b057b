#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <csignal>

// One run of the board events tool and what it printed: event lines start
// with their time, the others with #.
class BoardEventsRun
{
public:
    explicit BoardEventsRun(
        const QStringList& arguments, const QString& program = BOARDEVENTS,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
    }
    ~BoardEventsRun()
    {
        process.kill();
        process.waitForFinished();
    }

    // Reads until there are this many event lines, or the program ends.
    bool waitForEvents(int count)
    {
        while (events().size() < count) {
            if (!process.waitForReadyRead(20000))
                return false;
        }
        return true;
    }

    // Reads until done() holds, the program ends or the time is out. Looks
    // again every 100 ms, not at each piece of output: a look costs as much
    // as all the output so far, and looking at each piece would take the
    // processor from the program being read. What is awaited may also come
    // on standard error, which does not end a wait for output.
    template <typename Done> bool waitUntil(Done done, int timeoutMs = 60000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return done();
            const QDeadlineTimer look(100);
            while (!look.hasExpired() && process.state() != QProcess::NotRunning)
                process.waitForReadyRead(int(look.remainingTime()));
        }
        return true;
    }

    // Ctrl+C, then the program's exit status.
    int interrupt()
    {
        ::kill(pid_t(process.processId()), SIGINT);
        return finish();
    }

    int finish(int timeoutMs = 30000)
    {
        if (!process.waitForFinished(timeoutMs))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // How the program ended and what it said, for a failure's message.
    QString outcome()
    {
        const QString ended =
            process.state() != QProcess::NotRunning ? QStringLiteral("still running")
            : process.exitStatus() == QProcess::CrashExit
                ? QStringLiteral("crashed (%1)").arg(process.errorString())
                : QStringLiteral("exit status %1").arg(process.exitCode());
        return ended + "; output:\n" + lines().join('\n') + "\nerrors:\n" + errors();
    }

    // The lines printed so far: those ended, and once the program has ended
    // the last one unended. Kept as they come, so that looking again costs
    // only what is new.
    QStringList lines()
    {
        pending += QString::fromUtf8(process.readAllStandardOutput());
        const int end = pending.lastIndexOf('\n') + 1;
        if (end > 0) {
            for (const QString& line : pending.left(end).split('\n', Qt::SkipEmptyParts)) {
                complete << line;
                if (!line.startsWith('#'))
                    eventLines << line.trimmed().section(' ', 1);
            }
            pending.remove(0, end);
        }
        if (process.state() == QProcess::NotRunning && !pending.isEmpty())
            return complete + QStringList{pending};
        return complete;
    }

    // What each event line says after its time.
    QStringList events()
    {
        lines();
        return eventLines;
    }

    QList<double> times()
    {
        QList<double> found;
        for (const QString& line : lines())
            if (!line.startsWith('#'))
                found << line.trimmed().section(' ', 0, 0).toDouble();
        return found;
    }

    QStringList summary() { return lines().filter(QRegularExpression("^# board ")); }

    QString errors()
    {
        errorOutput += QString::fromUtf8(process.readAllStandardError());
        return errorOutput;
    }

    QProcess process;

private:
    QString pending;
    QStringList complete;
    QStringList eventLines;
    QString errorOutput;
};
