// Nothing to start: the system's WMI and XML reader are reached without COM here.
#include "platform/program_com.h"

namespace platform {

TProgramCom::TProgramCom() = default;

TProgramCom::~TProgramCom() = default;

} // namespace platform
