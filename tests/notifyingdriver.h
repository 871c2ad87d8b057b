#pragma once

#include "driverplatform.h"

#include <QByteArray>
#include <QStringList>

// The controls of the test driver tests/drivers/notifying, loaded beside the
// hardware object that uses it; present() is false for any other driver.
class NotifyingDriver
{
public:
    NotifyingDriver() : module(DriverPlatform::loadDriver())
    {
        if (module == nullptr)
            return;
        resolve(log, "testDriverLog");
        resolve(setCount, "testDriverSetDeviceCount");
        resolve(deliverPacket, "testDriverDeliver");
        resolve(startNotification, "testDriverNotify");
        resolve(settleNotification, "testDriverSettle");
    }
    ~NotifyingDriver()
    {
        settle();
        if (module)
            DriverPlatform::freeDriver(module);
    }
    NotifyingDriver(const NotifyingDriver&) = delete;
    NotifyingDriver& operator=(const NotifyingDriver&) = delete;

    bool present() const
    {
        return log && setCount && deliverPacket && startNotification && settleNotification;
    }

    QStringList calls() const { return QString::fromLatin1(log()).split('\n', Qt::SkipEmptyParts); }
    void setDeviceCount(int count) { setCount(count); }
    // From the driver's own thread, waiting for the callback to return.
    void deliver(const QByteArray& packet)
    {
        deliverPacket(reinterpret_cast<const uint8_t*>(packet.constData()),
                      uint32_t(packet.size()));
    }
    // A plug-and-play notification, started on the driver's own thread.
    void notify() { startNotification(); }
    void settle()
    {
        if (settleNotification)
            settleNotification();
    }

private:
    template <typename Function> void resolve(Function& function, const char* name)
    {
        function = reinterpret_cast<Function>(DriverPlatform::resolve(module, name));
    }

    DriverPlatform::ModuleHandle module;
    const char*(NORVA_API* log)() = nullptr;
    void(NORVA_API* setCount)(int32_t) = nullptr;
    void(NORVA_API* deliverPacket)(const uint8_t*, uint32_t) = nullptr;
    void(NORVA_API* startNotification)() = nullptr;
    void(NORVA_API* settleNotification)() = nullptr;
};
