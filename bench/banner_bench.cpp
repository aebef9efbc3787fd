// The main window showing an animated 468x60 banner offscreen for 10 s: the
// process's CPU time as a share of one core, with a 3-frame and a 20-frame
// optimised GIF; the time to decode and composite one such picture; and what
// hostile GIFs cost the decoder, fitted into the banner's 358x74 slot.
#include "app/TfrmMain.h"
#include "banner/TBannerImage.h"
#include "tests/support/GameFolder.h"
#include "tests/support/GifBuilder.h"
#include "tests/support/ScriptedPrompter.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <map>

namespace {

// A full first frame, then small update areas as optimisers write them.
QByteArray banner(int frames) {
    std::vector<testsupport::GifFrame> f{
        {QRect(0, 0, 468, 60), QColor(20, 40, 120), 10, 1, false, {}, QColor(30, 60, 160)}};
    for (int i = 1; i < frames; ++i)
        f.push_back({QRect((i * 37) % 400, (i * 11) % 40, 60, 20), QColor(200, 40 + i * 8, 40), 10,
                     i % 3 == 0 ? 3 : 1, false, QRect(0, 0, 8, 8), QColor(240, 200, 40)});
    return testsupport::BuildGif(468, 60, f);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::map<int, double> cpuShare;

void BM_DecodePicture(benchmark::State& state) {
    const QByteArray gif = banner(static_cast<int>(state.range(0)));
    banner::TBannerPicture picture;
    for (auto _ : state)
        picture.LoadFromBytes(gif);
    state.counters["frames"] = picture.GifFrameCount();
    state.counters["bytes"] = static_cast<double>(gif.size());
}
BENCHMARK(BM_DecodePicture)->Arg(3)->Arg(20)->Unit(benchmark::kMillisecond);

// 0: one 65535x65535 frame on a 4x4 canvas (1.6 MB); 1: nine of them;
// 2: a 4096x4096 canvas, two full frames; 3: 400,000 frames of 4x4.
QByteArray hostile(int kind) {
    using testsupport::BuildSolidGif;
    switch (kind) {
    case 0:
        return BuildSolidGif({4, 4}, {QRect(0, 0, 65535, 65535)});
    case 1:
        return BuildSolidGif({4, 4}, std::vector<QRect>(9, QRect(0, 0, 65535, 65535)));
    case 2:
        return BuildSolidGif({4096, 4096}, std::vector<QRect>(2, QRect(0, 0, 4096, 4096)));
    default:
        return BuildSolidGif({4, 4}, std::vector<QRect>(400000, QRect(0, 0, 4, 4)));
    }
}

void BM_DecodeHostileGif(benchmark::State& state) {
    const QByteArray gif = hostile(static_cast<int>(state.range(0)));
    std::size_t frames = 0;
    for (auto _ : state) {
        try {
            frames = banner::TBannerPicture::Decode(gif, QSize(358, 74)).frames.size();
        } catch (const std::exception&) {
            frames = 0; // refused
        }
    }
    state.counters["frames kept"] = static_cast<double>(frames);
    state.counters["MB"] = static_cast<double>(gif.size()) / (1 << 20);
}
BENCHMARK(BM_DecodeHostileGif)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_WindowShowsBanner10s(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    testsupport::GameFolder game;
    game.WriteSettings();
    testsupport::ScriptedPrompter prompter;
    app::StartupEnvironment env;
    env.programDir = env.settingsDir = game.ProgramDir();
    env.prompter = &prompter;
    env.isOnline = [] { return false; }; // the picture comes from here, not from a feed
    for (auto _ : state) {
        app::TfrmMain w(env);
        w.show();
        w.BannerImage1->BannerPicture()->LoadFromBytes(banner(frames));
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();
        const double cpu0 = cpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        cpuShare[frames] = (cpuSeconds() - cpu0) / wall;
        if (!w.BannerImage1->Animated()) state.SkipWithError("the banner does not animate");
    }
    state.counters["CPU % of a core"] = 100.0 * cpuShare[frames];
}
BENCHMARK(BM_WindowShowsBanner10s)->Arg(3)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\nmain window with an animated 468x60 banner, 10 s offscreen:\n");
    for (const auto& [frames, share] : cpuShare)
        std::printf("  %2d frames: CPU %.2f%% of one core (goal: under 2%%)\n", frames,
                    100.0 * share);
    std::printf("decode and composite one picture: see BM_DecodePicture above\n");
    return 0;
}
