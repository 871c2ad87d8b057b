#include "boarddriver.h"

#include "sessionplayer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

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
    session->loadScenario();
#ifdef NORVABOARD_LIVE_DEVICES
    startLiveDevices(session);
#endif
    session->player = std::thread([this, session] {
        t_sessionStopping = &session->stopping;
        SessionPlayer(m_mutex, m_changed, *session).play();
    });
    session->notifier = std::thread(&BoardDriver::notify, this, session);
    if (session->checked)
        session->checker = std::thread([session] { session->check(); });
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
    std::unique_ptr<LiveDevices> live;
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
        // A call handing contacts back may still be writing to the live
        // devices' touchscreen: they are closed once it is done.
        m_changed.wait(lock, [&] {
            return idle(session->packetInFlight) && idle(session->pnpInFlight) &&
                   session->handingBack == 0;
        });
        threads.push_back(std::move(session->player));
        threads.push_back(std::move(session->notifier));
        threads.push_back(std::move(session->checker));
#ifdef NORVABOARD_LIVE_DEVICES
        live = std::move(session->live);
#endif
    }
#ifdef NORVABOARD_LIVE_DEVICES
    // Its thread may wait for the lock to hand over a packet. Closed before
    // this returns, so that the next attach can grab the devices again.
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
    } else if (Board* board = session->plugged(device)) {
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
    if (!m_session || !m_session->plugged(device))
        return false;
    m_session->injected.emplace_back(device, std::vector<uint8_t>(bytes, bytes + length));
    m_changed.notify_all();
    return true;
}

void BoardDriver::sendToSystem(const uint8_t* bytes, int32_t length)
{
#ifdef NORVABOARD_LIVE_DEVICES
    if (!bytes || length <= 0)
        return;
    std::shared_ptr<Session> session;
    LiveDevices* live = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_session || !m_session->live)
            return;
        session = m_session;
        live = session->live.get();
        ++session->handingBack;
    }
    live->sendToSystem(bytes, std::size_t(length));
    std::lock_guard<std::mutex> lock(m_mutex);
    --session->handingBack;
    m_changed.notify_all();
#else
    (void)bytes;
    (void)length;
#endif
}

int32_t BoardDriver::openChannel(int32_t device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_session || !m_session->plugged(device))
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

#ifdef NORVABOARD_LIVE_DEVICES
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
        session->plugLive(path, device);
        ++session->pnpPending;
        m_changed.notify_all();
    };
    sink.unplugged = [this, weak](const std::string& path) {
        const std::shared_ptr<Session> session = weak.lock();
        Lock lock(m_mutex);
        Board* board = session ? session->liveBoard(path) : nullptr;
        if (!board)
            return;
        const int32_t device = board->declared.device();
        m_changed.wait(lock, [&] {
            return session->stopping ||
                   std::none_of(session->injected.begin(), session->injected.end(),
                                [&](const auto& packet) { return packet.first == device; });
        });
        if (!session->stopping)
            session->reportDropped(*board, 0);
        board->livePath.clear();
        if (session->setPlugged(*board, false))
            m_changed.notify_all();
    };
    sink.packets = [this, weak](const std::string& path,
                                const std::vector<EventTranslator::Packet>& packets, bool down) {
        const std::shared_ptr<Session> session = weak.lock();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (session && session->queueLive(path, packets, down))
            m_changed.notify_all();
    };
    session->live =
        std::make_unique<LiveDevices>(devices, !grab || std::string(grab) != "0", std::move(sink));
    for (const auto& [path, device] : session->live->boards())
        session->plugLive(path, device);
    session->live->start();
}
#endif
