#include "visualviewdialog.h"

#include "checkscreen.h"
#include "measurementoverlay.h"
#include "strokesview.h"
#include "testpatterns.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QStackedLayout>
#include <QTimer>
#include <QWindow>

#include <cmath>
#include <iostream>
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

// The board's width and height in millimetres as a person gives them in
// VISUALVIEW_SIZE_MM, WxH; none when unset, and a wrong one is said and
// left out.
std::optional<QSizeF> userSize()
{
    const QByteArray text = qgetenv("VISUALVIEW_SIZE_MM").trimmed();
    if (text.isEmpty())
        return std::nullopt;
    const QList<QByteArray> sides = text.toLower().split('x');
    bool across = false;
    bool down = false;
    const double width = sides.size() == 2 ? sides[0].trimmed().toDouble(&across) : 0;
    const double height = sides.size() == 2 ? sides[1].trimmed().toDouble(&down) : 0;
    if (across && down && width > 0 && height > 0 && std::isfinite(width) && std::isfinite(height))
        return QSizeF(width, height);
    std::cerr << "VISUALVIEW_SIZE_MM: '" << text.toStdString()
              << "' is no board size: give its width and height in millimetres as WxH, e.g. "
                 "1650x930; the size comes from the board or the screen instead"
              << std::endl;
    return std::nullopt;
}

#ifdef Q_OS_WIN
const char* const Demo = "demo.cmd";
#else
const char* const Demo = "visualview-demo";
#endif

// What a person is told while no board is present: what is missing, in a
// few words, and what to do.
QStringList noBoard(const NorvaHardware& driver)
{
    const QString demo = QStringLiteral("or start %1 to try the simulated board.").arg(Demo);
    const QString install =
        QStringLiteral("Install the vendor's driver where the system finds libraries, ") + demo;
    QString problem = driver.driverProblem();
    switch (driver.driverState()) {
    case NorvaHardware::DriverState::NotFound:
        return {QStringLiteral("No board driver: %1 was not found.").arg(driver.driverPath()),
                install};
    case NorvaHardware::DriverState::Unloadable:
        problem[0] = problem[0].toUpper();
        return {problem, install};
    case NorvaHardware::DriverState::Incomplete:
        return {QStringLiteral("No board: the board driver %1 lacks entry points that it must "
                               "have.")
                    .arg(driver.driverPath()),
                QStringLiteral("Install the vendor's own driver in its place, ") + demo};
    case NorvaHardware::DriverState::Ready:
        break;
    }
    return {QStringLiteral("No board: the board driver reports none."),
            QStringLiteral("Connect the board: it shows as soon as the driver reports it; ") +
                demo};
}

// The same on standard error, where the adapter has said what is wrong with
// the driver and where it was looked for.
std::string noBoardLine(const NorvaHardware& driver, const QStringList& notice)
{
    QString advice = notice.back();
    advice[0] = advice[0].toLower();
    advice.chop(1);
    if (driver.driverState() != NorvaHardware::DriverState::Ready)
        return "no board: " + advice.toStdString();
    return QStringLiteral("no board: the board driver %1 reports none; %2")
        .arg(driver.driverPath(), advice)
        .toStdString();
}

} // namespace

// The window is opaque: the strokes view covers all of it with opaque
// pixels, so a translucent window would look the same, yet cost a clear of
// every repainted area and, on Windows, a layered window's slower updates.
VisualViewDialog::VisualViewDialog(QWidget* parent, QScreen* target) : QDialog(parent)
{
    placeOn(target);
    auto* layout = new QStackedLayout;
    layout->setStackingMode(QStackedLayout::StackAll);
    setLayout(layout);

    strokesView = new StrokesView;
    strokesView->setPatternPainter([this](QPainter& painter, BackgroundMode mode,
                                          const QSize& imageSize, const QSize& viewSize) {
        TestPatterns::draw(painter, mode, imageSize, viewSize, boardNotice);
    });
    layout->addWidget(strokesView);
    views.push_back(strokesView);

    // The board's size: the person's, else the board's own (the meter knows
    // it once the boards are enumerated), else the screen's.
    BoardMeter::Settings measuring;
    measuring.userSize = userSize();
    const QSizeF screenSize = screen()->physicalSize();
    if (screenSize.width() > 0 && screenSize.height() > 0)
        measuring.screenSize = screenSize;
    adapter = std::make_unique<Quorvel>(this, measuring);
    measurements = new MeasurementOverlay(adapter->meter(), strokesView);
    check = new CheckScreen(adapter->checker(), strokesView, measurements, this);
    connect(adapter.get(), &Quorvel::out_quorvel_pen_event, this,
            &VisualViewDialog::in_quorvel_pen);
    connect(adapter.get(), &Quorvel::out_quorvel_touch_event, this,
            &VisualViewDialog::in_quorvel_touch);
    connect(adapter.get(), &Quorvel::out_quorvel_erase_event, this,
            &VisualViewDialog::in_quorvel_erase);
    connect(adapter.get(), &Quorvel::out_quorvel_boards, this,
            &VisualViewDialog::updateBoardNotice);
    updateBoardNotice(adapter->boards());
    if (!boardNotice.isEmpty())
        std::cerr << noBoardLine(*adapter->driver(), boardNotice) << std::endl;

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

void VisualViewDialog::placeOn(QScreen* target)
{
    if (target != nullptr) {
        // Before the window shows: on another X screen it is made there.
        createWinId();
        windowHandle()->setScreen(target);
    }
    const QRect area = screen()->availableGeometry();
    QRect normal(QPoint(), area.size() * 2 / 3);
    normal.moveCenter(area.center());
    setGeometry(normal);
}

void VisualViewDialog::updateBoardNotice(int count)
{
    const QStringList now = count > 0 ? QStringList() : noBoard(*adapter->driver());
    if (now == boardNotice)
        return;
    boardNotice = now;
    strokesView->drawBackground();
    strokesView->update();
}

// Every refresh of the tick is started before the first wait, so that the
// asynchronous ones run side by side; painting starts only when all are done.
void VisualViewDialog::in_timer_update()
{
    frameTimer->start(framePeriodMs);
    check->refresh(boardToView());
    if (measurements->panelShown() || measurements->targetsShown()) {
        measurements->setBoardToView(boardToView());
        measurements->refresh();
    }
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
    if (check->key(key, fullScreen, boardToView()))
        return;
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
        adapter->meter()->clear();
        measurements->redraw();
    } else if (key == Qt::Key_Space) {
        strokesView->showInfoTags = !strokesView->showInfoTags;
    } else if (key == Qt::Key_M || key == 'm') {
        measurements->setBoardToView(boardToView());
        measurements->setPanelShown(!measurements->panelShown());
    } else if (key == Qt::Key_T || key == 't') {
        measurements->setBoardToView(boardToView());
        measurements->setTargetsShown(!measurements->targetsShown());
    }
}

// A normalised record lands on the screen that shows the dialog.
QPoint VisualViewDialog::dialogPoint(const Quorvel::Controls& record, const QRect& screen) const
{
    return mapFromGlobal(record.globalPoint(screen));
}

// Where the routing above puts a board position on the strokes view, before
// it truncates to whole pixels: the adapter's fraction of the screen's
// width and height (Quorvel::normalise), from the screen's corner.
QTransform VisualViewDialog::boardToView() const
{
    const QRect screenRect = screen()->geometry();
    const QPoint origin = strokesView->mapToGlobal(QPoint(0, 0));
    return QTransform::fromTranslate(screenRect.x() - origin.x(), screenRect.y() - origin.y())
        .scale(screenRect.width() / ContactReport::BoardUnits,
               screenRect.height() / ContactReport::BoardUnits);
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
