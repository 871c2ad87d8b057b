#pragma once

#include "boardchecker.h"

#include <QObject>
#include <QTransform>

class CheckOverlay;
class MeasurementOverlay;
class StrokesView;

// The board check as the visualiser runs it: its keys, and those that act
// otherwise while it shows; its steps and its report over the strokes view;
// its folder saved when it ends, and nothing for a check left before.
//
// It takes the view's overlay from the measurements while it shows (the
// panel, the targets), and gives it back as it was.
class CheckScreen : public QObject
{
    Q_OBJECT

public:
    CheckScreen(BoardChecker* checker, StrokesView* view, MeasurementOverlay* measurements,
                QObject* parent = nullptr);

    // K starts the check (only full screen: every target must be on the
    // window) and leaves it or its report, N skips a step, M and T do
    // nothing while it shows, Backspace clears only the strokes, Return and
    // Escape leave it and then do what they always do. True when the key
    // needs nothing more.
    bool key(int key, bool fullScreen, const QTransform& boardToView);
    // At each frame: saves a check that ended and shows its report, and
    // draws what changed.
    void refresh(const QTransform& boardToView);

private:
    void startOrLeave(bool fullScreen);
    void leave();
    // Why the check does not start, on screen and on standard error.
    void say(const QString& text);
    void takeOverlay();
    void takeEnded();
    void save(const BoardChecker::Outcome& outcome);

    BoardChecker* checker;
    StrokesView* view;
    MeasurementOverlay* measurements;
    CheckOverlay* overlay;
    // What showed of the measurements before the check took the overlay.
    bool panelBefore = false;
    bool targetsBefore = false;
};
