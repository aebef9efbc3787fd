// The Instant Action page on a large installation: 5,000 map files, and a
// program folder with 500 preview pictures.
#include "instantaction/TInstantActionPage.h"
#include "tests/support/PageHarness.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <benchmark/benchmark.h>

namespace {

const char* const kPrefixes[] = {"DM", "CTF", "ONS", "DOM", "BR", "AS"};

struct Fixture {
    testsupport::PageHarness h;
    std::unique_ptr<instantaction::TInstantActionPage> page;
    Fixture() {
        const QString maps = h.game.GameDir() + QStringLiteral("/Maps/");
        for (int i = 0; i < 5000; ++i)
            QFile(maps + QStringLiteral("%1-Map%2.ut2").arg(QLatin1String(kPrefixes[i % 6])).arg(i)).open(QIODevice::WriteOnly);
        const QByteArray jpeg = testsupport::ReadAll(testsupport::SourceDir() + QStringLiteral("/demo/previews/Quarry.jpg"));
        for (int i = 0; i < 500; ++i)
            testsupport::WriteAll(h.game.ProgramDir() + QStringLiteral("Preview%1.jpg").arg(i), jpeg);
        // The picture of the selected map.
        testsupport::WriteAll(h.game.ProgramDir() + QStringLiteral("Map0.jpg"), jpeg);
        page = std::make_unique<instantaction::TInstantActionPage>(h.ctx);
        page->LoadGameTypeRules();
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_BuildMapList(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) f.page->BuildMapList(QStringLiteral("DM"));
    state.counters["maps"] = f.page->findChild<QListWidget*>(QStringLiteral("lbMaps"))->count();
}
BENCHMARK(BM_BuildMapList)->Unit(benchmark::kMillisecond);

void BM_RefreshPage(benchmark::State& state) {
    auto& f = fixture();
    f.page->BuildMapList(QStringLiteral("DM"));
    for (auto _ : state) f.page->lbMutatorsClick();
}
BENCHMARK(BM_RefreshPage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\ngoal: each under 50 ms\n");
    return 0;
}
