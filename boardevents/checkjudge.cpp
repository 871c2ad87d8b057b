#include "checkjudge.h"

#include "boardpackets.h"
#include "checkreport.h"
#include "packetreport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <iostream>
#include <map>
#include <vector>

namespace {

struct Saved
{
    CheckLimits limits;
    std::vector<double> skips;
    double endedMs = 0;
    QStringList verdicts;
};

struct Packet
{
    double ms = 0;
    QByteArray bytes;
};

struct Capture
{
    QString description;
    std::optional<long long> device;
    std::vector<Packet> packets;
};

int failure(const QString& message)
{
    std::cerr << "boardevents: " << message.toStdString() << std::endl;
    return 1;
}

std::optional<Saved> readSaved(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QJsonObject check =
        QJsonDocument::fromJson(file.readAll()).object().value("check").toObject();
    const QJsonArray steps = check.value("steps").toArray();
    if (steps.size() != BoardCheck::Steps) {
        error = QStringLiteral("%1 holds no board check: its \"check\" has no %2 steps")
                    .arg(path)
                    .arg(BoardCheck::Steps);
        return std::nullopt;
    }
    Saved saved;
    QStringList limits;
    const QJsonObject given = check.value("limits").toObject();
    for (auto i = given.begin(); i != given.end(); ++i)
        limits << i.key() + '=' + QString::number(i.value().toDouble(), 'g', 17);
    std::string problem;
    const std::optional<CheckLimits> parsed =
        CheckLimits::parse(limits.join(',').toStdString(), problem);
    if (!parsed) {
        error = QStringLiteral("%1 has limits that are not a check's: %2")
                    .arg(path, QString::fromStdString(problem));
        return std::nullopt;
    }
    saved.limits = *parsed;
    for (const QJsonValue& value : steps) {
        const QJsonObject step = value.toObject();
        const double ended = step.value("ended_ms").toDouble(-1);
        if (step.value("ended").toString() == QLatin1String("skipped"))
            saved.skips.push_back(ended);
        saved.endedMs = std::max(saved.endedMs, ended);
        saved.verdicts << step.value("verdict").toString();
    }
    saved.verdicts << check.value("verdict").toString();
    std::sort(saved.skips.begin(), saved.skips.end());
    return saved;
}

// What the recorder writes: boards, plugs, waits and raw packets. A second
// enumeration (the boards changed) ends what the check can have seen.
std::optional<Capture> readCapture(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    Capture capture;
    std::map<int, std::pair<QString, std::optional<long long>>> boards;
    bool started = false;
    double ms = 0;
    QTextStream stream(&file);
    for (int number = 1; !stream.atEnd(); ++number) {
        const QString line = stream.readLine();
        const QString text = line.section('#', 0, 0).trimmed();
        const QStringList words = text.split(' ', Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const QString& command = words.first();
        bool ok = words.size() >= 2;
        if (command == QLatin1String("board") && ok) {
            QString description = text.section(' ', 2).trimmed();
            if (description.startsWith(QLatin1String("unplugged ")))
                description = description.mid(10);
            bool isDevice = false;
            const long long device =
                line.section(QLatin1String("# device "), 1).toLongLong(&isDevice);
            boards[words[1].toInt(&ok)] = {description,
                                           isDevice ? std::optional(device) : std::nullopt};
        } else if (command == QLatin1String("wait") && ok &&
                   words[1] == QLatin1String("callback")) {
            if (started)
                break;
            started = true;
            const auto board = boards.find(words.value(2).toInt(&ok));
            ok = ok && board != boards.end();
            if (ok)
                std::tie(capture.description, capture.device) = board->second;
        } else if (command == QLatin1String("wait") && ok) {
            ms += words[1].toDouble(&ok);
        } else if (command == QLatin1String("raw") && started) {
            const QByteArray bytes = QByteArray::fromHex(text.mid(4).toLatin1());
            ok = !bytes.isEmpty();
            capture.packets.push_back({ms, bytes});
        } else if ((command == QLatin1String("plug") || command == QLatin1String("unplug")) && ok) {
            if (started)
                break;
        } else if (command != QLatin1String("use") || !ok) {
            ok = false;
        }
        if (!ok) {
            error = QStringLiteral("%1:%2 is not a line of a capture: '%3'")
                        .arg(path)
                        .arg(number)
                        .arg(line.left(40));
            return std::nullopt;
        }
    }
    if (!started) {
        error = QStringLiteral("%1 declares no board that sent anything").arg(path);
        return std::nullopt;
    }
    return capture;
}

} // namespace

int CheckJudge::run(const QString& folder, const QString& jsonPath,
                    const std::optional<CheckLimits>& limits,
                    const std::optional<BoardMeasurement::BoardSize>& size)
{
    const QDir dir(folder);
    QString error;
    const std::optional<Saved> saved = readSaved(dir.filePath("check.json"), error);
    if (!saved)
        return failure(error);
    const std::optional<Capture> capture = readCapture(dir.filePath("capture.scn"), error);
    if (!capture)
        return failure(error);

    const QByteArray description = capture->description.toLatin1();
    const NorvaHardware::DeviceInfo info = BoardPackets::parseDescription(
        description.constData(), std::size_t(description.size()) + 1);
    BoardCheck::Board board{0, 0, info.xp, info.xt};
    if (size) {
        board.widthMm = size->width;
        board.heightMm = size->height;
    } else if (info.millimetres) {
        board.widthMm = info.millimetres->width();
        board.heightMm = info.millimetres->height();
    } else {
        return failure(QStringLiteral("the board of %1 does not give its size (mm<W,H>): give "
                                      "its width and height in mm with --size-mm WxH")
                           .arg(dir.filePath("capture.scn")));
    }

    BoardCheck check(board, limits.value_or(saved->limits));
    auto skip = saved->skips.begin();
    for (const Packet& packet : capture->packets) {
        for (; skip != saved->skips.end() && *skip <= packet.ms; ++skip)
            check.skip(*skip);
        check.add(PacketReport::decode(packet.bytes, 0).contacts(packet.ms));
    }
    for (; skip != saved->skips.end(); ++skip)
        check.skip(*skip);
    check.finish(saved->endedMs);

    const CheckReport::Identity identity{capture->device, capture->description.toStdString()};
    QTextStream out(stdout);
    for (const std::string& line : CheckReport::lines(check, identity))
        out << QString::fromStdString(line) << '\n';
    if (!jsonPath.isEmpty()) {
        QFile json(jsonPath);
        const QByteArray text = QByteArray::fromStdString(CheckReport::json(check, identity));
        if (!json.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            json.write(text) != text.size())
            return failure(QStringLiteral("cannot write %1: %2").arg(jsonPath, json.errorString()));
    }

    if (limits) {
        out << "verdicts: judged against the limits given, not compared with those saved\n";
        return 0;
    }
    QStringList judged, differences;
    for (const BoardCheck::Result& r : check.results())
        judged << QString::fromLatin1(BoardCheck::name(r.verdict));
    judged << QString::fromLatin1(BoardCheck::name(check.verdict()));
    for (int i = 0; i < judged.size(); ++i) {
        if (judged[i] != saved->verdicts.value(i))
            differences << QStringLiteral("%1 %2 where %3 was saved")
                               .arg(i < BoardCheck::Steps
                                        ? QString::fromLatin1(BoardCheck::name(BoardCheck::Step(i)))
                                        : QStringLiteral("board"),
                                    judged[i], saved->verdicts.value(i));
    }
    if (differences.isEmpty()) {
        out << "verdicts: the same as those saved in " << dir.filePath("check.json") << '\n';
        return 0;
    }
    out.flush();
    return failure(QStringLiteral("the verdicts differ from those saved in %1: %2")
                       .arg(dir.filePath("check.json"), differences.join(QStringLiteral("; "))));
}
