#include "visualviewdialog.h"

#include "strokesview.h"
#include "testpatterns.h"

#include <QKeyEvent>
#include <QStackedLayout>
#include <QTimer>

#include <optional>

namespace {

constexpr int framePeriodMs = 16;

// Letters count in either case.
std::optional<BackgroundMode> patternForKey(int key)
{
    switch (key) {
    case Qt::Key_H:
    case 'h':
        return BackgroundMode::Help;
    case Qt::Key_C:
    case 'c':
        return BackgroundMode::ColourField;
    case Qt::Key_G:
    case 'g':
        return BackgroundMode::Grid;
    case Qt::Key_S:
    case 's':
        return BackgroundMode::ShapeField;
    case Qt::Key_B:
    case 'b':
        return BackgroundMode::AllBlack;
    case Qt::Key_Left:
        return BackgroundMode::VerticalBars;
    case Qt::Key_Right:
        return BackgroundMode::HorizontalBars;
    default:
        return std::nullopt;
    }
}

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
    if (const auto mode = patternForKey(key)) {
        strokesView->toggleBackgroundMode(*mode);
    } else if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        strokesView->strokeWidth = float(key - Qt::Key_0);
    } else if (key == Qt::Key_Escape) {
        close();
    } else if (key == Qt::Key_Return) {
        if (fullScreen)
            showNormal();
        else
            showFullScreen();
        fullScreen = !fullScreen;
    } else if (key == Qt::Key_Backspace) {
        strokesView->clearStrokes();
    } else if (key == Qt::Key_Space) {
        strokesView->showInfoTags = !strokesView->showInfoTags;
    }
}
