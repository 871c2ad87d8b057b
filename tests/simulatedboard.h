#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

// A scenario for the simulated board and the log of the calls it receives.
// The board reads both variables when it is attached, so create this before
// the object that attaches.
class SimulatedBoard
{
public:
    explicit SimulatedBoard(const QByteArray& scenario)
    {
        QFile file(dir.filePath("scenario.txt"));
        if (file.open(QIODevice::WriteOnly))
            file.write(scenario);
        qputenv("NORVABOARD_SCENARIO", QFile::encodeName(file.fileName()));
        qputenv("NORVABOARD_LOG", QFile::encodeName(logPath()));
    }

    QString logPath() const { return dir.filePath("calls.log"); }

    QStringList calls() const
    {
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    // The calls logged since the last take.
    QStringList take()
    {
        const QStringList all = calls();
        const QStringList recent = all.mid(taken);
        taken = all.size();
        return recent;
    }

private:
    QTemporaryDir dir;
    int taken = 0;
};
