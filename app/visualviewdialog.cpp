#include "visualviewdialog.h"

#include "strokesview.h"
#include "testpatterns.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
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

// The window is opaque: the strokes view covers all of it with opaque
// pixels, so a translucent window would look the same, yet cost a clear of
// every repainted area and, on Windows, a layered window's slower updates.
VisualViewDialog::VisualViewDialog(QWidget* parent) : QDialog(parent)
{
    auto* layout = new QStackedLayout;
    layout->setStackingMode(QStackedLayout::StackAll);
    setLayout(layout);

    strokesView = new StrokesView;
    strokesView->setPatternPainter(&TestPatterns::draw);
    layout->addWidget(strokesView);
    views.push_back(strokesView);

    adapter = std::make_unique<Quorvel>(this);
    connect(adapter.get(), &Quorvel::out_quorvel_pen_event, this,
            &VisualViewDialog::in_quorvel_pen);
    connect(adapter.get(), &Quorvel::out_quorvel_touch_event, this,
            &VisualViewDialog::in_quorvel_touch);
    connect(adapter.get(), &Quorvel::out_quorvel_erase_event, this,
            &VisualViewDialog::in_quorvel_erase);

    frameTimer = new QTimer(this);
    frameTimer->setSingleShot(true);
    // A coarse timer may fire up to 5 % late, which makes the longest wait
    // for a frame longer than a frame.
    frameTimer->setTimerType(Qt::PreciseTimer);
    connect(frameTimer, &QTimer::timeout, this, &VisualViewDialog::in_timer_update);
    frameTimer->start(framePeriodMs);

    showFullScreen();
}

VisualViewDialog::~VisualViewDialog() = default;

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

// A normalised record lands on the screen that shows the dialog.
QPoint VisualViewDialog::dialogPoint(const Quorvel::Controls& record, const QRect& screen) const
{
    return mapFromGlobal(record.globalPoint(screen));
}

// A contact binds to the widget under its first record that arrives while the
// dialog is the active window and lies inside it, and stays bound until it ends.
QWidget* VisualViewDialog::bind(Targets& targets, int id, const QPoint& point)
{
    QWidget*& target = targets[id];
    if (target == nullptr && window() == QApplication::activeWindow() && rect().contains(point))
        target = childAt(point);
    return target;
}

void VisualViewDialog::in_quorvel_pen(Quorvel::Controls& event)
{
    const QRect screenRect = screen()->geometry();
    const QPoint point = dialogPoint(event, screenRect);
    if (QWidget* target = bind(penTargets, event.id, point)) {
        event.flags |= Quorvel::Controls::Claimed;
        Quorvel::Controls local = event;
        local.radiusX *= screenRect.width();
        local.radiusY *= screenRect.height();
        local.pos = local.viewPos = QPointF(target->mapFrom(this, point));
        if (target == strokesView)
            strokesView->in_pen_event(local);
    }
    // A pen without buttons is bound anew at each record.
    if (event.buttons == 0)
        penTargets[event.id] = nullptr;
}

void VisualViewDialog::in_quorvel_touch(std::vector<Quorvel::Controls>& event)
{
    routeContacts(event, touchTargets, touchBatches, &ItemView::in_touch_event);
}

void VisualViewDialog::in_quorvel_erase(std::vector<Quorvel::Controls>& event)
{
    routeContacts(event, eraseTargets, eraseBatches, &ItemView::in_erase_event);
}

// All records of one call that are bound to the strokes view reach it in one
// call, in their order.
void VisualViewDialog::routeContacts(
    std::vector<Quorvel::Controls>& records, Targets& targets, Batches& batches,
    void (ItemView::*deliver)(const std::vector<Quorvel::Controls>&))
{
    const QRect screenRect = screen()->geometry();
    for (Quorvel::Controls& record : records) {
        const QPoint point = dialogPoint(record, screenRect);
        QWidget* target = bind(targets, record.id, point);
        if (target == nullptr)
            continue;
        record.flags |= Quorvel::Controls::Claimed;
        std::vector<Quorvel::Controls>& batch = batches[target];
        batch.push_back(record);
        Quorvel::Controls& local = batch.back();
        local.pos = local.viewPos = QPointF(target->mapFrom(this, point));
        local.radiusX *= screenRect.width();
        local.radiusY *= screenRect.height();
    }
    for (auto& [widget, batch] : batches) {
        if (!batch.empty() && widget == strokesView)
            (strokesView->*deliver)(batch);
        batch.clear();
    }
    for (const Quorvel::Controls& record : records)
        if (record.buttons == 0)
            targets[record.id] = nullptr;
}
