#pragma once

#include "boardcheck.h"
#include "boardmeasurement.h"

#include <QString>

#include <optional>

// A board check saved in a folder, judged again from what the board sent,
// with no driver and no board: check.json gives the limits, the skips and
// when the check ended, capture.scn every packet with its time, as the
// visualiser saves them (and as boardevents --check --record --json writes
// them into one folder). The capture is read at once on its own times, so
// that the figures are those of the check to the capture's whole
// milliseconds.
class CheckJudge
{
public:
    // Prints the report on standard output and whether its verdicts are
    // those saved; jsonPath, if given, gets the judged check's JSON. Given
    // limits replace the saved ones, and the verdicts are then not compared;
    // a given size replaces the one in the capture's board line. The exit
    // status: 0 when judged with the same verdicts or not compared, 1 when
    // the folder cannot be read or the verdicts differ.
    static int run(const QString& folder, const QString& jsonPath,
                   const std::optional<CheckLimits>& limits,
                   const std::optional<BoardMeasurement::BoardSize>& size);
};
