// A 50 MB file over loopback HTTP: the update client's DownloadFile against
// the curl program on the same file from the same server, and the longest
// time the event loop went without a turn during DownloadFile.
#include "tests/support/GameFolder.h"
#include "tests/support/LocalServer.h"
#include "update/TUpdateClient.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 kSize = 50 * 1000 * 1000;

struct Fixture {
    QTemporaryDir site, work;
    std::unique_ptr<testsupport::LocalServer> http;
    QString url;
    Fixture() {
        QByteArray body(kSize, '\0');
        quint32 x = 2463534242u; // not a run of zeros: nothing on the way may shrink it
        for (qint64 i = 0; i < kSize; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            body[i] = static_cast<char>(x);
        }
        testsupport::WriteAll(site.filePath(QStringLiteral("big.bin")), body);
        http = std::make_unique<testsupport::LocalServer>(testsupport::HttpServerScript(), site.path());
        url = http->Http(QStringLiteral("files/big.bin"));
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

double bestClient = 0, bestCurl = 0; // MB/s
qint64 longestGapMs = 0;
qint64 longestGapAt = 0; // ms into the transfer where that gap ended
qint64 lastTransferMs = 0;

void BM_DownloadFile(benchmark::State& state) {
    auto& f = fixture();
    update::TUpdateClient client;
    client.UpdateType = update::httpUpdate;
    client.UpdateConnect = update::ucConnectPrompt;
    client.TempDirectory = f.work.path();
    client.LogDirectory = f.work.path();
    if (client.ConnectInternet() != 0) {
        state.SkipWithError("no session");
        return;
    }
    // A zero-interval timer fires once per turn of the event loop.
    QElapsedTimer sinceTurn, clock;
    qint64 longest = 0;
    QTimer turns;
    turns.setInterval(0);
    QObject::connect(&turns, &QTimer::timeout, [&] {
        const qint64 gap = sinceTurn.restart();
        if (gap > longest) {
            longest = gap;
            longestGapAt = clock.elapsed();
        }
    });
    for (auto _ : state) {
        clock.start();
        sinceTurn.start();
        turns.start();
        const bool ok = client.DownloadFile(f.url, f.work.path() + QLatin1Char('/'), false);
        turns.stop();
        const double seconds = clock.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        if (!ok) state.SkipWithError("download failed");
        lastTransferMs = clock.elapsed();
        bestClient = std::max(bestClient, kSize / 1e6 / seconds);
    }
    client.DisconnectInternet();
    longestGapMs = std::max(longestGapMs, longest);
    state.counters["MB/s"] = bestClient;
    state.counters["longest gap ms"] = static_cast<double>(longest);
}
BENCHMARK(BM_DownloadFile)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_CurlProgram(benchmark::State& state) {
    auto& f = fixture();
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        state.SkipWithError("no curl program on the PATH");
        return;
    }
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        QProcess p;
        p.start(curl, {QStringLiteral("-s"), QStringLiteral("-o"), f.work.filePath(QStringLiteral("curl.bin")), f.url});
        p.waitForFinished(120000);
        const double seconds = clock.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        if (p.exitCode() != 0) state.SkipWithError("curl failed");
        bestCurl = std::max(bestCurl, kSize / 1e6 / seconds);
    }
    state.counters["MB/s"] = bestCurl;
}
BENCHMARK(BM_CurlProgram)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n50 MB over loopback HTTP, best of 3:\n");
    std::printf("  DownloadFile   %8.1f MB/s\n", bestClient);
    std::printf("  curl -o        %8.1f MB/s\n", bestCurl);
    if (bestClient > 0 && bestCurl > 0) std::printf("  curl / DownloadFile: %.2fx (goal: within 1.5x)\n", bestCurl / bestClient);
    std::printf("  longest gap between two event-loop turns during DownloadFile: %lld ms (goal: under 50 ms)\n",
                static_cast<long long>(longestGapMs));
    std::printf("  (it ended %lld ms into a transfer of %lld ms)\n", static_cast<long long>(longestGapAt),
                static_cast<long long>(lastTransferMs));
    return 0;
}
