#include "sessionplayer.h"

#include "eventtranslator.h"

#include <algorithm>
#include <fstream>

namespace {

// A synchronous channel keeps the newest packets when nobody reads them.
constexpr std::size_t ChannelCapacity = 256;
// A recording's frames are at most this far apart when played: a later
// frame in a broken recording would wait for ever.
constexpr int64_t MaxFrameOffsetUs = int64_t(24) * 3600 * 1000000;
// How often an awaited file is looked for.
constexpr int FilePollMs = 10;
// A repeat whose body's text is longer than this reads it from the scenario
// again for every round instead of holding it: held, a line takes 5 to 10
// times its length.
constexpr std::size_t MostBytesHeld = 1 << 20;

bool fileExists(const std::string& path)
{
    return std::ifstream(path).good();
}

} // namespace

SessionPlayer::SessionPlayer(std::mutex& mutex, std::condition_variable& changed, Session& session)
    : m_mutex(mutex), m_changed(changed), m_session(session)
{
}

void SessionPlayer::play()
{
    m_session.due = Clock::now();
    if (m_session.reader)
        run(*m_session.reader, 0.0);
    else
        run(m_session.commands, 0.0);
    // Injected packets keep coming after the scenario ends.
    waitFor(std::nullopt, [] { return false; });
}

void SessionPlayer::run(const std::vector<Scenario::Command>& commands, double t)
{
    for (const Scenario::Command& command : commands) {
        if (m_session.stopping)
            return;
        if (command.op == Scenario::Op::Repeat)
            repeat(command, t, [&](double round) { run(command.body, round); });
        else
            execute(command, t);
    }
}

void SessionPlayer::run(ScenarioReader& reader, double t)
{
    Scenario::Command command;
    while (!m_session.stopping && reader.next(command) == ScenarioReader::Next::Command) {
        if (command.op != Scenario::Op::Repeat) {
            execute(command, t);
            continue;
        }
        const ScenarioReader::Mark body = reader.mark();
        if (reader.readBlock(&command.body, MostBytesHeld)) {
            repeat(command, t, [&](double round) { run(command.body, round); });
            continue;
        }
        // Too long to hold: every round reads it again.
        command.body = {};
        reader.rewind(body);
        if (command.amount == 0)
            reader.readBlock(nullptr, 0);
        repeat(command, t, [&](double round) {
            reader.rewind(body);
            run(reader, round);
        });
    }
}

void SessionPlayer::repeat(const Scenario::Command& command, double t,
                           const std::function<void(double)>& round)
{
    if (command.amount == Scenario::Forever) {
        // Rounds at least a millisecond apart: a round without waits must
        // not keep a core busy until the detach.
        while (!m_session.stopping) {
            const auto next = Clock::now() + std::chrono::milliseconds(1);
            round(t);
            waitFor(next, [] { return false; });
        }
    }
    // Values follow the innermost counted repeat.
    for (int i = 0; i < command.amount && !m_session.stopping; ++i)
        round(command.amount > 1 ? double(i) / (command.amount - 1) : 0.0);
}

void SessionPlayer::execute(const Scenario::Command& command, double t)
{
    using Op = Scenario::Op;
    const int32_t device = Scenario::Board::deviceOf(command.board);
    const auto after = [&](int ms) { return Clock::now() + std::chrono::milliseconds(ms); };
    const auto report = [&](const std::string& message) {
        Session::print(Scenario::Diagnostic{m_session.name, command.line, message}.text());
    };
    switch (command.op) {
    case Op::Wait:
        // Kept to the schedule, so that the time spent sending and waking up
        // does not add up over a long scenario.
        m_session.due += std::chrono::milliseconds(command.amount);
        waitFor(m_session.due, [] { return false; });
        break;
    case Op::WaitCallback: {
        Clock::time_point since;
        // And the host told of every plug and unplug before: one that
        // enumerates anew clears its callbacks and registers again.
        const bool registered = waitFor(after(command.amount), [&] {
            const Board* board = m_session.plugged(device);
            if (!board || board->callbacks.empty() || m_session.pnpPending > 0 ||
                m_session.pnpInFlight.active)
                return false;
            since = board->registered;
            return true;
        });
        if (!registered && !m_session.stopping)
            report("no callback registered for board " + std::to_string(command.board) +
                   " within " + std::to_string(command.amount) + " ms");
        // Not from when this thread noticed: it may wake up late.
        m_session.due = registered ? std::max(m_session.due, since) : Clock::now();
        break;
    }
    case Op::WaitFile: {
        // Nothing announces a new file: look for it every few milliseconds.
        const auto deadline = after(command.amount);
        bool found = false;
        while (!m_session.stopping && !(found = fileExists(command.path)) &&
               Clock::now() < deadline)
            waitFor(std::min(deadline, after(FilePollMs)), [] { return false; });
        if (!found && !m_session.stopping)
            report("no file " + command.path + " within " + std::to_string(command.amount) + " ms");
        m_session.due = Clock::now();
        break;
    }
    case Op::Raw:
    case Op::Pen:
    case Op::Touch:
    case Op::Eraser: {
        noteContacts(command);
        Lock lock(m_mutex);
        deliver(lock, device, command.packet(t));
        break;
    }
    case Op::Plug:
    case Op::Unplug:
        setPlugged(command.board, command.op == Op::Plug);
        break;
    case Op::Play:
        playRecording(command);
        m_session.due = Clock::now();
        break;
    case Op::Repeat:
        break;
    }
}

bool SessionPlayer::waitFor(std::optional<Clock::time_point> deadline,
                            const std::function<bool()>& done)
{
    Lock lock(m_mutex);
    for (;;) {
        if (m_session.stopping)
            return false;
        if (done())
            return true;
        if (!m_session.injected.empty()) {
            const auto [device, packet] = std::move(m_session.injected.front());
            m_session.injected.pop_front();
            deliver(lock, device, packet);
            // A real device that goes waits for its last packets to be sent.
            m_changed.notify_all();
        } else if (!deadline) {
            m_changed.wait(lock);
        } else if (m_changed.wait_until(lock, *deadline) == std::cv_status::timeout) {
            return !m_session.stopping && done();
        }
    }
}

void SessionPlayer::deliver(Lock& lock, int32_t device, const std::vector<uint8_t>& packet)
{
    m_changed.wait(lock, [&] { return m_session.stopping || m_session.locks == 0; });
    Board* board = m_session.plugged(device);
    if (m_session.stopping || !board)
        return;
    for (auto& [number, channel] : m_session.channels) {
        if (channel.device != device)
            continue;
        channel.packets.push_back(packet);
        if (channel.packets.size() > ChannelCapacity)
            channel.packets.pop_front();
        m_changed.notify_all();
    }
    if (board->callbacks.empty())
        return;
    const uint32_t tag = ++m_session.sequence;
    for (const Callback& callback : std::vector<Callback>(board->callbacks)) {
        const auto& current = board->callbacks;
        if (m_session.stopping ||
            std::find(current.begin(), current.end(), callback) == current.end())
            continue;
        m_session.packetInFlight = {true, std::this_thread::get_id(), device, callback};
        lock.unlock();
        reinterpret_cast<NorvaPacketCallback>(callback.function)(
            tag, packet.data(), static_cast<uint32_t>(packet.size()), callback.context);
        lock.lock();
        m_session.packetInFlight.active = false;
        m_changed.notify_all();
    }
}

void SessionPlayer::playRecording(const Scenario::Command& command)
{
    const std::shared_ptr<const Recording> played = m_session.recording(command.path);
    const Recording& recording = *played;
    const int32_t device = Scenario::Board::deviceOf(command.board);
    EventTranslator translator(recording.device);
    const Clock::time_point start = Clock::now();
    const int64_t first = recording.events.empty() ? 0 : recording.events.front().time;
    for (const InputDevice::Event& event : recording.events) {
        if (m_session.stopping)
            return;
        const std::vector<EventTranslator::Packet> packets = translator.feed(event);
        if (packets.empty())
            continue;
        const int64_t offset = std::clamp<int64_t>(event.time - first, 0, MaxFrameOffsetUs);
        const auto at = start + std::chrono::microseconds(int64_t(double(offset) / command.speed));
        waitFor(at, [] { return false; });
        sendFrame(device, packets, translator.anythingDown());
    }
    // A recording that ends in the middle of a stroke leaves nothing down.
    sendFrame(device, translator.finish(), false);
}

void SessionPlayer::sendFrame(int32_t device, const std::vector<std::vector<uint8_t>>& packets,
                              bool down)
{
    Lock lock(m_mutex);
    if (Board* board = m_session.plugged(device)) {
        if (down)
            board->contactsDown.insert(Board::RecordedKey);
        else
            board->contactsDown.erase(Board::RecordedKey);
    }
    for (const std::vector<uint8_t>& packet : packets)
        deliver(lock, device, packet);
}

void SessionPlayer::noteContacts(const Scenario::Command& command)
{
    using Op = Scenario::Op;
    std::lock_guard<std::mutex> lock(m_mutex);
    Board* board = m_session.plugged(Scenario::Board::deviceOf(command.board));
    if (!board || command.op == Op::Raw)
        return;
    const auto note = [board](int key, bool down) {
        if (down)
            board->contactsDown.insert(key);
        else
            board->contactsDown.erase(key);
    };
    if (command.op == Op::Pen)
        note(command.pen, command.penFlags & Scenario::Tip);
    for (const Scenario::Contact& contact : command.contacts)
        note((command.op == Op::Touch ? Board::TouchKeys : Board::EraserKeys) + contact.id,
             contact.down);
}

void SessionPlayer::setPlugged(int number, bool plugged)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Board& board : m_session.boards) {
        if (board.declared.number == number && m_session.setPlugged(board, plugged))
            m_changed.notify_all();
    }
}
