#include "boardconfigurator.h"

#include "norvahardware.h"

BoardConfigurator::BoardConfigurator(NorvaHardware* hardware, QObject* parent)
    : QObject(parent), hardware(hardware)
{
    delay.setSingleShot(true);
    delay.setInterval(DelayMs);
    connect(&delay, &QTimer::timeout, this, &BoardConfigurator::configure);
}

void BoardConfigurator::configure()
{
    route(1);
}

void BoardConfigurator::configureLater()
{
    delay.start();
}

void BoardConfigurator::release()
{
    delay.stop();
    route(0);
}

// Flag 1 routes the boards' pens and touches to this program, 0 gives them
// back to the system.
void BoardConfigurator::route(qint32 flag)
{
    for (quint8 pen = 0; pen < 4; ++pen) {
        hardware->sendPenModeCommand(pen, 2);
        hardware->setPenDestination(pen + 1, flag);
    }
    hardware->setTouchDestination(flag);
    hardware->sendPlCommand(flag);
}
