#include "quorvel.h"

#include "boardconfigurator.h"
#include "inputqueue.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <iostream>

namespace {

// Smoothing and repeat memories live for the whole run of the process, shared
// by every adapter, as a board's contacts do.
struct ProcessMemory
{
    std::map<int, PositionFilter> penFilters;
    std::map<int, PositionFilter> touchFilters;
    std::map<int, PositionFilter> eraseFilters;
    std::map<int, Quorvel::Controls> lastPens;
    std::vector<Quorvel::Controls> lastTouches;
    std::vector<Quorvel::Controls> lastErasers;
};

ProcessMemory& memory()
{
    static ProcessMemory instance;
    return instance;
}

bool close(double a, double b)
{
    return std::abs(a - b) <= 1e-12;
}

QPointF filtered(PositionFilter& filter, qint32 x, qint32 y, bool down)
{
    return filter.follow(QPointF(Quorvel::normalise(x), Quorvel::normalise(y)), down, 0.0);
}

void print(const QString& line)
{
    std::cout << line.toStdString();
}

// The shared steps of touch and eraser handling: merge the contacts into the
// held set, drop a repeat, offer the rest, and keep only what was claimed.
// Returns the contacts that nobody claimed, marked in passThrough.
template <typename Contact, typename Build, typename Emit>
QList<Contact>
offerContacts(const QList<Contact>& contacts, qint32 base, std::map<int, PositionFilter>& filters,
              std::vector<Quorvel::Controls>& held, std::vector<Quorvel::Controls>& last,
              std::map<int, bool>& passThrough, Build build, Emit emitHeld)
{
    QList<Contact> unclaimed = contacts;
    for (const Contact& contact : contacts) {
        const Quorvel::Controls c = build(contact, filters[base + contact.id]);
        const auto found = std::find_if(held.begin(), held.end(),
                                        [&](const Quorvel::Controls& r) { return r.id == c.id; });
        if (found != held.end())
            *found = c;
        else
            held.push_back(c);
    }
    if (held == last)
        return {};
    last = held;

    held.erase(std::remove_if(held.begin(), held.end(),
                              [&](const Quorvel::Controls& r) { return passThrough[r.id]; }),
               held.end());
    if (!held.empty())
        emitHeld(held);

    auto r = held.begin();
    while (r != held.end()) {
        const bool claimed = r->flags & Quorvel::Controls::Claimed;
        if (claimed) {
            const qint32 id = r->id;
            unclaimed.erase(
                std::remove_if(unclaimed.begin(), unclaimed.end(),
                               [&](const Contact& contact) { return contact.id + base == id; }),
                unclaimed.end());
        }
        if (claimed && r->buttons != 0)
            ++r;
        else
            r = held.erase(r);
    }
    for (const Contact& contact : unclaimed)
        passThrough[contact.id + base] = contact.down;
    return unclaimed;
}

// Lifts every held contact, offers the lifts and empties the held set. The
// lifts become the last set, so that a contact coming back where it was is
// not taken for a repeat.
template <typename Emit>
void liftHeld(std::vector<Quorvel::Controls>& held, std::vector<Quorvel::Controls>& last,
              Emit emitHeld)
{
    for (Quorvel::Controls& c : held) {
        c.buttons = 0;
        c.flags = 0;
    }
    last = held;
    if (!held.empty())
        emitHeld(held);
    held.clear();
}

} // namespace

bool Quorvel::Controls::operator==(const Controls& other) const
{
    return id == other.id && buttons == other.buttons && close(pos.x(), other.pos.x()) &&
           close(pos.y(), other.pos.y()) && close(radiusX, other.radiusX) &&
           close(radiusY, other.radiusY);
}

QPoint Quorvel::Controls::globalPoint(const QRect& screen) const
{
    return QPoint(screen.x() + int(screen.width() * pos.x()),
                  screen.y() + int(screen.height() * pos.y()));
}

Quorvel::Quorvel(QObject* parent, const BoardMeter::Settings& measuring)
    : QObject(parent), hardware(new NorvaHardware(this)),
      configurator(new BoardConfigurator(hardware, this)),
      // Before the attach, so that it learns the boards of its enumeration.
      boardMeter(new BoardMeter(hardware, measuring, this)),
      boardChecker(new BoardChecker(hardware, {measuring.userSize, measuring.screenSize}, this))
{
    // The hardware object's signals come through a queue that keeps their
    // order and hands them on in the GUI thread, in slices of bounded time.
    auto* input = new InputQueue(hardware, this);
    connect(input, &InputQueue::pnpEvent, this, &Quorvel::in_pnp_event);
    // Each board announces how many pens and touches it supports in the xp and
    // xt tags of its description.
    connect(input, &InputQueue::deviceEnumerated, this,
            [this](int, const NorvaHardware::DeviceInfo& info) {
                ++acceptedBoards;
                in_device_enumerated(info.xp, info.xt);
            });
    connect(input, &InputQueue::deviceEnumCount, this, &Quorvel::in_device_enum_count);
    connect(input, &InputQueue::penEvent, this, &Quorvel::in_pen_event);
    connect(input, &InputQueue::touchEvent, this, &Quorvel::in_touch_event);
    connect(input, &InputQueue::eraseEvent, this, &Quorvel::in_erase_event);
    // What dropped packets would have done to the contacts held is unknown:
    // they end where they were last seen.
    connect(input, &InputQueue::dropped, this, &Quorvel::endContacts);

    hardware->attachDriver();
    // The mouse and the desktop's touches still draw: say why the board does
    // not, or may not fully, and go on.
    const QString problem = hardware->driverProblem();
    if (!problem.isEmpty())
        std::cerr << problem.toStdString() << std::endl;
    configurator->configure();
}

Quorvel::~Quorvel()
{
    configurator->release();
    hardware->detachDriver();
}

double Quorvel::normalise(qint32 boardValue)
{
    return double(float(boardValue) * (1.0f / 32768.0f));
}

Quorvel::Controls Quorvel::penControls(const NorvaHardware::PenEvent& ev, PositionFilter& filter)
{
    Controls c;
    c.id = ~qint32(ev.pen);
    c.buttons = (ev.button ? 2 : 0) | (ev.tip ? 1 : 0);
    c.pos = c.viewPos = filtered(filter, ev.x, ev.y, c.buttons != 0);
    return c;
}

Quorvel::Controls Quorvel::touchControls(const NorvaHardware::TouchContact& contact,
                                         PositionFilter& filter)
{
    Controls c;
    c.id = TouchIdBase + contact.id;
    c.buttons = contact.down ? 1 : 0;
    c.radiusX = c.radiusY = normalise(contact.size);
    c.pos = c.viewPos = filtered(filter, contact.x, contact.y, c.buttons != 0);
    return c;
}

Quorvel::Controls Quorvel::eraseControls(const NorvaHardware::EraseContact& contact,
                                         PositionFilter& filter)
{
    Controls c;
    c.id = EraseIdBase + contact.id;
    c.buttons = contact.down ? 1 : 0;
    c.radiusX = normalise(contact.width);
    c.radiusY = normalise(contact.height);
    c.pos = c.viewPos = filtered(filter, contact.x, contact.y, c.buttons != 0);
    return c;
}

void Quorvel::in_pnp_event()
{
    print(QStringLiteral("PnP event.\n"));
}

void Quorvel::in_device_enumerated(int maxPens, int maxTouch)
{
    print(QStringLiteral("Found device that supports up to %1 pens & %2 touches.\n")
              .arg(maxPens)
              .arg(maxTouch));
}

void Quorvel::in_device_enum_count(int count)
{
    print(QStringLiteral("Enumerated %1 devices.\n").arg(count));
    // What counts is the boards the enumeration accepted, not the count the
    // driver reports: a board that stays but is unusable delivers nothing,
    // and a negative count means no board at all.
    if (acceptedBoards == 0)
        endContacts();
    if (acceptedBoards != presentBoards) {
        presentBoards = acceptedBoards;
        emit out_quorvel_boards(presentBoards);
    }
    acceptedBoards = 0;
    configurator->configureLater();
}

// With no board left, no contact of one can still be down: those that the
// dialog holds end as if lifted, and those that went to the system are
// forgotten, so that each is offered afresh when a board comes back.
void Quorvel::endContacts()
{
    ProcessMemory& m = memory();
    for (auto& [id, last] : m.lastPens) {
        if (last.buttons == 0)
            continue;
        last.buttons = 0;
        last.flags = 0;
        if (passThrough[id])
            continue;
        Controls lift = last;
        emit out_quorvel_pen_event(lift);
    }
    liftHeld(heldTouches, m.lastTouches,
             [this](std::vector<Controls>& held) { emit out_quorvel_touch_event(held); });
    liftHeld(heldErasers, m.lastErasers,
             [this](std::vector<Controls>& held) { emit out_quorvel_erase_event(held); });
    passThrough.clear();
}

void Quorvel::in_pen_event(const NorvaHardware::PenEvent& event)
{
    ProcessMemory& m = memory();
    Controls c = penControls(event, m.penFilters[~qint32(event.pen)]);
    Controls& last = m.lastPens[c.id];
    if (last == c)
        return;
    last = c;

    bool& handedOn = passThrough[c.id];
    if (handedOn) {
        // An unclaimed pen stays with the system until its tip lifts.
        handedOn = event.tip;
        hardware->sendPenToSystem(event);
        return;
    }
    emit out_quorvel_pen_event(c);
    if (c.flags & Controls::Claimed)
        return;
    passThrough[c.id] = true;
    hardware->sendPenToSystem(event);
}

void Quorvel::in_touch_event(const NorvaHardware::TouchEvent& event)
{
    ProcessMemory& m = memory();
    const NorvaHardware::TouchEvent unclaimed =
        offerContacts(event, TouchIdBase, m.touchFilters, heldTouches, m.lastTouches, passThrough,
                      &Quorvel::touchControls,
                      [this](std::vector<Controls>& held) { emit out_quorvel_touch_event(held); });
    if (!unclaimed.isEmpty())
        hardware->sendTouchesToSystem(unclaimed);
}

void Quorvel::in_erase_event(const NorvaHardware::EraseEvent& event)
{
    // Erasers are never handed to the system: it has no use for them.
    ProcessMemory& m = memory();
    offerContacts(event, EraseIdBase, m.eraseFilters, heldErasers, m.lastErasers, passThrough,
                  &Quorvel::eraseControls,
                  [this](std::vector<Controls>& held) { emit out_quorvel_erase_event(held); });
}
