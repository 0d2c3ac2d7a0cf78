#pragma once
// The notice that drives came or went, for a window that does not get the device-change
// message from the system itself: a descriptor to wait on with the toolkit's own notifier. While
// armed (the wizard waits for the key), the layer may also help a new key to its drive letter.

#include <memory>

namespace platform {

class IDriveWatch {
public:
    // How Fd() signals a notice.
    enum class EKind {
        None,     // nothing to wait on: the watch could not be set up
        Priority, // urgent data (poll POLLPRI; a Qt Exception notifier)
        Readable, // readable (poll POLLIN; a Qt Read notifier)
    };

    // What a notice was about.
    struct TNotice {
        bool Drives = false;   // the drives may have changed
        bool Unopened = false; // a USB device came that nothing could open: no volume of it
                               // got mounted (the key may be damaged, encrypted or unreadable)
    };

    virtual ~IDriveWatch() = default;

    virtual EKind Kind() const = 0;
    // The descriptor to wait on; -1 when Kind() is None.
    virtual int Fd() const = 0;
    // Call when Fd() is ready: clears what is pending, so that the descriptor is quiet until the
    // next change, and says what it was about (nothing, for one to be ignored).
    virtual TNotice Acknowledge() = 0;
    // Armed while the wizard waits for the key; disarming forgets what was under way.
    virtual void SetArmed(bool armed) = 0;
};

// The watch of the running system; null where the system sends the device-change message to
// the window itself (Windows).
std::unique_ptr<IDriveWatch> MakeDriveWatch();

} // namespace platform
