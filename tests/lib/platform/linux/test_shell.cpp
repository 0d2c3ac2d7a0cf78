// Handing an address to the desktop's opener, with a fake xdg-open first on PATH.
#include "platform/shell.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class OpenInBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(Folder / "bin");
        const char* path = std::getenv("PATH");
        OldPath = path != nullptr ? path : "";
        ::setenv("PATH", ((Folder / "bin").string() + ":" + OldPath).c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", OldPath.c_str(), 1);
        if (Opener > 0)
            ::kill(-Opener, SIGKILL); // the opener leads its own process group
    }

    // A fake opener: records its arguments, descriptors, session and process id, then runs
    // `tail` (a shell command) before saying it is done.
    void WriteOpener(const std::string& tail = "") const {
        const std::string d = Folder.string();
        std::ofstream f(Folder / "bin" / "xdg-open");
        f << "#!/bin/sh\n"
          << "echo $$ > '" << d << "/pid'\n"
          << "printf '%s' \"$#\" > '" << d << "/argc'\n"
          << "in=$(readlink /proc/$$/fd/0); out=$(readlink /proc/$$/fd/1)\n"
          << "echo \"$in\" > '" << d << "/stdin'; echo \"$out\" > '" << d << "/stdout'\n"
          << "printf '%s' \"$1\" > '" << d << "/arg.part'\n"
          << "mv '" << d << "/arg.part' '" << d << "/arg'\n"
          << tail << "\n"
          << "touch '" << d << "/done'\n";
        f.close();
        fs::permissions(Folder / "bin" / "xdg-open", fs::perms::owner_all);
    }

    // Waits up to 10 s for the file `name` to appear and returns its text.
    std::string Await(const std::string& name) const {
        for (int i = 0; i < 1000 && !fs::exists(Folder / name); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream f(Folder / name);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    TTempDir Tmp{"pendock-shell"};
    const fs::path Folder = Tmp.Path();
    std::string OldPath;
    pid_t Opener = 0;
};

TEST_F(OpenInBrowserTest, OpenerGetsTheExactAddressAsItsOnlyArgument) {
    WriteOpener();
    const std::string address = "http://shop.test/custom-backend?q=a&b=\"c\" 'd' $(touch " +
                                Folder.string() + "/pwned);e`id`|f>g#h%20\xC3\xA9";
    ASSERT_TRUE(platform::OpenInBrowser(address));
    EXPECT_EQ(Await("arg"), address);
    EXPECT_EQ(Await("argc"), "1");
    EXPECT_EQ(Await("stdin"), "/dev/null\n");
    EXPECT_EQ(Await("stdout"), "/dev/null\n");
    Await("done");
    EXPECT_FALSE(fs::exists(Folder / "pwned")) << "the address went through a shell";
}

TEST_F(OpenInBrowserTest, DoesNotWaitAndLeavesNoChildBehind) {
    // The opener keeps running; the call must come back while it does, and nothing it
    // started may be left for this process to reap.
    WriteOpener("sleep 60");
    ASSERT_TRUE(platform::OpenInBrowser("http://shop.test/"));
    ASSERT_FALSE(Await("arg").empty());
    Opener = std::stoi(Await("pid"));
    EXPECT_EQ(::kill(Opener, 0), 0) << "the opener is still running";
    EXPECT_FALSE(fs::exists(Folder / "done"));
    EXPECT_EQ(::getsid(Opener), Opener) << "the opener runs in a session of its own";
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD) << "a child of this process is left to reap";
}

TEST_F(OpenInBrowserTest, NoOpenerOnPath) {
    ::setenv("PATH", (Folder / "bin").c_str(), 1);
    EXPECT_FALSE(platform::OpenInBrowser("http://shop.test/"));
    // Not executable: passed over as the shell would.
    std::ofstream(Folder / "bin" / "xdg-open")
        << "#!/bin/sh\ntouch '" << Folder.string() << "/ran'\n";
    fs::permissions(Folder / "bin" / "xdg-open", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(platform::OpenInBrowser("http://shop.test/"));
    EXPECT_FALSE(fs::exists(Folder / "ran"));
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(OpenInBrowserTest, OpenerThatCannotStart) {
    // Executable but no program: the start fails and says so.
    std::ofstream(Folder / "bin" / "xdg-open") << "#!/nonexistent/interpreter\n";
    fs::permissions(Folder / "bin" / "xdg-open", fs::perms::owner_all);
    EXPECT_FALSE(platform::OpenInBrowser("http://shop.test/"));
}

} // namespace
