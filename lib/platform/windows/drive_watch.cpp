#include "platform/drive_watch.h"

namespace platform {

std::unique_ptr<IDriveWatch> MakeDriveWatch() {
    return nullptr; // WM_DEVICECHANGE reaches the window itself
}

} // namespace platform
