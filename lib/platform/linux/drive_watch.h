#pragma once
// The drive watch of this system: the mount table's change notice, and on the real machine the
// automounter, armed with the watch.

#include <memory>
#include <string>

#include "platform/drive_watch.h"

namespace platform::lnx {

// A watch of the mount table `mountInfo`; the automounter runs beside it when that table is the
// kernel's.
std::unique_ptr<IDriveWatch> MakeDriveWatch(const std::string& mountInfo);

} // namespace platform::lnx
