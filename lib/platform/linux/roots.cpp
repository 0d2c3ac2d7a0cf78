#include "platform/linux/roots.h"

#include <cstdlib>

#include "platform/roots.h"

namespace platform::lnx {
namespace {

std::string EnvOr(const char* name, std::string fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::string(v) : fallback;
}

} // namespace

TRoots TRoots::FromEnvironment() {
    TRoots roots;
    roots.MountInfo = EnvOr("PENDOCK_MOUNTINFO", roots.MountInfo);
    roots.Sysfs = EnvOr("PENDOCK_SYSFS", roots.Sysfs);
    roots.LockFolderGlobal = EnvOr("PENDOCK_LOCK_DIR_GLOBAL", roots.LockFolderGlobal);
    roots.LockFolderUser = EnvOr("PENDOCK_LOCK_DIR_USER", EnvOr("XDG_RUNTIME_DIR", ""));
    return roots;
}

} // namespace platform::lnx

namespace platform {

void UseRootsFromEnvironment() {
    lnx::UseRoots(lnx::TRoots::FromEnvironment());
}

} // namespace platform
