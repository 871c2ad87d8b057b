#include "checkscreen.h"

#include "checkfolder.h"
#include "checkoverlay.h"
#include "measurementoverlay.h"
#include "strokesview.h"

#include <QDir>

#include <iostream>

CheckScreen::CheckScreen(BoardChecker* checker, StrokesView* view, MeasurementOverlay* measurements,
                         QObject* parent)
    : QObject(parent), checker(checker), view(view), measurements(measurements),
      overlay(new CheckOverlay(checker, view))
{
    connect(overlay, &CheckOverlay::hidden, this, [this] {
        if (panelBefore)
            this->measurements->setPanelShown(true);
        if (targetsBefore)
            this->measurements->setTargetsShown(true);
    });
}

bool CheckScreen::key(int key, bool fullScreen, const QTransform& boardToView)
{
    overlay->setBoardToView(boardToView);
    // A check that ended since the last frame is saved, whatever the key.
    takeEnded();
    const CheckOverlay::Mode mode = overlay->mode();
    const bool checking = mode == CheckOverlay::Mode::Steps || mode == CheckOverlay::Mode::Report;
    switch (key) {
    case Qt::Key_K:
    case 'k':
        startOrLeave(fullScreen);
        return true;
    case Qt::Key_N:
    case 'n':
        if (mode == CheckOverlay::Mode::Steps)
            checker->skip();
        return true;
    // The targets' taps would overlap the check's, and the panel its box.
    case Qt::Key_M:
    case 'm':
    case Qt::Key_T:
    case 't':
        if (mode == CheckOverlay::Mode::Notice)
            overlay->hide();
        return checking;
    // The measurements' figures go on.
    case Qt::Key_Backspace:
        if (checking)
            view->clearStrokes();
        return checking;
    case Qt::Key_Return:
    case Qt::Key_Escape:
        if (checking)
            leave();
        return false;
    default:
        return false;
    }
}

void CheckScreen::refresh(const QTransform& boardToView)
{
    takeEnded();
    if (overlay->mode() == CheckOverlay::Mode::Hidden)
        return;
    overlay->setBoardToView(boardToView);
    overlay->refresh();
}

void CheckScreen::startOrLeave(bool fullScreen)
{
    const CheckOverlay::Mode mode = overlay->mode();
    if (mode == CheckOverlay::Mode::Steps || mode == CheckOverlay::Mode::Report) {
        leave();
        return;
    }
    if (!fullScreen) {
        say(QStringLiteral(
            "The board check runs full screen only: press Return for full screen, then K."));
        return;
    }
    const QString problem = checker->start();
    if (!problem.isEmpty()) {
        say(problem);
        return;
    }
    takeOverlay();
    overlay->showSteps();
}

// Whatever the check got to, nothing of it is kept.
void CheckScreen::leave()
{
    checker->leave();
    overlay->hide();
}

void CheckScreen::say(const QString& text)
{
    std::cerr << "visualview: " << text.toStdString() << std::endl;
    takeOverlay();
    overlay->showNotice(text);
}

void CheckScreen::takeOverlay()
{
    if (overlay->mode() != CheckOverlay::Mode::Hidden)
        return;
    panelBefore = measurements->panelShown();
    targetsBefore = measurements->targetsShown();
    measurements->setPanelShown(false);
    measurements->setTargetsShown(false);
}

void CheckScreen::takeEnded()
{
    if (overlay->mode() != CheckOverlay::Mode::Steps)
        return;
    if (const auto outcome = checker->takeOutcome())
        save(*outcome);
}

// The report says where the check is saved, and report.png is that screen.
void CheckScreen::save(const BoardChecker::Outcome& outcome)
{
    QString error;
    const QString folder =
        CheckFolder::create(QString::fromStdString(outcome.board.description), error);
    if (!folder.isEmpty()) {
        const QString shown = QDir::toNativeSeparators(folder);
        overlay->showReport(outcome, QStringLiteral("Saved in ") + shown, true);
        error = CheckFolder::write(folder, outcome, view->grab().toImage());
        if (error.isEmpty()) {
            std::cout << "board check saved: " << shown.toStdString() << std::endl;
            return;
        }
    }
    std::cerr << "visualview: the board check is not saved: " << error.toStdString() << std::endl;
    overlay->showReport(outcome, QStringLiteral("Not saved: ") + error, false);
}
