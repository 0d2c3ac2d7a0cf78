// pendock-probe: what Pendock sees of this machine's drives, for support. For every drive
// letter in use it prints the mount point (the root folder on Windows), the three WMI
// answers that identify its disk, the Plug and Play identifier and the vendor, product and
// serial texts the wizard would send to the shop, or the step at which identification stopped.

#include <cstdio>
#include <cstring>
#include <string>

#include "mod_DriveUsbInfo.h"
#include "platform/logical_drives.h"
#include "platform/program_com.h"
#include "platform/roots.h"

#ifndef PENDOCK_VERSION
#define PENDOCK_VERSION "unknown"
#endif

namespace {

// Every control character of a text shown as \xNN, so that a hostile label or serial cannot
// rewrite the terminal.
std::string Shown(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

void ProbeDrive(char letter) {
    std::printf("%c: %s\n", letter, Shown(platform::DriveRootPath(letter)).c_str());
    std::string vendor, product, serial;
    TUsbInfoTrace trace;
    const bool ok = GetDriveUsbInfo(std::string(1, letter), vendor, product, serial, &trace);
    for (const TUsbInfoStep& step : trace.Steps) {
        std::printf("  query   %s\n", Shown(step.Query).c_str());
        if (step.Count < 0)
            std::printf("  error   %s\n", Shown(step.Error).c_str());
        else
            std::printf("  answer  %d object(s), %s = %s\n", step.Count, step.Property.c_str(),
                        step.Count == 1 ? Shown(step.Value).c_str() : "-");
    }
    if (!ok) {
        std::printf("  result  not identified\n");
        return;
    }
    std::printf("  pnp     %s\n", Shown(trace.PnpDeviceId).c_str());
    std::printf("  result  vendor \"%s\", product \"%s\", serial \"%s\"\n", Shown(vendor).c_str(),
                Shown(product).c_str(), Shown(serial).c_str());
}

} // namespace

int main(int argc, char** argv) {
    // COM for the WMI queries, started as the wizard starts it.
    const platform::TProgramCom com;
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        std::fprintf(help ? stdout : stderr,
                     "Usage: pendock-probe\n"
                     "Lists the drive letters Pendock sees, with the identity of the disk behind "
                     "each.\n");
        return help ? 0 : 2;
    }
    std::printf("pendock-probe %s\n", PENDOCK_VERSION);
    platform::UseRootsFromEnvironment();
    const TDriveConn drives = GetConnectedDrives();
    bool any = false;
    for (std::size_t i = 0; i < drives.size(); ++i)
        if (drives[i]) {
            ProbeDrive(static_cast<char>('C' + i));
            any = true;
        }
    if (!any)
        std::printf("no drive letters\n");
    return 0;
}
