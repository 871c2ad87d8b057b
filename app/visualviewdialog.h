#pragma once

#include "quorvel.h"

#include <QDialog>
#include <QStringList>
#include <QTransform>

#include <map>
#include <memory>
#include <vector>

class CheckScreen;
class ItemView;
class MeasurementOverlay;
class QKeyEvent;
class QScreen;
class QTimer;
class StrokesView;

// The program's one window, shown full screen: a strokes view covering the
// whole dialog, the 16 ms frame cycle that refreshes the views' items and
// repaints what changed, and the keyboard controls. It owns the input adapter
// and routes the board's contacts to the widget under them, claiming every
// contact it routes. While no board is present it says so on every
// background, with what to do.
class VisualViewDialog : public QDialog
{
    Q_OBJECT

public:
    // On the target screen when one is given, else where the window system puts it;
    // the board's contacts land on the screen that shows the dialog.
    explicit VisualViewDialog(QWidget* parent = nullptr, QScreen* target = nullptr);
    // Deletes the adapter, which gives the boards back to the system, before
    // any view goes.
    ~VisualViewDialog() override;

    // What the dialog tells a person over every background: while no board
    // is present, what is missing and what to do; else nothing.
    QStringList notice() const { return boardNotice; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    // The adapter reads the claimed bit back from these records as soon as
    // the emission returns.
    void in_quorvel_pen(Quorvel::Controls& event);
    void in_quorvel_touch(std::vector<Quorvel::Controls>& event);
    void in_quorvel_erase(std::vector<Quorvel::Controls>& event);
    void in_timer_update();

private:
    using Targets = std::map<int, QWidget*>;
    using Batches = std::map<QWidget*, std::vector<Quorvel::Controls>>;

    // The normal window, two thirds of the screen and centred, that Return
    // leaves full screen for, and that shows without a window manager.
    void placeOn(QScreen* target);
    // Shows what a person is told while no board is present, or takes it away.
    void updateBoardNotice(int count);
    QPoint dialogPoint(const Quorvel::Controls& record, const QRect& screen) const;
    QTransform boardToView() const;
    QWidget* bind(Targets& targets, int id, const QPoint& point);
    void routeContacts(std::vector<Quorvel::Controls>& records, Targets& targets, Batches& batches,
                       void (ItemView::*deliver)(const std::vector<Quorvel::Controls>&));

    // Declared first, so that it is the last member destroyed, yet gone before
    // the dialog's child widgets: no board contact can reach a dead view.
    std::unique_ptr<Quorvel> adapter;
    // Contact capture: the widget each contact is bound to, null while unbound.
    Targets penTargets;
    Targets touchTargets;
    Targets eraseTargets;
    // Per bound widget, the records of one call; emptied, capacity kept.
    Batches touchBatches;
    Batches eraseBatches;
    // Owned by the dialog through the layout.
    StrokesView* strokesView = nullptr;
    // The views that the frame cycle services, in order.
    std::vector<ItemView*> views;
    // Owned by the strokes view; draws only while shown (M, T).
    MeasurementOverlay* measurements = nullptr;
    // The board check (K), over the strokes view.
    CheckScreen* check = nullptr;
    QTimer* frameTimer = nullptr;
    // Tracks only the dialog's own switching with Return.
    bool fullScreen = true;
    // Drawn over every background while no board is present.
    QStringList boardNotice;
};
