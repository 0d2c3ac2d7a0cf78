// A small program for the guard's multi-process tests. It takes a unit, says on standard
// output what happened and, when it holds the unit, keeps it until its standard input ends.
//
//   guard_helper first <identifier>              FirstInstance, as the program entry does
//   guard_helper guard <name> <max> <timeout>    a TMaxInstance of its own settings
//   guard_helper spawner <identifier>            FirstInstance, then starts "sleep 60" (as the
//       program starts the browser) and prints "held <pid of sleep>"
//   guard_helper stress <identifier> <rounds> <counter file>
//       takes and gives back the unit again and again, counting in the shared counter file
//       how many hold it at once; prints "violations <n> holds <m>".
//
// Output: "held <SemName>" or "refused <ErrorCode> <SemName>", then "freed <ErrorCode>".

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "MaxInstance.h"
#include "mod_FirstInstance.h"
#include "platform/roots.h"

extern char** environ;

namespace {

void WaitForEndOfInput() {
    char buf[64];
    while (::read(0, buf, sizeof buf) > 0) {
    }
}

void Report(const TMaxInstance& g) {
    if (g.IsSemHeld())
        std::printf("held %s\n", g.SemName().c_str());
    else
        std::printf("refused %u %s\n", unsigned(g.GetErrorCode()), g.SemName().c_str());
    std::fflush(stdout);
}

int RunFirst(const std::string& id) {
    TMaxInstance* guard = nullptr;
    const bool held = FirstInstance(id, guard);
    if (guard == nullptr) {
        std::printf("noguard\n");
        return 0;
    }
    Report(*guard);
    if (held) {
        WaitForEndOfInput();
        ReleaseFirstInstance(guard);
        std::printf("freed %u\n", unsigned(guard->GetErrorCode()));
    }
    FreeFirstInstance(guard);
    return 0;
}

int RunSpawner(const std::string& id) {
    TMaxInstance* guard = nullptr;
    if (!FirstInstance(id, guard)) {
        std::printf("refused\n");
        FreeFirstInstance(guard);
        return 0;
    }
    pid_t pid = 0;
    char sleepPath[] = "/bin/sleep";
    char seconds[] = "60";
    char* args[] = {sleepPath, seconds, nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    const int rc = ::posix_spawn(&pid, sleepPath, &fa, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        return 3;
    std::printf("held %d\n", int(pid));
    std::fflush(stdout);
    WaitForEndOfInput();
    FreeFirstInstance(guard);
    return 0;
}

int RunGuard(const std::string& name, int max, unsigned timeout) {
    TMaxInstance g;
    g.SetAutoKill(false);
    g.SetSemName(name);
    g.SetMaxInstances(max);
    g.SetTimeOut(timeout);
    g.GetSem();
    Report(g);
    if (g.IsSemHeld()) {
        WaitForEndOfInput();
        g.FreeSem();
        std::printf("freed %u\n", unsigned(g.GetErrorCode()));
    }
    return 0;
}

int RunStress(const std::string& id, int rounds, const char* counterFile) {
    const int fd = ::open(counterFile, O_RDWR);
    if (fd < 0)
        return 3;
    void* p = ::mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED)
        return 3;
    auto* holders = static_cast<std::atomic<int>*>(p);
    std::minstd_rand rng(unsigned(::getpid()));
    int violations = 0, holds = 0;
    for (int i = 0; i < rounds; ++i) {
        TMaxInstance* guard = nullptr;
        if (FirstInstance(id, guard)) {
            ++holds;
            if (holders->fetch_add(1) != 0)
                ++violations;
            ::usleep(rng() % 200);
            holders->fetch_sub(1);
            ReleaseFirstInstance(guard);
        }
        FreeFirstInstance(guard);
        ::usleep(rng() % 100);
    }
    ::munmap(p, sizeof(int));
    std::printf("violations %d holds %d\n", violations, holds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    platform::UseRootsFromEnvironment(); // the lock folders the test chose
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "first" && argc == 3)
        return RunFirst(argv[2]);
    if (mode == "spawner" && argc == 3)
        return RunSpawner(argv[2]);
    if (mode == "guard" && argc == 5)
        return RunGuard(argv[2], std::atoi(argv[3]), unsigned(std::strtoul(argv[4], nullptr, 10)));
    if (mode == "stress" && argc == 5)
        return RunStress(argv[2], std::atoi(argv[3]), argv[4]);
    std::fprintf(stderr, "usage: guard_helper first ID | guard NAME MAX TIMEOUT | "
                         "stress ID ROUNDS COUNTERFILE\n");
    return 2;
}
