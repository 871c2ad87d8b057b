#pragma once

#include "boardchecker.h"

#include <QImage>
#include <QString>

// A board check saved so that anyone can judge it again: a folder per check,
// <date>-<time>-<board>, in the checks folder, holding the check's JSON
// (check.json), the report screen (report.png) and every packet of the
// check (capture.scn), which boardevents --judge reads back.
class CheckFolder
{
public:
    // VISUALVIEW_CHECK_DIR where set, else checks in the user's data folder
    // of visualview.
    static QString checksFolder();
    // A new folder for a check of the board of that description; empty,
    // with error set, when it cannot be made.
    static QString create(const QString& description, QString& error);
    // Writes the three files into the folder; empty when all were written,
    // else why not, and the folder is gone.
    static QString write(const QString& folder, const BoardChecker::Outcome& outcome,
                         const QImage& report);
};
