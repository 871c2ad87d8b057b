#pragma once

#include <QObject>

// Turns Ctrl+C in the console (on Linux also SIGTERM and SIGHUP) into a
// signal in the thread that made the watcher, so that a session can end
// cleanly. A second Ctrl+C ends the process at once. One watcher at a time.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    ~InterruptWatcher() override;

signals:
    void interrupted();
};
