#include "norvahardware.h"

#include "boardpackets.h"
#include "norvawrapper.h"

#include <QStringList>

namespace {

constexpr qint32 AllTransfers = 0xFF;

const uint8_t* bytesOf(const QByteArray& data)
{
    return reinterpret_cast<const uint8_t*>(data.constData());
}

} // namespace

bool NorvaHardware::CallbackGate::enter()
{
    std::lock_guard<std::mutex> guard(mutex);
    if (closed)
        return false;
    ++inFlight;
    return true;
}

void NorvaHardware::CallbackGate::leave()
{
    std::lock_guard<std::mutex> guard(mutex);
    if (--inFlight == 0)
        idle.notify_all();
}

void NorvaHardware::CallbackGate::close()
{
    std::unique_lock<std::mutex> lock(mutex);
    closed = true;
    idle.wait(lock, [this] { return inFlight == 0; });
}

NorvaHardware::NorvaHardware(QObject* parent) : QObject(parent)
{
    registerMetaTypes();
}

NorvaHardware::~NorvaHardware()
{
    // Callbacks in flight finish first, later ones return at once; then the
    // driver forgets them, so none can reach this object once it is gone.
    // After detachDriver there is nothing left to clear.
    gate.close();
    if (pnpRegistered)
        clearCallbacks();
    // Detaches once more and unloads the library.
    binding.reset();
}

void NorvaHardware::registerMetaTypes()
{
    qRegisterMetaType<DeviceInfo>("NorvaHardware::DeviceInfo");
    qRegisterMetaType<TouchContact>("NorvaHardware::TouchContact");
    qRegisterMetaType<TouchEvent>("NorvaHardware::TouchEvent");
    qRegisterMetaType<TouchStatus>("NorvaHardware::TouchStatus");
    qRegisterMetaType<PenEvent>("NorvaHardware::PenEvent");
    qRegisterMetaType<EraseContact>("NorvaHardware::EraseContact");
    qRegisterMetaType<EraseEvent>("NorvaHardware::EraseEvent");
}

bool NorvaHardware::attachDriver()
{
    if (!binding) {
        auto wrapper = std::make_unique<NorvaWrapper>();
        wrapper->attach();
        driverLoaded = wrapper->isLoaded();
        library = wrapper.get();
        binding = std::move(wrapper);
    }
    if (!driverLoaded)
        return false;
    // A notification that comes before this enumeration ends waits for it,
    // then starts afresh; it never enumerates the same boards alongside.
    std::lock_guard<std::mutex> enumeration(enumerationMutex);
    binding->setPnpCallback(pnpCallback, this);
    pnpRegistered = true;
    enumerateDevices();
    return true;
}

QString NorvaHardware::driverProblem() const
{
    if (library == nullptr)
        return QString();
    if (!driverLoaded)
        return QStringLiteral("no board driver: %1 cannot be loaded: %2")
            .arg(QString::fromLatin1(DriverPlatform::LibraryName),
                 QString::fromStdString(library->loadError()));
    const std::vector<std::string> missing = library->missingEntryPoints();
    if (missing.empty())
        return QString();
    // A few names tell a driver of another version; a library that lacks
    // dozens is no board driver, and their list would only hide that.
    constexpr std::size_t Named = 3;
    QStringList names;
    for (std::size_t i = 0; i < missing.size() && (i < Named || missing.size() == Named + 1); ++i)
        names << QString::fromStdString(missing[i]);
    QString listed = names.join(QStringLiteral(", "));
    if (std::size_t(names.size()) < missing.size())
        listed += QStringLiteral(" and %1 more").arg(missing.size() - std::size_t(names.size()));
    return QStringLiteral("the board driver %1 lacks %2 of the entry points that it must have: %3")
        .arg(driverPath())
        .arg(missing.size())
        .arg(listed);
}

NorvaHardware::DriverState NorvaHardware::driverState() const
{
    if (library == nullptr || !driverLoaded)
        return library != nullptr && !library->libraryNotFound() ? DriverState::Unloadable
                                                                 : DriverState::NotFound;
    return library->missingEntryPoints().empty() ? DriverState::Ready : DriverState::Incomplete;
}

QString NorvaHardware::driverPath() const
{
    return driverLoaded ? QString::fromStdString(library->libraryPath())
                        : QString::fromLatin1(DriverPlatform::LibraryName);
}

void NorvaHardware::detachDriver()
{
    if (!binding)
        return;
    // A driver owes nothing to a caller after norvaDetach: no notification
    // may enumerate again and no callback may be left registered by then.
    gate.close();
    clearCallbacks();
    binding->detach();
}

void NorvaHardware::clearCallbacks()
{
    binding->clearPnpCallback(pnpCallback, this);
    pnpRegistered = false;
    QList<qint32> boards;
    {
        std::lock_guard<std::mutex> guard(devicesMutex);
        boards.swap(devices);
    }
    for (qint32 device : boards)
        binding->clearCallback(device, packetCallback, this);
}

void NorvaHardware::enumerateDevices()
{
    binding->attach();
    const qint32 count = binding->getDeviceCount();
    for (qint32 index = 0; index < count; ++index) {
        BoardPackets::DeviceRecord record = BoardPackets::emptyDeviceRecord();
        if (!binding->enumDeviceInfo(index, record.data()))
            continue;
        const BoardPackets::DeviceEntry entry = BoardPackets::readDeviceRecord(record);
        if (!entry.usable)
            continue;
        // Before the board's first packet can come: a receiver that tells
        // boards apart by their enumeration knows the board by then.
        emit deviceEnumerated(index, entry.info, entry.device);
        binding->setCallback(entry.device, packetCallback, this);
        binding->setXferMask(entry.device, AllTransfers);
        {
            std::lock_guard<std::mutex> guard(devicesMutex);
            devices.append(entry.device);
        }
    }
    emit deviceEnumCount(count);
}

void NorvaHardware::handlePnp()
{
    std::lock_guard<std::mutex> enumeration(enumerationMutex);
    for (qint32 device : deviceList())
        binding->clearCallback(device, packetCallback, this);
    {
        std::lock_guard<std::mutex> guard(devicesMutex);
        devices.clear();
    }
    emit pnpEvent();
    enumerateDevices();
}

void NORVA_CALLBACK NorvaHardware::packetCallback(uint32_t tag, const uint8_t* bytes,
                                                  uint32_t length, void* context)
{
    auto* hardware = static_cast<NorvaHardware*>(context);
    if (!hardware->gate.enter())
        return;
    const QByteArray delivered = BoardPackets::delivery(bytes, length);
    emit hardware->packetReceived(delivered, tag);
    hardware->dispatchPacket(BoardPackets::stripPrefix(delivered), qint32(tag));
    hardware->gate.leave();
}

void NORVA_CALLBACK NorvaHardware::pnpCallback(void* context)
{
    auto* hardware = static_cast<NorvaHardware*>(context);
    if (!hardware->gate.enter())
        return;
    hardware->handlePnp();
    hardware->gate.leave();
}

QList<qint32> NorvaHardware::deviceList() const
{
    std::lock_guard<std::mutex> guard(devicesMutex);
    return devices;
}

void NorvaHardware::writeToEveryDevice(const QByteArray& command)
{
    for (qint32 device : deviceList())
        binding->writePacket(device, bytesOf(command), command.size());
}

void NorvaHardware::sendPenModeCommand(quint8 pen, qint32 mode)
{
    writeToEveryDevice(BoardPackets::penModeCommand(pen, mode));
}

void NorvaHardware::sendPlCommand(qint32 on)
{
    writeToEveryDevice(BoardPackets::plCommand(on));
}

void NorvaHardware::setPenDestination(qint32 pen, qint32 flag)
{
    for (qint32 device : deviceList())
        binding->setPointingDeviceDestination(device, pen, 0, flag);
}

void NorvaHardware::setTouchDestination(qint32 value)
{
    for (qint32 device : deviceList())
        binding->setTouchDestination(device, value);
}

void NorvaHardware::sendToSystem(qint32 device, const QByteArray& packet)
{
    binding->sendTouchPacketToSystem(device, quint8(packet.size()), bytesOf(packet));
}

void NorvaHardware::sendPenToSystem(PenEvent ev)
{
    const QList<qint32> current = deviceList();
    if (current.isEmpty())
        return;
    sendToSystem(current.first(), BoardPackets::singleContactPacket(ev));
}

void NorvaHardware::sendTouchesToSystem(TouchEvent ev)
{
    const QList<qint32> current = deviceList();
    if (current.isEmpty())
        return;
    // More than 36 contacts do not fit one packet: several go out, in order.
    for (const QByteArray& packet : BoardPackets::touchPackets(ev))
        sendToSystem(current.first(), packet);
}

void NorvaHardware::dispatchPacket(const QByteArray& packet, qint32 statusId)
{
    switch (BoardPackets::classify(packet)) {
    case BoardPackets::Kind::Pen:
        emit penEvent(BoardPackets::decodePen(packet));
        break;
    case BoardPackets::Kind::Touch:
        emit touchEvent(BoardPackets::decodeTouch(packet));
        break;
    case BoardPackets::Kind::Erase:
        emit eraseEvent(BoardPackets::decodeErase(packet));
        break;
    case BoardPackets::Kind::TouchStatus: {
        TouchStatus status;
        BoardPackets::decodeTouchStatus(packet, status);
        emit touchStatus(statusId, status);
        break;
    }
    case BoardPackets::Kind::Ignored:
        break;
    }
}
