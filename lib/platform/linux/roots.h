#pragma once
// Where this system's layer looks on the machine, as one object: the kernel's mount table, the
// device tree and the lock folders. The program builds it from the environment once, where the
// end-to-end runs and the recorded machines point it elsewhere; a test builds its own.

#include <string>

namespace platform::lnx {

// The kernel's table of the mounts this process sees.
inline constexpr const char* KernelMountInfo = "/proc/self/mountinfo";

struct TRoots {
    // The table of mounted filesystems.
    std::string MountInfo = KernelMountInfo;
    // The root of the kernel's device tree.
    std::string Sysfs = "/sys";
    // The folder of machine-wide semaphores.
    std::string LockFolderGlobal = "/tmp";
    // The folder of the user's own semaphores; empty: the semaphores make their own in /tmp.
    std::string LockFolderUser;

    // The defaults, with PENDOCK_MOUNTINFO, PENDOCK_SYSFS, PENDOCK_LOCK_DIR_GLOBAL and
    // PENDOCK_LOCK_DIR_USER (else XDG_RUNTIME_DIR) in their place; an empty variable counts as
    // unset.
    static TRoots FromEnvironment();
};

// The roots the layer's calls of Windows' signatures work on (the drive letters, the WMI
// provider, the named semaphores, the drive watch): the machine's own until others are handed in.
TRoots Roots();
// Hands the layer `roots`; its drive letters start afresh on them.
void UseRoots(TRoots roots);

} // namespace platform::lnx
