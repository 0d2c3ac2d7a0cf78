#pragma once
// The wizard's platform calls on a machine where nothing happens, for a test to replace the calls
// it is about: no drives, no disk identified, a browser that opens every address, no drive watch
// (notices come as the device-change message). The package search is the real one, below
// whatever folder a drive's root names.

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>

#include "FormPendock.h"

inline TPendockPlatform IdlePlatform() {
    return {
        .ProgramFolder = [] { return std::string(); },
        .ConnectedDrives = [] { return TDriveConn{}; },
        .DriveUsbInfo = [](const std::string&, std::string&, std::string&,
                           std::string&) { return false; },
        .DriveFolder = [](char) { return std::string(); },
        .ShellOpen = [](const std::string&) { return true; },
        .SearchPackageId = FindPackageId,
        .DriveWatch = [] { return std::unique_ptr<platform::IDriveWatch>(); },
    };
}

// A drive snapshot in which exactly the drives `letters` (upper case, from C) are present.
inline TDriveConn DrivesOf(std::initializer_list<char> letters) {
    TDriveConn d{};
    for (char l : letters)
        d[static_cast<std::size_t>(l - 'C')] = true;
    return d;
}

// TimerCont firing for as long as the form keeps it running (it waits a little for a product
// folder that is not in sight), then once more for the search: the last handler's outcome.
template <class TView> bool ContFires(TPendockForm& form, TView& view) {
    bool ok = true;
    do
        ok = form.Dispatch([&] { form.TimerContTimer(); });
    while (ok && view.IsRunning(ETimer::TimerCont));
    return ok;
}
