#include "scenariorecorder.h"

#include <QDateTime>

#include <algorithm>
#include <utility>

namespace {

// The longest wait that a scenario line takes.
constexpr qint64 MaxWaitMs = 3600000;

// A character that would end the line or start a comment in a scenario.
QString printable(QString text)
{
    for (QChar& c : text) {
        if (c < QChar(' ') || c == QChar('#') || c == QChar(0x7f))
            c = QChar('?');
    }
    return text;
}

} // namespace

QString ScenarioRecorder::description(const NorvaHardware::DeviceInfo& info)
{
    return printable(info.description);
}

bool ScenarioRecorder::open(const QString& path, const QString& what)
{
    file.setFileName(path);
    // Unbuffered: each line is one write to the file, at once.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text |
                   QIODevice::Unbuffered)) {
        failure = file.errorString();
        return false;
    }
    write(QStringLiteral("# %1 on %2.")
              .arg(what, QDateTime::currentDateTime().toString(Qt::ISODate)));
    write(QStringLiteral(
        "# Play it back with the simulated board: NORVABOARD_SCENARIO=<this file>."));
    return failure.isEmpty();
}

QString ScenarioRecorder::error() const
{
    return failure;
}

void ScenarioRecorder::declare(const Board& board, bool isPlugged)
{
    const int number = int(numbers.size()) + 1;
    numbers[board.device] = number;
    plugged[number] = isPlugged;
    write(QStringLiteral("board %1 %2%3 # device %4")
              .arg(number)
              .arg(isPlugged ? QString() : QStringLiteral("unplugged "))
              .arg(description(board.info))
              .arg(board.device));
    if (current == 0)
        current = number;
}

void ScenarioRecorder::found(double ms, const Board& board)
{
    enumeration.append(board);
    registeredMs = ms;
}

void ScenarioRecorder::enumerated(double changedMs)
{
    const bool atStart = !started;
    started = true;
    if (!atStart) {
        waitUntil(changedMs);
        for (const auto& [device, number] : numbers) {
            const auto id = device;
            const bool listed =
                std::any_of(enumeration.begin(), enumeration.end(),
                            [id](const Board& board) { return board.device == id; });
            if (plugged[number] && !listed) {
                plugged[number] = false;
                write(QStringLiteral("unplug %1").arg(number));
            }
        }
    }
    // A board that comes later is declared where it came.
    for (const Board& board : enumeration) {
        if (numbers.count(board.device) == 0)
            declare(board, atStart);
        const int number = numbers[board.device];
        if (!plugged[number]) {
            plugged[number] = true;
            write(QStringLiteral("plug %1").arg(number));
        }
    }
    if (!enumeration.isEmpty()) {
        // A host that enumerates anew registers anew, the boards that stayed
        // as well; played back, a packet sent before that would go nowhere.
        write(QStringLiteral("wait callback %1").arg(numbers[enumeration.last().device]));
        originMs = registeredMs;
        scheduledMs = 0;
        enumeration.clear();
    }
    if (numbers.empty())
        return;
    const auto waiting = std::exchange(held, {});
    for (const auto& [at, device, bytes] : waiting)
        packet(at, device, bytes);
}

void ScenarioRecorder::packet(double ms, std::optional<qint32> device, const QByteArray& bytes)
{
    if (!started || numbers.empty() || !enumeration.isEmpty()) {
        held.append({ms, device, bytes});
        return;
    }
    if (bytes.isEmpty()) {
        write(QStringLiteral("# an empty packet at %1 ms").arg(ms, 0, 'f', 3));
        return;
    }
    // A packet whose board is not known goes to the board of the one before,
    // or to the first one plugged in if that one went.
    int number = current;
    if (device && numbers.count(*device))
        number = numbers[*device];
    else if (!plugged[current]) {
        const auto first = std::find_if(plugged.begin(), plugged.end(),
                                        [](const auto& entry) { return entry.second; });
        if (first != plugged.end())
            number = first->first;
    }
    waitUntil(ms);
    if (number != current) {
        current = number;
        write(QStringLiteral("use %1").arg(number));
    }
    write(QStringLiteral("raw ") + QString::fromLatin1(bytes.toHex(' ')));
    ++packets;
}

void ScenarioRecorder::waitUntil(double ms)
{
    const qint64 target = qRound64(ms - originMs);
    while (scheduledMs < target) {
        const qint64 step = std::min(target - scheduledMs, MaxWaitMs);
        write(QStringLiteral("wait %1").arg(step));
        scheduledMs += step;
    }
}

void ScenarioRecorder::write(const QString& line)
{
    if (!failure.isEmpty())
        return;
    const QByteArray bytes = line.toUtf8() + '\n';
    if (file.write(bytes) != bytes.size())
        failure = file.errorString();
}

void ScenarioRecorder::finish(double ms)
{
    // Packets that came before any board was found: kept, to be read, not played.
    for (const auto& [at, device, bytes] : held)
        write(QStringLiteral("# a packet from no board at %1 ms: %2")
                  .arg(at, 0, 'f', 3)
                  .arg(QString::fromLatin1(bytes.toHex(' '))));
    held.clear();
    write(QStringLiteral("# %1 packets in %2 ms").arg(packets).arg(ms, 0, 'f', 3));
    file.close();
}
