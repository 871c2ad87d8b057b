// What the measuring core keeps while a session runs on: resident memory
// after each million reports of one contact that never lifts (a weight
// resting on the board with 0.5 mm of noise; a robot drawing circles), and
// of short contacts, five reports each, a million of them. The counters
// rss_<n>M are the process's resident megabytes after n million reports;
// flat means bounded.

#include "boardmeasurement.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

const BoardMeasurement::BoardSize Board{1650, 930};

double residentMb()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// In whole board units, as a board reports: a finite grid, whose hull over
// any path has few corners.
ContactReport at(int id, double xMm, double yMm, double ms, bool down = true)
{
    return {ContactReport::Touch,
            id,
            down,
            std::round(xMm * ContactReport::BoardUnits / Board.width),
            std::round(yMm * ContactReport::BoardUnits / Board.height),
            ms};
}

// range(0): 0 at rest, 1 drawing circles of 100 mm at a turn a second.
void BM_OneContactTenMillionReports(benchmark::State& state)
{
    for (auto _ : state) {
        BoardMeasurement m(Board);
        std::mt19937 random(1);
        std::normal_distribution<double> noise(0, 0.5);
        const double before = residentMb();
        for (int million = 1; million <= 10; ++million) {
            for (int k = 0; k < 1000000; ++k) {
                const double ms = 5.0 * ((million - 1) * 1000000.0 + k);
                if (state.range(0) == 0)
                    m.add(at(1, 800 + noise(random), 450 + noise(random), ms));
                else
                    m.add(at(1, 800 + 100 * std::cos(ms / 159.15),
                             450 + 100 * std::sin(ms / 159.15), ms));
            }
            if (million == 1 || million % 3 == 1)
                state.counters["rss_" + std::to_string(million) + "M"] = residentMb();
        }
        state.counters["rss_10M"] = residentMb();
        state.counters["rss_before"] = before;
        benchmark::DoNotOptimize(m.figures());
    }
}

// A million taps, a stroke each.
void BM_MillionShortContacts(benchmark::State& state)
{
    for (auto _ : state) {
        BoardMeasurement m(Board);
        const double before = residentMb();
        double ms = 0;
        for (int contact = 0; contact < 1000000; ++contact) {
            const double x = 100 + contact % 1400, y = 100 + (contact / 1400) % 700;
            for (int k = 0; k < 4; ++k, ms += 8)
                m.add(at(contact % 100, x, y, ms));
            m.add(at(contact % 100, x, y, ms, false));
            ms += 40;
            if (contact == 99999 || contact == 499999)
                state.counters["rss_" + std::to_string((contact + 1) / 1000) + "k"] = residentMb();
        }
        state.counters["rss_1000k"] = residentMb();
        state.counters["rss_before"] = before;
        benchmark::DoNotOptimize(m.figures());
    }
}

} // namespace

BENCHMARK(BM_OneContactTenMillionReports)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MillionShortContacts)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
