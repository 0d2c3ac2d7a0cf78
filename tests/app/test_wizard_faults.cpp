// The wizard when things go wrong around it, through its handlers against a fake window: the
// user leaves while the key's package is searched, the browser cannot be started, and
// device-change notices never come.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FormPendock.h"
#include "support/FakeWizardView.h"
#include "support/IdlePlatform.h"
#include "support/LocaleFixture.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// The fake window, running a hook while it processes messages (during the package search), as
// a click on the close box then would.
class TFaultView : public TFakeWizardView {
public:
    void ProcessMessages() override {
        TFakeWizardView::ProcessMessages();
        if (DuringMessages)
            DuringMessages();
    }
    std::function<void()> DuringMessages;
};

// A drive watch that could not be set up, recording when it is armed and disarmed.
class TUnwatchable : public platform::IDriveWatch {
public:
    explicit TUnwatchable(std::vector<bool>& armed) : FArmed(armed) {}
    EKind Kind() const override { return EKind::None; }
    int Fd() const override { return -1; }
    TNotice Acknowledge() override { return {}; }
    void SetArmed(bool armed) override { FArmed.push_back(armed); }

private:
    std::vector<bool>& FArmed;
};

class WizardFaults : public ::testing::Test {
protected:
    void SetUp() override {
        Locale.WriteLocaleXml("it-IT");
        auto rows = WizardRows();
        rows.push_back(
            {"ERR_CANNOTOPENBROWSER", "Restore", "it", nullptr, "Niente browser: %operation"});
        Locale.WriteLocaleDb(rows);
        TPendockPlatform& p = Platform;
        p.ProgramFolder = [this] { return Locale.Folder(); };
        p.ConnectedDrives = [this] { return Present; };
        p.DriveUsbInfo = [](const std::string& Drive, std::string& VID, std::string& PID,
                            std::string& SN) {
            if (Drive != "E")
                return false;
            VID = "ACME";
            PID = "STICK";
            SN = "0123";
            return true;
        };
        p.DriveFolder = [this](char Letter) {
            return Letter == 'E' ? Key.Path().string() : std::string();
        };
        p.ShellOpen = [this](const std::string& Url) {
            Opened.push_back(Url);
            return BrowserStarts;
        };
        Form = std::make_unique<TPendockForm>(View, p);
        ASSERT_TRUE(Form->Dispatch([&] { Form->FormCreate(); }));
    }

    // Next, the key plugged in, the scan a second later: E: is the key.
    void FindKey() {
        Form->ButtonNextClick();
        Present = DrivesOf({'C', 'E'});
        Form->WMDeviceChange();
        Form->TimerCheckTimer();
        ASSERT_EQ(Form->Drive(), 'E');
        ASSERT_TRUE(View.IsRunning(ETimer::TimerCont)) << "found";
    }

    TLocaleFolder Locale;
    TTempDir Key{"pendock-key"};
    TFaultView View;
    TPendockPlatform Platform = IdlePlatform();
    std::unique_ptr<TPendockForm> Form;
    TDriveConn Present = DrivesOf({'C'});
    bool BrowserStarts = true;
    std::vector<std::string> Opened;
};

TEST_F(WizardFaults, LeavingDuringThePackageSearchStopsItAndOpensNoPage) {
    // Twenty folders without the file: the search lists them all unless it is stopped.
    for (int i = 0; i < 20; ++i)
        fs::create_directories(Key.Path() / "Quorvento" / ("f" + std::to_string(i)));
    FindKey();

    // "Exit?" answered No while the search runs: it goes on, and the page opens.
    int asked = 0;
    bool canClose = true;
    View.DuringMessages = [&] {
        if (asked++ == 0)
            Form->FormCloseQuery(canClose);
    };
    Form->Dispatch([&] { Form->ButtonUpgradeClick(); });
    EXPECT_FALSE(canClose);
    EXPECT_GE(View.Processed, 1);
    EXPECT_EQ(Opened.size(), 1u);

    // Answered Yes: the search ends at once, no page opens, and no end timer is started.
    asked = 0;
    View.Processed = 0;
    View.Answers = {EDialogButton::Yes};
    EXPECT_TRUE(ContFires(*Form, View));
    EXPECT_TRUE(canClose);
    EXPECT_EQ(View.Processed, 1);
    EXPECT_EQ(Opened.size(), 1u) << "no second page";
    EXPECT_FALSE(View.IsRunning(ETimer::TimerWait));
    ASSERT_EQ(View.Dialogs.size(), 2u);
    EXPECT_EQ(View.Dialogs[1].Answer, EDialogButton::Yes);
    EXPECT_TRUE(View.Exceptions.empty());
}

TEST_F(WizardFaults, ABrowserThatCannotBeStartedIsReported) {
    BrowserStarts = false;
    FindKey();
    EXPECT_TRUE(ContFires(*Form, View));
    EXPECT_EQ(Opened.size(), 1u);
    ASSERT_EQ(View.Dialogs.size(), 1u);
    EXPECT_EQ(View.Dialogs[0].Kind, EDialogKind::Error);
    EXPECT_EQ(View.Dialogs[0].Text, "Niente browser: ägg ünd ça");
    EXPECT_EQ(View.Dialogs[0].Captions.Title, "Errore");
    // The program then ends as it does after the page has been opened.
    EXPECT_TRUE(View.IsRunning(ETimer::TimerWait));

    // A browser that starts: no dialog.
    BrowserStarts = true;
    Form->Dispatch([&] { Form->ButtonUpgradeClick(); });
    EXPECT_EQ(View.Dialogs.size(), 1u);
}

TEST_F(WizardFaults, WithoutNoticesTheDrivesAreLookedAtEverySecondWhileArmed) {
    std::vector<bool> armed;
    Platform.DriveWatch = [&] { return std::make_unique<TUnwatchable>(armed); };
    Form = std::make_unique<TPendockForm>(View, Platform);
    Form->FormCreate();
    Form->ButtonNextClick();
    for (int second = 0; second < 3; ++second) {
        ASSERT_TRUE(View.IsRunning(ETimer::TimerCheck)) << second;
        Form->TimerCheckTimer(); // nothing new
    }
    // Cancel disarms: no more looking.
    Form->ButtonCancelClick();
    EXPECT_FALSE(View.IsRunning(ETimer::TimerCheck));

    // A drive that cannot be identified: the error, then the looking goes on without it.
    Form->ButtonNextClick();
    Present = DrivesOf({'C', 'D'});
    Form->TimerCheckTimer();
    ASSERT_EQ(View.Dialogs.size(), 1u);
    EXPECT_TRUE(View.IsRunning(ETimer::TimerCheck));
    Present = DrivesOf({'C', 'D', 'E'});
    Form->TimerCheckTimer();
    EXPECT_EQ(Form->Drive(), 'E');
    EXPECT_FALSE(View.IsRunning(ETimer::TimerCheck));
    EXPECT_TRUE(View.IsRunning(ETimer::TimerCont));
    EXPECT_EQ(View.Dialogs.size(), 1u);
    // The watch is armed only while the key page is shown.
    EXPECT_EQ(armed, (std::vector<bool>{false, true, false, true}));
    ContFires(*Form, View);
    EXPECT_EQ(armed.back(), false);
}

} // namespace
