#pragma once

#include "norvahardware.h"
#include "positionfilter.h"

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QRect>

// The input adapter between the hardware object and the dialog.
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
    };

    // Identifier space: pens -1 - index, touches and erasers from their bases.
    static constexpr qint32 TouchIdBase = 256;
    static constexpr qint32 EraseIdBase = 512;

    explicit Quorvel(QObject* parent = nullptr);

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
};
