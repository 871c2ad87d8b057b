#include "visualviewdialog.h"

#include "strokesview.h"
#include "testpatterns.h"

#include <QKeyEvent>
#include <QStackedLayout>
#include <QTimer>

namespace {

constexpr int framePeriodMs = 16;

} // namespace

VisualViewDialog::VisualViewDialog(QWidget* parent) : QDialog(parent)
{
    setAttribute(Qt::WA_TranslucentBackground, true);

    auto* layout = new QStackedLayout;
    layout->setStackingMode(QStackedLayout::StackAll);
    setLayout(layout);

    strokesView = new StrokesView;
    strokesView->setPatternPainter(&TestPatterns::draw);
    layout->addWidget(strokesView);
    views.push_back(strokesView);

    frameTimer = new QTimer(this);
    frameTimer->setSingleShot(true);
    connect(frameTimer, &QTimer::timeout, this, &VisualViewDialog::in_timer_update);
    frameTimer->start(framePeriodMs);

    showFullScreen();
}

// Every refresh of the tick is started before the first wait, so that the
// asynchronous ones run side by side; painting starts only when all are done.
void VisualViewDialog::in_timer_update()
{
    frameTimer->start(framePeriodMs);
    for (ItemView* view : views)
        for (const auto& item : view->items)
            item->scheduleRefresh();
    for (ItemView* view : views)
        for (const auto& item : view->items)
            item->waitRefresh();
    for (ItemView* view : views)
        view->update(view->takeDirty());
}

// Every key stops here: QDialog's own handling would reject on Escape and
// press a default button on Return.
void VisualViewDialog::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    switch (key) {
    case Qt::Key_Escape:
        close();
        break;
    case Qt::Key_Return:
        if (fullScreen)
            showNormal();
        else
            showFullScreen();
        fullScreen = !fullScreen;
        break;
    case Qt::Key_Backspace:
        strokesView->clearStrokes();
        break;
    case Qt::Key_Space:
        strokesView->showInfoTags = !strokesView->showInfoTags;
        break;
    case Qt::Key_H:
    case 'h':
        strokesView->toggleBackgroundMode(BackgroundMode::Help);
        break;
    case Qt::Key_C:
    case 'c':
        strokesView->toggleBackgroundMode(BackgroundMode::ColourField);
        break;
    case Qt::Key_G:
    case 'g':
        strokesView->toggleBackgroundMode(BackgroundMode::Grid);
        break;
    case Qt::Key_S:
    case 's':
        strokesView->toggleBackgroundMode(BackgroundMode::ShapeField);
        break;
    case Qt::Key_B:
    case 'b':
        strokesView->toggleBackgroundMode(BackgroundMode::AllBlack);
        break;
    case Qt::Key_Left:
        strokesView->toggleBackgroundMode(BackgroundMode::VerticalBars);
        break;
    case Qt::Key_Right:
        strokesView->toggleBackgroundMode(BackgroundMode::HorizontalBars);
        break;
    default:
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            strokesView->strokeWidth = float(key - Qt::Key_0);
        break;
    }
}
