// Key detection and the hand-over to the web shop, through the wizard's handlers against a
// fake window: the drive snapshot, the one scan per burst of notices, the error dialog for a
// drive that cannot be identified, the found key, the waiting page, the address given to the
// shell and the end of the program.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>

#include "FormPendock.h"
#include "mod_WebShop.h"
#include "platform/folder_walk.h"
#include "support/FakeWizardView.h"
#include "support/IdlePlatform.h"
#include "support/LocaleFixture.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

const std::string ShopPrefix =
    "http://" PENDOCK_SHOP_HOST "/custom-backend?q=ecommerce---usbupgrade---vendor___";

class TTestForm : public TPendockForm {
public:
    using TPendockForm::TPendockForm;
};

// The fake window, also counting timer starts and running a hook while a dialog is open (the
// dialog's own message loop delivers notices and ticks to the window).
class TDetectView : public TFakeWizardView {
public:
    void StartTimer(ETimer t) override {
        ++Starts[t];
        TFakeWizardView::StartTimer(t);
    }
    EDialogButton ShowDialog(EDialogKind kind, const std::string& text,
                             const TDialogCaptions& captions) override {
        DialogOpen = true;
        if (WhileDialogOpen)
            WhileDialogOpen();
        DialogOpen = false;
        return TFakeWizardView::ShowDialog(kind, text, captions);
    }
    std::map<ETimer, int> Starts;
    std::function<void()> WhileDialogOpen;
    bool DialogOpen = false;
};

struct TIdentity {
    std::string VID, PID, SN;
};

class KeyDetection : public ::testing::Test {
protected:
    void SetUp() override {
        Locale.WriteLocaleXml("it-IT");
        Locale.WriteLocaleDb(WizardRows());
        Identities['E'] = {"ACME", "FLASH_DRIVE", "0123456789AB"};
        Identities['F'] = {"OTHER", "STICK", "F00"};

        TPendockPlatform p = IdlePlatform();
        p.ProgramFolder = [this] { return Locale.Folder(); };
        p.ConnectedDrives = [this] {
            ++Snapshots;
            SnapshotDuringDialog = SnapshotDuringDialog || View.DialogOpen;
            return Present;
        };
        p.DriveUsbInfo = [this](const std::string& Drive, std::string& VID, std::string& PID,
                                std::string& SN) {
            Identified.push_back(Drive);
            DriveDuringScan = Form->Drive();
            const auto it = Drive.size() == 1 ? Identities.find(Drive[0]) : Identities.end();
            if (it == Identities.end())
                return false;
            VID = it->second.VID;
            PID = it->second.PID;
            SN = it->second.SN;
            return true;
        };
        p.DriveFolder = [this](char Letter) {
            const auto it = Roots.find(Letter);
            return it == Roots.end() ? std::string() : it->second;
        };
        p.ShellOpen = [this](const std::string& Url) {
            Opened.push_back(Url);
            return true;
        };
        p.SearchPackageId = [this](const std::string& Folder, std::string& Id,
                                   const TProcessMessages& ProcessMessages,
                                   const TSearchStopped& Stopped) {
            return Search(Folder, Id, ProcessMessages, Stopped);
        };
        Form = std::make_unique<TTestForm>(View, p);
        ASSERT_TRUE(Form->Dispatch([&] { Form->FormCreate(); }));
        ASSERT_TRUE(View.Exceptions.empty());
    }

    void TearDown() override {
        if (!KeyRoot.empty()) {
            std::error_code ec;
            fs::remove_all(KeyRoot, ec);
        }
    }

    // What the window does for one mount-table change notice.
    void Notice() {
        Form->Dispatch([&] { Form->WMDeviceChange(); });
    }
    // TimerCheck firing, if it runs.
    void CheckFires() {
        if (View.IsRunning(ETimer::TimerCheck))
            Form->Dispatch([&] { Form->TimerCheckTimer(); });
    }
    // The drives change, the notice arrives and the scan a second later runs.
    void Change(TDriveConn now) {
        Present = now;
        Notice();
        CheckFires();
    }

    // A key's root folder on disk, for the package search.
    fs::path MakeKeyRoot() {
        KeyFolder = std::make_unique<TTempDir>("pendock-key");
        KeyRoot = KeyFolder->Path();
        return KeyRoot;
    }

    static void WriteFile(const fs::path& p, const std::string& bytes) {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
    }

    void FindKeyE() {
        Present = DrivesOf({'C'});
        Form->ButtonNextClick();
        Change(DrivesOf({'C', 'E'}));
        ASSERT_EQ(Form->Drive(), 'E');
        ASSERT_TRUE(View.IsRunning(ETimer::TimerCont)) << "found";
    }

    TLocaleFolder Locale;
    TDetectView View;
    std::unique_ptr<TTestForm> Form;
    TDriveConn Present = DrivesOf({'C'});
    std::map<char, TIdentity> Identities;
    std::map<char, std::string> Roots;
    std::vector<std::string> Identified;
    std::vector<std::string> Opened;
    int Snapshots = 0;
    bool SnapshotDuringDialog = false;
    // The drive the form names while the platform identifies one.
    char DriveDuringScan = 0;
    // The package search the form is given.
    std::function<bool(const std::string&, std::string&, const TProcessMessages&,
                       const TSearchStopped&)>
        Search = FindPackageId;
    std::unique_ptr<TTempDir> KeyFolder;
    fs::path KeyRoot;
};

TEST_F(KeyDetection, APluggedKeyIsIdentifiedAndShownAsFound) {
    Form->ButtonNextClick();
    Present = DrivesOf({'C', 'E'});
    Notice();
    EXPECT_TRUE(View.IsRunning(ETimer::TimerCheck));
    EXPECT_TRUE(Identified.empty()) << "nothing is scanned before TimerCheck fires";
    CheckFires();

    EXPECT_FALSE(View.IsRunning(ETimer::TimerCheck)) << "TimerCheck fires once per start";
    EXPECT_EQ(Identified, (std::vector<std::string>{"E"}));
    EXPECT_EQ(DriveDuringScan, 'E');
    EXPECT_EQ(Form->Drive(), 'E');
    EXPECT_EQ(Form->UsbVID(), "ACME");
    EXPECT_EQ(Form->UsbPID(), "FLASH_DRIVE");
    EXPECT_EQ(Form->UsbSN(), "0123456789AB");
    EXPECT_EQ(View.ImageOf(EControl::Image), EImage::Inserted);
    EXPECT_EQ(View.TextOf(EControl::MessageDetectKey), "Chiave trovata");
    EXPECT_FALSE(View.Enabled[EControl::ButtonCancel]);
    EXPECT_TRUE(View.IsRunning(ETimer::TimerCont));
    EXPECT_EQ(View.Page, EPage::DetectKey);
    EXPECT_TRUE(View.Dialogs.empty());

    // Found is final: later notices start no scan.
    EXPECT_FALSE(Form->CheckDeviceChange());
    Change(DrivesOf({'C', 'E', 'F'}));
    EXPECT_EQ(View.Starts[ETimer::TimerCheck], 1);
    EXPECT_EQ(Identified.size(), 1u);
    EXPECT_EQ(Form->Drive(), 'E');
}

TEST_F(KeyDetection, AKeyPresentBeforeNextIsTakenOnlyOnceReplugged) {
    Present = DrivesOf({'C', 'E'});
    Form->ButtonNextClick();

    // Another device comes and goes: the letters do not change, the scan re-arms silently.
    Change(DrivesOf({'C', 'E'}));
    EXPECT_TRUE(Identified.empty());
    EXPECT_TRUE(Form->CheckDeviceChange());
    EXPECT_TRUE(View.Dialogs.empty());

    Change(DrivesOf({'C'})); // pulled out: the new snapshot lacks it
    EXPECT_TRUE(Identified.empty());
    EXPECT_EQ(Form->Drives(), DrivesOf({'C'}));
    EXPECT_TRUE(Form->CheckDeviceChange());

    Change(DrivesOf({'C', 'E'})); // plugged in again
    EXPECT_EQ(Identified, (std::vector<std::string>{"E"}));
    EXPECT_EQ(Form->Drive(), 'E');
    EXPECT_TRUE(View.IsRunning(ETimer::TimerCont));
}

TEST_F(KeyDetection, ADriveWithoutIdentityGivesTheErrorAndIsNotTriedAgainWhilePresent) {
    Identities.erase('D'); // D: a drive whose disk cannot be identified
    Form->ButtonNextClick();
    bool noticeTaken = true;
    View.WhileDialogOpen = [&] {
        // The dialog's loop delivers a notice and a timer tick: both must do nothing.
        Present = DrivesOf({'C', 'D', 'E'});
        Notice();
        noticeTaken = View.IsRunning(ETimer::TimerCheck) || Form->CheckDeviceChange();
        Form->TimerAnimTimer();
    };
    Change(DrivesOf({'C', 'D'}));

    ASSERT_EQ(View.Dialogs.size(), 1u);
    EXPECT_EQ(View.Dialogs[0].Kind, EDialogKind::Error);
    EXPECT_EQ(View.Dialogs[0].Text, "Errore di ägg ünd ça") << "passed through the substitution";
    EXPECT_EQ(View.Dialogs[0].Captions.Title, "Errore");
    EXPECT_FALSE(noticeTaken) << "detection stays disarmed while the dialog is open";
    EXPECT_EQ(Identified, (std::vector<std::string>{"D"}));
    EXPECT_EQ(Form->Drive(), 'D') << "the failed letter stays until the next candidate";
    EXPECT_EQ(Form->UsbVID(), "");
    EXPECT_EQ(Form->UsbPID(), "");
    EXPECT_EQ(Form->UsbSN(), "");
    EXPECT_TRUE(View.Enabled[EControl::ButtonCancel]);
    EXPECT_FALSE(View.IsRunning(ETimer::TimerCont));

    // The snapshot was taken after the dialog closed: it holds what came meanwhile (E too).
    EXPECT_FALSE(SnapshotDuringDialog);
    EXPECT_EQ(Form->Drives(), DrivesOf({'C', 'D', 'E'}));
    EXPECT_TRUE(Form->CheckDeviceChange());

    // Further changes leave D (still present) alone.
    Change(DrivesOf({'C', 'D', 'E'}));
    EXPECT_EQ(Identified.size(), 1u);
    EXPECT_EQ(View.Dialogs.size(), 1u);

    // Pulled out and plugged in again, it is tried again.
    View.WhileDialogOpen = nullptr;
    Change(DrivesOf({'C', 'E'}));
    Change(DrivesOf({'C', 'D', 'E'}));
    EXPECT_EQ(Identified, (std::vector<std::string>{"D", "D"}));
    EXPECT_EQ(View.Dialogs.size(), 2u);

    // The key then is found as usual.
    Change(DrivesOf({'C', 'D', 'E', 'F'}));
    EXPECT_EQ(Identified.back(), "F");
    EXPECT_EQ(Form->Drive(), 'F');
    EXPECT_EQ(Form->UsbVID(), "OTHER");
}

TEST_F(KeyDetection, OneIdentifiedTextIsEnough) {
    Identities['E'] = {"", "", "6&0A1B2C3D"};
    Form->ButtonNextClick();
    Change(DrivesOf({'C', 'E'}));
    EXPECT_TRUE(View.Dialogs.empty());
    EXPECT_EQ(Form->Drive(), 'E');
    EXPECT_TRUE(View.IsRunning(ETimer::TimerCont));
}

TEST_F(KeyDetection, TwoNewDrivesAtOnceOnlyTheLowestIsExamined) {
    Form->ButtonNextClick();
    Identities.erase('E'); // even when E fails, F is not tried in the same scan
    Change(DrivesOf({'C', 'E', 'F', 'Z'}));
    EXPECT_EQ(Identified, (std::vector<std::string>{"E"}));
    EXPECT_EQ(View.Dialogs.size(), 1u);
    // All three are in the new snapshot now.
    Change(DrivesOf({'C', 'E', 'F', 'Z'}));
    EXPECT_EQ(Identified.size(), 1u);

    Identities['E'] = {"ACME", "FLASH_DRIVE", "0123456789AB"};
    Change(DrivesOf({'C'}));
    Change(DrivesOf({'C', 'E', 'F'}));
    EXPECT_EQ(Identified, (std::vector<std::string>{"E", "E"}));
    EXPECT_EQ(Form->Drive(), 'E');
    EXPECT_EQ(Form->UsbVID(), "ACME");
}

TEST_F(KeyDetection, ABurstOfNoticesGivesOneScan) {
    Form->ButtonNextClick();
    Present = DrivesOf({'C', 'E'});
    for (int i = 0; i < 7; ++i)
        Notice();
    EXPECT_EQ(View.Starts[ETimer::TimerCheck], 1) << "later notices must not restart the delay";
    const int before = Snapshots;
    CheckFires();
    CheckFires();
    EXPECT_EQ(Identified.size(), 1u);
    EXPECT_EQ(Snapshots, before + 1) << "a found key takes no new snapshot";
}

TEST_F(KeyDetection, CancelWhileAScanIsPendingRunsNoScan) {
    Form->ButtonNextClick();
    Present = DrivesOf({'C', 'E'});
    Notice();
    ASSERT_TRUE(View.IsRunning(ETimer::TimerCheck));
    Form->ButtonCancelClick();
    EXPECT_FALSE(View.IsRunning(ETimer::TimerCheck));
    EXPECT_EQ(View.Page, EPage::Briefing);
    Notice();
    CheckFires();
    EXPECT_TRUE(Identified.empty());
    EXPECT_FALSE(View.IsRunning(ETimer::TimerCheck));

    // Next again: E is now part of the snapshot.
    Form->ButtonNextClick();
    Change(DrivesOf({'C', 'E'}));
    EXPECT_TRUE(Identified.empty());
    Change(DrivesOf({'C', 'E', 'G'}));
    EXPECT_EQ(Identified, (std::vector<std::string>{"G"}));
}

TEST_F(KeyDetection, TheWaitingPageOpensTheShopForTheKeyWithItsPackageId) {
    const fs::path root = MakeKeyRoot();
    // The search: the product folder's empty file is passed over, the subfolder's line wins,
    // its trailing blank and the characters that need encoding kept.
    WriteFile(root / "Quorvento" / "package.id", "");
    WriteFile(root / "Quorvento" / "Deep" / "More" / "PACKAGE.ID", "QV 7&x#1 \r\nsecond\r\n");
    WriteFile(root / "package.id", "not in the product folder\n");
    Roots['E'] = root.string();
    Identities['E'] = {"ACME", "FLASH_DRIVE", "01 23"};
    FindKeyE();

    ContFires(*Form, View);
    EXPECT_TRUE(View.Exceptions.empty());
    EXPECT_FALSE(View.IsRunning(ETimer::TimerCont));
    EXPECT_EQ(View.Page, EPage::WaitBrowser);
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], ShopPrefix + "ACME---serial___01%2023---type___FLASH_DRIVE"
                                      "---installed___QV%207%26x%231%20");
    EXPECT_TRUE(View.IsRunning(ETimer::TimerWait));
    EXPECT_GE(View.Processed, 1) << "messages are processed during the search";
    EXPECT_EQ(View.Terminated, 0);

    // Five seconds later the program ends, without the close question.
    Form->Dispatch([&] { Form->TimerWaitTimer(); });
    EXPECT_EQ(View.Terminated, 1);
    EXPECT_FALSE(View.IsRunning(ETimer::TimerWait));
    EXPECT_TRUE(View.Dialogs.empty());
    EXPECT_EQ(Opened.size(), 1u);
}

TEST_F(KeyDetection, WithoutAPackageIdTheShopIsOpenedWithAnEmptyValue) {
    const fs::path root = MakeKeyRoot();
    WriteFile(root / "Quorvento" / "readme.txt", "x\n");
    Roots['E'] = root.string();
    FindKeyE();
    ContFires(*Form, View);
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], ShopPrefix + "ACME---serial___0123456789AB---type___FLASH_DRIVE"
                                      "---installed___");
    EXPECT_TRUE(View.IsRunning(ETimer::TimerWait));

    // A key pulled out before the page opens: no folder to search, no page, the wizard waits.
    Opened.clear();
    Roots.clear();
    Form->Dispatch([&] { Form->ButtonUpgradeClick(); });
    EXPECT_TRUE(Opened.empty());
    EXPECT_EQ(View.Page, EPage::DetectKey);
    EXPECT_TRUE(Form->CheckDeviceChange());
}

TEST_F(KeyDetection, TheProductFolderIsFoundWhateverItsCase) {
    const fs::path root = MakeKeyRoot();
    WriteFile(root / "QUORVENTO" / "package.id", "LOWER\n");
    WriteFile(root / "QuorventoX" / "package.id", "NOT THIS\n");
    Roots['E'] = root.string();
    FindKeyE();
    ContFires(*Form, View);
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0].substr(Opened[0].size() - 20), "---installed___LOWER");

    // The exact spelling comes first where both are there (a case-sensitive file system).
    WriteFile(root / "Quorvento" / "package.id", "EXACT\n");
    if (fs::equivalent(root / "Quorvento", root / "QUORVENTO"))
        GTEST_SKIP() << "this file system ignores case";
    EXPECT_EQ(ProductFolderOf("E:", [&](char) { return root.string(); }),
              (root / "Quorvento").string());
}

TEST_F(KeyDetection, TheProductFolderOnAnotherPartitionOfTheKey) {
    // The product folder is on F: only. F: counts while it gives the key's identity, also when
    // it is mounted a few seconds after E: (the search waits a little for it); a third drive of
    // another disk is never searched.
    const fs::path root = MakeKeyRoot();
    fs::create_directories(root / "E");
    WriteFile(root / "F" / "Quorvento" / "package.id", "ON-F\n");
    WriteFile(root / "G" / "Quorvento" / "package.id", "ON-G\n");
    for (const char letter : {'E', 'F', 'G'})
        Roots[letter] = (root / std::string(1, letter)).string();
    Identities['G'] = {"OTHER", "STICK", "G00"};
    for (const char* mode : {"together", "another disk", "later"}) {
        SCOPED_TRACE(mode);
        const bool sameDisk = std::string(mode) != "another disk";
        Identities['F'] = sameDisk ? Identities['E'] : TIdentity{"OTHER", "STICK", "F00"};
        Opened.clear();
        Present = DrivesOf({'C'});
        Form->ButtonNextClick();
        if (std::string(mode) == "later") {
            Change(DrivesOf({'C', 'E', 'G'}));
            Form->Dispatch([&] { Form->TimerContTimer(); });
            EXPECT_TRUE(View.IsRunning(ETimer::TimerCont)) << "waits for the product folder";
            EXPECT_EQ(View.Page, EPage::DetectKey);
            Present = DrivesOf({'C', 'E', 'F', 'G'});
        } else {
            Change(DrivesOf({'C', 'E', 'F', 'G'}));
        }
        ASSERT_EQ(Form->Drive(), 'E');
        ContFires(*Form, View);
        ASSERT_EQ(Opened.size(), 1u);
        EXPECT_EQ(Opened[0].substr(Opened[0].find("---installed___")),
                  sameDisk ? "---installed___ON-F" : "---installed___");
    }
}

TEST_F(KeyDetection, AKeyThatCannotBeSearchedIsReportedAndWaitedForAgain) {
    // First a folder that cannot be listed (EIO), then a package.id that cannot be read on a
    // key that has meanwhile gone; each time no page, the message, and the wizard waits again.
    int searches = 0;
    Search = [&](const std::string& folder, std::string& id, const TProcessMessages&,
                 const TSearchStopped&) -> bool {
        switch (searches++) {
        case 0:
            throw EPackageSearchError(folder + "/sub", EIO);
        case 1:
            Roots.clear();
            throw EPackageIdReadError(folder + "/package.id", EIO);
        default:
            id = "THIRD";
            return true;
        }
    };
    for (int attempt = 0; attempt < 2; ++attempt) {
        Roots['E'] = "/nonexistent-key-root";
        if (attempt == 0) {
            FindKeyE();
        } else {
            Change(DrivesOf({'C'})); // pulled out and plugged in again
            Change(DrivesOf({'C', 'E'}));
            ASSERT_TRUE(View.IsRunning(ETimer::TimerCont));
        }
        EXPECT_TRUE(ContFires(*Form, View));
        EXPECT_TRUE(View.Exceptions.empty());
        EXPECT_TRUE(Opened.empty()) << "no address for a key whose search failed";
        ASSERT_EQ(View.Dialogs.size(), attempt + 1u);
        EXPECT_EQ(View.Dialogs.back().Kind, EDialogKind::Error);
        EXPECT_EQ(View.Dialogs.back().Text, "Chiave illeggibile per l'ägg ünd ça");
        EXPECT_FALSE(View.IsRunning(ETimer::TimerWait));
        EXPECT_EQ(View.Page, EPage::DetectKey);
        EXPECT_EQ(View.TextOf(EControl::MessageDetectKey), "Inserire la chiave");
        EXPECT_EQ(View.ImageOf(EControl::Image), EImage::Insert1);
        EXPECT_TRUE(View.Enabled[EControl::ButtonCancel]);
        EXPECT_EQ(Form->UsbVID(), "");
        EXPECT_TRUE(Form->CheckDeviceChange());
        EXPECT_EQ(Form->Drives(), DrivesOf({'C', 'E'})) << "a key still there is in the snapshot";
    }

    // The third time the page opens.
    Roots['E'] = "/nonexistent-key-root";
    Change(DrivesOf({'C'}));
    Change(DrivesOf({'C', 'E'}));
    ContFires(*Form, View);
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], ShopPrefix + "ACME---serial___0123456789AB---type___FLASH_DRIVE"
                                      "---installed___THIRD");
    EXPECT_TRUE(View.IsRunning(ETimer::TimerWait));
}

TEST_F(KeyDetection, AUsbDeviceNothingCouldOpenIsSaidAndTheKeyIsTakenAfterIt) {
    Form->ButtonNextClick();
    // A key plugged in while the dialog is open is looked at once the dialog is closed.
    View.WhileDialogOpen = [&] {
        Present = DrivesOf({'C', 'E'});
        Notice();
        EXPECT_FALSE(View.IsRunning(ETimer::TimerCheck)) << "no scan under the dialog";
    };
    Form->Dispatch([&] { Form->DeviceNotOpened(); });
    ASSERT_EQ(View.Dialogs.size(), 1u);
    EXPECT_EQ(View.Dialogs[0].Kind, EDialogKind::Error);
    EXPECT_EQ(View.Dialogs[0].Text, "Unità USB che non si apre");
    EXPECT_EQ(View.Page, EPage::DetectKey);
    View.WhileDialogOpen = nullptr;
    CheckFires();
    EXPECT_EQ(Form->Drive(), 'E');
    EXPECT_TRUE(View.IsRunning(ETimer::TimerCont)) << "found";

    // Once the key is found, a late notice says nothing.
    Form->Dispatch([&] { Form->DeviceNotOpened(); });
    EXPECT_EQ(View.Dialogs.size(), 1u);
}

#ifndef _WIN32
// Linux refuses the over-long name with ENAMETOOLONG; Windows takes such a path for one that is
// not there.
TEST_F(KeyDetection, AKeyRootThatCannotBeListedBeforeTheSearchIsReportedToo) {
    // The root cannot be opened for a reason other than "not there" (here its name is too long)
    // while the form looks for the product folder before searching: the same message.
    Roots['E'] = "/" + std::string(5000, 'k');
    FindKeyE();
    EXPECT_TRUE(ContFires(*Form, View));
    EXPECT_TRUE(View.Exceptions.empty());
    EXPECT_TRUE(Opened.empty());
    ASSERT_EQ(View.Dialogs.size(), 1u);
    EXPECT_EQ(View.Dialogs[0].Text, "Chiave illeggibile per l'ägg ünd ça");
    EXPECT_EQ(View.Page, EPage::DetectKey);
}
#endif

TEST_F(KeyDetection, TheProductFolderOfTheRootDriveHasOneSeparator) {
    std::vector<std::string> searched;
    Search = [&](const std::string& folder, std::string& id, const TProcessMessages&,
                 const TSearchStopped&) {
        searched.push_back(folder);
        id = "P";
        return true;
    };
    Roots['E'] = "/";
    FindKeyE();
    Form->Dispatch([&] { Form->ButtonUpgradeClick(); });
    EXPECT_EQ(searched, (std::vector<std::string>{"/Quorvento"}));
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0].substr(Opened[0].size() - 16), "---installed___P");
}

TEST_F(KeyDetection, AnUnreadablePackageIdShowsTheErrorAndKeepsTheWaitingPage) {
    Search = [](const std::string& folder, std::string&, const TProcessMessages&,
                const TSearchStopped&) -> bool {
        throw EPackageIdReadError(folder + "/package.id", EIO);
    };
    Roots['E'] = "/nonexistent-key-root";
    FindKeyE();
    EXPECT_FALSE(ContFires(*Form, View));
    ASSERT_EQ(View.Exceptions.size(), 1u);
    const std::string file =
        std::string("/nonexistent-key-root") + platform::PathSeparator + "Quorvento/package.id";
    EXPECT_NE(View.Exceptions[0].find(file), std::string::npos) << View.Exceptions[0];
    EXPECT_TRUE(Opened.empty()) << "the shell is not asked";
    EXPECT_EQ(View.Page, EPage::WaitBrowser);
    EXPECT_FALSE(View.IsRunning(ETimer::TimerWait));
    EXPECT_EQ(View.Terminated, 0);
}

} // namespace
