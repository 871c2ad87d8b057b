#pragma once

#include <QObject>
#include <QTimer>

class NorvaHardware;

// The routing that a program taking the boards' input sets up, the same for
// every program: pen mode 2 for pens 0 to 3, the pens and touches routed to
// the program and the :PL1 command, and all of it given back to the system
// (flag 0, :PL0) when the program is done.
class BoardConfigurator : public QObject
{
    Q_OBJECT

public:
    // A burst of enumerations configures the boards once, this long after the last.
    static constexpr int DelayMs = 2000;

    explicit BoardConfigurator(NorvaHardware* hardware, QObject* parent = nullptr);

    // Routes the enumerated boards' input to this program now.
    void configure();
    // Configures DelayMs from now; a call in the meantime starts the wait again.
    void configureLater();
    // Drops a pending configuration and gives the boards back to the system.
    void release();

private:
    void route(qint32 flag);

    NorvaHardware* hardware;
    QTimer delay;
};
