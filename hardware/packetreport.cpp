#include "packetreport.h"

#include <QStringList>

namespace {

QString upDown(bool down)
{
    return down ? QStringLiteral("down") : QStringLiteral("up");
}

// "<keyword>" alone for a packet without contacts, else "<keyword> <c>; <c>".
template <typename Contacts, typename Format>
QString contactList(const char* keyword, const Contacts& contacts, Format format)
{
    QStringList parts;
    for (const auto& contact : contacts)
        parts << format(contact);
    const QString name = QString::fromLatin1(keyword);
    return parts.isEmpty() ? name : name + ' ' + parts.join(QStringLiteral("; "));
}

} // namespace

PacketReport PacketReport::decode(const QByteArray& delivered, quint32 tag)
{
    PacketReport report;
    report.bytes = delivered;
    report.tag = tag;
    const QByteArray packet = BoardPackets::stripPrefix(delivered);
    report.kind = BoardPackets::classify(packet);
    switch (report.kind) {
    case BoardPackets::Kind::Pen:
        report.pen = BoardPackets::decodePen(packet);
        break;
    case BoardPackets::Kind::Touch:
        report.touches = BoardPackets::decodeTouch(packet);
        break;
    case BoardPackets::Kind::Erase:
        report.erasers = BoardPackets::decodeErase(packet);
        break;
    case BoardPackets::Kind::TouchStatus:
        BoardPackets::decodeTouchStatus(packet, report.status);
        break;
    case BoardPackets::Kind::Ignored:
        break;
    }
    return report;
}

std::vector<ContactReport> PacketReport::contacts(double ms) const
{
    std::vector<ContactReport> reports;
    if (kind == BoardPackets::Kind::Pen)
        reports.push_back({ContactReport::Pen, pen.pen, pen.tip, double(pen.x), double(pen.y), ms});
    for (const NorvaHardware::TouchContact& c : touches)
        reports.push_back({ContactReport::Touch, c.id, c.down, double(c.x), double(c.y), ms});
    for (const NorvaHardware::EraseContact& c : erasers)
        reports.push_back({ContactReport::Eraser, c.id, c.down, double(c.x), double(c.y), ms});
    return reports;
}

QString PacketReport::text() const
{
    switch (kind) {
    case BoardPackets::Kind::Pen: {
        QString line = QStringLiteral("pen %1 %2 %3").arg(pen.pen).arg(pen.x).arg(pen.y);
        if (pen.tip)
            line += QStringLiteral(" tip");
        if (pen.button)
            line += QStringLiteral(" button");
        if (pen.statusBit2)
            line += QStringLiteral(" bit2");
        return line;
    }
    case BoardPackets::Kind::Touch:
        return contactList("touch", touches, [](const NorvaHardware::TouchContact& c) {
            return QStringLiteral("%1 %2 %3 %4 %5")
                .arg(c.id)
                .arg(upDown(c.down))
                .arg(c.x)
                .arg(c.y)
                .arg(c.size);
        });
    case BoardPackets::Kind::Erase:
        return contactList("eraser", erasers, [](const NorvaHardware::EraseContact& c) {
            return QStringLiteral("%1 %2 %3 %4 %5 %6")
                .arg(c.id)
                .arg(upDown(c.down))
                .arg(c.x)
                .arg(c.y)
                .arg(c.width)
                .arg(c.height);
        });
    case BoardPackets::Kind::TouchStatus: {
        QString line = QStringLiteral("status");
        for (qint32 value : status.values)
            line += ' ' + QString::number(value);
        return line + QStringLiteral(" tag %1").arg(tag);
    }
    case BoardPackets::Kind::Ignored:
        break;
    }
    return QStringLiteral("ignored length %1").arg(bytes.size());
}

QString PacketReport::hex() const
{
    return QString::fromLatin1(bytes.toHex(' '));
}
