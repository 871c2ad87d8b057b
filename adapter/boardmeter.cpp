#include "boardmeter.h"

namespace {

std::optional<BoardMeasurement::BoardSize> boardSize(const std::optional<QSizeF>& mm)
{
    if (!mm || !(mm->width() > 0 && mm->height() > 0))
        return std::nullopt;
    return BoardMeasurement::BoardSize{mm->width(), mm->height()};
}

} // namespace

BoardMeter::BoardMeter(NorvaHardware* hardware, const Settings& settings, QObject* parent)
    : QObject(parent), settings(settings)
{
    resize();
    // Direct: each packet is timed and measured on the thread that delivers
    // it, as it comes.
    connect(hardware, &NorvaHardware::penEvent, this, &BoardMeter::addPen, Qt::DirectConnection);
    connect(
        hardware, &NorvaHardware::touchEvent, this,
        [this](const NorvaHardware::TouchEvent& event) {
            addContacts(ContactReport::Touch, event);
        },
        Qt::DirectConnection);
    connect(
        hardware, &NorvaHardware::eraseEvent, this,
        [this](const NorvaHardware::EraseEvent& event) {
            addContacts(ContactReport::Eraser, event);
        },
        Qt::DirectConnection);
    connect(
        hardware, &NorvaHardware::deviceEnumerated, this,
        [this](int, const NorvaHardware::DeviceInfo& info) { enumerated(info); },
        Qt::DirectConnection);
    connect(
        hardware, &NorvaHardware::deviceEnumCount, this, [this](int) { enumerationEnded(); },
        Qt::DirectConnection);
}

double BoardMeter::now() const
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void BoardMeter::addPen(const NorvaHardware::PenEvent& event)
{
    const ContactReport report{ContactReport::Pen, event.pen,       event.tip,
                               double(event.x),    double(event.y), now()};
    std::lock_guard<std::mutex> lock(mutex);
    measurement.addPacket(ContactReport::Pen, report.ms);
    measurement.add(report);
}

template <typename Contacts>
void BoardMeter::addContacts(ContactReport::Kind kind, const Contacts& contacts)
{
    const double ms = now();
    std::lock_guard<std::mutex> lock(mutex);
    measurement.addPacket(kind, ms);
    for (const auto& contact : contacts)
        measurement.add({kind, contact.id, contact.down, double(contact.x), double(contact.y), ms});
}

// Enumerations never overlap, but run on the GUI thread at the attach and
// on the plug-and-play thread afterwards: the lock orders them.
void BoardMeter::enumerated(const NorvaHardware::DeviceInfo& info)
{
    std::lock_guard<std::mutex> lock(mutex);
    enumerating.append(info);
}

void BoardMeter::enumerationEnded()
{
    std::lock_guard<std::mutex> lock(mutex);
    boards.swap(enumerating);
    enumerating.clear();
    resize();
}

// Figures in millimetres of one size mean nothing in another: a new size
// starts the measurement afresh. The same board coming back keeps it.
void BoardMeter::resize()
{
    std::optional<BoardMeasurement::BoardSize> size = boardSize(settings.userSize);
    SizeSource source = SizeSource::User;
    if (!size && boards.size() == 1) {
        size = boardSize(boards.front().millimetres);
        source = SizeSource::Board;
    }
    if (!size) {
        size = boardSize(settings.screenSize);
        source = SizeSource::Screen;
    }
    if (!size)
        source = SizeSource::None;
    const auto& current = measurement.boardSize();
    const bool same = size.has_value() == current.has_value() &&
                      (!size || (size->width == current->width && size->height == current->height));
    sizeSource = source;
    if (same)
        return;
    std::vector<BoardMeasurement::Point> targets = measurement.targets();
    measurement = BoardMeasurement(size);
    measurement.setTargets(std::move(targets));
}

void BoardMeter::setTargets(std::vector<BoardMeasurement::Point> targets)
{
    std::lock_guard<std::mutex> lock(mutex);
    measurement.setTargets(std::move(targets));
}

void BoardMeter::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    measurement.clear();
}

BoardMeter::Reading BoardMeter::read() const
{
    std::lock_guard<std::mutex> lock(mutex);
    Reading reading;
    reading.figures = measurement.figures();
    reading.still = measurement.lastStill();
    reading.straight = measurement.lastStraight();
    reading.coverage = measurement.coverage();
    reading.taps.assign(measurement.taps().begin(), measurement.taps().end());
    reading.targets = measurement.targets();
    reading.size = measurement.boardSize();
    reading.sizeSource = sizeSource;
    reading.boards = boards.size();
    for (const NorvaHardware::DeviceInfo& board : boards)
        reading.sizesDiffer |= board.millimetres != boards.front().millimetres;
    if (boards.size() == 1) {
        reading.board = boards.front().hid;
        reading.declaredPens = boards.front().xp;
        reading.declaredTouches = boards.front().xt;
    }
    return reading;
}
