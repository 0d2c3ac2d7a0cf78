// The program's single-instance test: FirstInstance, ReleaseFirstInstance and
// FreeFirstInstance, as one start and end of a copy.

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "MaxInstance.h"
#include "mod_FirstInstance.h"
#include "platform/linux/roots.h"
#include "platform/semaphore.h"

namespace {

namespace fs = std::filesystem;

// Lock directories of the benchmark's own, removed at the end.
class BenchFolders {
public:
    BenchFolders() {
        std::string pattern = "/tmp/pendock-guard-bench-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) != nullptr)
            root_ = buf.data();
        fs::create_directory(root_ / "global");
        fs::create_directory(root_ / "user");
        platform::lnx::UseRoots(
            {.LockFolderGlobal = root_ / "global", .LockFolderUser = root_ / "user"});
    }
    ~BenchFolders() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

private:
    fs::path root_;
};

const std::string AppId = "{888D4D22-EDB2-4D13-A098-88CF11E0EECB}";

// One start and end of the only running copy, timed over the state's iterations.
void StartAndEndFirstCopy(benchmark::State& state) {
    for (auto _ : state) {
        TMaxInstance* guard = nullptr;
        const bool held = FirstInstance(AppId, guard);
        if (!held)
            state.SkipWithError("the slot was not taken");
        ReleaseFirstInstance(guard);
        FreeFirstInstance(guard);
        benchmark::DoNotOptimize(held);
    }
}

// The only copy on the machine: no one else has the semaphore open.
void BM_FirstInstanceAlone(benchmark::State& state) {
    BenchFolders folders;
    StartAndEndFirstCopy(state);
}
BENCHMARK(BM_FirstInstanceAlone)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// The lock file stays, because another handle keeps the semaphore open without a unit.
void BM_FirstInstanceFileKept(benchmark::State& state) {
    BenchFolders folders;
    const platform::SemHandle other = platform::CreateSemaphoreW(nullptr, 1, 1, "Global\\" + AppId);
    StartAndEndFirstCopy(state);
    platform::CloseHandle(other);
}
BENCHMARK(BM_FirstInstanceFileKept)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// A second copy, refused at once.
void BM_SecondCopyRefused(benchmark::State& state) {
    BenchFolders folders;
    TMaxInstance* running = nullptr;
    FirstInstance(AppId, running);
    for (auto _ : state) {
        TMaxInstance* guard = nullptr;
        const bool held = FirstInstance(AppId, guard);
        if (held)
            state.SkipWithError("a second copy took the slot");
        FreeFirstInstance(guard);
    }
    FreeFirstInstance(running);
}
BENCHMARK(BM_SecondCopyRefused)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

} // namespace
