#pragma once
// Where the program's own files are.

#include <string>

namespace platform {

// The folder of the running executable, with a trailing path separator; empty when the
// system does not tell.
std::string GetProgramFolder();

} // namespace platform
