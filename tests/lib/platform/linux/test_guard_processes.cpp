// The guard between processes, through the helper program.

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "guard_test_util.h"

using guardtest::Child;
using guardtest::TempLockDirs;
using guardtest::uniqueName;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<Child> first(const std::string& id, const std::string& helper = GUARD_HELPER) {
    return std::make_unique<Child>(std::vector<std::string>{helper, "first", id});
}

std::unique_ptr<Child> guard(const std::string& name, int max, unsigned timeout) {
    return std::make_unique<Child>(std::vector<std::string>{
        GUARD_HELPER, "guard", name, std::to_string(max), std::to_string(timeout)});
}

// The first word of the child's first line: "held", "refused" or "noguard".
std::string verdict(Child& c) {
    const auto line = c.readLine();
    if (!line)
        return "(no answer)";
    return line->substr(0, line->find(' '));
}

class Processes : public ::testing::Test {
protected:
    TempLockDirs dirs;
};

TEST_F(Processes, SecondCopyIsRefusedAtOnceAndTheSlotComesBack) {
    const std::string id = uniqueName("{id}");
    auto a = first(id);
    ASSERT_EQ(a->readLine(), "held Global\\" + id);
    auto b = first(id);
    EXPECT_EQ(b->readLine(), "refused 0 Global\\" + id);
    EXPECT_EQ(b->wait(), 0); // ends by itself: no waiting with time-out 0

    a->closeStdin();
    EXPECT_EQ(a->readLine(), "freed 0");
    EXPECT_EQ(a->wait(), 0);

    auto c = first(id);
    EXPECT_EQ(verdict(*c), "held");
}

TEST_F(Processes, KilledHolderDoesNotBlockTheNextStart) {
    const std::string id = uniqueName("{kill}");
    for (int round = 0; round < 3; ++round) {
        auto a = first(id);
        ASSERT_EQ(verdict(*a), "held") << round;
        auto refused = first(id);
        EXPECT_EQ(verdict(*refused), "refused");
        a->kill(SIGKILL);
        EXPECT_EQ(a->wait(), -SIGKILL);
    }
    auto b = first(id);
    EXPECT_EQ(verdict(*b), "held");
    EXPECT_EQ(TempLockDirs::list(dirs.global()).size(), 1u);
}

TEST_F(Processes, OfThirtyTwoStartedTogetherExactlyOneHolds) {
    const std::string id = uniqueName("{race}");
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 32; ++i)
        children.push_back(first(id));
    int held = 0, refused = 0;
    for (auto& c : children) {
        const std::string v = verdict(*c);
        held += v == "held";
        refused += v == "refused";
    }
    EXPECT_EQ(held, 1);
    EXPECT_EQ(refused, 31);
    for (auto& c : children) {
        c->closeStdin();
        EXPECT_EQ(c->wait(), 0);
    }
}

TEST_F(Processes, WithThreeInstancesThreeOfTenHold) {
    const std::string name = uniqueName("three");
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 10; ++i)
        children.push_back(guard(name, 3, 0));
    int held = 0, refused = 0;
    for (auto& c : children) {
        const std::string v = verdict(*c);
        held += v == "held";
        refused += v == "refused";
    }
    EXPECT_EQ(held, 3);
    EXPECT_EQ(refused, 7);
}

TEST_F(Processes, TimeOutWaitsForAUnitAnotherProcessFrees) {
    const std::string name = uniqueName("wait");
    auto a = guard(name, 1, 0);
    ASSERT_EQ(verdict(*a), "held");
    auto b = guard(name, 1, 60000);
    // Still waiting while the unit is taken.
    EXPECT_EQ(b->readLine(300), std::nullopt);
    a->closeStdin();
    EXPECT_EQ(b->readLine(), "held Global\\" + name);
    EXPECT_EQ(a->wait(), 0);

    // And a wait that runs out refuses.
    auto c = guard(name, 1, 50);
    EXPECT_EQ(c->readLine(), "refused 0 Global\\" + name);
}

TEST_F(Processes, ProgramsStartedByTheHolderDoNotKeepItsUnit) {
    const std::string id = uniqueName("{spawn}");
    Child a({GUARD_HELPER, "spawner", id});
    const auto line = a.readLine();
    ASSERT_TRUE(line && line->rfind("held ", 0) == 0) << line.value_or("(no answer)");
    const pid_t sleeper = std::stoi(line->substr(5));
    a.kill(SIGKILL);
    a.wait();
    // The started program still runs, but the unit went with the holder.
    EXPECT_EQ(::kill(sleeper, 0), 0);
    auto b = first(id);
    EXPECT_EQ(verdict(*b), "held");
    ::kill(sleeper, SIGKILL);
}

TEST_F(Processes, EmptyIdentifierMakesNoGuard) {
    auto a = first("");
    EXPECT_EQ(a->readLine(), "noguard");
    EXPECT_EQ(a->wait(), 0);
    EXPECT_TRUE(TempLockDirs::list(dirs.user()).empty());
}

TEST_F(Processes, BareNameIsSharedWhenTheMachineWideDirectoryIsMissing) {
    const std::string id = uniqueName("{bare}");
    ::setenv("PENDOCK_LOCK_DIR_GLOBAL", (dirs.root() / "absent").c_str(), 1);
    auto a = first(id);
    EXPECT_EQ(a->readLine(), "held " + id);
    auto b = first(id);
    // The refused machine-wide attempt stays recorded as the guard's error code.
    EXPECT_EQ(b->readLine(), "refused 123 " + id);
}

TEST_F(Processes, NeverTwoHoldersWhileCopiesComeAndGo) {
    const fs::path counter = dirs.root() / "counter";
    {
        std::ofstream out(counter, std::ios::binary);
        const int zero = 0;
        out.write(reinterpret_cast<const char*>(&zero), sizeof zero);
    }
    const std::string id = uniqueName("{churn}");
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 4; ++i)
        children.push_back(std::make_unique<Child>(
            std::vector<std::string>{GUARD_HELPER, "stress", id, "300", counter.string()}));
    int totalHolds = 0;
    for (auto& c : children) {
        const auto line = c->readLine(100000);
        ASSERT_TRUE(line.has_value());
        int violations = -1, holds = -1;
        ASSERT_EQ(std::sscanf(line->c_str(), "violations %d holds %d", &violations, &holds), 2);
        EXPECT_EQ(violations, 0);
        totalHolds += holds;
        EXPECT_EQ(c->wait(), 0);
    }
    EXPECT_GT(totalHolds, 0);
    EXPECT_EQ(TempLockDirs::list(dirs.global()).size(), 1u);
}

// Root only: copies of other users.

struct OtherUser {
    uid_t uid;
    gid_t gid;
};

std::optional<OtherUser> nobody() {
    const passwd* pw = ::getpwnam("nobody");
    if (pw == nullptr)
        return std::nullopt;
    return OtherUser{pw->pw_uid, pw->pw_gid};
}

class OtherUsers : public Processes {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to run a copy as another user";
        user = nobody();
        if (!user)
            GTEST_SKIP() << "no user 'nobody' on this machine";
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "setpriv is not installed";
        // A copy of the helper that the other user can surely reach.
        helper = dirs.root() / "guard_helper";
        fs::copy_file(GUARD_HELPER, helper);
        ::chmod(helper.c_str(), 0755);
    }

    std::unique_ptr<Child> firstAsOther(const std::string& id) {
        return std::make_unique<Child>(
            std::vector<std::string>{"/usr/bin/setpriv", "--reuid=" + std::to_string(user->uid),
                                     "--regid=" + std::to_string(user->gid), "--clear-groups", "--",
                                     helper.string(), "first", id});
    }

    std::optional<OtherUser> user;
    fs::path helper;
};

TEST_F(OtherUsers, CopyOfAnotherUserIsRefusedAndTheReverse) {
    // Root's copy runs first and makes the file; then the other user's copy makes it.
    for (const bool rootFirst : {true, false}) {
        const std::string id = uniqueName(rootFirst ? "{root-first}" : "{other-first}");
        const fs::path file = dirs.global() / ("pendock-sem-" + id);
        const mode_t old = ::umask(077);
        auto holder = rootFirst ? first(id, helper.string()) : firstAsOther(id);
        ::umask(old);
        ASSERT_EQ(verdict(*holder), "held");
        struct stat st {};
        ASSERT_EQ(::lstat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, rootFirst ? 0u : user->uid);
        EXPECT_EQ(st.st_mode & 07777, 0666u);
        // The other one opens the file of another user in the sticky directory.
        auto refused = rootFirst ? firstAsOther(id) : first(id, helper.string());
        EXPECT_EQ(refused->readLine(), "refused 0 Global\\" + id);
        EXPECT_EQ(refused->wait(), 0);
        holder->closeStdin();
        EXPECT_EQ(holder->readLine(), "freed 0");
        EXPECT_EQ(holder->wait(), 0);
        auto next = rootFirst ? firstAsOther(id) : first(id, helper.string());
        EXPECT_EQ(next->readLine(), "held Global\\" + id);
    }
}

TEST_F(OtherUsers, LinkPlantedByAnotherUserIsNotFollowed) {
    const std::string id = uniqueName("{planted}");
    const fs::path secret = dirs.root() / "secret";
    { std::ofstream(secret) << "root only"; }
    ::chmod(secret.c_str(), 0600);
    const fs::path lockPath = dirs.global() / ("pendock-sem-" + id);
    fs::create_symlink(secret, lockPath);
    ASSERT_EQ(::lchown(lockPath.c_str(), user->uid, user->gid), 0);

    // The copy runs under the user's own name; a second one is kept out there.
    auto mine = first(id, helper.string());
    EXPECT_EQ(mine->readLine(), "held " + id);
    auto second = first(id, helper.string());
    EXPECT_EQ(second->readLine(), "refused 123 " + id);
    EXPECT_EQ(second->wait(), 0);
    std::ifstream in(secret);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "root only");
    struct stat st {};
    ASSERT_EQ(::stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_TRUE(fs::is_symlink(lockPath));
}

TEST_F(OtherUsers, FileOfAnotherUserThatMayNotBeOpenedIsNoLockFile) {
    const std::string id = uniqueName("{private}");
    const fs::path lockPath = dirs.global() / ("pendock-sem-" + id);
    { std::ofstream(lockPath) << "not yours"; }
    ::chmod(lockPath.c_str(), 0600);
    const fs::path theirDir = dirs.root() / "their-runtime";
    fs::create_directory(theirDir);
    ::chmod(theirDir.c_str(), 0700);
    ASSERT_EQ(::chown(theirDir.c_str(), user->uid, user->gid), 0);
    ::setenv("PENDOCK_LOCK_DIR_USER", theirDir.c_str(), 1);

    auto theirs = firstAsOther(id);
    EXPECT_EQ(theirs->readLine(), "held " + id);
    EXPECT_EQ(TempLockDirs::list(theirDir), std::vector<std::string>{"pendock-sem-" + id});
}

TEST_F(OtherUsers, MachineWideDirectoryClosedToTheUserFallsBackToTheBareName) {
    const std::string id = uniqueName("{closed}");
    const fs::path closed = dirs.root() / "closed";
    fs::create_directory(closed);
    ::chmod(closed.c_str(), 0755); // root's alone to write
    const fs::path theirDir = dirs.root() / "their-runtime";
    fs::create_directory(theirDir);
    ::chmod(theirDir.c_str(), 0700);
    ASSERT_EQ(::chown(theirDir.c_str(), user->uid, user->gid), 0);
    ::setenv("PENDOCK_LOCK_DIR_GLOBAL", closed.c_str(), 1);
    ::setenv("PENDOCK_LOCK_DIR_USER", theirDir.c_str(), 1);

    auto theirs = firstAsOther(id);
    EXPECT_EQ(theirs->readLine(), "held " + id);
    EXPECT_TRUE(TempLockDirs::list(closed).empty());
    EXPECT_EQ(TempLockDirs::list(theirDir), std::vector<std::string>{"pendock-sem-" + id});
    auto second = firstAsOther(id);
    EXPECT_EQ(second->readLine(), "refused 123 " + id);

    // Once the machine-wide file exists, a user who may not create files there opens it.
    auto mine = first(id, helper.string());
    ASSERT_EQ(verdict(*mine), "held");
    auto third = firstAsOther(id);
    EXPECT_EQ(third->readLine(), "refused 0 Global\\" + id);
}

} // namespace
