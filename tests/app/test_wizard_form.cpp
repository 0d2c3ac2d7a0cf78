// The wizard's handlers against a fake window: creation, texts, navigation, close query,
// dialogs, pictures, and the failures of the locale database.

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "FormPendock.h"
#include "mod_SQLocalize.h"
#include "platform/program_folder.h"
#include "platform/text_case.h"
#include "support/FakeWizardView.h"
#include "support/IdlePlatform.h"
#include "support/LocaleFixture.h"

namespace {

// Opens the protected operations for the tests.
class TTestForm : public TPendockForm {
public:
    using TPendockForm::ShowError;
    using TPendockForm::SubstOperation;
    using TPendockForm::TPendockForm;
};

class WizardForm : public ::testing::Test {
protected:
    void SetUp() override {
        Locale.WriteLocaleXml("it-IT");
        Locale.WriteLocaleDb(WizardRows());
    }

    // A form over View whose drive snapshot returns `NextDrives` and counts its calls.
    std::unique_ptr<TTestForm> MakeForm() {
        TPendockPlatform p = IdlePlatform();
        p.ProgramFolder = [this] { return Locale.Folder(); };
        p.ConnectedDrives = [this] {
            ++Snapshots;
            TextAtSnapshot = View.TextOf(EControl::MessageDetectKey);
            return NextDrives;
        };
        return std::make_unique<TTestForm>(View, p);
    }

    std::unique_ptr<TTestForm> Created() {
        auto form = MakeForm();
        EXPECT_TRUE(form->Dispatch([&] { form->FormCreate(); }));
        EXPECT_TRUE(View.Exceptions.empty());
        return form;
    }

    TLocaleFolder Locale;
    TFakeWizardView View;
    TDriveConn NextDrives = DrivesOf({'C', 'D'});
    int Snapshots = 0;
    std::string TextAtSnapshot;
};

TEST_F(WizardForm, CreationShowsTheFirstPageWithEveryTextFromTheDatabase) {
    auto form = Created();
    EXPECT_EQ(View.Page, EPage::Briefing);
    EXPECT_EQ(View.Caption, "Aggiornamento chiave");
    EXPECT_EQ(View.AppTitle, "Aggiornamento chiave");
    EXPECT_EQ(View.BorderIcons, biSystemMenu | biMinimize);
    EXPECT_EQ(View.TextOf(EControl::MessageBriefing), "Benvenuto");
    EXPECT_EQ(View.TextOf(EControl::BriefingText), "Per l'ägg ünd ça: Ägg Ünd ÇA e %Operation.");
    EXPECT_EQ(View.TextOf(EControl::ButtonNext), "&Avanti");
    EXPECT_EQ(View.TextOf(EControl::ButtonCancel), "&Annulla");
    EXPECT_EQ(View.TextOf(EControl::MessageWaitBrowser), "Apertura pagina di Ägg Ünd ÇA");
    // Not passed through the substitution; the line break marker becomes CR LF.
    EXPECT_EQ(View.TextOf(EControl::WaitBrowserText), "Testo %Operation attesa\r\nseconda riga");
    // The heading of the key page is set only once the wizard gets there.
    EXPECT_EQ(View.TextOf(EControl::MessageDetectKey), "<unset>");
    EXPECT_EQ(View.ImageOf(EControl::BriefingImage), EImage::Extract1);
    EXPECT_EQ(View.ImageOf(EControl::Image), EImage::Insert1);

    EXPECT_FALSE(form->CheckDeviceChange());
    EXPECT_EQ(form->Drive(), '\0');
    EXPECT_EQ(form->UsbVID(), "");
    EXPECT_EQ(form->UsbPID(), "");
    EXPECT_EQ(form->UsbSN(), "");
    EXPECT_EQ(form->Drives(), TDriveConn{});
    EXPECT_EQ(Snapshots, 0);
    EXPECT_TRUE(View.IsRunning(ETimer::TimerAnim));
    EXPECT_FALSE(View.IsRunning(ETimer::TimerCheck));
    EXPECT_FALSE(View.IsRunning(ETimer::TimerCont));
    EXPECT_FALSE(View.IsRunning(ETimer::TimerWait));
}

TEST_F(WizardForm, CreationSizesTheWindowAndPushesTheTabsPastTheRightEdge) {
    auto form = Created();
    EXPECT_EQ(View.Width, 500);
    EXPECT_EQ(View.Height, 350);
    ASSERT_EQ(View.Bounds.count(EControl::Wizard), 1u);
    EXPECT_EQ(View.Bounds[EControl::Wizard], (TBounds{-1, -1, 520, 354}));
}

TEST_F(WizardForm, DialogStoreHoldsExactlyTheSkinGroup) {
    auto form = Created();
    EXPECT_EQ(form->StrData().Lines.size(), 5u);
    EXPECT_EQ(form->StrData().Value("MSG_BTN_YES"), "&Sì");
    EXPECT_EQ(form->StrData().Value("MSG_CAP_ERROR"), "Errore");
}

TEST_F(WizardForm, SubstOperationReplacesOnlyTheFirstOccurrenceOfEachPlaceholder) {
    auto form = Created();
    EXPECT_EQ(form->SubstOperation("%Operation, %Operation"), "Ägg Ünd ÇA, %Operation");
    EXPECT_EQ(form->SubstOperation("%operation %operation"), "ägg ünd ça %operation");
    // The match is case-sensitive.
    EXPECT_EQ(form->SubstOperation("%OPERATION %OPeration"), "%OPERATION %OPeration");
    EXPECT_EQ(form->SubstOperation("none"), "none");
    EXPECT_EQ(form->SubstOperation(""), "");
}

TEST_F(WizardForm, NextTakesTheSnapshotArmsDetectionAndShowsTheKeyPage) {
    auto form = Created();
    form->ButtonNextClick();
    EXPECT_EQ(View.Page, EPage::DetectKey);
    EXPECT_TRUE(View.Enabled[EControl::ButtonCancel]);
    EXPECT_EQ(Snapshots, 1);
    EXPECT_EQ(TextAtSnapshot, "Attendere") << "the snapshot is taken under PLEASE_WAIT";
    EXPECT_EQ(View.TextHistory[EControl::MessageDetectKey],
              (std::vector<std::string>{"Attendere", "Inserire la chiave"}));
    EXPECT_EQ(form->Drives(), DrivesOf({'C', 'D'}));
    EXPECT_EQ(View.ImageOf(EControl::Image), EImage::Insert1);
    EXPECT_TRUE(form->CheckDeviceChange());
    EXPECT_EQ(View.Processed, 0) << "no messages between PLEASE_WAIT and MESSAGE_NOKEY";
}

TEST_F(WizardForm, CancelDisarmsAndNextAgainTakesAFreshSnapshot) {
    auto form = Created();
    form->ButtonNextClick();
    form->WMDeviceChange(); // a notice: a scan pending, detection disarmed
    form->ButtonCancelClick();
    EXPECT_EQ(View.Page, EPage::Briefing);
    EXPECT_FALSE(form->CheckDeviceChange());
    EXPECT_FALSE(View.IsRunning(ETimer::TimerCheck));
    EXPECT_TRUE(View.IsRunning(ETimer::TimerAnim));

    // While on the first page, the key page's picture moved on and the drives changed.
    View.SetImage(EControl::Image, EImage::Inserted);
    View.SetText(EControl::MessageDetectKey, "stale");
    NextDrives = DrivesOf({'C', 'E', 'Z'});
    form->ButtonNextClick();
    EXPECT_EQ(Snapshots, 2);
    EXPECT_EQ(form->Drives(), DrivesOf({'C', 'E', 'Z'}));
    EXPECT_EQ(View.ImageOf(EControl::Image), EImage::Insert1);
    EXPECT_EQ(View.TextOf(EControl::MessageDetectKey), "Inserire la chiave");
    EXPECT_TRUE(form->CheckDeviceChange());
}

TEST_F(WizardForm, CloseAsksOnEveryPageAndNoKeepsEverything) {
    auto form = Created();
    for (EPage page : {EPage::Briefing, EPage::DetectKey, EPage::WaitBrowser}) {
        // Armed on the key page only, as the handlers leave it.
        if (page == EPage::DetectKey)
            form->ButtonNextClick();
        else
            form->ButtonCancelClick();
        View.ShowPage(page);
        View.StartTimer(ETimer::TimerCont);
        const auto running = View.Running;
        const int shows = View.PageShows;

        View.Dialogs.clear();
        View.Answers = {EDialogButton::No};
        bool canClose = true;
        form->FormCloseQuery(canClose);
        EXPECT_FALSE(canClose);
        ASSERT_EQ(View.Dialogs.size(), 1u);
        const TShownDialog& d = View.Dialogs[0];
        EXPECT_EQ(d.Kind, EDialogKind::Confirmation);
        EXPECT_EQ(d.Text, "Uscire dall'%Operation?") << "shown without the substitution";
        EXPECT_EQ(d.Captions.Title, "Conferma");
        EXPECT_EQ(d.Captions.Yes, "&Sì");
        EXPECT_EQ(d.Captions.No, "&No");
        EXPECT_EQ(View.Page, page);
        EXPECT_EQ(View.PageShows, shows);
        EXPECT_EQ(View.Running, running);
        EXPECT_EQ(form->CheckDeviceChange(), page == EPage::DetectKey);

        View.Answers = {EDialogButton::Yes};
        canClose = false;
        form->FormCloseQuery(canClose);
        EXPECT_TRUE(canClose);
        View.StopTimer(ETimer::TimerCont);
    }
    EXPECT_EQ(View.Terminated, 0);
}

TEST_F(WizardForm, ShowErrorSubstitutesAndUsesTheErrorCaptions) {
    auto form = Created();
    form->ShowError("ERR_CANNOTREADUSBINFO");
    ASSERT_EQ(View.Dialogs.size(), 1u);
    EXPECT_EQ(View.Dialogs[0].Kind, EDialogKind::Error);
    EXPECT_EQ(View.Dialogs[0].Text, "Errore di ägg ünd ça");
    EXPECT_EQ(View.Dialogs[0].Captions.Title, "Errore");
    EXPECT_EQ(View.Dialogs[0].Captions.OK, "Va bene");
    // A key missing everywhere is shown as the not-found text.
    form->ShowError("NO_SUCH_KEY");
    ASSERT_EQ(View.Dialogs.size(), 2u);
    EXPECT_EQ(View.Dialogs[1].Text, "it/IT:Restore/NO_SUCH_KEY=#NOT_FOUND#");
}

TEST_F(WizardForm, WithoutTheSkinGroupDialogsHaveEmptyTitlesAndButtons) {
    Locale.WriteLocaleDb(WizardRows(false));
    auto form = Created();
    EXPECT_TRUE(form->StrData().Lines.empty()) << "the store's first content is replaced";
    View.Answers = {EDialogButton::No};
    bool canClose = true;
    form->FormCloseQuery(canClose);
    form->ShowError("MESSAGE_NOKEY");
    ASSERT_EQ(View.Dialogs.size(), 2u);
    for (const TShownDialog& d : View.Dialogs) {
        EXPECT_EQ(d.Captions.Title, "");
        EXPECT_EQ(d.Captions.Yes, "");
        EXPECT_EQ(d.Captions.No, "");
        EXPECT_EQ(d.Captions.OK, "");
    }
}

TEST_F(WizardForm, ADatabaseWithoutTheTableShowsTheErrorAndLeavesTheRestUndone) {
    Locale.WriteLocaleDb({}, false);
    auto form = MakeForm();
    EXPECT_FALSE(form->Dispatch([&] { form->FormCreate(); }));
    ASSERT_EQ(View.Exceptions.size(), 1u);
    // The box shows the database's own message, unchanged.
    std::string raised;
    try {
        TSQLocale direct;
        direct.InitLocalize(Locale.Folder() + "locale.db", Locale.Folder() + "locale.xml");
        TStrData store;
        direct.LoadLocalizedStrings(&store, "", "", "Skin");
    } catch (const std::exception& e) {
        raised = e.what();
    }
    EXPECT_EQ(View.Exceptions[0], raised);
    EXPECT_EQ(raised.rfind("Error executing SQL.\rError [1]: SQL logic error.\r\"", 0), 0u)
        << raised;
    EXPECT_NE(raised.find("\": no such table: LOCALIZE"), std::string::npos) << raised;
    // Caption buttons were set before the failing step; nothing after it happened.
    EXPECT_EQ(View.BorderIcons, biSystemMenu | biMinimize);
    EXPECT_EQ(View.Caption, "Pendock Utility");
    EXPECT_EQ(View.Width, 547);
    EXPECT_EQ(View.Height, 474);
    EXPECT_TRUE(View.Bounds.empty());
    EXPECT_TRUE(View.Texts.empty());
    EXPECT_FALSE(View.Page.has_value());
    EXPECT_TRUE(form->StrData().Lines.empty()) << "the store is cleared before the query fails";
    EXPECT_TRUE(View.IsRunning(ETimer::TimerAnim));
}

TEST_F(WizardForm, ABrokenDatabaseStillLetsTheWindowClose) {
    Locale.WriteLocaleDb({}, false);
    auto form = MakeForm();
    form->Dispatch([&] { form->FormCreate(); });
    View.Exceptions.clear();

    // The confirmation text cannot be read: the error box shows why and the close stands.
    bool canClose = true;
    EXPECT_FALSE(form->Dispatch([&] { form->FormCloseQuery(canClose); }));
    EXPECT_TRUE(canClose);
    EXPECT_EQ(View.Exceptions.size(), 1u);
    EXPECT_TRUE(View.Dialogs.empty());
}

TEST_F(WizardForm, AMissingDatabaseIsCreatedEmptyAndReported) {
    std::filesystem::remove(Locale.FolderPath / "locale.db");
    auto form = MakeForm();
    form->Dispatch([&] { form->FormCreate(); });
    ASSERT_EQ(View.Exceptions.size(), 1u);
    EXPECT_NE(View.Exceptions[0].find("no such table"), std::string::npos) << View.Exceptions[0];
    EXPECT_TRUE(std::filesystem::is_regular_file(Locale.FolderPath / "locale.db"));
    EXPECT_EQ(std::filesystem::file_size(Locale.FolderPath / "locale.db"), 0u);
}

TEST_F(WizardForm, ADatabaseThatCannotBeOpenedIsReported) {
    std::filesystem::remove(Locale.FolderPath / "locale.db");
    std::filesystem::create_directory(Locale.FolderPath / "locale.db");
    auto form = MakeForm();
    form->Dispatch([&] { form->FormCreate(); });
    ASSERT_EQ(View.Exceptions.size(), 1u);
    EXPECT_EQ(View.Exceptions[0].rfind(
                  "Failed to open database \"" + Locale.Folder() + "locale.db\" : ", 0),
              0u)
        << View.Exceptions[0];
    EXPECT_EQ(View.Caption, "Pendock Utility");
}

TEST_F(WizardForm, AnimationCyclesBothPicturesAndLeavesInsertedAlone) {
    auto form = Created();
    const std::vector<EImage> briefing = {EImage::Extract2, EImage::Extract3, EImage::Extract4,
                                          EImage::Extract1, EImage::Extract2};
    const std::vector<EImage> image = {EImage::Insert2, EImage::Insert3, EImage::Insert1,
                                       EImage::Insert2, EImage::Insert3};
    for (size_t i = 0; i < briefing.size(); ++i) {
        form->TimerAnimTimer();
        EXPECT_EQ(View.ImageOf(EControl::BriefingImage), briefing[i]) << "tick " << i;
        EXPECT_EQ(View.ImageOf(EControl::Image), image[i]) << "tick " << i;
    }
    View.SetImage(EControl::Image, EImage::Inserted);
    form->TimerAnimTimer();
    form->TimerAnimTimer();
    EXPECT_EQ(View.ImageOf(EControl::Image), EImage::Inserted);
    // Next brings the cycle back.
    form->ButtonNextClick();
    form->TimerAnimTimer();
    EXPECT_EQ(View.ImageOf(EControl::Image), EImage::Insert2);
}

TEST_F(WizardForm, DispatchShowsAnEscapedErrorAndGoesOn) {
    auto form = Created();
    EXPECT_FALSE(form->Dispatch([] { throw std::runtime_error("disk on fire"); }));
    EXPECT_FALSE(form->Dispatch([] { throw 42; }));
    EXPECT_TRUE(form->Dispatch([] {}));
    EXPECT_EQ(View.Exceptions, (std::vector<std::string>{"disk on fire", "unknown error"}));
}

TEST_F(WizardForm, APlatformWithoutOneOfItsCallsIsRefused) {
    TPendockPlatform p = IdlePlatform();
    p.ShellOpen = nullptr;
    EXPECT_THROW(TPendockForm(View, p), std::invalid_argument);
}

TEST(WizardText, LowerCaseCoversNonAsciiLettersAndKeepsBadBytes) {
    using platform::LowerCaseUtf8;
    EXPECT_EQ(LowerCaseUtf8("AGGIORNAMENTO"), "aggiornamento");
    EXPECT_EQ(LowerCaseUtf8("ÀÉÎÕÜ ÇĞŁ ΣΑΒ ПРИВЕТ"), "àéîõü çğł σαβ привет");
    EXPECT_EQ(LowerCaseUtf8("Straße 12 – ok"), "straße 12 – ok");
    EXPECT_EQ(LowerCaseUtf8(std::string("A\xff"
                                        "B\xc3",
                                        4)),
              std::string("a\xff"
                          "b\xc3",
                          4));
    EXPECT_EQ(LowerCaseUtf8(std::string("\xc0\x81Z", 3)), std::string("\xc0\x81z", 3))
        << "an overlong sequence is not decoded";
    EXPECT_EQ(LowerCaseUtf8(""), "");
}

TEST(WizardPlatform, ProgramFolderIsTheFolderOfTheRunningProgram) {
    const std::string folder = platform::GetProgramFolder();
    ASSERT_FALSE(folder.empty());
#if defined(_WIN32)
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "test_wizard_form.exe"));
#else
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "test_wizard_form"));
#endif
}

} // namespace
