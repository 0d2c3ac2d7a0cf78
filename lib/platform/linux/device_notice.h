#pragma once
// A notice whenever the table of mounted filesystems changes: this system's stand-in for the
// device-change window message. Toolkit-free: the window watches Fd() with its own notifier.

#include <string>

#include "platform/drive_watch.h"
#include "platform/linux/unique_fd.h"

namespace platform {

class TDeviceNotice {
public:
    // How Fd() signals a notice: Priority for the kernel's mount table, Readable for a plain
    // file standing in for it, None when the table could not be opened or watched.
    using EKind = IDriveWatch::EKind;

    // Watches `path`: the kernel's table is opened and polled; any other path (a plain file,
    // even one not there yet) is watched through its folder, so that rewriting, replacing,
    // creating or removing the file all give a notice.
    explicit TDeviceNotice(const std::string& path);
    TDeviceNotice(const TDeviceNotice&) = delete;
    TDeviceNotice& operator=(const TDeviceNotice&) = delete;

    // The watched path; whether the watch is up, and if not, why.
    const std::string& Path() const { return FPath; }
    bool IsOpen() const { return FFd.IsOpen(); }
    const std::string& ErrorText() const { return FError; }

    EKind Kind() const { return FKind; }
    // The descriptor to watch (-1 when not open) and the poll() events that mean a notice.
    int Fd() const { return FFd.Get(); }
    short PollEvents() const;

    // Call when Fd() is ready: clears what is pending so that the descriptor is quiet until
    // the next change. True when the notice is about the table (always for the kernel's
    // table; for a plain file, when one of the folder's events names it), false for events
    // about other files in the folder, which are to be ignored.
    bool Acknowledge();

private:
    std::string FPath;
    std::string FName; // the file name watched in its folder (Readable only)
    std::string FError;
    EKind FKind = EKind::None;
    lnx::TUniqueFd FFd;
};

} // namespace platform
