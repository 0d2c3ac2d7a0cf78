// The guard's algorithms against the scripted semaphore calls.

#include <gtest/gtest.h>

#include <memory>

#include "MaxInstance.h"
#include "fake_semaphore.h"
#include "mod_FirstInstance.h"

using platform::DWORD;
using platform::SemHandle;
#if !defined(_WIN32) // macros of <windows.h> there
using platform::WAIT_FAILED;
using platform::WAIT_TIMEOUT;
#endif

namespace {

constexpr DWORD AccessDenied = 5;
constexpr DWORD InvalidHandle = 6;
constexpr DWORD InvalidName = 123;

class GuardLogic : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        SetApplicationTerminateHook([this] { ++terminations; });
    }
    void TearDown() override { SetApplicationTerminateHook(nullptr); }

    // A guard whose events count themselves and check that they come from it.
    std::unique_ptr<TMaxInstance> MakeGuard(const std::string& name) {
        auto g = std::make_unique<TMaxInstance>();
        g->SetSemName(name);
        TMaxInstance* raw = g.get();
        g->SetOnTooMany([this, raw](TMaxInstance* sender) {
            EXPECT_EQ(sender, raw);
            ++tooMany;
        });
        g->SetOnSemFailure([this, raw](TMaxInstance* sender) {
            EXPECT_EQ(sender, raw);
            ++failures;
            errorAtFailure.push_back(sender->GetErrorCode());
        });
        return g;
    }

    int terminations = 0;
    int tooMany = 0;
    int failures = 0;
    std::vector<DWORD> errorAtFailure;
};

TEST_F(GuardLogic, NewGuardHasTheDefaults) {
    TMaxInstance g;
    EXPECT_EQ(g.MaxInstances(), 1);
    EXPECT_TRUE(g.AutoKill());
    EXPECT_EQ(g.SemName(), "");
    EXPECT_EQ(g.TimeOut(), 250u);
    EXPECT_FALSE(g.OnTooMany());
    EXPECT_FALSE(g.OnSemFailure());
    EXPECT_EQ(g.GetSemHandle(), 0u);
    EXPECT_FALSE(g.IsSemHeld());
    EXPECT_EQ(g.GetErrorCode(), 0u);
}

TEST_F(GuardLogic, TakesAUnitOfTheMachineWideName) {
    auto g = MakeGuard("App");
    g->SetMaxInstances(3);
    g->SetTimeOut(77);
    g->GetSem();

    ASSERT_EQ(fake::Calls().size(), 2u);
    const fake::Call& create = fake::Calls()[0];
    EXPECT_EQ(create.fn, "create");
    EXPECT_EQ(create.name, "Global\\App");
    EXPECT_EQ(create.initialCount, 3u);
    EXPECT_EQ(create.maximumCount, 3u);
    const fake::Call& wait = fake::Calls()[1];
    EXPECT_EQ(wait.fn, "wait");
    EXPECT_EQ(wait.milliseconds, 77u);
    EXPECT_EQ(wait.handle, 42u);

    EXPECT_TRUE(g->IsSemHeld());
    EXPECT_EQ(g->GetSemHandle(), 42u);
    EXPECT_EQ(g->SemName(), "Global\\App");
    EXPECT_EQ(g->GetErrorCode(), 0u);
    EXPECT_EQ(tooMany + failures + terminations, 0);
}

TEST_F(GuardLogic, WithoutMachineWideNamespaceFallsBackToTheBareName) {
    fake::CurrentScript().create = [](const std::string& n) {
        return SemHandle(n == "App" ? 9 : 0);
    };
    fake::CurrentScript().createError = [](const std::string&) { return InvalidName; };
    auto g = MakeGuard("App");
    g->GetSem();

    ASSERT_EQ(fake::Count("create"), 2);
    EXPECT_EQ(fake::Calls()[0].name, "Global\\App");
    // The last error is cleared before the second attempt.
    EXPECT_EQ(fake::Calls()[1].fn, "setlasterror");
    EXPECT_EQ(fake::Calls()[1].code, 0u);
    EXPECT_EQ(fake::Calls()[2].fn, "create");
    EXPECT_EQ(fake::Calls()[2].name, "App");
    EXPECT_EQ(fake::Calls()[2].lastErrorBefore, 0u);

    EXPECT_TRUE(g->IsSemHeld());
    EXPECT_EQ(g->GetSemHandle(), 9u);
    EXPECT_EQ(g->SemName(), "App");
    // The code of the refused first attempt stays recorded.
    EXPECT_EQ(g->GetErrorCode(), InvalidName);
    EXPECT_EQ(failures, 0);
}

TEST_F(GuardLogic, NoHandleRaisesTheFailureTwiceAndKeepsTheWaitError) {
    fake::CurrentScript().create = [](const std::string&) { return SemHandle(0); };
    fake::CurrentScript().createError = [](const std::string&) { return AccessDenied; };
    auto g = MakeGuard("App");
    g->GetSem();

    // Another error than ERROR_INVALID_NAME: no second name is tried.
    EXPECT_EQ(fake::Count("create"), 1);
    EXPECT_EQ(g->SemName(), "Global\\App");
    EXPECT_EQ(fake::Count("wait"), 1);
    EXPECT_EQ(failures, 2);
    ASSERT_EQ(errorAtFailure.size(), 2u);
    EXPECT_EQ(errorAtFailure[0], AccessDenied);
    EXPECT_EQ(errorAtFailure[1], InvalidHandle);
    EXPECT_EQ(g->GetErrorCode(), InvalidHandle);
    EXPECT_EQ(terminations, 2);
    EXPECT_FALSE(g->IsSemHeld());
    EXPECT_EQ(g->GetSemHandle(), 0u);
}

TEST_F(GuardLogic, FailedFallBackLeavesTheBareName) {
    fake::CurrentScript().create = [](const std::string&) { return SemHandle(0); };
    fake::CurrentScript().createError = [](const std::string& n) {
        return n == "App" ? AccessDenied : InvalidName;
    };
    auto g = MakeGuard("App");
    g->SetAutoKill(false);
    g->GetSem();

    EXPECT_EQ(fake::Count("create"), 2);
    EXPECT_EQ(g->SemName(), "App");
    ASSERT_EQ(errorAtFailure.size(), 2u);
    EXPECT_EQ(errorAtFailure[0], AccessDenied);
    EXPECT_EQ(g->GetErrorCode(), InvalidHandle);
    EXPECT_EQ(terminations, 0);
}

TEST_F(GuardLogic, TimeOutRaisesTooManyAndAsksToEnd) {
    fake::CurrentScript().waitResult = WAIT_TIMEOUT;
    auto g = MakeGuard("App");
    g->GetSem();
    EXPECT_EQ(tooMany, 1);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(g->IsSemHeld());
    EXPECT_EQ(g->GetSemHandle(), 42u);
    EXPECT_EQ(g->GetErrorCode(), 0u);

    fake::Reset();
    fake::CurrentScript().waitResult = WAIT_TIMEOUT;
    auto quiet = MakeGuard("App");
    quiet->SetAutoKill(false);
    quiet->GetSem();
    EXPECT_EQ(tooMany, 2);
    EXPECT_EQ(terminations, 1);

    // With no hook set, asking to end does nothing.
    SetApplicationTerminateHook(nullptr);
    auto unhooked = MakeGuard("App");
    unhooked->GetSem();
    EXPECT_EQ(tooMany, 3);
    EXPECT_EQ(terminations, 1);
}

TEST_F(GuardLogic, FailedWaitRecordsItsError) {
    fake::CurrentScript().waitResult = WAIT_FAILED;
    fake::CurrentScript().waitError = 1234;
    auto g = MakeGuard("App");
    g->GetSem();
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(tooMany, 0);
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(g->GetErrorCode(), 1234u);
    EXPECT_FALSE(g->IsSemHeld());
}

TEST_F(GuardLogic, OtherWaitResultsDoNothing) {
    fake::CurrentScript().waitResult = 0x80; // abandoned
    auto g = MakeGuard("App");
    g->GetSem();
    EXPECT_FALSE(g->IsSemHeld());
    EXPECT_EQ(tooMany + failures + terminations, 0);
    EXPECT_EQ(g->GetErrorCode(), 0u);
}

TEST_F(GuardLogic, FreeSemThenDestroyGivesBackOnceAndClosesOnce) {
    auto g = MakeGuard("App");
    g->GetSem();
    g->FreeSem();
    EXPECT_FALSE(g->IsSemHeld());
    EXPECT_EQ(g->GetSemHandle(), 0u);
    EXPECT_EQ(g->GetErrorCode(), 0u);
    g.reset();

    ASSERT_EQ(fake::Count("release"), 1);
    ASSERT_EQ(fake::Count("close"), 1);
    const auto& c = fake::Calls();
    EXPECT_EQ(c[2].fn, "release");
    EXPECT_EQ(c[2].releaseCount, 1u);
    EXPECT_EQ(c[2].handle, 42u);
    EXPECT_EQ(c[3].fn, "close");
    EXPECT_EQ(c[3].handle, 42u);
}

TEST_F(GuardLogic, FailedReleaseKeepsTheUnitAndTheHandle) {
    auto g = MakeGuard("App");
    g->GetSem();
    fake::CurrentScript().releaseOk = false;
    fake::CurrentScript().releaseError = 298;
    g->FreeSem();
    EXPECT_EQ(g->GetErrorCode(), 298u);
    EXPECT_TRUE(g->IsSemHeld());
    EXPECT_EQ(g->GetSemHandle(), 42u);
    EXPECT_EQ(fake::Count("close"), 0);

    // Destroying tries both again and ignores their failure.
    g.reset();
    EXPECT_EQ(fake::Count("release"), 2);
    EXPECT_EQ(fake::Count("close"), 1);
}

TEST_F(GuardLogic, FailedCloseKeepsTheHandleValue) {
    auto g = MakeGuard("App");
    g->GetSem();
    fake::CurrentScript().closeOk = false;
    fake::CurrentScript().closeError = InvalidHandle;
    g->FreeSem();
    EXPECT_FALSE(g->IsSemHeld());
    EXPECT_EQ(g->GetSemHandle(), 42u);
    EXPECT_EQ(g->GetErrorCode(), InvalidHandle);
    g.reset();
    EXPECT_EQ(fake::Count("release"), 1);
    EXPECT_EQ(fake::Count("close"), 2);
}

TEST_F(GuardLogic, FreeSemAfterRefusalOnlyCloses) {
    fake::CurrentScript().waitResult = WAIT_TIMEOUT;
    auto g = MakeGuard("App");
    g->GetSem();
    g->FreeSem();
    EXPECT_EQ(fake::Count("release"), 0);
    EXPECT_EQ(fake::Count("close"), 1);
    EXPECT_EQ(g->GetSemHandle(), 0u);
}

TEST_F(GuardLogic, DestroyGivesBackWhatIsHeldAndClosesWhatIsOpen) {
    { TMaxInstance idle; }
    EXPECT_TRUE(fake::Calls().empty());

    {
        TMaxInstance g;
        g.GetSem();
    }
    EXPECT_EQ(fake::Count("release"), 1);
    EXPECT_EQ(fake::Count("close"), 1);

    fake::Reset();
    fake::CurrentScript().waitResult = WAIT_TIMEOUT;
    {
        TMaxInstance g;
        g.SetAutoKill(false);
        g.GetSem();
    }
    EXPECT_EQ(fake::Count("release"), 0);
    EXPECT_EQ(fake::Count("close"), 1);
}

TEST_F(GuardLogic, OwnerDestroysItsGuards) {
    auto owner = std::make_unique<TComponent>();
    auto* first = new TMaxInstance(owner.get());
    auto* second = new TMaxInstance(owner.get());
    EXPECT_EQ(first->Owner(), owner.get());
    first->GetSem();
    second->GetSem();
    delete second; // leaves its owner's list
    EXPECT_EQ(fake::Count("close"), 1);
    owner.reset();
    EXPECT_EQ(fake::Count("release"), 2);
    EXPECT_EQ(fake::Count("close"), 2);
}

TEST_F(GuardLogic, FirstInstanceUsesTheProgramSettings) {
    TMaxInstance* guard = nullptr;
    EXPECT_TRUE(FirstInstance("{ID}", guard));
    ASSERT_NE(guard, nullptr);
    EXPECT_FALSE(guard->AutoKill());
    EXPECT_EQ(guard->TimeOut(), 0u);
    EXPECT_EQ(guard->MaxInstances(), 1);
    EXPECT_EQ(guard->SemName(), "Global\\{ID}");
    EXPECT_EQ(fake::Calls()[1].milliseconds, 0u); // no waiting

    ReleaseFirstInstance(guard);
    EXPECT_EQ(fake::Count("release"), 1);
    EXPECT_EQ(fake::Count("close"), 1);
    FreeFirstInstance(guard);
    EXPECT_EQ(guard, nullptr);
    EXPECT_EQ(fake::Count("release"), 1);
    EXPECT_EQ(fake::Count("close"), 1);
    FreeFirstInstance(guard); // none: nothing happens
    EXPECT_EQ(fake::Calls().size(), 4u);
}

TEST_F(GuardLogic, FirstInstanceRefusedQuietly) {
    fake::CurrentScript().waitResult = WAIT_TIMEOUT;
    TMaxInstance* guard = nullptr;
    EXPECT_FALSE(FirstInstance("{ID}", guard));
    ASSERT_NE(guard, nullptr);
    EXPECT_EQ(terminations, 0);
    FreeFirstInstance(guard);
    EXPECT_EQ(fake::Count("close"), 1);
    EXPECT_EQ(fake::Count("release"), 0);
}

TEST_F(GuardLogic, FirstInstanceWithEmptyIdentifierMakesNoGuard) {
    TMaxInstance* guard = reinterpret_cast<TMaxInstance*>(0x1);
    EXPECT_FALSE(FirstInstance("", guard));
    EXPECT_EQ(guard, nullptr);
    EXPECT_TRUE(fake::Calls().empty());
    ReleaseFirstInstance(guard); // none: nothing happens
    EXPECT_TRUE(fake::Calls().empty());
}

} // namespace
