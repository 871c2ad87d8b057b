#pragma once

#include <QDialog>

#include <vector>

class ItemView;
class QKeyEvent;
class QTimer;
class StrokesView;

// The program's one window, shown full screen: a strokes view covering the
// whole dialog, the 16 ms frame cycle that refreshes the views' items and
// repaints what changed, and the keyboard controls.
class VisualViewDialog : public QDialog
{
    Q_OBJECT

public:
    explicit VisualViewDialog(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void in_timer_update();

private:
    // Owned by the dialog through the layout.
    StrokesView* strokesView = nullptr;
    // The views that the frame cycle services, in order.
    std::vector<ItemView*> views;
    QTimer* frameTimer = nullptr;
    // Tracks only the dialog's own switching with Return.
    bool fullScreen = true;
};
