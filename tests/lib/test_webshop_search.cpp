// The search for package.id in a product folder and the reading of its first line; the product
// folder of a drive letter: on Linux over a simulated machine (a mount-info file and a sysfs tree
// with two block devices, the root filesystem and a key mounted at a folder whose name holds a
// blank), on Windows over the machine's own drive letters.
#include "mod_WebShop.h"
#include "platform/logical_drives.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/TempDir.h"

#if !defined(_WIN32)
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/roots.h"
#include "support/ChildCheck.h"
#endif

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)

// Removes a tree through descriptors, so that depth and path length do not matter.
void RemoveTreeAt(int parent, const char* name) {
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    ::fchmod(fd, 0700);
    if (DIR* d = ::fdopendir(fd)) {
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.emplace_back(e->d_name);
        for (const std::string& n : names)
            RemoveTreeAt(::dirfd(d), n.c_str());
        ::closedir(d);
    } else {
        ::close(fd);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

#endif

class WebShopSearch : public ::testing::Test {
protected:
    void SetUp() override {
        Root = Tmp.Path().string();
#if !defined(_WIN32)
        ::chmod(Root.c_str(), 0755); // readable by the unprivileged child of some tests
#endif
        Product = Root + "/Quorvento";
        MakeFolder("Quorvento");
    }
#if !defined(_WIN32)
    void TearDown() override {
        RemoveTreeAt(AT_FDCWD, Root.c_str());
    }
#endif

    std::string P(const std::string& rel) const {
        return Root + "/" + rel;
    }
    void MakeFolder(const std::string& rel) const {
        ASSERT_TRUE(fs::create_directory(P(rel))) << rel;
    }
    void Write(const std::string& rel, const std::string& bytes) const {
        std::ofstream f(P(rel), std::ios::binary);
        f << bytes;
        ASSERT_TRUE(f.good()) << rel;
    }
#if !defined(_WIN32)
    void Link(const std::string& target, const std::string& rel) const {
        ASSERT_EQ(::symlink(target.c_str(), P(rel).c_str()), 0);
    }
#endif
    // The entry names of a folder in the order the file system lists them.
    std::vector<std::string> Listing(const std::string& rel) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(P(rel)))
            names.push_back(entry.path().filename().string());
        return names;
    }
    std::string Find(const std::string& folder, bool* found = nullptr) const {
        std::string id = "<untouched>";
        const bool r = FindPackageId(folder, id);
        if (found)
            *found = r;
        return r ? id : "<none>";
    }

    TTempDir Tmp{"pendock-search"};
    std::string Root, Product;
};

TEST_F(WebShopSearch, NameInCapitalsAndFirstLineOnly) {
    Write("Quorvento/PACKAGE.ID", "QV-Pro 2 \r\nsecond line\r\n");
    Write("Quorvento/package.id.txt", "wrong\n");
    Write("Quorvento/xpackage.id", "wrong\n");
    EXPECT_EQ(Find(Product), "QV-Pro 2 ");
    EXPECT_EQ(Find(Product + "/"), "QV-Pro 2 ");
}

TEST_F(WebShopSearch, NothingToFindLeavesTheIdentifier) {
    bool found = true;
    EXPECT_EQ(Find(P("missing"), &found), "<none>");
    EXPECT_FALSE(found);
    Write("plain", "x\n");
    EXPECT_EQ(Find(P("plain")), "<none>");
    EXPECT_EQ(Find(Product), "<none>");
    std::string id = "kept";
    EXPECT_FALSE(FindPackageId(Product, id));
    EXPECT_EQ(id, "kept");
}

TEST_F(WebShopSearch, EmptyFileIsPassedOverAndSubfolderUsed) {
    Write("Quorvento/package.id", "");
    MakeFolder("Quorvento/.hidden");
    MakeFolder("Quorvento/.hidden/deeper");
    Write("Quorvento/.hidden/deeper/Package.Id", "\xEF\xBB\xBF"
                                                 "FROM-SUB\n");
    EXPECT_EQ(Find(Product), "FROM-SUB");
}

TEST_F(WebShopSearch, EmptyFirstLineEndsTheSearch) {
    Write("Quorvento/package.id", "\r\nnot this\r\n");
    EXPECT_EQ(Find(Product), "");
}

TEST_F(WebShopSearch, DepthFirstInListingOrder) {
    // Folders beside the top package.id, each with two subfolders holding their own: the
    // first entry the file system lists decides, and a folder's whole tree comes before its
    // next sibling. Folders are added until one is listed before the top file, so that a
    // subfolder's file has to win.
    Write("Quorvento/package.id", "TOP\n");
    for (int i = 0; i < 200 && Listing("Quorvento").front() == "package.id"; ++i) {
        const std::string d = "Quorvento/d" + std::to_string(i);
        MakeFolder(d);
        for (const char* sub : {"a", "b"}) {
            MakeFolder(d + "/" + sub);
            Write(d + "/" + sub + "/package.id", d.substr(d.find('/') + 1) + "/" + sub + "\n");
        }
    }
    const std::string first = Listing("Quorvento").front();
    ASSERT_NE(first, "package.id");
    EXPECT_EQ(Find(Product), first + "/" + Listing("Quorvento/" + first).front());
}

#if !defined(_WIN32)
TEST_F(WebShopSearch, LinkedFoldersAreNotEnteredLinkedFilesAreRead) {
    MakeFolder("outside");
    Write("outside/package.id", "OUTSIDE\n");
    Link("..", "Quorvento/up");
    Link(".", "Quorvento/loop");
    Link(P("outside"), "Quorvento/away");
    Link("loop2", "Quorvento/loop1");
    Link("loop1", "Quorvento/loop2");
    Link("nowhere", "Quorvento/PACKAGE.id");
    ASSERT_EQ(::mkfifo(P("Quorvento/package.ID").c_str(), 0644), 0); // must not block
    EXPECT_EQ(Find(Product), "<none>");

    MakeFolder("Quorvento/real");
    Link(P("outside/package.id"), "Quorvento/real/package.id");
    EXPECT_EQ(Find(Product), "OUTSIDE");

    // The product folder itself must not be a link either.
    Link(P("outside"), "linked");
    EXPECT_EQ(Find(P("linked")), "<none>");
    EXPECT_EQ(Find(P("linked") + "//"), "<none>");
}

#endif

TEST_F(WebShopSearch, FolderNamedLikeTheFileIsSearched) {
    MakeFolder("Quorvento/package.id");
    Write("Quorvento/package.id/package.id", "INNER");
    EXPECT_EQ(Find(Product), "INNER");
}

#if !defined(_WIN32)
TEST_F(WebShopSearch, TreeDeeperThanAnyPath) {
    // 400 levels: the full path is longer than the system's path limit.
    const std::string level(12, 'd');
    int fd = ::open(Product.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 400; ++i) {
        ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0);
        const int next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int f = ::openat(fd, "package.id", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(f, 0);
    ASSERT_EQ(::write(f, "DEEP\n", 5), 5);
    ::close(f);
    ::close(fd);
    EXPECT_EQ(Find(Product), "DEEP");
}

#endif

TEST_F(WebShopSearch, MessagesProcessedAsTheSearchBeginsAndItStops) {
    MakeFolder("Quorvento/a");
    Write("Quorvento/a/package.id", "A\n");
    int calls = 0;
    std::string id = "kept";
    // Asked to stop at the first call: nothing is read, although there is a file to find.
    EXPECT_FALSE(FindPackageId(
        Product, id, [&] { ++calls; }, [] { return true; }));
    EXPECT_EQ(id, "kept");
    EXPECT_EQ(calls, 1);

    calls = 0;
    EXPECT_TRUE(FindPackageId(
        Product, id, [&] { ++calls; }, [] { return false; }));
    EXPECT_EQ(id, "A");
    EXPECT_GE(calls, 1);
}

TEST_F(WebShopSearch, LongFirstLineIsCutAtTheLimit) {
    Write("Quorvento/package.id", std::string(100000, 'x') + "\nsecond\n");
    std::string id;
    ASSERT_TRUE(FindPackageId(Product, id));
    EXPECT_EQ(id, std::string(PackageIdMaxBytes, 'x'));

    // UTF-16: 85 euro signs of three bytes each fill the 255 bytes.
    std::string utf16 = "\xFF\xFE";
    for (int i = 0; i < 40000; ++i)
        utf16 += std::string("\xAC\x20", 2); // U+20AC
    Write("Quorvento/package.id", utf16);
    ASSERT_TRUE(ReadFirstLine(P("Quorvento/package.id"), id));
    std::string euros;
    for (std::size_t i = 0; i < PackageIdMaxBytes / 3; ++i)
        euros += "\xE2\x82\xAC";
    EXPECT_EQ(id, euros);
}

#if !defined(_WIN32)
// Bytes read by this process so far.
long long BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

TEST_F(WebShopSearch, HugeFileIsNotReadThrough) {
    // 4 GiB, all but the first line a hole: reading it through would take a long while and
    // show in the count of bytes read.
    Write("Quorvento/package.id", "HUGE-1\n");
    ASSERT_EQ(::truncate(P("Quorvento/package.id").c_str(), 4LL << 30), 0);
    Write("nolineend", "");
    ASSERT_EQ(::truncate(P("nolineend").c_str(), 4LL << 30), 0);

    // Reading stops at the first line end, or at the limit without one.
    long long before = BytesRead();
    ASSERT_GE(before, 0);
    std::string id;
    ASSERT_TRUE(FindPackageId(Product, id));
    EXPECT_EQ(id, "HUGE-1");
    EXPECT_LT(BytesRead() - before, 16 * 1024);
    // A file of zeros, as a damaged key gives: its first NUL ends the line at once.
    before = BytesRead();
    ASSERT_TRUE(ReadFirstLine(P("nolineend"), id));
    EXPECT_EQ(id, "");
    EXPECT_LT(BytesRead() - before, 16 * 1024);
    Write("nolineend", std::string(100000, 'x'));
    before = BytesRead();
    ASSERT_TRUE(ReadFirstLine(P("nolineend"), id));
    EXPECT_EQ(id.size(), PackageIdMaxBytes);
    EXPECT_LT(BytesRead() - before, 80 * 1024);
}

#endif

TEST_F(WebShopSearch, ReadFirstLineOfNoRegularFile) {
    std::string line = "kept";
    EXPECT_FALSE(ReadFirstLine(P("missing"), line));
    EXPECT_FALSE(ReadFirstLine(Product, line));
    EXPECT_FALSE(ReadFirstLine("", line));
#if defined(_WIN32)
    EXPECT_FALSE(ReadFirstLine("NUL", line)); // a device
#else
    ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0644), 0);
    EXPECT_FALSE(ReadFirstLine(P("fifo"), line));
    EXPECT_FALSE(ReadFirstLine("/dev/null", line));
#endif
    Write("empty", "");
    EXPECT_FALSE(ReadFirstLine(P("empty"), line));
    EXPECT_EQ(line, "kept");
}

#if !defined(_WIN32)
constexpr const char* NoUnprivilegedUser = "cannot run as an unprivileged user";

// Runs `check` in a child process as the unprivileged user "nobody" (file permissions do not
// hold for root): the check that failed, empty when all held, or NoUnprivilegedUser when the
// child could not drop its rights.
template <typename Check> std::string AsNobody(Check check) {
    return RunInChild([&]() -> std::string {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return NoUnprivilegedUser;
        return check();
    });
}

// A chain of `depth` folders "d" below the folder `rel`, with package.id holding `line` at the
// bottom; made and removed through descriptors, as the path is far longer than PATH_MAX.
class TFolderChain {
public:
    TFolderChain(const std::string& top, int depth, const std::string& line)
        : FTop(top), FDepth(depth) {
        int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int i = 0; fd >= 0 && i < depth; ++i) {
            const int next = ::mkdirat(fd, "d", 0755) == 0
                                 ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                 : -1;
            ::close(fd);
            fd = next;
        }
        if (fd < 0)
            return;
        const int f = ::openat(fd, "package.id", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        Made = f >= 0 && ::write(f, line.data(), line.size()) == ssize_t(line.size());
        if (f >= 0)
            ::close(f);
        ::close(fd);
    }
    ~TFolderChain() {
        int fd = ::open(FTop.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int depth = 0;
        for (int next; fd >= 0 && depth < FDepth &&
                       (next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) >= 0;
             ++depth) {
            ::close(fd);
            fd = next;
        }
        if (fd < 0)
            return;
        ::unlinkat(fd, "package.id", 0);
        for (; depth > 0; --depth) {
            const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            if (up < 0)
                return;
            fd = up;
            ::unlinkat(fd, "d", AT_REMOVEDIR);
        }
        ::close(fd);
    }
    bool Made = false;

private:
    std::string FTop;
    int FDepth;
};

// Leaves `free` descriptors below the limit of open files, which is set to 64 (in a child).
std::string LeaveDescriptors(int free) {
    const rlimit limit{64, 64};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return "cannot lower the limit of open files";
    std::vector<int> held;
    for (int fd; (fd = ::dup(0)) >= 0 || (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
        held.push_back(fd);
    if (errno != EMFILE || static_cast<int>(held.size()) < free)
        return "cannot use up the descriptors";
    for (int i = 0; i < free; ++i)
        ::close(held[held.size() - 1 - i]);
    return "";
}

TEST_F(WebShopSearch, DeepTreesWithFewDescriptors) {
    // 1 100 and 3 000 levels, searched with 8 descriptors to spare: the walk holds a couple at
    // a time, whatever the depth.
    MakeFolder("Quorvento/a");
    MakeFolder("Quorvento/b");
    const TFolderChain a(P("Quorvento/a"), 1100, "AT-1100\n");
    const TFolderChain b(P("Quorvento/b"), 3000, "AT-3000\n");
    ASSERT_TRUE(a.Made && b.Made);
    const std::string failed = RunInChild([&]() -> std::string {
        if (const std::string why = LeaveDescriptors(8); !why.empty())
            return why;
        std::string id;
        for (const auto& [folder, line] :
             {std::pair{P("Quorvento/a"), "AT-1100"}, std::pair{P("Quorvento/b"), "AT-3000"}}) {
            if (!FindPackageId(folder, id))
                return "nothing found below " + folder;
            if (id != line)
                return "found " + id + " for " + line;
        }
        return "";
    });
    EXPECT_EQ(failed, "");
}

TEST_F(WebShopSearch, AFolderThatCannotBeOpenedIsAnError) {
    // No descriptor left for the sub-folder (EMFILE): an error, never "nothing installed".
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers check an object's type through a pipe of their own: with no descriptor
    // left they take every object for a broken one.
    GTEST_SKIP() << "the sanitizers need free descriptors themselves";
#endif
    MakeFolder("Quorvento/sub");
    Write("Quorvento/sub/package.id", "SUB\n");
    const std::string failed = RunInChild([&]() -> std::string {
        if (const std::string why = LeaveDescriptors(1); !why.empty())
            return why;
        std::string id = "kept";
        try {
            FindPackageId(Product, id);
        } catch (const EPackageSearchError& e) {
            const bool named = std::string(e.what()).find("Quorvento/sub") != std::string::npos;
            return e.Error() == EMFILE && named && id == "kept"
                       ? ""
                       : std::string("EMFILE naming the folder, the id kept: ") + e.what();
        }
        return "a search error is thrown";
    });
    EXPECT_EQ(failed, "");
}

TEST_F(WebShopSearch, UnreadableFolderIsPassedOver) {
    MakeFolder("Quorvento/locked");
    Write("Quorvento/locked/package.id", "LOCKED\n");
    MakeFolder("Quorvento/open");
    Write("Quorvento/open/package.id", "OPEN\n");
    ::chmod(P("Quorvento/locked").c_str(), 0);
    const std::string failed = AsNobody([&]() -> std::string {
        std::string id;
        if (!FindPackageId(Product, id))
            return "a package id is found";
        return id == "OPEN" ? "" : "the open folder's id, not " + id;
    });
    if (failed == NoUnprivilegedUser)
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    EXPECT_EQ(failed, "");
}

TEST_F(WebShopSearch, UnreadableFileIsAnError) {
    Write("Quorvento/package.id", "SECRET\n");
    ::chmod(P("Quorvento/package.id").c_str(), 0);
    const std::string failed = AsNobody([&]() -> std::string {
        std::string id = "kept";
        try {
            FindPackageId(Product, id);
        } catch (const EPackageIdReadError& e) {
            const bool named =
                std::string(e.what()).find("Quorvento/package.id") != std::string::npos;
            return e.Error() == EACCES && named && id == "kept"
                       ? ""
                       : "an access error naming the file, the id kept";
        }
        return "a read error is thrown";
    });
    if (failed == NoUnprivilegedUser)
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    EXPECT_EQ(failed, "");
}

#endif

// The product folder of a drive under the platform's drive roots, as the wizard asks for it.
std::string DriveProductFolder(const std::string& drive) {
    return ProductFolderOf(drive, platform::DriveRootPath);
}

#if defined(_WIN32)

TEST(ProductFolder, DriveRootAndBackslash) {
    const auto root = [](char letter) { return std::string{letter, ':'}; };
    EXPECT_EQ(ProductFolderOf("E:", root), "E:\\Quorvento");
    EXPECT_EQ(ProductFolderOf("e", root), "E:\\Quorvento");
    // A root that already ends with a separator gets no second one.
    EXPECT_EQ(ProductFolderOf("E:", [](char) { return std::string("E:\\"); }), "E:\\Quorvento");
    EXPECT_EQ(ProductFolderOf("E:", [](char) { return std::string(); }), "");

    // The system's drive C: is always there; a letter without a drive gives nothing.
    EXPECT_EQ(DriveProductFolder("C:"), "C:\\Quorvento");
    EXPECT_EQ(DriveProductFolder("c"), "C:\\Quorvento");
    std::string unused;
    for (char letter = 'Z'; letter > 'C'; --letter) {
        if (!fs::exists(std::string{letter, ':', '\\'})) {
            unused = std::string{letter, ':'};
            break;
        }
    }
    ASSERT_FALSE(unused.empty());
    EXPECT_EQ(DriveProductFolder(unused), "");
    for (const char* bad : {"", ":", "D:\\", "DD", "1:"})
        EXPECT_EQ(DriveProductFolder(bad), "") << bad;
}

TEST(ProductFolder, KeysPackageIdThroughTheDriveForm) {
    // The test's own folder, named from its drive: "X:\...\Quorvento".
    TTempDir tmp{"pendock-drive"};
    const fs::path product = tmp.Path() / "Quorvento";
    fs::create_directories(product / "sub");
    std::ofstream(product / "sub" / "Package.ID") << "QV-KEY-1\r\n";
    const std::string folder = fs::absolute(product).string();
    ASSERT_GE(folder.size(), 3u);
    ASSERT_EQ(folder.substr(1, 2), ":\\");
    std::string id;
    ASSERT_TRUE(FindPackageId(folder, id));
    EXPECT_EQ(id, "QV-KEY-1");
}

#else

class ProductFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path sys = Folder / "sys";
        for (const char* dev : {"sda/sda1", "sdb/sdb1"})
            fs::create_directories(sys / "devices/pci0000:00/block" / dev);
        fs::create_directories(sys / "dev/block");
        fs::create_symlink("../../devices/pci0000:00/block/sda/sda1", sys / "dev/block/8:1");
        fs::create_symlink("../../devices/pci0000:00/block/sdb/sdb1", sys / "dev/block/8:17");
        Key = Folder / "media" / "USB KEY";
        fs::create_directories(Key / "Quorvento" / "sub");
        std::ofstream(Key / "Quorvento" / "sub" / "Package.ID") << "QV-KEY-1\r\n";
        const std::string encoded = (Folder / "media").string() + "/USB\\040KEY";
        std::ofstream(Folder / "mountinfo")
            << "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
            << "97 22 8:17 / " << encoded << " rw,nosuid shared:50 - vfat /dev/sdb1 rw\n";
        platform::lnx::TRoots roots;
        roots.MountInfo = (Folder / "mountinfo").string();
        roots.Sysfs = sys;
        platform::lnx::UseRoots(roots);
    }
    void TearDown() override { platform::lnx::UseRoots({}); }

    TTempDir Tmp{"pendock-drive"};
    const fs::path Folder = Tmp.Path();
    fs::path Key;
};

TEST_F(ProductFolder, DriveFormsAndTheKeysPackageId) {
    const std::string expected = (Key / "Quorvento").string();
    EXPECT_EQ(DriveProductFolder("D:"), expected);
    EXPECT_EQ(DriveProductFolder("D"), expected);
    EXPECT_EQ(DriveProductFolder("d:"), expected);
    EXPECT_EQ(DriveProductFolder("C:"), "/Quorvento"); // the root gets no doubled slash
    EXPECT_EQ(DriveProductFolder("E:"), "");           // no such drive
    for (const char* bad : {"", ":", "D:\\", "DD", "1:", "\xC3\x84:"})
        EXPECT_EQ(DriveProductFolder(bad), "") << bad;

    std::string id;
    ASSERT_TRUE(FindPackageId(DriveProductFolder("D:"), id));
    EXPECT_EQ(id, "QV-KEY-1");
}

TEST_F(ProductFolder, FoundWhateverTheCaseOfItsName) {
    // As ntfs-3g shows a key whose folder was made on Windows in capitals; a file of the exact
    // name and a longer name are passed over.
    fs::rename(Key / "Quorvento", Key / "QUORVENTO");
    std::ofstream(Key / "Quorvento") << "a file\n";
    fs::create_directories(Key / "quorvento2");
    EXPECT_EQ(DriveProductFolder("D:"), (Key / "QUORVENTO").string());
    std::string id;
    ASSERT_TRUE(FindPackageId(DriveProductFolder("D:"), id));
    EXPECT_EQ(id, "QV-KEY-1");
    fs::remove(Key / "Quorvento");
    fs::create_directories(Key / "Quorvento");
    EXPECT_EQ(DriveProductFolder("D:"), (Key / "Quorvento").string()) << "the exact name first";
}

#endif

} // namespace
