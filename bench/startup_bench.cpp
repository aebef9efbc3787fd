// From constructing the main window on a copy of the demo game until every
// page is loaded (StartupFinished), offscreen; and the share of INI reads.
#include "app/TfrmMain.h"
#include "ini/IniFile.h"
#include "tests/support/GameFolder.h"
#include "tests/support/ScriptedPrompter.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

double gReadShareSum = 0;
int gRuns = 0;

void BM_Startup(benchmark::State& state) {
    testsupport::GameFolder game;
    game.WriteSettings();
    testsupport::ScriptedPrompter prompter;
    app::StartupEnvironment env;
    env.programDir = env.settingsDir = game.ProgramDir();
    env.prompter = &prompter;
    for (auto _ : state) {
        ini::TIniFile::SetReadTiming(true);
        const auto start = std::chrono::steady_clock::now();
        app::TfrmMain w(env);
        const auto end = std::chrono::steady_clock::now();
        if (!w.StartupFinished) state.SkipWithError("start-up did not finish");
        const double total = std::chrono::duration<double>(end - start).count();
        gReadShareSum += static_cast<double>(ini::TIniFile::ReadNanoseconds()) * 1e-9 / total;
        ++gRuns;
        ini::TIniFile::SetReadTiming(false);
        state.PauseTiming();
        QCoreApplication::processEvents(); // let the closed window go
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Startup)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (gRuns > 0)
        std::printf("\nINI reads: %.1f%% of start-up (goal for the whole start-up: < 400 ms)\n",
                    100.0 * gReadShareSum / gRuns);
    return 0;
}
