#pragma once
// A scripted stand-in for the semaphore calls: records every call and answers as a test says.

#include <functional>
#include <string>
#include <vector>

#include "platform/semaphore.h"

namespace fake {

// One call; only the fields of its function are set.
struct Call {
    std::string fn;                      // "create", "wait", "release", "close", "setlasterror"
    std::string name;                    // create
    platform::DWORD initialCount = 0;    // create
    platform::DWORD maximumCount = 0;    // create
    platform::DWORD milliseconds = 0;    // wait: the time-out
    platform::DWORD releaseCount = 0;    // release
    platform::SemHandle handle = 0;      // wait, release, close
    platform::DWORD code = 0;            // setlasterror
    platform::DWORD lastErrorBefore = 0; // the thread's last error when the call was made
};

struct Script {
    // create: the handle to give for a name (0 fails with createError for that name).
    std::function<platform::SemHandle(const std::string& name)> create;
    std::function<platform::DWORD(const std::string& name)> createError;
    platform::DWORD waitResult = 0; // WAIT_OBJECT_0
    platform::DWORD waitError = 0;  // set as last error when the wait fails
    bool releaseOk = true;
    platform::DWORD releaseError = 0;
    bool closeOk = true;
    platform::DWORD closeError = 0;
};

// Clears the calls and puts back a script in which everything succeeds with handle 42.
void Reset();
Script& CurrentScript();
const std::vector<Call>& Calls();
int Count(const std::string& fn);

} // namespace fake
