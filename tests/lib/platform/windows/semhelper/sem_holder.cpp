// pendock_sem_holder NAME [MAX]: takes a unit of the guard's semaphore NAME (through
// FirstInstance when MAX is 1 or missing, else a guard with MaxInstances MAX), writes "held"
// or "refused" and the name used on one line to standard output, keeps the unit until its
// standard input reaches its end, then gives it back. Exit code 0 when it held the unit, 1
// when refused, 2 on bad arguments.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "MaxInstance.h"
#include "mod_FirstInstance.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3)
        return 2;
    const std::string name = argv[1];
    const int maximum = argc == 3 ? std::atoi(argv[2]) : 1;
    if (maximum < 1)
        return 2;

    TMaxInstance* guard = nullptr;
    bool held = false;
    if (maximum == 1) {
        held = FirstInstance(name, guard);
    } else {
        guard = new TMaxInstance(nullptr);
        guard->SetAutoKill(false);
        guard->SetTimeOut(0);
        guard->SetMaxInstances(maximum);
        guard->SetSemName(name);
        guard->GetSem();
        held = guard->IsSemHeld();
    }
    std::printf("%s %s\n", held ? "held" : "refused", guard ? guard->SemName().c_str() : "");
    std::fflush(stdout);

    char buf[256];
    while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
    }
    if (held)
        ReleaseFirstInstance(guard);
    FreeFirstInstance(guard);
    return held ? 0 : 1;
}
