#include "interruptwatcher.h"

// Platform-specific, as is telling files apart (fileidentity.cpp).
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>

namespace {

std::atomic<InterruptWatcher*> watcher{nullptr};
std::atomic<bool> interruptedOnce{false};

// Runs on a thread that the console starts for the event.
BOOL WINAPI consoleHandler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    InterruptWatcher* target = watcher.load();
    // The second one goes to the default handler, which ends the process.
    if (!target || interruptedOnce.exchange(true))
        return FALSE;
    QMetaObject::invokeMethod(
        target, [target] { emit target->interrupted(); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject* parent) : QObject(parent)
{
    watcher = this;
    SetConsoleCtrlHandler(consoleHandler, TRUE);
}

InterruptWatcher::~InterruptWatcher()
{
    SetConsoleCtrlHandler(consoleHandler, FALSE);
    watcher = nullptr;
}

#else

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler only writes a byte into the pipe; the notifier reads it in
// the event loop.
int pipeEnds[2] = {-1, -1};
const int watchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject* parent) : QObject(parent)
{
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte;
        while (::read(pipeEnds[0], &byte, 1) == 1) {
        }
        emit interrupted();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Once only: the next one takes the default action and ends the process.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int number : watchedSignals)
        ::sigaction(number, &action, nullptr);
    // A reader that goes away shows as a failed write, not a killed process.
    ::signal(SIGPIPE, SIG_IGN);
}

InterruptWatcher::~InterruptWatcher()
{
    for (int number : watchedSignals)
        ::signal(number, SIG_DFL);
    for (int& end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

#endif
