#include "boarddriver.h"

#include "eventtranslator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// A synchronous channel keeps the newest packets when nobody reads them.
constexpr std::size_t ChannelCapacity = 256;
// Keys of BoardDriver::Board::contactsDown.
constexpr int TouchKeys = 16;
constexpr int EraserKeys = TouchKeys + 128;
constexpr int RecordedKey = EraserKeys + 128;
// A recording's frames are at most this far apart when played: a later
// frame in a broken recording would wait for ever.
constexpr int64_t MaxFrameOffsetUs = int64_t(24) * 3600 * 1000000;
// How long after its callback a recording played alone starts: the
// visualiser's window comes up meanwhile, as with the demo.
constexpr int RecordingStartDelayMs = 700;
// How often an awaited file is looked for.
constexpr int FilePollMs = 10;
// A repeat whose body's text is longer than this reads it from the scenario
// again for every round instead of holding it: held, a line takes 5 to 10
// times its length.
constexpr std::size_t MostBytesHeld = 1 << 20;
constexpr std::size_t OutlineBlockSize = 1 << 16;

// One write a line, so that lines of the player and the checker stay whole.
void printLine(const std::string& text)
{
    std::cerr << text + '\n' << std::flush;
}

void printDiagnostics(const Recording& recording)
{
    for (const Recording::Diagnostic& diagnostic : recording.diagnostics)
        printLine(diagnostic.text());
}

// The boards of a scenario, found without parsing it whole: only the lines
// that declare boards or open or end repeats count, and the others are only
// looked at, a block at a time, so that this takes a moment even for a file
// of millions of lines. Missing for a recording.
std::optional<std::vector<Scenario::Board>> outline(std::istream& input)
{
    ScenarioParser parser({});
    Scenario::Command unused;
    int number = 0;
    const auto take = [&](std::string_view line) {
        if (Recording::isRecordingLine(line, number == 0))
            return false;
        ++number;
        if (ScenarioParser::mayShapeBoards(line))
            parser.parse(number, line, unused);
        return true;
    };
    std::vector<char> block(OutlineBlockSize);
    // A line that goes on into the next block.
    std::string started;
    while (input.read(block.data(), std::streamsize(block.size())) || input.gcount() > 0) {
        std::string_view rest(block.data(), std::size_t(input.gcount()));
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;
             rest.remove_prefix(end + 1)) {
            if (started.empty() && !take(rest.substr(0, end)))
                return std::nullopt;
            if (!started.empty()) {
                started.append(rest.substr(0, end));
                if (!take(started))
                    return std::nullopt;
                started.clear();
            }
        }
        started.append(rest);
    }
    if (!started.empty() && !take(started))
        return std::nullopt;
    return parser.boards();
}

bool fileExists(const std::string& path)
{
    return std::ifstream(path).good();
}

// The session whose thread this is; a thread of an ended session must not
// start a new one.
thread_local const std::atomic<bool>* t_sessionStopping = nullptr;

template <typename List, typename Item> bool removeAll(List& list, const Item& item)
{
    const auto end = std::remove(list.begin(), list.end(), item);
    const bool removed = end != list.end();
    list.erase(end, list.end());
    return removed;
}

template <typename List, typename Item> void addOnce(List& list, const Item& item)
{
    if (std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(item);
}

} // namespace

bool BoardDriver::Invocation::blocks(int32_t device, const Callback& callback) const
{
    return active && this->device == device && this->callback == callback &&
           thread != std::this_thread::get_id();
}

BoardDriver::~BoardDriver()
{
#ifdef _WIN32
    // Unloading runs under the loader lock, and at process exit the other
    // threads are gone already: waiting for them would never end. Hosts
    // detach before they unload.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_session) {
        m_session->stopping = true;
        m_retired.push_back(std::move(m_session->player));
        m_retired.push_back(std::move(m_session->notifier));
        m_retired.push_back(std::move(m_session->checker));
    }
    for (std::thread& thread : m_retired) {
        if (thread.joinable())
            thread.detach();
    }
#else
    detach();
    joinRetired();
#endif
}

int32_t BoardDriver::attach()
{
    if (t_sessionStopping && *t_sessionStopping)
        return 0;
    joinRetired();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_session)
        return 1;
    m_log.configure();
    auto session = std::make_shared<Session>();
    loadScenario(*session);
#ifdef NORVABOARD_LIVE_DEVICES
    startLiveDevices(session);
#endif
    session->player = std::thread(&BoardDriver::play, this, session);
    session->notifier = std::thread(&BoardDriver::notify, this, session);
    if (session->checked)
        session->checker = std::thread(&BoardDriver::check, session);
    m_session = session;
    return 1;
}

void BoardDriver::detach()
{
    std::vector<std::thread> threads;
    // Held until the live devices are stopped: their thread hands packets
    // to the session until then.
    std::shared_ptr<Session> session;
#ifdef NORVABOARD_LIVE_DEVICES
    std::shared_ptr<LiveDevices> live;
#endif
    {
        Lock lock(m_mutex);
        session = std::move(m_session);
        if (!session)
            return;
        session->stopping = true;
        session->pnpCallbacks.clear();
        for (Board& board : session->boards)
            board.callbacks.clear();
        m_changed.notify_all();
        const auto idle = [](const Invocation& invocation) {
            return !invocation.active || invocation.thread == std::this_thread::get_id();
        };
        m_changed.wait(lock,
                       [&] { return idle(session->packetInFlight) && idle(session->pnpInFlight); });
        threads.push_back(std::move(session->player));
        threads.push_back(std::move(session->notifier));
        threads.push_back(std::move(session->checker));
#ifdef NORVABOARD_LIVE_DEVICES
        live = std::move(session->live);
#endif
    }
#ifdef NORVABOARD_LIVE_DEVICES
    // Its thread may wait for the lock to hand over a packet.
    live.reset();
#endif
    for (std::thread& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id()) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_retired.push_back(std::move(thread));
        } else if (thread.joinable()) {
            thread.join();
        }
    }
}

void BoardDriver::joinRetired()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_retired);
    }
    for (std::thread& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id()) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_retired.push_back(std::move(thread));
        } else {
            thread.join();
        }
    }
}

void BoardDriver::setCallback(int32_t device, NorvaPacketCallback function, void* context)
{
    if (!function)
        return;
    const Callback callback{reinterpret_cast<void*>(function), context};
    withBoard(device, false, [&](Board& board) {
        if (board.callbacks.empty())
            board.registered = Clock::now();
        addOnce(board.callbacks, callback);
        m_changed.notify_all();
        return true;
    });
}

void BoardDriver::setPnpCallback(NorvaPnpCallback function, void* context)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (function && m_session)
        addOnce(m_session->pnpCallbacks, Callback{reinterpret_cast<void*>(function), context});
}

int32_t BoardDriver::clearCallback(int32_t device, void* function, void* context)
{
    Lock lock(m_mutex);
    const std::shared_ptr<Session> session = m_session;
    if (!session)
        return 0;
    const Callback callback{function, context};
    bool removed = false;
    if (device == 0) {
        removed = removeAll(session->pnpCallbacks, callback);
    } else if (Board* board = plugged(*session, device)) {
        removed = removeAll(board->callbacks, callback);
    }
    const Invocation& invocation = device == 0 ? session->pnpInFlight : session->packetInFlight;
    m_changed.wait(lock, [&] { return !invocation.blocks(device, callback); });
    return removed ? 1 : 0;
}

int32_t BoardDriver::deviceCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_session)
        return 0;
    const auto& boards = m_session->boards;
    return static_cast<int32_t>(
        std::count_if(boards.begin(), boards.end(), [](const Board& b) { return b.plugged; }));
}

bool BoardDriver::enumDeviceInfo(int32_t index, void* record)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!record || !m_session || index < 0)
        return false;
    const Board* found = nullptr;
    int32_t position = 0;
    for (const Board& board : m_session->boards) {
        if (board.plugged && position++ == index) {
            found = &board;
            break;
        }
    }
    if (!found)
        return false;
    // Offset 0 is the caller's: the version of the record it expects.
    auto* bytes = static_cast<unsigned char*>(record);
    std::memset(bytes + 4, 0, NorvaRecordSize - 4);
    const int32_t usable = found->declared.usable ? 1 : 0;
    const int32_t device = found->declared.device();
    std::memcpy(bytes + NorvaRecordUsableOffset, &usable, sizeof usable);
    std::memcpy(bytes + NorvaRecordDeviceOffset, &device, sizeof device);
    const std::string& description = found->declared.description;
    std::memcpy(bytes + NorvaRecordDescriptionOffset, description.data(),
                std::min<std::size_t>(description.size(), NorvaRecordDescriptionCapacity - 1));
    return true;
}

bool BoardDriver::inject(int32_t device, const uint8_t* bytes, int32_t length)
{
    if (!bytes || length <= 0)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_session || !plugged(*m_session, device))
        return false;
    m_session->injected.emplace_back(device, std::vector<uint8_t>(bytes, bytes + length));
    m_changed.notify_all();
    return true;
}

void BoardDriver::sendToSystem(const uint8_t* bytes, int32_t length)
{
#ifdef NORVABOARD_LIVE_DEVICES
    std::shared_ptr<LiveDevices> live;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_session)
            live = m_session->live;
    }
    if (live && bytes && length > 0)
        live->sendToSystem(bytes, std::size_t(length));
#else
    (void)bytes;
    (void)length;
#endif
}

int32_t BoardDriver::openChannel(int32_t device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_session || !plugged(*m_session, device))
        return -1;
    const int32_t channel = m_session->nextChannel++;
    m_session->channels[channel].device = device;
    return channel;
}

void BoardDriver::closeChannel(int32_t device, int32_t channel)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_session)
        return;
    const auto found = m_session->channels.find(channel);
    if (found != m_session->channels.end() && found->second.device == device) {
        m_session->channels.erase(found);
        m_changed.notify_all();
    }
}

int32_t BoardDriver::readChannel(int32_t device, int32_t channel, uint8_t* buffer, int32_t capacity,
                                 int32_t timeoutMs)
{
    Lock lock(m_mutex);
    const std::shared_ptr<Session> session = m_session;
    if (!session || !buffer || capacity <= 0)
        return -1;
    const auto open = [&]() -> Channel* {
        const auto found = session->channels.find(channel);
        return found != session->channels.end() && found->second.device == device ? &found->second
                                                                                  : nullptr;
    };
    if (!open())
        return -1;
    m_changed.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                       [&] { return session->stopping || !open() || !open()->packets.empty(); });
    Channel* current = open();
    if (session->stopping || !current)
        return -1;
    if (current->packets.empty())
        return 0;
    const std::vector<uint8_t> packet = std::move(current->packets.front());
    current->packets.pop_front();
    const auto copied = std::min<std::size_t>(packet.size(), static_cast<std::size_t>(capacity));
    std::memcpy(buffer, packet.data(), copied);
    return static_cast<int32_t>(copied);
}

void BoardDriver::lock()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_session)
        ++m_session->locks;
}

void BoardDriver::unlock()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_session && m_session->locks > 0) {
        --m_session->locks;
        m_changed.notify_all();
    }
}

BoardDriver::Board* BoardDriver::plugged(Session& session, int32_t device)
{
    for (Board& board : session.boards) {
        if (board.declared.device() == device)
            return board.plugged ? &board : nullptr;
    }
    return nullptr;
}

void BoardDriver::loadScenario(Session& session)
{
    const char* variable = std::getenv("NORVABOARD_SCENARIO");
    const std::string path = variable ? variable : "";
    if (path.empty())
        return;
    std::unique_ptr<std::istream> played, checked;
    std::optional<std::vector<Scenario::Board>> boards;
    if (path == "demo") {
        session.name = path;
        played = std::make_unique<std::istringstream>(Scenario::demoText());
        checked = std::make_unique<std::istringstream>(Scenario::demoText());
        boards = outline(*played);
    } else {
        if (std::error_code error; std::filesystem::is_regular_file(path, error)) {
            // Both opened now: the file that the boards come from is the one
            // played, whatever becomes of its path.
            played = std::make_unique<std::ifstream>(path, std::ios::binary);
            checked = std::make_unique<std::ifstream>(path, std::ios::binary);
        } else {
            // A pipe (NORVABOARD_SCENARIO=<(...)) can be read only once: it
            // is held.
            std::ifstream file(path, std::ios::binary);
            std::ostringstream text;
            if (file && text << file.rdbuf()) {
                played = std::make_unique<std::istringstream>(text.str());
                checked = std::make_unique<std::istringstream>(text.str());
            }
        }
        if (played && *played && *checked)
            boards = outline(*played);
        if (!played || !*checked || played->bad() || (played->fail() && !played->eof())) {
            printLine("norvaboardex: cannot read the scenario " + path);
            return;
        }
        if (boards && !std::ifstream(Recording::descriptionPath(path)).good()) {
            const std::size_t slash = path.find_last_of("/\\");
            session.folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
            session.name = path;
        } else {
            boards.reset();
        }
    }
    if (boards) {
        played->clear();
        played->seekg(0);
        session.reader = std::make_unique<ScenarioReader>(std::move(played), session.name);
        session.checked = std::move(checked);
        for (const Scenario::Board& declared : *boards) {
            Board board;
            board.declared = declared;
            board.plugged = declared.plugged;
            session.boards.push_back(board);
        }
        return;
    }
    // A recording alone: one board described by the device, which plays
    // the recording once as soon as the visualiser is ready.
    session.name = path;
    Board board;
    board.declared.number = 1;
    board.declared.description = recording(session, path)->device.boardDescription();
    session.boards.push_back(board);
    Scenario::Command command;
    command.board = board.declared.number;
    command.op = Scenario::Op::WaitCallback;
    command.amount = Scenario::DefaultCallbackTimeoutMs;
    session.commands.push_back(command);
    command.op = Scenario::Op::Wait;
    command.amount = RecordingStartDelayMs;
    session.commands.push_back(command);
    command.op = Scenario::Op::Play;
    command.path = path;
    session.commands.push_back(command);
}

std::shared_ptr<const Recording> BoardDriver::recording(Session& session, const std::string& path)
{
    const bool absolute =
        !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':'));
    const std::string resolved = absolute ? path : session.folder + path;
    std::lock_guard<std::mutex> lock(session.recordingsMutex);
    auto& recording = session.recordings[resolved];
    if (!recording) {
        recording = std::make_shared<const Recording>(Recording::load(resolved));
        printDiagnostics(*recording);
    }
    return recording;
}

void BoardDriver::check(std::shared_ptr<Session> session)
{
    // A file of garbage is a problem on every line: the first ones tell
    // what is wrong, the rest are counted.
    std::size_t problems = 0;
    Scenario::Diagnostic firstUnlisted;
    ScenarioReader reader(std::move(session->checked), session->name,
                          [&](const Scenario::Diagnostic& diagnostic) {
                              if (++problems <= Scenario::MaxDiagnostics)
                                  printLine(diagnostic.text());
                              else if (problems == Scenario::MaxDiagnostics + 1)
                                  firstUnlisted = diagnostic;
                          });
    Scenario::Command command;
    for (;;) {
        if (session->stopping)
            return;
        const ScenarioReader::Next next = reader.next(command);
        if (next == ScenarioReader::Next::Finished)
            break;
        if (next == ScenarioReader::Next::Command && command.op == Scenario::Op::Play)
            recording(*session, command.path);
    }
    reader.finish();
    if (problems > Scenario::MaxDiagnostics) {
        firstUnlisted.message =
            std::to_string(problems - Scenario::MaxDiagnostics) + " more problems not listed";
        printLine(firstUnlisted.text());
    }
}

void BoardDriver::play(std::shared_ptr<Session> session)
{
    t_sessionStopping = &session->stopping;
    session->due = Clock::now();
    if (session->reader)
        run(*session, *session->reader, 0.0);
    else
        run(*session, session->commands, 0.0);
    // Injected packets keep coming after the scenario ends.
    waitFor(*session, std::nullopt, [] { return false; });
}

void BoardDriver::notify(std::shared_ptr<Session> session)
{
    t_sessionStopping = &session->stopping;
    Lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return session->stopping || session->pnpPending > 0; });
        if (session->stopping)
            return;
        --session->pnpPending;
        for (const Callback& callback : std::vector<Callback>(session->pnpCallbacks)) {
            const auto& current = session->pnpCallbacks;
            if (session->stopping ||
                std::find(current.begin(), current.end(), callback) == current.end())
                continue;
            session->pnpInFlight = {true, std::this_thread::get_id(), 0, callback};
            lock.unlock();
            reinterpret_cast<NorvaPnpCallback>(callback.function)(callback.context);
            lock.lock();
            session->pnpInFlight.active = false;
            m_changed.notify_all();
        }
    }
}

void BoardDriver::run(Session& session, const std::vector<Scenario::Command>& commands, double t)
{
    for (const Scenario::Command& command : commands) {
        if (session.stopping)
            return;
        if (command.op == Scenario::Op::Repeat)
            repeat(session, command, t, [&](double round) { run(session, command.body, round); });
        else
            execute(session, command, t);
    }
}

void BoardDriver::run(Session& session, ScenarioReader& reader, double t)
{
    Scenario::Command command;
    while (!session.stopping && reader.next(command) == ScenarioReader::Next::Command) {
        if (command.op != Scenario::Op::Repeat) {
            execute(session, command, t);
            continue;
        }
        const ScenarioReader::Mark body = reader.mark();
        if (reader.readBlock(&command.body, MostBytesHeld)) {
            repeat(session, command, t, [&](double round) { run(session, command.body, round); });
            continue;
        }
        // Too long to hold: every round reads it again.
        command.body = {};
        reader.rewind(body);
        if (command.amount == 0)
            reader.readBlock(nullptr, 0);
        repeat(session, command, t, [&](double round) {
            reader.rewind(body);
            run(session, reader, round);
        });
    }
}

void BoardDriver::repeat(Session& session, const Scenario::Command& command, double t,
                         const std::function<void(double)>& round)
{
    if (command.amount == Scenario::Forever) {
        // Rounds at least a millisecond apart: a round without waits must
        // not keep a core busy until the detach.
        while (!session.stopping) {
            const auto next = Clock::now() + std::chrono::milliseconds(1);
            round(t);
            waitFor(session, next, [] { return false; });
        }
    }
    // Values follow the innermost counted repeat.
    for (int i = 0; i < command.amount && !session.stopping; ++i)
        round(command.amount > 1 ? double(i) / (command.amount - 1) : 0.0);
}

void BoardDriver::execute(Session& session, const Scenario::Command& command, double t)
{
    using Op = Scenario::Op;
    const int32_t device = Scenario::Board::deviceOf(command.board);
    const auto after = [&](int ms) { return Clock::now() + std::chrono::milliseconds(ms); };
    const auto report = [&](const std::string& message) {
        printLine(Scenario::Diagnostic{session.name, command.line, message}.text());
    };
    switch (command.op) {
    case Op::Wait:
        // Kept to the schedule, so that the time spent sending and waking up
        // does not add up over a long scenario.
        session.due += std::chrono::milliseconds(command.amount);
        waitFor(session, session.due, [] { return false; });
        break;
    case Op::WaitCallback: {
        Clock::time_point since;
        // And the host told of every plug and unplug before: one that
        // enumerates anew clears its callbacks and registers again.
        const bool registered = waitFor(session, after(command.amount), [&] {
            const Board* board = plugged(session, device);
            if (!board || board->callbacks.empty() || session.pnpPending > 0 ||
                session.pnpInFlight.active)
                return false;
            since = board->registered;
            return true;
        });
        if (!registered && !session.stopping)
            report("no callback registered for board " + std::to_string(command.board) +
                   " within " + std::to_string(command.amount) + " ms");
        // Not from when this thread noticed: it may wake up late.
        session.due = registered ? std::max(session.due, since) : Clock::now();
        break;
    }
    case Op::WaitFile: {
        // Nothing announces a new file: look for it every few milliseconds.
        const auto deadline = after(command.amount);
        bool found = false;
        while (!session.stopping && !(found = fileExists(command.path)) && Clock::now() < deadline)
            waitFor(session, std::min(deadline, after(FilePollMs)), [] { return false; });
        if (!found && !session.stopping)
            report("no file " + command.path + " within " + std::to_string(command.amount) + " ms");
        session.due = Clock::now();
        break;
    }
    case Op::Raw:
    case Op::Pen:
    case Op::Touch:
    case Op::Eraser: {
        noteContacts(session, command);
        Lock lock(m_mutex);
        deliver(lock, session, device, command.packet(t));
        break;
    }
    case Op::Plug:
    case Op::Unplug:
        setPlugged(session, command.board, command.op == Op::Plug);
        break;
    case Op::Play:
        playRecording(session, command);
        session.due = Clock::now();
        break;
    case Op::Repeat:
        break;
    }
}

bool BoardDriver::waitFor(Session& session, std::optional<Clock::time_point> deadline,
                          const std::function<bool()>& done)
{
    Lock lock(m_mutex);
    for (;;) {
        if (session.stopping)
            return false;
        if (done())
            return true;
        if (!session.injected.empty()) {
            const auto [device, packet] = std::move(session.injected.front());
            session.injected.pop_front();
            deliver(lock, session, device, packet);
            // A real device that goes waits for its last packets to be sent.
            m_changed.notify_all();
        } else if (!deadline) {
            m_changed.wait(lock);
        } else if (m_changed.wait_until(lock, *deadline) == std::cv_status::timeout) {
            return !session.stopping && done();
        }
    }
}

void BoardDriver::deliver(Lock& lock, Session& session, int32_t device,
                          const std::vector<uint8_t>& packet)
{
    m_changed.wait(lock, [&] { return session.stopping || session.locks == 0; });
    Board* board = plugged(session, device);
    if (session.stopping || !board)
        return;
    for (auto& [number, channel] : session.channels) {
        if (channel.device != device)
            continue;
        channel.packets.push_back(packet);
        if (channel.packets.size() > ChannelCapacity)
            channel.packets.pop_front();
        m_changed.notify_all();
    }
    if (board->callbacks.empty())
        return;
    const uint32_t tag = ++session.sequence;
    for (const Callback& callback : std::vector<Callback>(board->callbacks)) {
        const auto& current = board->callbacks;
        if (session.stopping ||
            std::find(current.begin(), current.end(), callback) == current.end())
            continue;
        session.packetInFlight = {true, std::this_thread::get_id(), device, callback};
        lock.unlock();
        reinterpret_cast<NorvaPacketCallback>(callback.function)(
            tag, packet.data(), static_cast<uint32_t>(packet.size()), callback.context);
        lock.lock();
        session.packetInFlight.active = false;
        m_changed.notify_all();
    }
}

void BoardDriver::playRecording(Session& session, const Scenario::Command& command)
{
    const std::shared_ptr<const Recording> played = recording(session, command.path);
    const Recording& recording = *played;
    const int32_t device = Scenario::Board::deviceOf(command.board);
    EventTranslator translator(recording.device);
    const Clock::time_point start = Clock::now();
    const int64_t first = recording.events.empty() ? 0 : recording.events.front().time;
    for (const InputDevice::Event& event : recording.events) {
        if (session.stopping)
            return;
        const std::vector<EventTranslator::Packet> packets = translator.feed(event);
        if (packets.empty())
            continue;
        const int64_t offset = std::clamp<int64_t>(event.time - first, 0, MaxFrameOffsetUs);
        const auto at = start + std::chrono::microseconds(int64_t(double(offset) / command.speed));
        waitFor(session, at, [] { return false; });
        sendFrame(session, device, packets, translator.anythingDown());
    }
    // A recording that ends in the middle of a stroke leaves nothing down.
    sendFrame(session, device, translator.finish(), false);
}

void BoardDriver::sendFrame(Session& session, int32_t device,
                            const std::vector<std::vector<uint8_t>>& packets, bool down)
{
    Lock lock(m_mutex);
    if (Board* board = plugged(session, device)) {
        if (down)
            board->contactsDown.insert(RecordedKey);
        else
            board->contactsDown.erase(RecordedKey);
    }
    for (const std::vector<uint8_t>& packet : packets)
        deliver(lock, session, device, packet);
}

void BoardDriver::noteContacts(Session& session, const Scenario::Command& command)
{
    using Op = Scenario::Op;
    std::lock_guard<std::mutex> lock(m_mutex);
    Board* board = plugged(session, Scenario::Board::deviceOf(command.board));
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
        note((command.op == Op::Touch ? TouchKeys : EraserKeys) + contact.id, contact.down);
}

void BoardDriver::setPlugged(Session& session, int number, bool plugged)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Board& board : session.boards) {
        if (board.declared.number == number)
            setPluggedLocked(session, board, plugged);
    }
}

void BoardDriver::setPluggedLocked(Session& session, Board& board, bool plugged)
{
    if (board.plugged == plugged)
        return;
    // A board that goes away takes its registrations and contacts with it.
    board.plugged = plugged;
    board.callbacks.clear();
    board.contactsDown.clear();
    ++session.pnpPending;
    m_changed.notify_all();
}

#ifdef NORVABOARD_LIVE_DEVICES
BoardDriver::Board* BoardDriver::liveBoard(Session& session, const std::string& path)
{
    for (Board& board : session.boards) {
        if (board.plugged && board.livePath == path)
            return &board;
    }
    return nullptr;
}

BoardDriver::Board& BoardDriver::plugLive(Session& session, const std::string& path,
                                          const InputDevice& device)
{
    // Node numbers are given again to other devices: a device is known by
    // what it says of itself, and phys tells apart two of the same model.
    Board* board = nullptr;
    for (Board& candidate : session.boards) {
        if (!candidate.plugged && !candidate.liveIdentity.empty() &&
            candidate.liveIdentity == device.identity() &&
            (!board || (candidate.livePhys == device.phys && board->livePhys != device.phys)))
            board = &candidate;
    }
    if (!board) {
        session.boards.emplace_back();
        board = &session.boards.back();
        board->declared.number = session.nextLiveNumber++;
        board->liveIdentity = device.identity();
    }
    board->livePath = path;
    board->livePhys = device.phys;
    board->declared.description = device.boardDescription();
    board->plugged = true;
    return *board;
}

void BoardDriver::startLiveDevices(const std::shared_ptr<Session>& session)
{
    const char* devices = std::getenv("NORVABOARD_DEVICES");
    if (!devices || !*devices)
        return;
    const char* grab = std::getenv("NORVABOARD_GRAB");
    // The devices' thread may outlive a session whose detach it races.
    const std::weak_ptr<Session> weak = session;
    LiveDevices::Sink sink;
    sink.plugged = [this, weak](const std::string& path, const InputDevice& device) {
        const std::shared_ptr<Session> session = weak.lock();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!session || session->stopping)
            return;
        plugLive(*session, path, device);
        ++session->pnpPending;
        m_changed.notify_all();
    };
    sink.unplugged = [this, weak](const std::string& path) {
        const std::shared_ptr<Session> session = weak.lock();
        Lock lock(m_mutex);
        Board* board = session ? liveBoard(*session, path) : nullptr;
        if (!board)
            return;
        const int32_t device = board->declared.device();
        m_changed.wait(lock, [&] {
            return session->stopping ||
                   std::none_of(session->injected.begin(), session->injected.end(),
                                [&](const auto& packet) { return packet.first == device; });
        });
        board->livePath.clear();
        setPluggedLocked(*session, *board, false);
    };
    sink.packets = [this, weak](const std::string& path,
                                const std::vector<EventTranslator::Packet>& packets, bool down) {
        const std::shared_ptr<Session> session = weak.lock();
        std::lock_guard<std::mutex> lock(m_mutex);
        Board* board = session ? liveBoard(*session, path) : nullptr;
        if (!board || session->stopping)
            return;
        if (down)
            board->contactsDown.insert(RecordedKey);
        else
            board->contactsDown.erase(RecordedKey);
        for (const EventTranslator::Packet& packet : packets)
            session->injected.emplace_back(board->declared.device(), packet);
        m_changed.notify_all();
    };
    session->live =
        std::make_shared<LiveDevices>(devices, !grab || std::string(grab) != "0", std::move(sink));
    for (const auto& [path, device] : session->live->boards())
        plugLive(*session, path, device);
    session->live->start();
}
#endif
