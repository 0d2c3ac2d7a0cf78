#include "platform/linux/overrides.h"

#include <cstdlib>

namespace platform::lnx {
namespace {

std::string EnvOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : fallback;
}

} // namespace

std::string LockFolderGlobal() {
    return EnvOr("PENDOCK_LOCK_DIR_GLOBAL", "/tmp");
}

std::string LockFolderUser() {
    return EnvOr("PENDOCK_LOCK_DIR_USER", EnvOr("XDG_RUNTIME_DIR", "").c_str());
}

std::string MountInfoPath() {
    return EnvOr("PENDOCK_MOUNTINFO", KernelMountInfo);
}

std::string SysfsRoot() {
    return EnvOr("PENDOCK_SYSFS", "/sys");
}

} // namespace platform::lnx
