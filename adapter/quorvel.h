#pragma once

#include "boardchecker.h"
#include "boardmeter.h"
#include "norvahardware.h"
#include "positionfilter.h"

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QRect>

#include <map>
#include <tuple>
#include <vector>

class BoardConfigurator;

// The input adapter between the hardware object and the dialog. It turns board
// records into contact records, drops repeats, offers every contact to the
// dialog and hands what the dialog does not claim back to the system.
class Quorvel : public QObject
{
    Q_OBJECT

public:
    // One contact as it travels through the system: normalised screen space
    // as the adapter emits it, widget pixels once the dialog has routed it.
    struct Controls
    {
        static constexpr qint32 NoContact = -9999;
        // flags bit 0: a receiver of an adapter signal took the contact.
        static constexpr qint32 Claimed = 1;
        // flags bit 1: the copy an item gets when a hovering contact leaves it.
        static constexpr qint32 HoverLeft = 2;
        // flags bit 2: the record comes from the window system (the mouse or a
        // native touch point), not from a board.
        static constexpr qint32 WindowSystem = 4;

        // A contact's identity: the window system's ids overlap the board's
        // (the mouse is -1 like pen 0), so its contacts are told apart by origin.
        struct Key
        {
            bool windowSystem = false;
            qint32 id = NoContact;

            bool operator<(const Key& other) const
            {
                return std::tie(windowSystem, id) < std::tie(other.windowSystem, other.id);
            }
        };

        qint32 id = NoContact;
        qint32 flags = 0;
        qint32 buttons = 0;
        double radiusX = 0;
        double radiusY = 0;
        QPointF pos;
        QPointF viewPos;

        // Compares id, buttons, position and radii (within 1e-12), not flags
        // or viewPos.
        bool operator==(const Controls& other) const;
        bool operator!=(const Controls& other) const { return !(*this == other); }

        // The global screen pixel of a normalised position on the given screen.
        QPoint globalPoint(const QRect& screen) const;

        Key key() const { return {(flags & WindowSystem) != 0, id}; }
    };

    // Identifier space: pens -1 - index, touches and erasers from their bases.
    static constexpr qint32 TouchIdBase = 256;
    static constexpr qint32 EraseIdBase = 512;

    // Every contact that the boards send, measured; owned by the adapter.
    BoardMeter* meter() const { return boardMeter; }
    // The connection to the driver, for how it stands.
    const NorvaHardware* driver() const { return hardware; }
    // The boards that the last enumeration accepted.
    int boards() const { return presentBoards; }
    // The board check on every packet the boards send; owned by the adapter.
    BoardChecker* checker() const { return boardChecker; }

    // Attaches to the driver, enumerates and configures the boards; the
    // boards are measured from their first packet with these settings.
    explicit Quorvel(QObject* parent = nullptr, const BoardMeter::Settings& measuring = {});
    // Restores the boards' routing and detaches from the driver.
    ~Quorvel() override;

    // A 16-bit board value in normalised space: v / 32768, scaled in single
    // precision as the board's coordinates are.
    static double normalise(qint32 boardValue);

    // Records built from hardware records, each run through its contact's
    // filter with no dead zone.
    static Controls penControls(const NorvaHardware::PenEvent& ev, PositionFilter& filter);
    static Controls touchControls(const NorvaHardware::TouchContact& contact,
                                  PositionFilter& filter);
    static Controls eraseControls(const NorvaHardware::EraseContact& contact,
                                  PositionFilter& filter);

signals:
    // Receivers set Controls::Claimed in the records they take; the adapter
    // reads it back as soon as the emission returns, so the connections must
    // be direct.
    void out_quorvel_pen_event(Quorvel::Controls& event);
    void out_quorvel_touch_event(std::vector<Quorvel::Controls>& event);
    void out_quorvel_erase_event(std::vector<Quorvel::Controls>& event);
    // An enumeration accepted another number of boards than the last one.
    void out_quorvel_boards(int count);

public slots:
    void in_pnp_event();
    void in_device_enumerated(int maxPens, int maxTouch);
    void in_device_enum_count(int count);
    void in_pen_event(const NorvaHardware::PenEvent& event);
    void in_touch_event(const NorvaHardware::TouchEvent& event);
    void in_erase_event(const NorvaHardware::EraseEvent& event);

private:
    void endContacts();

    NorvaHardware* hardware = nullptr;
    BoardConfigurator* configurator = nullptr;
    BoardMeter* boardMeter = nullptr;
    BoardChecker* boardChecker = nullptr;
    std::vector<Controls> heldTouches;
    std::vector<Controls> heldErasers;
    std::map<int, bool> passThrough;
    // Boards accepted by the enumeration under way; its count resets it.
    int acceptedBoards = 0;
    int presentBoards = 0;
};
