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
using guardtest::TempLockFolders;
using guardtest::UniqueName;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<Child> First(const std::string& id, const std::string& helper = GUARD_HELPER) {
    return std::make_unique<Child>(std::vector<std::string>{helper, "first", id});
}

std::unique_ptr<Child> Guard(const std::string& name, int max, unsigned timeout) {
    return std::make_unique<Child>(std::vector<std::string>{
        GUARD_HELPER, "guard", name, std::to_string(max), std::to_string(timeout)});
}

// The first word of the child's first line: "held", "refused" or "noguard".
std::string Verdict(Child& c) {
    const auto line = c.ReadLine();
    if (!line)
        return "(no answer)";
    return line->substr(0, line->find(' '));
}

class Processes : public ::testing::Test {
protected:
    TempLockFolders folders;
};

TEST_F(Processes, SecondCopyIsRefusedAtOnceAndTheSlotComesBack) {
    const std::string id = UniqueName("{id}");
    auto a = First(id);
    ASSERT_EQ(a->ReadLine(), "held Global\\" + id);
    auto b = First(id);
    EXPECT_EQ(b->ReadLine(), "refused 0 Global\\" + id);
    EXPECT_EQ(b->Wait(), 0); // ends by itself: no waiting with time-out 0

    a->CloseStdin();
    EXPECT_EQ(a->ReadLine(), "freed 0");
    EXPECT_EQ(a->Wait(), 0);

    auto c = First(id);
    EXPECT_EQ(Verdict(*c), "held");
}

TEST_F(Processes, KilledHolderDoesNotBlockTheNextStart) {
    const std::string id = UniqueName("{kill}");
    for (int round = 0; round < 3; ++round) {
        auto a = First(id);
        ASSERT_EQ(Verdict(*a), "held") << round;
        auto refused = First(id);
        EXPECT_EQ(Verdict(*refused), "refused");
        a->Kill(SIGKILL);
        EXPECT_EQ(a->Wait(), -SIGKILL);
    }
    auto b = First(id);
    EXPECT_EQ(Verdict(*b), "held");
    EXPECT_EQ(TempLockFolders::List(folders.Global()).size(), 1u);
}

TEST_F(Processes, OfThirtyTwoStartedTogetherExactlyOneHolds) {
    const std::string id = UniqueName("{race}");
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 32; ++i)
        children.push_back(First(id));
    int held = 0, refused = 0;
    for (auto& c : children) {
        const std::string v = Verdict(*c);
        held += v == "held";
        refused += v == "refused";
    }
    EXPECT_EQ(held, 1);
    EXPECT_EQ(refused, 31);
    for (auto& c : children) {
        c->CloseStdin();
        EXPECT_EQ(c->Wait(), 0);
    }
}

TEST_F(Processes, WithThreeInstancesThreeOfTenHold) {
    const std::string name = UniqueName("three");
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 10; ++i)
        children.push_back(Guard(name, 3, 0));
    int held = 0, refused = 0;
    for (auto& c : children) {
        const std::string v = Verdict(*c);
        held += v == "held";
        refused += v == "refused";
    }
    EXPECT_EQ(held, 3);
    EXPECT_EQ(refused, 7);
}

TEST_F(Processes, TimeOutWaitsForAUnitAnotherProcessFrees) {
    const std::string name = UniqueName("wait");
    auto a = Guard(name, 1, 0);
    ASSERT_EQ(Verdict(*a), "held");
    auto b = Guard(name, 1, 60000);
    // Still waiting while the unit is taken.
    EXPECT_EQ(b->ReadLine(300), std::nullopt);
    a->CloseStdin();
    EXPECT_EQ(b->ReadLine(), "held Global\\" + name);
    EXPECT_EQ(a->Wait(), 0);

    // And a wait that runs out refuses.
    auto c = Guard(name, 1, 50);
    EXPECT_EQ(c->ReadLine(), "refused 0 Global\\" + name);
}

TEST_F(Processes, ProgramsStartedByTheHolderDoNotKeepItsUnit) {
    const std::string id = UniqueName("{spawn}");
    Child a({GUARD_HELPER, "spawner", id});
    const auto line = a.ReadLine();
    ASSERT_TRUE(line && line->rfind("held ", 0) == 0) << line.value_or("(no answer)");
    const pid_t sleeper = std::stoi(line->substr(5));
    a.Kill(SIGKILL);
    a.Wait();
    // The started program still runs, but the unit went with the holder.
    EXPECT_EQ(::kill(sleeper, 0), 0);
    auto b = First(id);
    EXPECT_EQ(Verdict(*b), "held");
    ::kill(sleeper, SIGKILL);
}

TEST_F(Processes, EmptyIdentifierMakesNoGuard) {
    auto a = First("");
    EXPECT_EQ(a->ReadLine(), "noguard");
    EXPECT_EQ(a->Wait(), 0);
    EXPECT_TRUE(TempLockFolders::List(folders.User()).empty());
}

TEST_F(Processes, BareNameIsSharedWhenTheMachineWideDirectoryIsMissing) {
    const std::string id = UniqueName("{bare}");
    TempLockFolders::Set("PENDOCK_LOCK_DIR_GLOBAL", folders.Root() / "absent");
    auto a = First(id);
    EXPECT_EQ(a->ReadLine(), "held " + id);
    auto b = First(id);
    // The refused machine-wide attempt stays recorded as the guard's error code.
    EXPECT_EQ(b->ReadLine(), "refused 123 " + id);
}

TEST_F(Processes, NeverTwoHoldersWhileCopiesComeAndGo) {
    const fs::path counter = folders.Root() / "counter";
    {
        std::ofstream out(counter, std::ios::binary);
        const int zero = 0;
        out.write(reinterpret_cast<const char*>(&zero), sizeof zero);
    }
    const std::string id = UniqueName("{churn}");
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 4; ++i)
        children.push_back(std::make_unique<Child>(
            std::vector<std::string>{GUARD_HELPER, "stress", id, "300", counter.string()}));
    int totalHolds = 0;
    for (auto& c : children) {
        const auto line = c->ReadLine(100000);
        ASSERT_TRUE(line.has_value());
        int violations = -1, holds = -1;
        ASSERT_EQ(std::sscanf(line->c_str(), "violations %d holds %d", &violations, &holds), 2);
        EXPECT_EQ(violations, 0);
        totalHolds += holds;
        EXPECT_EQ(c->Wait(), 0);
    }
    EXPECT_GT(totalHolds, 0);
    EXPECT_EQ(TempLockFolders::List(folders.Global()).size(), 1u);
}

// Root only: copies of other users.

struct OtherUser {
    uid_t uid;
    gid_t gid;
};

std::optional<OtherUser> Nobody() {
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
        user = Nobody();
        if (!user)
            GTEST_SKIP() << "no user 'nobody' on this machine";
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "setpriv is not installed";
        // A copy of the helper that the other user can surely reach.
        helper = folders.Root() / "guard_helper";
        fs::copy_file(GUARD_HELPER, helper);
        ::chmod(helper.c_str(), 0755);
    }

    std::unique_ptr<Child> FirstAsOther(const std::string& id) {
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
        const std::string id = UniqueName(rootFirst ? "{root-first}" : "{other-first}");
        const fs::path file = folders.Global() / ("pendock-sem-" + id);
        const mode_t old = ::umask(077);
        auto holder = rootFirst ? First(id, helper.string()) : FirstAsOther(id);
        ::umask(old);
        ASSERT_EQ(Verdict(*holder), "held");
        struct stat st {};
        ASSERT_EQ(::lstat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, rootFirst ? 0u : user->uid);
        EXPECT_EQ(st.st_mode & 07777, 0666u);
        // The other one opens the file of another user in the sticky directory.
        auto refused = rootFirst ? FirstAsOther(id) : First(id, helper.string());
        EXPECT_EQ(refused->ReadLine(), "refused 0 Global\\" + id);
        EXPECT_EQ(refused->Wait(), 0);
        holder->CloseStdin();
        EXPECT_EQ(holder->ReadLine(), "freed 0");
        EXPECT_EQ(holder->Wait(), 0);
        auto next = rootFirst ? FirstAsOther(id) : First(id, helper.string());
        EXPECT_EQ(next->ReadLine(), "held Global\\" + id);
    }
}

TEST_F(OtherUsers, LinkPlantedByAnotherUserIsNotFollowed) {
    const std::string id = UniqueName("{planted}");
    const fs::path secret = folders.Root() / "secret";
    { std::ofstream(secret) << "root only"; }
    ::chmod(secret.c_str(), 0600);
    const fs::path lockPath = folders.Global() / ("pendock-sem-" + id);
    fs::create_symlink(secret, lockPath);
    ASSERT_EQ(::lchown(lockPath.c_str(), user->uid, user->gid), 0);

    // The copy runs under the user's own name; a second one is kept out there.
    auto mine = First(id, helper.string());
    EXPECT_EQ(mine->ReadLine(), "held " + id);
    auto second = First(id, helper.string());
    EXPECT_EQ(second->ReadLine(), "refused 123 " + id);
    EXPECT_EQ(second->Wait(), 0);
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
    const std::string id = UniqueName("{private}");
    const fs::path lockPath = folders.Global() / ("pendock-sem-" + id);
    { std::ofstream(lockPath) << "not yours"; }
    ::chmod(lockPath.c_str(), 0600);
    const fs::path theirFolder = folders.Root() / "their-runtime";
    fs::create_directory(theirFolder);
    ::chmod(theirFolder.c_str(), 0700);
    ASSERT_EQ(::chown(theirFolder.c_str(), user->uid, user->gid), 0);
    TempLockFolders::Set("PENDOCK_LOCK_DIR_USER", theirFolder);

    auto theirs = FirstAsOther(id);
    EXPECT_EQ(theirs->ReadLine(), "held " + id);
    EXPECT_EQ(TempLockFolders::List(theirFolder), std::vector<std::string>{"pendock-sem-" + id});
}

TEST_F(OtherUsers, MachineWideDirectoryClosedToTheUserFallsBackToTheBareName) {
    const std::string id = UniqueName("{closed}");
    const fs::path closed = folders.Root() / "closed";
    fs::create_directory(closed);
    ::chmod(closed.c_str(), 0755); // root's alone to write
    const fs::path theirFolder = folders.Root() / "their-runtime";
    fs::create_directory(theirFolder);
    ::chmod(theirFolder.c_str(), 0700);
    ASSERT_EQ(::chown(theirFolder.c_str(), user->uid, user->gid), 0);
    TempLockFolders::Set("PENDOCK_LOCK_DIR_GLOBAL", closed);
    TempLockFolders::Set("PENDOCK_LOCK_DIR_USER", theirFolder);

    auto theirs = FirstAsOther(id);
    EXPECT_EQ(theirs->ReadLine(), "held " + id);
    EXPECT_TRUE(TempLockFolders::List(closed).empty());
    EXPECT_EQ(TempLockFolders::List(theirFolder), std::vector<std::string>{"pendock-sem-" + id});
    auto second = FirstAsOther(id);
    EXPECT_EQ(second->ReadLine(), "refused 123 " + id);

    // Once the machine-wide file exists, a user who may not create files there opens it.
    auto mine = First(id, helper.string());
    ASSERT_EQ(Verdict(*mine), "held");
    auto third = FirstAsOther(id);
    EXPECT_EQ(third->ReadLine(), "refused 0 Global\\" + id);
}

} // namespace
