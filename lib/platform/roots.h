#pragma once
// Where this system's layer finds the machine it works on.

namespace platform {

// Reads from the environment, once, where the layer finds the machine, and hands that to the
// layer: its drive letters, WMI provider, named semaphores and drive watch look there from now
// on. On Linux the mount table, the device tree and the lock folders (platform/linux/roots.h);
// Windows has nothing to read. The program does this first of all (DefaultPendockPlatform).
void UseRootsFromEnvironment();

} // namespace platform
