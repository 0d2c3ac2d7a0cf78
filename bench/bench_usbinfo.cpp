// Key identification through the Linux provider on a simulated machine with 30 mounts and
// 10 disks, and the drive-letter mask over the same mount table.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "mod_DriveUsbInfo.h"
#include "platform/linux/drive_letters.h"
#include "platform/linux/roots.h"
#include "platform/linux/wmi_provider.h"
#include "platform/wmi.h"

namespace fs = std::filesystem;

namespace {

void Simkey(const fs::path& folder, std::vector<std::string> args) {
    std::vector<std::string> argv{"bash", PENDOCK_SOURCE_DIR "/tools/simkey"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.begin() + 3, folder.string());
    std::vector<char*> cargs;
    for (auto& a : argv)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(cargs[0], cargs.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        throw std::runtime_error("simkey failed");
}

// 10 disks (the root SATA disk, 8 SATA data disks, the USB key) and 30 mount lines.
struct Machine {
    fs::path Folder;
    std::shared_ptr<platform::lnx::TDriveLetterMap> Map;
    char KeyLetter = 0;

    Machine() {
        std::string tmpl = (fs::temp_directory_path() / "pendock-bench-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("no temporary folder");
        Folder = tmpl;
        Simkey(Folder, {"init"}); // 5 mount lines, disk sda
        for (char c = 'c'; c <= 'j'; ++c) {
            const std::string disk = std::string("sd") + c;
            Simkey(Folder, {"add-disk", disk, "--bus", "sata", "--parts", "2"});
            Simkey(Folder, {"mount", disk + "1", (Folder / "media" / (disk + "1")).string()});
            Simkey(Folder, {"mount", disk + "2", (Folder / "media" / (disk + "2")).string()});
        }
        {
            std::ofstream mi(Folder / "mountinfo", std::ios::app);
            for (int i = 0; i < 8; ++i) // pseudo filesystems, no drives
                mi << 200 + i << " 1 0:" << 60 + i << " / /run/user/" << i
                   << " rw - tmpfs tmpfs rw\n";
        }
        Simkey(Folder, {"plug"}); // 30th line
        Map = std::make_shared<platform::lnx::TDriveLetterMap>((Folder / "mountinfo").string(),
                                                               (Folder / "sys").string());
        for (const auto& d : Map->Refresh())
            if (d.Name == "sdb1")
                KeyLetter = d.Letter;
    }
    ~Machine() {
        std::error_code ec;
        fs::remove_all(Folder, ec);
    }
};

Machine& Sim() {
    static Machine m;
    return m;
}

void BM_GetDriveUsbInfo(benchmark::State& state) {
    Machine& m = Sim();
    auto previous = platform::SetWbemLocatorFactory(
        [map = m.Map] { return platform::lnx::MakeWbemLocator(map); });
    const std::string drive(1, m.KeyLetter);
    for (auto _ : state) {
        std::string v, p, s;
        if (!GetDriveUsbInfo(drive, v, p, s) || s != "0123456789AB") {
            state.SkipWithError("identification failed");
            break;
        }
        benchmark::DoNotOptimize(s);
    }
    platform::SetWbemLocatorFactory(std::move(previous));
}
BENCHMARK(BM_GetDriveUsbInfo)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_GetConnectedDrives(benchmark::State& state) {
    Machine& m = Sim();
    platform::lnx::UseRoots({.MountInfo = m.Folder / "mountinfo", .Sysfs = m.Folder / "sys"});
    for (auto _ : state) {
        const TDriveConn drives = GetConnectedDrives();
        if (!drives[0] || !drives[m.KeyLetter - 'C']) {
            state.SkipWithError("drives missing");
            break;
        }
        benchmark::DoNotOptimize(drives);
    }
}
BENCHMARK(BM_GetConnectedDrives)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
