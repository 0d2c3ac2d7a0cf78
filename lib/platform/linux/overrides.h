#pragma once
// Where this system's layer looks on the machine, and the environment variables that point it
// elsewhere: the tests, the end-to-end runs and the recorded machines use them to stand in for
// the kernel's tables and the lock folders. An empty variable counts as unset.

#include <string>

namespace platform::lnx {

// The kernel's table of the mounts this process sees.
inline constexpr const char* KernelMountInfo = "/proc/self/mountinfo";

// The folder of machine-wide semaphores: PENDOCK_LOCK_DIR_GLOBAL, by default /tmp.
std::string LockFolderGlobal();

// The folder of the user's own semaphores: PENDOCK_LOCK_DIR_USER, else XDG_RUNTIME_DIR; empty
// when neither is set, and the semaphores then make their own folder in /tmp.
std::string LockFolderUser();

// The table of mounted filesystems: PENDOCK_MOUNTINFO, by default the kernel's.
std::string MountInfoPath();

// The root of the kernel's device tree: PENDOCK_SYSFS, by default /sys.
std::string SysfsRoot();

} // namespace platform::lnx
