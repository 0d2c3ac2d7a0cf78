// The Win32 wizard window under Wine: its controls and their geometry at 96 DPI, the page
// control, the texts from locale.db, the pictures and the skin from Pendock.exe's resource,
// the message dialog, the close query, the window messages reaching the form, and the
// program's version record and manifest.

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "WinDialog.h"
#include "WinSkin.h"
#include "WinWizardWindow.h"
#include "WizardResource.h"
#include "platform/windows/wide_text.h"
#include "resource_ids.h"
#include "support/IdlePlatform.h"
#include "support/LocaleFixture.h"

namespace res = wizard_resource;
using platform::win::Narrow;
using platform::win::Widen;

namespace {

// A Unix path of the build tree as Wine's drive Z: shows it.
std::wstring WinePath(const std::string& path) {
    return Widen(!path.empty() && path[0] == '/' ? "Z:" + path : path);
}

const std::wstring ExePath = WinePath(PENDOCK_EXE);

std::string TextOf(HWND hwnd) {
    wchar_t buffer[1024] = {};
    const int n = GetWindowTextW(hwnd, buffer, 1024);
    return Narrow(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

// A child's place inside its parent's client area.
RECT PlaceIn(HWND child) {
    RECT rc;
    GetWindowRect(child, &rc);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

void ExpectPlace(HWND child, int left, int top, int width, int height, const char* what) {
    const RECT rc = PlaceIn(child);
    EXPECT_EQ(rc.left, left) << what;
    EXPECT_EQ(rc.top, top) << what;
    EXPECT_EQ(rc.right - rc.left, width) << what;
    EXPECT_EQ(rc.bottom - rc.top, height) << what;
}

LOGFONTW FontOf(HWND hwnd) {
    LOGFONTW lf{};
    auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    GetObjectW(font, sizeof(lf), &lf);
    return lf;
}

// Delivers the window messages that arrive within `ms`.
void Pump(HWND main, DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    for (;;) {
        const DWORD now = GetTickCount();
        if (static_cast<LONG>(end - now) <= 0)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            (void)main;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

bool QuitPosted() {
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

class TComEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        CoInitialize(nullptr);
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
    }
    void TearDown() override { CoUninitialize(); }
};
const auto* const ComEnvironment = ::testing::AddGlobalTestEnvironment(new TComEnvironment);

// Wine draws windows on an X display; without one it cannot make them.
bool HaveDisplay() {
    return GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) > 0;
}

class WinWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveDisplay())
            GTEST_SKIP() << "no display: the window cases run in test_win_window_xvfb";
        Resources = LoadLibraryExW(ExePath.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(Resources, nullptr) << "cannot open " << PENDOCK_EXE;
        Locale.WriteLocaleXml("it-IT");
        Locale.WriteLocaleDb(WizardRows());
    }
    void TearDown() override {
        Window.reset();
        while (QuitPosted()) {
        }
        if (Resources)
            FreeLibrary(Resources);
    }

    TPendockPlatform Platform() {
        TPendockPlatform p = IdlePlatform();
        p.ProgramFolder = [this] { return Locale.Folder(); };
        p.ConnectedDrives = [this] {
            ++DriveQueries;
            return Present;
        };
        p.DriveUsbInfo = [](const std::string&, std::string&, std::string&, std::string&) {
            return false;
        };
        p.ShellOpen = [this](const std::string& url) {
            Opened.push_back(url);
            return true;
        };
        return p;
    }

    TWinWizardWindow& Open(HMODULE resources = nullptr) {
        Window = std::make_unique<TWinWizardWindow>(Platform(), resources ? resources : Resources);
        return *Window;
    }

    HMODULE Resources = nullptr;
    TLocaleFolder Locale;
    TDriveConn Present{};
    int DriveQueries = 0;
    std::vector<std::string> Opened;
    std::unique_ptr<TWinWizardWindow> Window;
};

} // namespace

// ---- The window and its controls ----------------------------------------------------------------

TEST_F(WinWindow, TopLevelWindowOwnsItsTaskbarButtonWithCloseAndMinimizeOnly) {
    TWinWizardWindow& w = Open();
    ASSERT_NE(w.Handle(), nullptr);
    EXPECT_EQ(ClassOf(w.Handle()), L"TPendockForm");
    EXPECT_EQ(FindWindowW(L"TPendockForm", nullptr), w.Handle());
    EXPECT_EQ(GetWindow(w.Handle(), GW_OWNER), nullptr);
    EXPECT_EQ(GetParent(w.Handle()), nullptr);
    const LONG_PTR style = GetWindowLongPtrW(w.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(GetWindowLongPtrW(w.Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
}

TEST_F(WinWindow, ClientAreaAndEveryControlSitWhereTheTableSaysAt96Dpi) {
    TWinWizardWindow& w = Open();
    ASSERT_EQ(w.Dpi(), 96u);
    RECT client;
    GetClientRect(w.Handle(), &client);
    EXPECT_EQ(client.right, 500);
    EXPECT_EQ(client.bottom, 350);
    EXPECT_EQ(w.ClientWidth(), 500);
    EXPECT_EQ(w.ClientHeight(), 350);

    // The page control reaches one pixel beyond the left and top edges and 20 beyond the right.
    ExpectPlace(w.TabControl(), -1, -1, 520, 354, "Wizard");
    for (int i = 0; i < res::PageCount; ++i) {
        HWND page = w.Page(static_cast<EPage>(i));
        ASSERT_EQ(GetParent(page), w.TabControl());
        RECT rc;
        GetClientRect(page, &rc);
        EXPECT_EQ(rc.right, res::PageWidth) << "page " << i;
        EXPECT_EQ(rc.bottom, res::PageHeight) << "page " << i;
    }
    for (const res::TControlSpec& def : res::Controls) {
        HWND c = w.Control(def.Control);
        ASSERT_NE(c, nullptr) << def.ResourceText;
        HWND parent =
            def.Control == EControl::Image ? w.Control(EControl::PanelImage) : w.Page(def.Page);
        EXPECT_EQ(GetParent(c), parent) << static_cast<int>(def.Control);
        ExpectPlace(c, def.Left, def.Top, def.Width, def.Height, def.ResourceText);
    }
}

TEST_F(WinWindow, FontsFollowTheFontTable) {
    TWinWizardWindow& w = Open();
    const LOGFONTW heading = FontOf(w.Control(EControl::MessageBriefing));
    EXPECT_STREQ(heading.lfFaceName, L"Tahoma");
    EXPECT_EQ(heading.lfHeight, 18); // a cell height
    EXPECT_EQ(heading.lfWeight, FW_BOLD);
    const LOGFONTW body = FontOf(w.Control(EControl::BriefingText));
    EXPECT_STREQ(body.lfFaceName, L"Arial");
    EXPECT_EQ(body.lfHeight, 16);
    EXPECT_EQ(body.lfWeight, FW_NORMAL);
    const LOGFONTW button = FontOf(w.Control(EControl::ButtonNext));
    EXPECT_STREQ(button.lfFaceName, L"Tahoma");
    EXPECT_EQ(button.lfHeight, -11); // a character height
    const LOGFONTW tabs = FontOf(w.TabControl());
    EXPECT_STREQ(tabs.lfFaceName, L"Arial");
    EXPECT_EQ(tabs.lfHeight, 14);
}

TEST_F(WinWindow, ControlsAreTheirKindOfWindow) {
    TWinWizardWindow& w = Open();
    EXPECT_EQ(ClassOf(w.Control(EControl::BriefingText)), L"Static");
    EXPECT_TRUE(GetWindowLongPtrW(w.Control(EControl::BriefingText), GWL_STYLE) & SS_NOPREFIX);
    EXPECT_TRUE(GetWindowLongPtrW(w.Control(EControl::MessageDetectKey), GWL_STYLE) & SS_NOPREFIX);
    EXPECT_EQ(ClassOf(w.Control(EControl::ButtonNext)), L"Button");
    EXPECT_EQ(GetWindowLongPtrW(w.Control(EControl::ButtonCancel), GWL_STYLE) & BS_TYPEMASK,
              BS_OWNERDRAW);
    EXPECT_EQ(ClassOf(w.Control(EControl::Image)), ImageViewClass);
    EXPECT_EQ(ClassOf(w.Control(EControl::PanelImage)), WizardPanelClass);
}

// ---- The page control ---------------------------------------------------------------------------

TEST_F(WinWindow, PageControlIsAVerticalMultiLineTabControlOnTheRight) {
    TWinWizardWindow& w = Open();
    EXPECT_EQ(ClassOf(w.TabControl()), WC_TABCONTROLW);
    const LONG_PTR style = GetWindowLongPtrW(w.TabControl(), GWL_STYLE);
    EXPECT_EQ(style & (TCS_VERTICAL | TCS_RIGHT | TCS_MULTILINE),
              TCS_VERTICAL | TCS_RIGHT | TCS_MULTILINE);
    ASSERT_EQ(SendMessageW(w.TabControl(), TCM_GETITEMCOUNT, 0, 0), 3);
    // The tabs lie in the rail at the right, beyond the pages.
    RECT tab;
    ASSERT_TRUE(SendMessageW(w.TabControl(), TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&tab)));
    EXPECT_GE(tab.left, res::PageWidth);
    wchar_t caption[16] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = 16;
    SendMessageW(w.TabControl(), TCM_GETITEMW, 2, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(caption, L"Pag6");
}

TEST_F(WinWindow, OnlyTheWizardsOwnPageIsShown) {
    TWinWizardWindow& w = Open();
    EXPECT_EQ(SendMessageW(w.TabControl(), TCM_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(GetWindowLongPtrW(w.Page(EPage::Briefing), GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(GetWindowLongPtrW(w.Page(EPage::DetectKey), GWL_STYLE) & WS_VISIBLE);
    w.ShowPage(EPage::WaitBrowser);
    EXPECT_EQ(SendMessageW(w.TabControl(), TCM_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(w.CurrentPage(), 2);
    EXPECT_FALSE(GetWindowLongPtrW(w.Page(EPage::Briefing), GWL_STYLE) & WS_VISIBLE);
    EXPECT_TRUE(GetWindowLongPtrW(w.Page(EPage::WaitBrowser), GWL_STYLE) & WS_VISIBLE);
}

TEST_F(WinWindow, TabChangesByMouseArrowsAndCtrlTabAreRefused) {
    TWinWizardWindow& w = Open();
    w.Show(SW_SHOWNOACTIVATE);
    HWND tab = w.TabControl();
    auto stillOnBriefing = [&](const char* how) {
        EXPECT_EQ(SendMessageW(tab, TCM_GETCURSEL, 0, 0), 0) << how;
        EXPECT_EQ(w.CurrentPage(), 0) << how;
        EXPECT_TRUE(GetWindowLongPtrW(w.Page(EPage::Briefing), GWL_STYLE) & WS_VISIBLE) << how;
        EXPECT_FALSE(GetWindowLongPtrW(w.Page(EPage::DetectKey), GWL_STYLE) & WS_VISIBLE) << how;
    };

    RECT item;
    ASSERT_TRUE(SendMessageW(tab, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item)));
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(tab, WM_LBUTTONUP, 0, at);
    stillOnBriefing("mouse");

    SetFocus(tab);
    SendMessageW(tab, WM_KEYDOWN, VK_DOWN, 0);
    SendMessageW(tab, WM_KEYDOWN, VK_RIGHT, 0);
    stillOnBriefing("arrow keys");

    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    MSG msg{w.Control(EControl::ButtonNext), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(w.PreTranslate(msg)); // taken by the page control, not passed on
    msg.wParam = VK_NEXT;
    EXPECT_TRUE(w.PreTranslate(msg));
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    stillOnBriefing("Ctrl+Tab, Ctrl+Page Down");
}

// ---- Texts, pictures, skin ----------------------------------------------------------------------

TEST_F(WinWindow, TextsComeFromTheLocaleDatabase) {
    TWinWizardWindow& w = Open();
    EXPECT_EQ(TextOf(w.Handle()), "Aggiornamento chiave");
    EXPECT_EQ(w.ApplicationTitle(), "Aggiornamento chiave");
    EXPECT_EQ(TextOf(w.Control(EControl::MessageBriefing)), "Benvenuto");
    EXPECT_EQ(TextOf(w.Control(EControl::BriefingText)),
              "Per l'ägg ünd ça: Ägg Ünd ÇA e %Operation.");
    EXPECT_EQ(TextOf(w.Control(EControl::ButtonNext)), "&Avanti");
    EXPECT_EQ(TextOf(w.Control(EControl::ButtonCancel)), "&Annulla");
    EXPECT_EQ(TextOf(w.Control(EControl::MessageWaitBrowser)), "Apertura pagina di Ägg Ünd ÇA");
    // A line break reaches the static control as CR LF.
    EXPECT_EQ(TextOf(w.Control(EControl::WaitBrowserText)),
              "Testo %Operation attesa\r\nseconda riga");
}

TEST_F(WinWindow, PicturesAreDecodedWithTheirAlphaPremultiplied) {
    TWinWizardWindow& w = Open();
    struct TExpect {
        EImage Image;
        int Width, Height;
    };
    for (const TExpect& e :
         {TExpect{EImage::Extract1, 322, 100}, TExpect{EImage::Extract2, 322, 100},
          TExpect{EImage::Extract3, 322, 100}, TExpect{EImage::Extract4, 322, 100},
          TExpect{EImage::Insert1, 320, 220}, TExpect{EImage::Insert2, 320, 220},
          TExpect{EImage::Insert3, 320, 220}, TExpect{EImage::Inserted, 320, 220}}) {
        const TWinPicture& p = w.Picture(e.Image);
        ASSERT_FALSE(p.Empty()) << static_cast<int>(e.Image);
        EXPECT_EQ(p.Width(), e.Width);
        EXPECT_EQ(p.Height(), e.Height);
        int translucent = 0;
        int opaque = 0;
        bool premultiplied = true;
        for (int y = 0; y < p.Height(); ++y) {
            for (int x = 0; x < p.Width(); ++x) {
                const std::uint32_t px = p.Pixel(x, y);
                const unsigned a = px >> 24;
                translucent += a < 255;
                opaque += a == 255;
                premultiplied = premultiplied && ((px >> 16) & 0xff) <= a &&
                                ((px >> 8) & 0xff) <= a && (px & 0xff) <= a;
            }
        }
        EXPECT_GT(translucent, 0) << "no transparency in picture " << static_cast<int>(e.Image);
        EXPECT_GT(opaque, 0) << "nothing drawn in picture " << static_cast<int>(e.Image);
        EXPECT_TRUE(premultiplied) << static_cast<int>(e.Image);
    }
    // A value outside the image store has no picture.
    EXPECT_TRUE(w.Picture(static_cast<EImage>(PngIconsCount)).Empty());
}

TEST_F(WinWindow, ImageViewsShowTheirStartPicturesAndTheAnimationStepsThem) {
    TWinWizardWindow& w = Open();
    EXPECT_EQ(ImageViewPicture(w.Control(EControl::BriefingImage)), &w.Picture(EImage::Extract1));
    EXPECT_EQ(ImageViewPicture(w.Control(EControl::Image)), &w.Picture(EImage::Insert1));
    EXPECT_TRUE(w.TimerRunning(ETimer::TimerAnim));
    SendMessageW(w.Handle(), WM_TIMER, TWinWizardWindow::TimerId(ETimer::TimerAnim), 0);
    EXPECT_EQ(w.ImageOf(EControl::BriefingImage), EImage::Extract2);
    EXPECT_EQ(ImageViewPicture(w.Control(EControl::BriefingImage)), &w.Picture(EImage::Extract2));
    EXPECT_EQ(ImageViewPicture(w.Control(EControl::Image)), &w.Picture(EImage::Insert2));
}

TEST_F(WinWindow, SkinIsInflatedFromTheProgramsResource) {
    const auto text = SkinResourceText(Resources);
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find("rail = #23313b"), std::string::npos);
    TWinWizardWindow& w = Open();
    const TWinSkin& skin = w.Skin();
    ASSERT_TRUE(skin.Loaded);
    EXPECT_EQ(skin.Rail, RGB(0x23, 0x31, 0x3b));
    EXPECT_EQ(skin.Heading, RGB(0x17, 0x57, 0x6d));
    EXPECT_EQ(skin.ButtonTop, RGB(0x2a, 0x89, 0xaa));
    EXPECT_EQ(skin.ButtonFocus, RGB(0xf2, 0x9f, 0x05));
    EXPECT_EQ(skin.ButtonRadius, 5);
}

TEST_F(WinWindow, WithoutResourcesTheWindowOpensInSystemColoursAndEmptyViews) {
    // The test program itself carries no skin and no pictures.
    TWinWizardWindow& w = Open(GetModuleHandleW(nullptr));
    ASSERT_NE(w.Handle(), nullptr);
    EXPECT_FALSE(w.Skin().Loaded);
    EXPECT_EQ(w.Skin().Text, GetSysColor(COLOR_BTNTEXT));
    EXPECT_TRUE(w.Picture(EImage::Extract1).Empty());
    EXPECT_EQ(ImageViewPicture(w.Control(EControl::BriefingImage)), nullptr);
    EXPECT_EQ(TextOf(w.Control(EControl::MessageBriefing)), "Benvenuto");
    w.Show(SW_SHOWNOACTIVATE);
    UpdateWindow(w.Handle());
    EXPECT_TRUE(IsWindow(w.Handle()));
}

TEST(WinSkinReader, PackedSkinsThatAreDamagedAreRefused) {
    EXPECT_FALSE(InflateSkin(nullptr, 0));
    const unsigned char tooShort[] = {0, 0, 0, 5};
    EXPECT_FALSE(InflateSkin(tooShort, sizeof tooShort));
    // "rail = #000000\n" would be 15 bytes; the stream is not zlib.
    const unsigned char garbage[] = {0, 0, 0, 15, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(InflateSkin(garbage, sizeof garbage));
    const unsigned char huge[] = {0x7f, 0xff, 0xff, 0xff, 0x78, 0x9c, 3, 0, 0, 0, 0, 1};
    EXPECT_FALSE(InflateSkin(huge, sizeof huge));
}

TEST(WinSkinReader, DescriptionNeedsEveryKeyWithAValueOfItsKind) {
    const auto full = [] {
        HMODULE exe = LoadLibraryExW(ExePath.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        auto text = SkinResourceText(exe);
        FreeLibrary(exe);
        return text.value_or("");
    }();
    ASSERT_FALSE(full.empty());
    TWinSkin skin = SystemSkin();
    ASSERT_TRUE(ParseSkin(full + "\nsome.future.key = 12\n", skin)); // unknown keys pass
    EXPECT_TRUE(skin.Loaded);

    auto replaced = [&](const std::string& what, const std::string& with) {
        std::string t = full;
        const auto pos = t.find(what);
        EXPECT_NE(pos, std::string::npos) << what;
        if (pos != std::string::npos)
            t.replace(pos, what.size(), with);
        return t;
    };
    for (const std::string& bad :
         {replaced("rail = #23313b", "rail = #23313"), replaced("rail = #23313b", "rail = 23313b"),
          replaced("rail = #23313b", "rail = #2331zz"), replaced("rail = #23313b", "rail #23313b"),
          replaced("rail = #23313b", ""), replaced("button.radius = 5", "button.radius = -5"),
          replaced("button.radius = 5", "button.radius = 999"), std::string("\x01\x02garbage")}) {
        TWinSkin s = SystemSkin();
        EXPECT_FALSE(ParseSkin(bad, s)) << bad.substr(0, 40);
        EXPECT_FALSE(s.Loaded);
        EXPECT_EQ(s.Rail, SystemSkin().Rail);
    }
}

// ---- The dialog ---------------------------------------------------------------------------------

TEST_F(WinWindow, ConfirmationDialogCarriesItsCaptionsAndYesNoIds) {
    TWinWizardWindow& w = Open();
    bool seen = false;
    w.DialogOpening = [&](HWND dlg) {
        seen = true;
        EXPECT_EQ(ClassOf(dlg), L"TPendockDialog");
        EXPECT_EQ(FindWindowW(L"TPendockDialog", nullptr), dlg);
        EXPECT_EQ(TextOf(dlg), "Conferma");
        EXPECT_EQ(GetWindow(dlg, GW_OWNER), w.Handle());
        EXPECT_FALSE(IsWindowEnabled(w.Handle()));
        ASSERT_NE(GetDlgItem(dlg, IDYES), nullptr);
        ASSERT_NE(GetDlgItem(dlg, IDNO), nullptr);
        EXPECT_EQ(GetDlgItem(dlg, IDOK), nullptr);
        EXPECT_EQ(TextOf(GetDlgItem(dlg, IDYES)), "&Sì");
        EXPECT_EQ(TextOf(GetDlgItem(dlg, IDNO)), "&No");
        // The text is plain: its ampersand is shown, not taken as a mnemonic.
        bool textFound = false;
        for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (TextOf(c) == "Uscire dall'Ägg Ünd ÇA? A & B") {
                textFound = true;
                EXPECT_TRUE(GetWindowLongPtrW(c, GWL_STYLE) & SS_NOPREFIX);
            }
        }
        EXPECT_TRUE(textFound);
        PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDYES)));
    };
    TDialogCaptions c{"Conferma", "&Sì", "&No", "Va bene"};
    EXPECT_EQ(w.ShowDialog(EDialogKind::Confirmation, "Uscire dall'Ägg Ünd ÇA? A & B", c),
              EDialogButton::Yes);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(IsWindowEnabled(w.Handle()));
    EXPECT_EQ(FindWindowW(L"TPendockDialog", nullptr), nullptr);
}

TEST_F(WinWindow, ErrorDialogOffersOkOnly) {
    TWinWizardWindow& w = Open();
    w.DialogOpening = [&](HWND dlg) {
        EXPECT_EQ(TextOf(dlg), "Errore");
        ASSERT_NE(GetDlgItem(dlg, IDOK), nullptr);
        EXPECT_EQ(TextOf(GetDlgItem(dlg, IDOK)), "Va bene");
        EXPECT_EQ(GetDlgItem(dlg, IDYES), nullptr);
        EXPECT_EQ(GetDlgItem(dlg, IDNO), nullptr);
        SendMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
    };
    EXPECT_EQ(w.ShowDialog(EDialogKind::Error, "x", {"Errore", "&Sì", "&No", "Va bene"}),
              EDialogButton::OK);
}

TEST_F(WinWindow, EscapeAndTheCloseBoxGiveOkForErrorsAndNoForQuestions) {
    TWinWizardWindow& w = Open();
    const TDialogCaptions c{"T", "&Sì", "&No", "OK"};
    w.DialogOpening = [](HWND dlg) {
        // Escape on the focused button, as the keyboard gives it.
        PostMessageW(GetFocus() ? GetFocus() : dlg, WM_KEYDOWN, VK_ESCAPE, 0);
    };
    EXPECT_EQ(w.ShowDialog(EDialogKind::Confirmation, "q", c), EDialogButton::No);
    EXPECT_EQ(w.ShowDialog(EDialogKind::Error, "e", c), EDialogButton::OK);
    w.DialogOpening = [](HWND dlg) { PostMessageW(dlg, WM_CLOSE, 0, 0); };
    EXPECT_EQ(w.ShowDialog(EDialogKind::Confirmation, "q", c), EDialogButton::No);
    EXPECT_EQ(w.ShowDialog(EDialogKind::Error, "e", c), EDialogButton::OK);
}

TEST_F(WinWindow, EmptyCaptionsWithoutTheSkinGroupStillGiveUsableButtons) {
    Locale.WriteLocaleDb(WizardRows(false));
    TWinWizardWindow& w = Open();
    w.DialogOpening = [&](HWND dlg) {
        EXPECT_EQ(TextOf(dlg), "");
        HWND yes = GetDlgItem(dlg, IDYES);
        ASSERT_NE(yes, nullptr);
        EXPECT_EQ(TextOf(yes), "");
        RECT rc;
        GetClientRect(yes, &rc);
        EXPECT_GE(rc.right, 72);
        SendMessageW(yes, BM_CLICK, 0, 0);
    };
    bool canClose = false;
    w.Form().FormCloseQuery(canClose);
    EXPECT_TRUE(canClose);
}

// ---- Window messages to the form ----------------------------------------------------------------

TEST_F(WinWindow, CloseAsksFirstAndOnlyYesDestroysTheWindow) {
    TWinWizardWindow& w = Open();
    int asked = 0;
    EDialogButton answer = EDialogButton::No;
    w.DialogOpening = [&](HWND dlg) {
        ++asked;
        EXPECT_EQ(TextOf(dlg), "Conferma");
        PostMessageW(dlg, WM_COMMAND, answer == EDialogButton::Yes ? IDYES : IDNO, 0);
    };
    SendMessageW(w.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(asked, 1);
    ASSERT_NE(w.Handle(), nullptr);
    EXPECT_TRUE(IsWindow(w.Handle()));
    EXPECT_FALSE(QuitPosted());

    answer = EDialogButton::Yes;
    HWND hwnd = w.Handle();
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(w.Handle(), nullptr);
    EXPECT_TRUE(QuitPosted()); // the program's loop ends
}

TEST_F(WinWindow, TerminateEndsTheLoopAndProcessMessagesKeepsTheQuitForIt) {
    TWinWizardWindow& w = Open();
    int asked = 0;
    w.DialogOpening = [&](HWND) { ++asked; };
    w.Terminate();
    w.ProcessMessages();
    EXPECT_TRUE(IsWindow(w.Handle()));
    EXPECT_EQ(w.RunMessageLoop(), 0); // returns at once on the quit message
    EXPECT_EQ(asked, 0);              // no close question
}

TEST_F(WinWindow, ButtonsAndTimersReachTheFormsHandlers) {
    TWinWizardWindow& w = Open();
    SendMessageW(w.Control(EControl::ButtonNext), BM_CLICK, 0, 0);
    EXPECT_EQ(w.CurrentPage(), 1);
    EXPECT_EQ(TextOf(w.Control(EControl::MessageDetectKey)), "Inserire la chiave");
    EXPECT_EQ(w.ImageOf(EControl::Image), EImage::Insert1);
    EXPECT_TRUE(IsWindowEnabled(w.Control(EControl::ButtonCancel)));
    EXPECT_TRUE(w.Form().CheckDeviceChange());
    const int queriesAfterNext = DriveQueries;

    // Any device-change event starts the one-second check; the scan runs when it fires.
    SendMessageW(w.Handle(), WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
    EXPECT_FALSE(w.Form().CheckDeviceChange());
    EXPECT_TRUE(w.TimerRunning(ETimer::TimerCheck));
    Pump(w.Handle(), 1400);
    EXPECT_FALSE(w.TimerRunning(ETimer::TimerCheck)); // one shot
    EXPECT_EQ(DriveQueries, queriesAfterNext + 2);    // the scan and the new snapshot
    EXPECT_TRUE(w.Form().CheckDeviceChange());

    SendMessageW(w.Control(EControl::ButtonCancel), BM_CLICK, 0, 0);
    EXPECT_EQ(w.CurrentPage(), 0);
    EXPECT_FALSE(w.Form().CheckDeviceChange());
}

TEST_F(WinWindow, DeviceChangeDuringTheDialogStillReachesTheForm) {
    TWinWizardWindow& w = Open();
    SendMessageW(w.Control(EControl::ButtonNext), BM_CLICK, 0, 0);
    ASSERT_TRUE(w.Form().CheckDeviceChange());
    // Sent from another thread, as the system sends it: the dialog's loop delivers it.
    std::thread sender;
    w.DialogOpening = [&](HWND dlg) {
        sender = std::thread([main = w.Handle(), dlg] {
            SendMessageW(main, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
            PostMessageW(dlg, WM_COMMAND, IDOK, 0);
        });
    };
    w.ShowDialog(EDialogKind::Error, "e", {"E", "", "", "OK"});
    sender.join();
    EXPECT_FALSE(w.Form().CheckDeviceChange());
    EXPECT_TRUE(w.TimerRunning(ETimer::TimerCheck));
}

TEST_F(WinWindow, UnknownDriveShowsTheErrorByKeyAndKeepsWaiting) {
    TWinWizardWindow& w = Open();
    SendMessageW(w.Control(EControl::ButtonNext), BM_CLICK, 0, 0);
    Present[2] = true; // E: appears, and nothing identifies it
    std::string shown;
    w.DialogOpening = [&](HWND dlg) {
        for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (ClassOf(c) == L"Static" && !TextOf(c).empty())
                shown = TextOf(c);
        }
        PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    };
    SendMessageW(w.Handle(), WM_DEVICECHANGE, 0x8000, 0);
    SendMessageW(w.Handle(), WM_TIMER, TWinWizardWindow::TimerId(ETimer::TimerCheck), 0);
    EXPECT_EQ(shown, "Errore di ägg ünd ça");
    EXPECT_EQ(w.CurrentPage(), 1);
    EXPECT_TRUE(w.Form().CheckDeviceChange());
    EXPECT_TRUE(w.Form().Drives()[2]);
}

TEST_F(WinWindow, CreateErrorGoesToTheStandardErrorBoxAndTheWindowOpensAsDesigned) {
    Locale.WriteLocaleDb({}, false); // no table of texts
    std::atomic<bool> done{false};
    std::string boxText;
    const DWORD mainThread = GetCurrentThreadId();
    std::thread closer([&] {
        // The standard box belongs to the main thread, which waits in it; it is answered from
        // here.
        struct TSearch {
            DWORD Thread;
            HWND Box;
        };
        while (!done) {
            TSearch search{mainThread, nullptr};
            EnumThreadWindows(
                mainThread,
                [](HWND hwnd, LPARAM lp) -> BOOL {
                    auto* s = reinterpret_cast<TSearch*>(lp);
                    if (ClassOf(hwnd) == L"#32770" && IsWindowVisible(hwnd)) {
                        s->Box = hwnd;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&search));
            if (search.Box) {
                wchar_t text[512] = {};
                GetDlgItemTextW(search.Box, 0xFFFF, text, 512);
                if (text[0])
                    boxText = Narrow(text, wcslen(text));
                PostMessageW(search.Box, WM_COMMAND, IDOK, 0);
            }
            Sleep(50);
        }
    });
    TWinWizardWindow& w = Open();
    done = true;
    closer.join();
    EXPECT_FALSE(boxText.empty());
    EXPECT_EQ(TextOf(w.Handle()), res::Caption);
    EXPECT_EQ(TextOf(w.Control(EControl::MessageBriefing)), "MessageBriefing");
    RECT client;
    GetClientRect(w.Handle(), &client);
    EXPECT_EQ(client.right, res::DesignClientWidth); // the steps after the failing one not done
    ExpectPlace(w.TabControl(), 0, 0, res::DesignClientWidth, res::DesignClientHeight, "Wizard");
}

// ---- The program's resource ---------------------------------------------------------------------

TEST(PendockExe, VersionRecordCarriesEveryField) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(ExePath.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(ExePath.c_str(), 0, size, data.data()));

    struct TLang {
        WORD Language, CodePage;
    }* lang = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&lang), &len));
    ASSERT_GE(len, sizeof(TLang));
    EXPECT_EQ(lang->Language, 0x0410);
    EXPECT_EQ(lang->CodePage, 1252);

    auto value = [&](const wchar_t* name) {
        wchar_t* text = nullptr;
        UINT n = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\041004E4\\") + name;
        if (!VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&text), &n) ||
            !text)
            return std::string("<missing>");
        return Narrow(text, wcslen(text));
    };
    EXPECT_EQ(value(L"FileVersion"), "1.0.0.69");
    EXPECT_EQ(value(L"ProductVersion"), "1.0");
    EXPECT_EQ(value(L"ProductName"), "Pendock");
    EXPECT_EQ(value(L"FileDescription"), "Pendock Utility");
    EXPECT_EQ(value(L"InternalName"), "Pendock");
    EXPECT_EQ(value(L"OriginalFilename"), "Pendock.exe");
    EXPECT_NE(value(L"CompanyName").find("Quorvento"), std::string::npos);
    EXPECT_NE(value(L"LegalCopyright"), "<missing>");

    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(69, 0));
}

TEST_F(WinWindow, TheKeyboardAloneDrivesTheWizard) {
    TWinWizardWindow& w = Open();
    w.Show(SW_SHOWNORMAL);
    // The tab strip is passed by; Next has the focus, and Enter presses it.
    EXPECT_FALSE(GetWindowLongPtrW(w.TabControl(), GWL_STYLE) & WS_TABSTOP);
    EXPECT_EQ(GetFocus(), w.Control(EControl::ButtonNext));
    MSG key{GetFocus(), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    EXPECT_TRUE(w.PreTranslate(key));
    EXPECT_EQ(w.CurrentPage(), 1);
    EXPECT_EQ(GetFocus(), w.Control(EControl::ButtonCancel));
    // Escape asks the close question, as the close box does; No keeps the wizard waiting.
    int asked = 0;
    w.DialogOpening = [&](HWND dlg) {
        ++asked;
        PostMessageW(dlg, WM_COMMAND, IDNO, 0);
    };
    key = MSG{GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    EXPECT_TRUE(w.PreTranslate(key));
    Pump(w.Handle(), 300);
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(IsWindow(w.Handle()));
    EXPECT_EQ(w.CurrentPage(), 1);
    EXPECT_TRUE(w.Form().CheckDeviceChange());
}

TEST_F(WinWindow, ScreenReadersReadWhatEachPictureShows) {
    std::vector<TLocaleRow> rows = WizardRows();
    rows.push_back({"PICTURE_PULLOUT", "Restore", "it", nullptr, "Chiavetta estratta"});
    rows.push_back({"PICTURE_PLUGIN", "Restore", "it", nullptr, "Chiavetta inserita"});
    Locale.WriteLocaleDb(rows);
    TWinWizardWindow& w = Open();
    // MSAA and UI Automation name a control by its window text.
    EXPECT_EQ(TextOf(w.Control(EControl::BriefingImage)), "Chiavetta estratta");
    SendMessageW(w.Handle(), WM_TIMER, TWinWizardWindow::TimerId(ETimer::TimerAnim), 0);
    EXPECT_EQ(TextOf(w.Control(EControl::BriefingImage)), "Chiavetta estratta");
    EXPECT_EQ(TextOf(w.Control(EControl::Image)), "Chiavetta inserita");
    w.SetImage(EControl::Image, EImage::Inserted); // no text in this database: no name
    EXPECT_EQ(TextOf(w.Control(EControl::Image)), "");
}

TEST(WinPictures, EveryDpiGetsAPictureMadeForIt) {
    HMODULE exe = LoadLibraryExW(ExePath.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr);
    // Drawn for 96, 120, 144 and 192 DPI; between and above those, the next larger drawing
    // is brought to size.
    for (UINT dpi : {96u, 120u, 144u, 168u, 192u, 288u}) {
        TWinPicture p;
        ASSERT_TRUE(p.LoadForDpi(exe, wizard_resource::PictureIndex(EImage::Extract1), dpi)) << dpi;
        EXPECT_EQ(p.Dpi(), dpi);
        EXPECT_NEAR(p.Width(), MulDiv(322, static_cast<int>(dpi), 96), 1) << dpi;
        EXPECT_NEAR(p.Height(), MulDiv(100, static_cast<int>(dpi), 96), 1) << dpi;
        TWinPicture icon;
        ASSERT_TRUE(
            icon.LoadForDpi(exe, wizard_resource::PictureIndex(EDialogKind::Confirmation), dpi))
            << dpi;
        EXPECT_NEAR(icon.Width(), MulDiv(32, static_cast<int>(dpi), 96), 1) << dpi;
    }
    FreeLibrary(exe);
}

TEST_F(WinWindow, WindowAndDialogCarryTheProgramsIcon) {
    // The shell shows the first icon group of Pendock.exe; it holds every size up to 256.
    HRSRC group = FindResourceW(Resources, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const auto* folder = static_cast<const WORD*>(LockResource(LoadResource(Resources, group)));
    EXPECT_EQ(folder[2], 7) << "icons in the group";

    TWinWizardWindow& w = Open();
    const auto icon = [](HWND hwnd, WPARAM kind) {
        return reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, kind, 0));
    };
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon(w.Handle(), ICON_SMALL), &info));
    BITMAP bm{};
    GetObjectW(info.hbmColor, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXSMICON));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    ASSERT_NE(icon(w.Handle(), ICON_BIG), nullptr);
    w.DialogOpening = [&](HWND dlg) {
        EXPECT_EQ(icon(dlg, ICON_BIG), icon(w.Handle(), ICON_BIG));
        PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    };
    w.ShowDialog(EDialogKind::Error, "e", {"E", "", "", "OK"});
}

TEST(PendockExe, ManifestAsksForNoElevationCommonControls6AndPerMonitorDpi) {
    HMODULE exe = LoadLibraryExW(ExePath.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr);
    HRSRC info = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    ASSERT_NE(info, nullptr);
    const auto* text = static_cast<const char*>(LockResource(LoadResource(exe, info)));
    const std::string manifest(text, SizeofResource(exe, info));
    FreeLibrary(exe);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(manifest.find(">true/pm<"), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2,PerMonitor<"), std::string::npos);
}
