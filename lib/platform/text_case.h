#pragma once
// Case mapping of UTF-8 text by the platform's Unicode tables.

#include <string>

namespace platform {

// `text` with every letter in lower case, non-ASCII letters included. Bytes that are not
// valid UTF-8 are kept as they are.
std::string LowerCaseUtf8(const std::string& text);

} // namespace platform
