// The INI engine against the per-call semantics taken literally (every call
// parses the file afresh and every write replaces the whole file).
#include "ini/IniFile.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

struct Key {
    std::string section, key;
};

struct Fixture {
    std::string dir, ut2004, user;
    std::vector<Key> utKeys, userKeys;
};

// ~100 KB / ~2,500 lines and ~40 KB, shaped like the game's two files.
Fixture& fixture() {
    static Fixture f = [] {
        Fixture fx;
        std::string tmpl = (std::filesystem::temp_directory_path() / "qbench.XXXXXX").string();
        fx.dir = ::mkdtemp(tmpl.data());
        fx.ut2004 = fx.dir + "/UT2004.ini";
        fx.user = fx.dir + "/User.ini";
        std::string ut, us;
        for (int s = 0; ut.size() < 100000; ++s) {
            const std::string sec = "Engine.Section" + std::to_string(s);
            ut += "[" + sec + "]\r\n";
            for (int k = 0; k < 10; ++k) {
                const std::string key = "SettingNumber" + std::to_string(k);
                ut += key + "=SomeValueText" + std::to_string(k * s) + "\r\n";
                fx.utKeys.push_back({sec, key});
            }
            ut += "\r\n";
        }
        us = "[Engine.Input]\r\n";
        for (int k = 0; us.size() < 40000; ++k) {
            const std::string key = "Key" + std::to_string(k);
            us += key + "=Command number " + std::to_string(k) + "\r\n";
            fx.userKeys.push_back({"Engine.Input", key});
        }
        std::ofstream(fx.ut2004, std::ios::binary) << ut;
        std::ofstream(fx.user, std::ios::binary) << us;
        return fx;
    }();
    return f;
}

// The save pattern of all pages: five savers, ~500 writes over both files.
template <class WriteFn, class BatchFn>
void savePattern(const Fixture& fx, WriteFn write, BatchFn batch, int round) {
    const std::string v = "v" + std::to_string(round);
    for (int page = 0; page < 5; ++page) {
        const bool onUser = page == 0 || page == 2;
        const auto& keys = onUser ? fx.userKeys : fx.utKeys;
        const std::string& file = onUser ? fx.user : fx.ut2004;
        batch(file, [&] {
            for (int i = 0; i < 100; ++i) {
                const auto& k = keys[(page * 131 + i * 7) % keys.size()];
                write(file, k.section, k.key, v);
            }
        });
    }
}

void BM_SavePattern(benchmark::State& state) {
    auto& fx = fixture();
    ini::TIniFile ut(fx.ut2004), user(fx.user);
    int round = 0;
    for (auto _ : state) {
        savePattern(
            fx,
            [&](const std::string& file, const std::string& s, const std::string& k, const std::string& v) {
                (file == fx.user ? user : ut).WriteText(s, k, v);
            },
            [&](const std::string& file, auto body) {
                ini::TIniFile::Batch b(file == fx.user ? user : ut);
                body();
                b.finish();
            },
            ++round);
    }
}
BENCHMARK(BM_SavePattern)->Unit(benchmark::kMillisecond);

void BM_SavePatternNaive(benchmark::State& state) {
    auto& fx = fixture();
    int round = 0;
    for (auto _ : state) {
        savePattern(
            fx,
            [](const std::string& file, const std::string& s, const std::string& k, const std::string& v) {
                ini::TIniFile fresh(file);
                fresh.WriteText(s, k, v);
            },
            [](const std::string&, auto body) { body(); }, ++round);
    }
}
BENCHMARK(BM_SavePatternNaive)->Unit(benchmark::kMillisecond)->Iterations(3);

template <class ReadFn>
void loadPattern(const Fixture& fx, ReadFn read) {
    for (int i = 0; i < 600; ++i) {
        const bool onUser = i % 3 == 0;
        const auto& keys = onUser ? fx.userKeys : fx.utKeys;
        const auto& k = keys[(i * 13) % keys.size()];
        benchmark::DoNotOptimize(read(onUser ? fx.user : fx.ut2004, k.section, k.key));
    }
}

void BM_LoadPattern(benchmark::State& state) {
    auto& fx = fixture();
    ini::TIniFile ut(fx.ut2004), user(fx.user);
    for (auto _ : state)
        loadPattern(fx, [&](const std::string& f, const std::string& s, const std::string& k) {
            return (f == fx.user ? user : ut).ReadText(s, k, "");
        });
}
BENCHMARK(BM_LoadPattern)->Unit(benchmark::kMillisecond);

void BM_LoadPatternNaive(benchmark::State& state) {
    auto& fx = fixture();
    for (auto _ : state)
        loadPattern(fx, [](const std::string& f, const std::string& s, const std::string& k) {
            return ini::TIniFile(f).ReadText(s, k, "");
        });
}
BENCHMARK(BM_LoadPatternNaive)->Unit(benchmark::kMillisecond);

void BM_CachedReadText(benchmark::State& state) {
    auto& fx = fixture();
    ini::TIniFile ut(fx.ut2004);
    const auto& k = fx.utKeys[fx.utKeys.size() / 2];
    for (auto _ : state) benchmark::DoNotOptimize(ut.ReadText(k.section, k.key, ""));
}
BENCHMARK(BM_CachedReadText)->Unit(benchmark::kMicrosecond);

// A big file shaped like a busy server's UT2004.ini: many sections of
// ordinary entries. ~32 MB keeps a run short; the cost grows with the size.
const std::string& largeFile() {
    static const std::string path = [] {
        const std::string p = fixture().dir + "/Large.ini";
        std::string text;
        text.reserve(34u << 20);
        for (int s = 0; text.size() < (32u << 20); ++s) {
            text += "[XGame.xPawnSection" + std::to_string(s) + "]\r\n";
            for (int k = 0; k < 20; ++k)
                text += "Setting" + std::to_string(k) + "=Value text for the setting number " +
                        std::to_string(k * s) + ", " + std::to_string(s) + "\r\n";
            text += "Aliases[3]=(Command=\"say hello\",Alias=Greet)\r\n\r\n";
        }
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }();
    return path;
}

void BM_LoadLargeFile(benchmark::State& state) {
    const std::string& path = largeFile();
    const auto bytes = static_cast<std::int64_t>(std::filesystem::file_size(path));
    for (auto _ : state) {
        ini::TIniFile fresh(path); // every iteration parses the whole file
        benchmark::DoNotOptimize(fresh.ReadText("XGame.xPawnSection1000", "Setting3", ""));
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    struct rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    state.counters["file_MB"] = static_cast<double>(bytes) / (1 << 20);
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024;
}
BENCHMARK(BM_LoadLargeFile)->Unit(benchmark::kMillisecond)->Iterations(3);

// Collects the mean time of each benchmark for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs)
            seconds[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // A name, or a name with its "/arguments" suffix.
    auto get = [&](const std::string& name) {
        for (const auto& [n, s] : reporter.seconds)
            if (n == name || n.rfind(name + "/", 0) == 0) return s;
        return 0.0;
    };
    const double save = get("BM_SavePattern"), saveNaive = get("BM_SavePatternNaive");
    const double load = get("BM_LoadPattern"), loadNaive = get("BM_LoadPatternNaive");
    const double read = get("BM_CachedReadText");
    const double large = get("BM_LoadLargeFile");
    std::printf("\nsave pattern (500 writes, 5 batches, fsync included): %.2f ms; naive %.1f ms; %.0fx faster (goal: >= 50x, < 20 ms)\n",
                save * 1e3, saveNaive * 1e3, save > 0 ? saveNaive / save : 0);
    std::printf("load pattern (600 reads): %.3f ms; naive %.1f ms; %.0fx faster\n", load * 1e3,
                loadNaive * 1e3, load > 0 ? loadNaive / load : 0);
    std::printf("cached ReadText: %.2f us (goal: < 2 us)\n", read * 1e6);
    if (large > 0) {
        const double mb = static_cast<double>(std::filesystem::file_size(largeFile())) / (1 << 20);
        std::printf("large file load (%.0f MB): %.0f ms, %.0f MB/s\n", mb, large * 1e3, mb / large);
    }
    std::filesystem::remove_all(fixture().dir);
    return 0;
}
