#pragma once

#include "sessionmeasurement.h"

#include <QJsonObject>
#include <QStringList>

// A session's figures as the board events tool gives them at its end: lines
// for a person, every one starting with #, and a JSON document for scripts
// with the same figures and every stroke. docs/measuring.md defines each
// figure and lists the JSON's names; Version changes when a name changes
// meaning or goes away.
class MeasurementReport
{
public:
    static constexpr int Version = 2;

    // Per board in the order they came: its size, report rates (the median
    // and the lowest contact) and frame rates, longest gap, most contacts at
    // once beside the most it declares, still jitter with its run, the
    // straightness of strokes along a ruler, anomalies and coverage with the
    // grid of cells reached. Figures only: no limit, no verdict.
    static QStringList lines(const SessionMeasurement& session);
    static QJsonObject json(const SessionMeasurement& session, double durationMs);
};
