// Start-up of the program beside a bare three-page QWizard, measured side by side in one run:
// the time from exec to the program's window being mapped on the X display, and the peak
// resident memory of the process over its first second and a half. Runs alternate between the
// two, so that both see the same machine. Without a display, an Xvfb of its own is started.
//
// Run as "bench_startup --bare-wizard", this program is the bare wizard itself.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWizard>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Spawn.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int BareWizard(int argc, char** argv) {
    QApplication app(argc, argv);
    QWizard wizard;
    for (int i = 1; i <= 3; ++i) {
        auto* page = new QWizardPage;
        page->setTitle(QStringLiteral("Page %1").arg(i));
        auto* layout = new QVBoxLayout(page);
        layout->addWidget(new QLabel(QStringLiteral("Text of page %1").arg(i)));
        wizard.addPage(page);
    }
    wizard.show();
    return QApplication::exec();
}

// An X display for the programs: the caller's, or an Xvfb of our own for the run.
class TDisplay {
public:
    TDisplay() {
        if (const char* d = std::getenv("DISPLAY"); d && *d) {
            FName = d;
            return;
        }
        int fds[2];
        if (pipe(fds) != 0)
            return;
        const std::string fd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb",        "-displayfd", fd.c_str(), "-screen", "0",
                              "1024x768x24", "-nolisten",  "tcp",      nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        const int rc =
            posix_spawnp(&FXvfb, "Xvfb", &fa, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        char number[16] = {};
        if (rc == 0 && read(fds[0], number, sizeof number - 1) > 0)
            FName = ":" + std::string(number, std::strcspn(number, "\n"));
        close(fds[0]);
    }
    ~TDisplay() {
        if (FXvfb > 0) {
            kill(FXvfb, SIGTERM);
            waitpid(FXvfb, nullptr, 0);
        }
    }
    const std::string& Name() const { return FName; }

private:
    std::string FName;
    pid_t FXvfb = -1;
};

struct TRun {
    double SecondsToWindow;
    double CpuSecondsToWindow; // user and system time, in clock ticks' steps
    double PeakMiB;
};

// The processor time `pid` has used so far, in seconds; a busy machine does not stretch it.
double CpuSeconds(pid_t pid) {
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f)
        return 0;
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    const char* rest = read ? std::strrchr(line, ')') : nullptr; // the name may hold blanks
    unsigned long utime = 0, stime = 0;
    if (!rest || std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                             &utime, &stime) != 2)
        return 0;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Watches the display for a top-level window being mapped.
class TMapWatch {
public:
    explicit TMapWatch(const std::string& display) {
        FConnection = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(FConnection))
            return;
        FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(FConnection, FRoot, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(FConnection);
        FOk = true;
    }
    ~TMapWatch() { xcb_disconnect(FConnection); }
    bool Ok() const { return FOk; }

    // Waits up to `limit` for a window to be mapped; true when one was.
    bool WaitForMap(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(FConnection)) {
                const bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
                std::free(e);
                if (mapped)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }

private:
    xcb_connection_t* FConnection = nullptr;
    xcb_window_t FRoot = 0;
    bool FOk = false;
};

std::optional<TRun> StartOnce(const std::vector<std::string>& argv, const std::string& display,
                              const std::string& lockFolder) {
    std::vector<std::string> env = ProgramEnvironment({"QT_", "DISPLAY=", "PENDOCK_LOCK_DIR_"},
                                                      {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                                                       "PENDOCK_LOCK_DIR_GLOBAL=" + lockFolder,
                                                       "PENDOCK_LOCK_DIR_USER=" + lockFolder});
    std::vector<char*> envp = Pointers(env);
    std::vector<std::string> args = argv;
    std::vector<char*> argp = Pointers(args);

    TMapWatch watch(display);
    if (!watch.Ok())
        return std::nullopt;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const auto start = Clock::now();
    const int rc = posix_spawn(&pid, argp[0], &fa, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        return std::nullopt;
    const bool mapped = watch.WaitForMap(std::chrono::seconds(20));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds(pid);
    // Running on a while: the animation and the first repaints count towards the peak.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(pid, SIGTERM);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    if (!mapped)
        return std::nullopt;
    return TRun{seconds, cpu, static_cast<double>(usage.ru_maxrss) / 1024.0};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_StartupBesideBareQWizard(benchmark::State& state) {
    const fs::path program = fs::path(PENDOCK_BINARY_DIR) / "app" / "Pendock";
    if (!fs::is_regular_file(program)) {
        state.SkipWithError("Pendock is not built");
        return;
    }
    const TDisplay display;
    if (display.Name().empty()) {
        state.SkipWithError("no X display and no Xvfb to start");
        return;
    }
    char tmpl[] = "/tmp/pendock-bench-XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string lockFolder = tmpl;
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const int pairs = static_cast<int>(state.range(0));
    std::vector<double> ownTime, bareTime, ownCpu, bareCpu, ownPeak, barePeak;
    for (auto _ : state) {
        for (int i = 0; i < pairs; ++i) {
            // Alternating, the bare wizard first on even rounds and second on odd ones.
            for (int k = 0; k < 2; ++k) {
                const bool own = (i + k) % 2 == 0;
                const auto run =
                    own ? StartOnce({program.string()}, display.Name(), lockFolder)
                        : StartOnce({self, "--bare-wizard"}, display.Name(), lockFolder);
                if (!run) {
                    state.SkipWithError("a program showed no window");
                    return;
                }
                (own ? ownTime : bareTime).push_back(run->SecondsToWindow * 1000.0);
                (own ? ownCpu : bareCpu).push_back(run->CpuSecondsToWindow * 1000.0);
                (own ? ownPeak : barePeak).push_back(run->PeakMiB);
            }
        }
    }
    state.counters["Pendock_ms"] = Median(ownTime);
    state.counters["QWizard_ms"] = Median(bareTime);
    state.counters["time_ratio"] = Median(ownTime) / Median(bareTime);
    state.counters["Pendock_cpu_ms"] = Median(ownCpu);
    state.counters["QWizard_cpu_ms"] = Median(bareCpu);
    state.counters["Pendock_peak_MiB"] = Median(ownPeak);
    state.counters["QWizard_peak_MiB"] = Median(barePeak);
    state.counters["peak_ratio"] = Median(ownPeak) / Median(barePeak);
    std::error_code ec;
    fs::remove_all(lockFolder, ec);
}
// Six runs of each, the medians reported.
BENCHMARK(BM_StartupBesideBareQWizard)->Arg(6)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--bare-wizard") == 0)
        return BareWizard(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
