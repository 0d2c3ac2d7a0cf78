#pragma once
// Handing an address to the desktop: the user's default browser opens it.

#include <string>

namespace platform {

// Asks the desktop to open `address` with the default browser and returns without waiting for
// the browser. True when the opener program was started; false when it could not be found or
// started. On Linux the opener is `xdg-open`, looked up in PATH, given `address` as its one
// argument without a shell, with standard input and output from /dev/null, in a session of its
// own and not a child of this process (nothing is left to reap).
bool OpenInBrowser(const std::string& address);

} // namespace platform
