// One start of a scenario as a host meets it: the library loaded by path,
// attached, a packet callback registered for board 1 (device 1001), the
// first packet awaited, the scenario left to play for a while, then detached.
// Prints one line of figures: how long norvaAttach took, when the first
// packet came (from before the attach), how long norvaDetach took, and the
// process's peak resident memory. bench/scenario_start.sh runs it.
//
// Usage: scenario_start <library> [<ms to play before detaching>]
// with NORVABOARD_SCENARIO set.

#include "norvaboardex.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::mutex mutex;
std::condition_variable arrived;
std::atomic<long> packets{0};

void NORVA_CALLBACK onPacket(uint32_t, const uint8_t*, uint32_t, void*)
{
    if (packets++ == 0) {
        std::lock_guard<std::mutex> lock(mutex);
        arrived.notify_all();
    }
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

template <typename Function> Function resolve(void* library, const char* name)
{
    return reinterpret_cast<Function>(dlsym(library, name));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: scenario_start <library> [<ms to play>]\n");
        return 2;
    }
    const int playMs = argc > 2 ? std::atoi(argv[2]) : 0;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    const auto attach = resolve<decltype(&norvaAttach)>(library, "norvaAttach");
    const auto detach = resolve<decltype(&norvaDetach)>(library, "norvaDetach");
    const auto setCallback = resolve<decltype(&norvaSetCallback)>(library, "norvaSetCallback");

    const Clock::time_point start = Clock::now();
    attach();
    const double attachMs = msSince(start);
    setCallback(1001, &onPacket, nullptr);
    double firstMs = -1;
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (arrived.wait_for(lock, std::chrono::minutes(2), [] { return packets > 0; }))
            firstMs = msSince(start);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(playMs));
    const Clock::time_point detaching = Clock::now();
    detach();
    const double detachMs = msSince(detaching);
    std::printf("attach %.1f ms, first packet %.1f ms, detach %.1f ms, packets %ld, peak %ld kB\n",
                attachMs, firstMs, detachMs, packets.load(), peakKb());
    dlclose(library);
    return firstMs < 0 ? 1 : 0;
}
