// How near the board events tool's summary comes to the pace that the
// simulated board keeps: a pen every 5 ms, two touches every 10 ms and an
// eraser every 20 ms (the scenario of tst_boardevents' summaryRates), each
// packet timed as it arrives on this machine. The tests only check that the
// summary follows from the times printed; these are the figures that depend
// on the machine's load.
//
// Counters per kind: the rate (reports per second, the scenario's 200, 100
// and 50) and the intervals' median, 99th percentile and longest in ms (the
// scenario's 5, 10 and 20).

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <string>

namespace {

const QByteArray Scenario = "board 1 hid<BENCH> xp<4> xt<20>\n"
                            "wait callback 1\n"
                            "repeat 100\npen 0 1000..2000 5000 tip\nwait 5\nend\n"
                            "pen 0 2000 5000\n"
                            "repeat 50\ntouch 1 down 100..200 300 50; 2 down 300 300 50\n"
                            "wait 10\nend\n"
                            "touch 1 up 200 300 50; 2 up 300 300 50\n"
                            "repeat 25\neraser 7 down 100..200 100 10 10\nwait 20\nend\n"
                            "eraser 7 up 200 100 10 10\n";

double figure(const QString& line, const QString& word)
{
    const QRegularExpressionMatch match = QRegularExpression(' ' + word + " ([0-9.]+)").match(line);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

void BM_SummaryRates(benchmark::State& state)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("scenario.txt"));
    if (!file.open(QIODevice::WriteOnly) || file.write(Scenario) != Scenario.size()) {
        state.SkipWithError("cannot write the scenario");
        return;
    }
    file.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NORVABOARD_SCENARIO", file.fileName());
    for (auto _ : state) {
        QProcess session;
        session.setProcessEnvironment(environment);
        session.start(BOARDEVENTS, {"--idle", "1"});
        if (!session.waitForFinished(30000) || session.exitCode() != 0) {
            state.SkipWithError("boardevents did not end by itself with status 0");
            return;
        }
        const QStringList lines = QString::fromUtf8(session.readAllStandardOutput()).split('\n');
        for (const char* kind : {"pen", "touch", "eraser"}) {
            const QStringList found = lines.filter(QStringLiteral(" %1 rated-contacts ").arg(kind));
            if (found.size() != 1) {
                state.SkipWithError("no summary line");
                return;
            }
            const std::string name = kind;
            state.counters[name + "_rate"] = figure(found.first(), "rate");
            state.counters[name + "_median_ms"] = figure(found.first(), "median");
            state.counters[name + "_p99_ms"] = figure(found.first(), "p99");
            state.counters[name + "_longest_ms"] = figure(found.first(), "longest");
        }
    }
}

} // namespace

BENCHMARK(BM_SummaryRates)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
