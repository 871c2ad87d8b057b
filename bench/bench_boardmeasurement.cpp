// How fast the measuring core takes reports: the ten-finger recording's
// 10156 reports (up to ten contacts at once, 66 in all) fed to one object,
// against ReportRates alone on the same reports. items_per_second is reports
// per second. A display's read of every figure is measured on its own, after
// the whole recording, when it costs the most.

#include "boardmeasurement.h"
#include "recordingreports.h"

#include <benchmark/benchmark.h>

namespace {

struct Input
{
    std::vector<ContactReport> reports;
    std::optional<BoardMeasurement::BoardSize> size;
};

const Input& input()
{
    static const Input loaded = [] {
        const Recording recording = Recording::load(RECORDING);
        return Input{recordedReports(recording), recordedBoardSize(recording.device)};
    }();
    return loaded;
}

bool missing(benchmark::State& state)
{
    if (!input().reports.empty() && input().size)
        return false;
    state.SkipWithError("cannot read " RECORDING);
    return true;
}

void BM_ReportRates(benchmark::State& state)
{
    if (missing(state))
        return;
    for (auto _ : state) {
        ReportRates rates;
        for (const ContactReport& report : input().reports)
            rates.add(report);
        benchmark::DoNotOptimize(rates);
    }
    state.SetItemsProcessed(int64_t(state.iterations() * input().reports.size()));
}

// Every figure; range(0) 0 without the board's size, which leaves out all
// that is in millimetres.
void BM_BoardMeasurement(benchmark::State& state)
{
    if (missing(state))
        return;
    const auto size = state.range(0) ? input().size : std::nullopt;
    for (auto _ : state) {
        BoardMeasurement measurement(size);
        for (const ContactReport& report : input().reports)
            measurement.add(report);
        measurement.finish();
        benchmark::DoNotOptimize(measurement);
    }
    state.SetItemsProcessed(int64_t(state.iterations() * input().reports.size()));
}

// Reports keep coming on an object that has already taken many: its
// buffers are warm, as in a session that runs on.
void BM_BoardMeasurementRunningOn(benchmark::State& state)
{
    if (missing(state))
        return;
    BoardMeasurement measurement(input().size);
    double offset = 0;
    const double span = input().reports.back().ms - input().reports.front().ms + 1000;
    for (auto _ : state) {
        for (ContactReport report : input().reports) {
            report.ms += offset;
            measurement.add(report);
        }
        offset += span;
    }
    state.SetItemsProcessed(int64_t(state.iterations() * input().reports.size()));
}

void BM_ReadFigures(benchmark::State& state)
{
    if (missing(state))
        return;
    BoardMeasurement measurement(input().size);
    for (const ContactReport& report : input().reports)
        measurement.add(report);
    for (auto _ : state) {
        benchmark::DoNotOptimize(measurement.figures());
        benchmark::DoNotOptimize(measurement.lastStill());
        benchmark::DoNotOptimize(measurement.lastStraight());
    }
}

} // namespace

BENCHMARK(BM_ReportRates)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BoardMeasurement)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BoardMeasurementRunningOn)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadFigures)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
