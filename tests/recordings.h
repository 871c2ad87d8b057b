#pragma once

#include "recordingsfolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTest>

// The recordings of real devices that suites replay, in the folder that
// VISUALVIEW_RECORDINGS gave when configuring (tests/CMakeLists.txt). They
// are kept outside the project, so a plain clone has none: a case that needs
// them skips, but fails where CI is set, so that CI never passes without
// having replayed them.

inline QString recordingsFolder()
{
    return QString::fromUtf8(VISUALVIEW_RECORDINGS_FOLDER);
}

inline QString recordingPath(const QString& name)
{
    return QDir(recordingsFolder()).filePath(name);
}

// Empty with the folder there, else the one line that a skip or failure gives.
inline QByteArray recordingsMissing()
{
    if (QDir(recordingsFolder()).exists())
        return {};
    return "no recordings of real devices in " + QFile::encodeName(recordingsFolder()) +
           ": configure with VISUALVIEW_RECORDINGS set to their folder";
}

// Ends the case (in initTestCase(), the suite) without the recordings. Not
// in a _data function: after a failure there QtTest still runs the case,
// without its data.
#define REQUIRE_RECORDINGS()                                                                       \
    do {                                                                                           \
        const QByteArray missing_ = recordingsMissing();                                           \
        if (!missing_.isEmpty()) {                                                                 \
            if (!qEnvironmentVariableIsEmpty("CI"))                                                \
                QFAIL(missing_.constData());                                                       \
            QSKIP(missing_.constData());                                                           \
        }                                                                                          \
    } while (false)
