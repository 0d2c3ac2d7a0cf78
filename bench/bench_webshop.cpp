// The package.id search over a large product folder, against find(1) on the same tree, and the
// longest stretch of search work between two calls of the message processing.
//
// The tree: 100 folders under the product folder, 49 subfolders in each (5,000 folders), 19
// files in every one of them (95,000 files): 100,000 entries. One of the files, in the folder
// visited last, is the package.id, made the very last entry of the depth-first walk in listing
// order.
#include "base/TextUtil.h"
#include "mod_WebShop.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <dirent.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int TopFolders = 100, SubFolders = 49, FilesPerFolder = 19;
const std::string PackageLine = "QV-BENCH-2024";

std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

void Touch(const fs::path& file, const std::string& text = "x\n") {
    std::ofstream(file, std::ios::binary) << text;
}

// "package.id" with the letters picked by the bits of `variant` in upper case.
std::string NameVariant(unsigned variant) {
    std::string name = "package.id";
    unsigned bit = 0;
    for (char& c : name)
        if (c != '.' && (variant >> bit++ & 1u))
            c = textutil::UpperAscii(c);
    return name;
}

class TTree {
public:
    TTree() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ =
            std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/pendock-bench-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr)
            return;
        FRoot = templ;
        Product = FRoot / "Quorvento";
        fs::create_directory(Product);
        for (int t = 0; t < TopFolders; ++t) {
            const fs::path top = Product / ("top" + std::to_string(t));
            fs::create_directory(top);
            for (int f = 0; f < FilesPerFolder; ++f)
                Touch(top / ("file" + std::to_string(f) + ".dat"));
            for (int s = 0; s < SubFolders; ++s) {
                const fs::path sub = top / ("sub" + std::to_string(s));
                fs::create_directory(sub);
                for (int f = 0; f < FilesPerFolder; ++f)
                    Touch(sub / ("file" + std::to_string(f) + ".dat"));
            }
        }
        Ok = PlacePackageIdLast();
    }
    ~TTree() {
        std::error_code ec;
        if (!FRoot.empty())
            fs::remove_all(FRoot, ec);
    }

    fs::path Product, PackageFile;
    bool Ok = false;

private:
    // Follows the last entry of each listing down to the folder visited last, and turns its
    // last file into a package.id that stays last there.
    bool PlacePackageIdLast() {
        fs::path folder = Product;
        for (;;) {
            const std::vector<std::string> names = Listing(folder);
            if (names.empty())
                return false;
            if (!fs::is_directory(folder / names.back())) {
                fs::remove(folder / names.back());
                break;
            }
            folder /= names.back();
        }
        // Hash-ordered folders: some spelling of the name lands last.
        for (unsigned v = 0; v < 512; ++v) {
            const std::string name = NameVariant(v);
            Touch(folder / name, PackageLine + "\r\n");
            if (Listing(folder).back() == name && !fs::is_directory(folder / name)) {
                PackageFile = folder / name;
                return true;
            }
            fs::remove(folder / name);
        }
        return false;
    }

    fs::path FRoot;
};

TTree& Tree() {
    static TTree tree;
    return tree;
}

void BM_FindPackageId(benchmark::State& state) {
    TTree& tree = Tree();
    if (!tree.Ok) {
        state.SkipWithError("could not build the tree");
        return;
    }
    using TClock = std::chrono::steady_clock;
    TClock::duration longestGap{};
    for (auto _ : state) {
        std::string id;
        TClock::time_point last = TClock::now();
        const auto processMessages = [&] {
            const TClock::time_point now = TClock::now();
            longestGap = std::max(longestGap, now - last);
            last = now;
        };
        const bool found = FindPackageId(tree.Product.string(), id, processMessages);
        longestGap = std::max(longestGap, TClock::now() - last);
        if (!found || id != PackageLine) {
            state.SkipWithError("package.id not found");
            return;
        }
        benchmark::DoNotOptimize(id);
    }
    // The longest stretch without message processing over all runs, the last one to the end of
    // the search included.
    state.counters["longest_gap_ms"] =
        std::chrono::duration<double, std::milli>(longestGap).count();
}
BENCHMARK(BM_FindPackageId)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One run of `find DIR -iname package.id -print -quit`, its output read through a pipe.
void BM_FindCommand(benchmark::State& state) {
    TTree& tree = Tree();
    if (!tree.Ok) {
        state.SkipWithError("could not build the tree");
        return;
    }
    const std::string folder = tree.Product.string();
    char* const argv[] = {const_cast<char*>("find"),
                          const_cast<char*>(folder.c_str()),
                          const_cast<char*>("-iname"),
                          const_cast<char*>("package.id"),
                          const_cast<char*>("-print"),
                          const_cast<char*>("-quit"),
                          nullptr};
    for (auto _ : state) {
        int fds[2];
        if (::pipe(fds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        pid_t pid = 0;
        const int rc = posix_spawnp(&pid, "find", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        std::string out;
        char buf[4096];
        ssize_t n;
        while (rc == 0 && (n = ::read(fds[0], buf, sizeof buf)) > 0)
            out.append(buf, static_cast<std::size_t>(n));
        ::close(fds[0]);
        int status = 0;
        if (rc == 0)
            ::waitpid(pid, &status, 0);
        if (rc != 0 || out != tree.PackageFile.string() + "\n") {
            state.SkipWithError("find did not print the package.id");
            return;
        }
    }
}
BENCHMARK(BM_FindCommand)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
