// The wizard window: creating and showing it (offscreen, with the shipped locale.db), and the
// peak resident memory of the running program.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ui/qt/QtWizardWindow.h"

#include "Spawn.h"

namespace {

namespace fs = std::filesystem;

const fs::path AppFolder = fs::path(PENDOCK_BINARY_DIR) / "app";

void BM_WindowCreateAndShow(benchmark::State& state) {
    if (!fs::is_regular_file(AppFolder / "locale.db")) {
        state.SkipWithError("locale.db is not built");
        return;
    }
    TPendockPlatform p = DefaultPendockPlatform();
    const std::string folder = AppFolder.string() + "/";
    p.ProgramFolder = [folder] { return folder; };
    for (auto _ : state) {
        TQtWizardWindow w(p);
        w.show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(w.winId());
    }
}
BENCHMARK(BM_WindowCreateAndShow)->Unit(benchmark::kMillisecond);

// Starts the program offscreen with its own lock folders, lets it run with its window for a
// second, ends it and reports the peak resident set size the kernel recorded.
void BM_ProgramPeakResidentMemory(benchmark::State& state) {
    const fs::path program = AppFolder / "Pendock";
    char tmpl[] = "/tmp/pendock-bench-XXXXXX";
    if (!fs::is_regular_file(program) || !mkdtemp(tmpl)) {
        state.SkipWithError("Pendock is not built");
        return;
    }
    const std::string folder = tmpl;
    std::vector<std::string> env =
        ProgramEnvironment({"QT_QPA_PLATFORM=", "PENDOCK_LOCK_DIR_"},
                           {"QT_QPA_PLATFORM=offscreen", "PENDOCK_LOCK_DIR_GLOBAL=" + folder,
                            "PENDOCK_LOCK_DIR_USER=" + folder});
    std::vector<char*> envp = Pointers(env);

    double peakKiB = 0;
    for (auto _ : state) {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        std::string path = program.string();
        char* argv[] = {path.data(), nullptr};
        pid_t pid = -1;
        if (posix_spawn(&pid, path.c_str(), &fa, nullptr, argv, envp.data()) != 0) {
            posix_spawn_file_actions_destroy(&fa);
            state.SkipWithError("cannot start Pendock");
            break;
        }
        posix_spawn_file_actions_destroy(&fa);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        kill(pid, SIGTERM);
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        peakKiB = static_cast<double>(usage.ru_maxrss);
    }
    state.counters["peak_RSS_MiB"] = peakKiB / 1024.0;
    std::error_code ec;
    fs::remove_all(folder, ec);
}
BENCHMARK(BM_ProgramPeakResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
