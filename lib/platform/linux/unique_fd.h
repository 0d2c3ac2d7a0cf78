#pragma once
// One open file descriptor with one owner, closed when the owner goes: a function that opens
// several descriptors may then leave on any error without closing them one by one.

#include <cerrno>
#include <utility>

#include <unistd.h>

namespace platform::lnx {

class TUniqueFd {
public:
    TUniqueFd() = default;
    // Takes `fd` over; -1 (what a failed open() returns) owns nothing.
    explicit TUniqueFd(int fd) : FFd(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& other) noexcept : FFd(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return FFd; }
    bool IsOpen() const { return FFd >= 0; }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(FFd, -1); }
    // Closes the descriptor held, if any, and takes `fd` over. errno is kept: the error that
    // made a caller give up is still there to report after its descriptors are closed.
    void Reset(int fd = -1) {
        if (FFd >= 0) {
            const int e = errno;
            ::close(FFd);
            errno = e;
        }
        FFd = fd;
    }

private:
    int FFd = -1;
};

} // namespace platform::lnx
