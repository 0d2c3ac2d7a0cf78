// The real Qt window, offscreen: layout, fonts, pictures, timers, skin, dialogs, the refusal
// of page changes through the tabs, the close query and a failing locale database.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "QtTestSupport.h"
#include "mod_SQLocalize.h"
#include "platform/linux/drive_watch.h"
#include "support/IdlePlatform.h"
#include "support/LocaleFixture.h"
#include "ui/qt/QtWizardWindow.h"
#include "ui/qt/WizardLabels.h"
#include "ui/qt/WizardPageControl.h"

namespace {

class WizardWindow : public ::testing::Test {
protected:
    void SetUp() override {
        Locale.WriteLocaleXml("it-IT");
        Locale.WriteLocaleDb(WizardRows());
    }

    std::unique_ptr<TQtWizardWindow> Make() {
        TPendockPlatform p = IdlePlatform();
        p.ProgramFolder = [this] { return Locale.Folder(); };
        p.ConnectedDrives = [] { return TDriveConn{}; };
        auto w = std::make_unique<TQtWizardWindow>(p);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        return w;
    }

    static QRect InPage(const TQtWizardWindow& w, EControl c, EPage page) {
        QWidget* control = w.Control(c);
        const QPoint at = control->mapTo(w.Page(page), QPoint(0, 0));
        return QRect(at, control->size());
    }

    TLocaleFolder Locale;
};

TEST_F(WizardWindow, EveryControlSitsAtItsPlace) {
    auto w = Make();
    EXPECT_EQ(w->size(), QSize(500, 350));
    EXPECT_EQ(w->minimumSize(), QSize(500, 350));
    EXPECT_EQ(w->maximumSize(), QSize(500, 350));
    EXPECT_EQ(w->PageControl()->geometry(), QRect(-1, -1, 520, 354));
    for (EPage p : {EPage::DetectKey, EPage::WaitBrowser, EPage::Briefing}) {
        w->ShowPage(p);
        EXPECT_EQ(w->Page(p)->size(), QSize(478, 334)) << static_cast<int>(p);
    }

    EXPECT_EQ(InPage(*w, EControl::MessageBriefing, EPage::Briefing), QRect(0, 0, 478, 72));
    EXPECT_EQ(InPage(*w, EControl::BriefingText, EPage::Briefing), QRect(24, 56, 440, 65));
    EXPECT_EQ(InPage(*w, EControl::BriefingImage, EPage::Briefing), QRect(88, 184, 322, 100));
    EXPECT_EQ(InPage(*w, EControl::ButtonNext, EPage::Briefing), QRect(251, 282, 180, 25));
    EXPECT_EQ(InPage(*w, EControl::MessageDetectKey, EPage::DetectKey), QRect(0, 0, 478, 72));
    EXPECT_EQ(InPage(*w, EControl::PanelImage, EPage::DetectKey), QRect(89, 65, 320, 220));
    EXPECT_EQ(w->Control(EControl::Image)->parentWidget(), w->Control(EControl::PanelImage));
    EXPECT_EQ(w->Control(EControl::Image)->geometry(), QRect(0, 0, 320, 220));
    EXPECT_EQ(InPage(*w, EControl::ButtonCancel, EPage::DetectKey), QRect(251, 282, 180, 25));
    EXPECT_EQ(InPage(*w, EControl::MessageWaitBrowser, EPage::WaitBrowser), QRect(0, 0, 478, 72));
    EXPECT_EQ(InPage(*w, EControl::WaitBrowserText, EPage::WaitBrowser), QRect(24, 88, 440, 153));
    EXPECT_EQ(w->Page(EPage::WaitBrowser)->findChildren<QPushButton*>().size(), 0);

    // Tabs on the right, their strip reaching past the window's right edge.
    EXPECT_EQ(w->PageControl()->tabPosition(), QTabWidget::East);
    const QRect strip(w->PageControl()->tabBar()->mapTo(w.get(), QPoint(0, 0)),
                      w->PageControl()->tabBar()->size());
    EXPECT_LT(strip.left(), 500);
    EXPECT_GT(strip.right(), 499);
    EXPECT_EQ(w->PageControl()->count(), 3);
    EXPECT_EQ(w->PageControl()->tabText(2), "Pag6");

    // The program's icon in the sizes a window shows it at, up to 200 %.
    const QList<QSize> sizes = w->windowIcon().availableSizes();
    for (int n : {16, 24, 32, 48, 64})
        EXPECT_TRUE(sizes.contains(QSize(n, n))) << n;

    // Close and minimize only.
    const Qt::WindowFlags f = w->windowFlags();
    EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
}

TEST_F(WizardWindow, FontsAndWrapping) {
    auto w = Make();
    EXPECT_EQ(w->font().family(), "Tahoma");
    EXPECT_EQ(w->font().pixelSize(), 11);
    const auto check = [&](EControl c, const char* family, int cell, bool bold) {
        const QFont f = w->Control(c)->font();
        EXPECT_EQ(f.family(), family);
        EXPECT_EQ(f.bold(), bold);
        const int h = QFontMetrics(f).height();
        EXPECT_LE(h, cell);
        EXPECT_GE(h, cell - 2) << "the largest size that fits the cell";
    };
    for (EControl c :
         {EControl::MessageBriefing, EControl::MessageDetectKey, EControl::MessageWaitBrowser}) {
        check(c, "Tahoma", 18, true);
        auto* label = static_cast<QLabel*>(w->Control(c));
        EXPECT_TRUE(label->wordWrap());
        EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    }
    for (EControl c : {EControl::BriefingText, EControl::WaitBrowserText}) {
        check(c, "Arial", 16, false);
        EXPECT_TRUE(static_cast<QLabel*>(w->Control(c))->wordWrap());
    }
    const QFont tab = w->PageControl()->tabBar()->font();
    EXPECT_EQ(tab.family(), "Arial");
    EXPECT_LE(QFontMetrics(tab).height(), 14);
    EXPECT_EQ(w->Control(EControl::ButtonNext)->font().family(), "Tahoma");
}

TEST_F(WizardWindow, TextsCaptionAndFirstPictures) {
    auto w = Make();
    EXPECT_EQ(w->windowTitle(), "Aggiornamento chiave");
    EXPECT_EQ(w->ApplicationTitle(), "Aggiornamento chiave");
    // Not Qt's display name, which Qt would add to the dialogs' titles.
    EXPECT_NE(QGuiApplication::applicationDisplayName(), "Aggiornamento chiave");
    EXPECT_EQ(w->PageControl()->currentIndex(), 0);
    EXPECT_EQ(static_cast<QLabel*>(w->Control(EControl::BriefingText))->text(),
              QString::fromUtf8("Per l'ägg ünd ça: Ägg Ünd ÇA e %Operation."));
    EXPECT_EQ(static_cast<QAbstractButton*>(w->Control(EControl::ButtonNext))->text(), "&Avanti");
    // CR LF from the database is one line break on screen.
    EXPECT_EQ(static_cast<QLabel*>(w->Control(EControl::WaitBrowserText))->text(),
              "Testo %Operation attesa\nseconda riga");
    // Texts are shown as they are, never as markup.
    EXPECT_EQ(static_cast<QLabel*>(w->Control(EControl::BriefingText))->textFormat(),
              Qt::PlainText);

    const auto shows = [&](EControl c, EImage img) {
        return static_cast<QLabel*>(w->Control(c))->pixmap().toImage() == w->Picture(img).toImage();
    };
    w->Timer(ETimer::TimerAnim)->stop();
    EXPECT_EQ(w->ImageOf(EControl::BriefingImage), EImage::Extract1);
    EXPECT_TRUE(shows(EControl::BriefingImage, EImage::Extract1));
    EXPECT_FALSE(shows(EControl::BriefingImage, EImage::Extract2));
    // The key page's picture reaches its view with the page.
    EXPECT_EQ(w->ImageOf(EControl::Image), EImage::Insert1);
    w->ShowPage(EPage::DetectKey);
    EXPECT_TRUE(shows(EControl::Image, EImage::Insert1));
}

TEST_F(WizardWindow, PicturesHaveTheirSizesAndAlpha) {
    auto w = Make();
    for (EImage img : {EImage::Extract1, EImage::Extract2, EImage::Extract3, EImage::Extract4}) {
        EXPECT_EQ(w->Picture(img).size(), QSize(322, 100)) << static_cast<int>(img);
        EXPECT_TRUE(w->Picture(img).hasAlphaChannel());
    }
    for (EImage img : {EImage::Insert1, EImage::Insert2, EImage::Insert3, EImage::Inserted}) {
        EXPECT_EQ(w->Picture(img).size(), QSize(320, 220)) << static_cast<int>(img);
        EXPECT_TRUE(w->Picture(img).hasAlphaChannel());
    }
    // A value outside the image store has no picture.
    EXPECT_TRUE(w->Picture(static_cast<EImage>(PngIconsCount)).isNull());
    // Each stage is a picture of its own.
    EXPECT_NE(w->Picture(EImage::Extract1).toImage(), w->Picture(EImage::Extract2).toImage());
    EXPECT_NE(w->Picture(EImage::Insert3).toImage(), w->Picture(EImage::Inserted).toImage());
    // Transparent corners: the pictures sit on the page's own background.
    EXPECT_EQ(qAlpha(w->Picture(EImage::Insert1).toImage().pixel(0, 0)), 0);

    // For screens of another pixel ratio: drawn for 2x, not the 1x one enlarged; made to size
    // for a ratio between.
    const QPixmap large = LoadPicture("Extract1", 2.0);
    EXPECT_EQ(large.size(), QSize(644, 200));
    EXPECT_EQ(large.devicePixelRatio(), 2.0);
    EXPECT_NE(large.toImage(),
              LoadPicture("Extract1", 1.0)
                  .toImage()
                  .scaled(644, 200, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .convertToFormat(large.toImage().format()));
    EXPECT_EQ(LoadPicture("Extract1", 1.5).size(), QSize(483, 150));
    for (const char* icon : {"DialogError", "DialogQuestion"})
        EXPECT_EQ(LoadPicture(icon, 2.0).size(), QSize(64, 64)) << icon;
}

TEST_F(WizardWindow, TimersAsDesignedAndTheAnimationTicks) {
    auto w = Make();
    const struct {
        ETimer t;
        int ms;
        bool active;
    } expected[] = {{ETimer::TimerCheck, 1000, false},
                    {ETimer::TimerAnim, 500, true},
                    {ETimer::TimerCont, 2000, false},
                    {ETimer::TimerWait, 5000, false}};
    for (const auto& e : expected) {
        EXPECT_EQ(w->Timer(e.t)->interval(), e.ms);
        EXPECT_EQ(w->Timer(e.t)->isActive(), e.active);
    }
    // A tick reaches the form's handler.
    QTimer* anim = w->Timer(ETimer::TimerAnim);
    anim->stop();
    w->SetImage(EControl::BriefingImage, EImage::Extract1);
    anim->setSingleShot(true);
    anim->setInterval(0);
    anim->start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !anim->isActive(); }, 1000));
    EXPECT_EQ(w->ImageOf(EControl::BriefingImage), EImage::Extract2);
}

TEST_F(WizardWindow, SkinIsStoredCompressedAndDrawnOnWindowAndDialog) {
    QFile raw(":/pendock/ZiviZeduze.skn");
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray packed = raw.readAll();
    ASSERT_GT(packed.size(), 6);
    EXPECT_EQ(static_cast<unsigned char>(packed[4]), 0x78) << "a zlib stream after the length";
    const QString skin = LoadSkin();
    EXPECT_GT(skin.toUtf8().size(), packed.size());
    EXPECT_TRUE(skin.contains("QPushButton"));

    auto w = Make();
    EXPECT_EQ(w->styleSheet(), skin);
    EXPECT_STREQ(w->Control(EControl::ButtonNext)->style()->metaObject()->className(),
                 "QStyleSheetStyle");

    QString dialogSheet, title, yes, no;
    const char* dialogStyle = nullptr;
    AnswerNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        dialogSheet = box->styleSheet();
        dialogStyle = box->findChild<QPushButton*>("ButtonYes")->style()->metaObject()->className();
        title = box->windowTitle();
        EXPECT_EQ(box->windowIcon().cacheKey(), w->windowIcon().cacheKey());
        yes = box->findChild<QPushButton*>("ButtonYes")->text();
        no = box->findChild<QPushButton*>("ButtonNo")->text();
        box->findChild<QPushButton*>("ButtonNo")->click();
    });
    bool canClose = true;
    w->Form().FormCloseQuery(canClose);
    EXPECT_FALSE(canClose);
    EXPECT_EQ(dialogSheet, skin);
    EXPECT_STREQ(dialogStyle, "QStyleSheetStyle");
    EXPECT_EQ(title, "Conferma");
    EXPECT_EQ(yes, QString::fromUtf8("&Sì"));
    EXPECT_EQ(no, "&No");
}

TEST_F(WizardWindow, DialogAnswers) {
    auto w = Make();
    TDialogCaptions c{"T", "Y", "N", "O"};
    AnswerNextModal([](QWidget* m) { m->findChild<QPushButton*>("ButtonYes")->click(); });
    EXPECT_EQ(w->ShowDialog(EDialogKind::Confirmation, "q", c), EDialogButton::Yes);
    AnswerNextModal([](QWidget* m) { QTest::keyClick(m, Qt::Key_Escape); });
    EXPECT_EQ(w->ShowDialog(EDialogKind::Confirmation, "q", c), EDialogButton::No);
    QString okText, text;
    AnswerNextModal([&](QWidget* m) {
        okText = m->findChild<QPushButton*>("ButtonOK")->text();
        text = static_cast<QMessageBox*>(m)->text();
        QTest::keyClick(m, Qt::Key_Escape);
    });
    EXPECT_EQ(w->ShowDialog(EDialogKind::Error, "<b>line1\r\nline2</b>", c), EDialogButton::OK);
    EXPECT_EQ(okText, "O");
    EXPECT_EQ(text, "<b>line1\nline2</b>");
}

TEST_F(WizardWindow, TabsNeverChangeThePage) {
    auto w = Make();
    auto* bar = w->PageControl()->WizardTabBar();
    const QPoint second = bar->tabRect(1).center();

    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, second);
    EXPECT_EQ(w->PageControl()->currentIndex(), 0);
    QTest::mouseDClick(bar, Qt::LeftButton, Qt::NoModifier, second);
    EXPECT_EQ(w->PageControl()->currentIndex(), 0);

    QWheelEvent wheel(QPointF(second), QPointF(bar->mapToGlobal(second)), QPoint(0, -120),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(bar, &wheel);
    EXPECT_EQ(w->PageControl()->currentIndex(), 0);

    // Ctrl+Tab and Ctrl+Page Down from a control on the page.
    w->Control(EControl::ButtonNext)->setFocus();
    QTest::keyClick(w->Control(EControl::ButtonNext), Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(w->Control(EControl::ButtonNext), Qt::Key_PageDown, Qt::ControlModifier);
    QTest::keyClick(w->Control(EControl::ButtonNext), Qt::Key_Backtab,
                    Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(w->PageControl()->currentIndex(), 0);

    // Arrow keys on the focused tab bar.
    bar->setFocus();
    for (Qt::Key k : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left, Qt::Key_End})
        QTest::keyClick(bar, k);
    EXPECT_EQ(w->PageControl()->currentIndex(), 0);

    // The wizard's own moves still work, and the tabs then hold that page.
    w->ShowPage(EPage::DetectKey);
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(0).center());
    EXPECT_EQ(w->PageControl()->currentIndex(), 1);
}

TEST_F(WizardWindow, TheTabEventsUsedAboveWouldChangeThePageIfAllowed) {
    // Shows that the refusal above is what keeps the page: with a grant, the same input moves.
    auto w = Make();
    auto* bar = w->PageControl()->WizardTabBar();
    w->PageControl()->SetAskChange([] { return true; });
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(1).center());
    EXPECT_EQ(w->PageControl()->currentIndex(), 1);
    QTest::keyClick(w->Control(EControl::ButtonCancel), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(w->PageControl()->currentIndex(), 2);
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Left);
    EXPECT_EQ(w->PageControl()->currentIndex(), 1);
}

TEST_F(WizardWindow, NextAndCancelButtons) {
    auto w = Make();
    QTest::mouseClick(static_cast<QPushButton*>(w->Control(EControl::ButtonNext)), Qt::LeftButton);
    EXPECT_EQ(w->PageControl()->currentIndex(), 1);
    EXPECT_EQ(static_cast<QLabel*>(w->Control(EControl::MessageDetectKey))->text(),
              "Inserire la chiave");
    EXPECT_TRUE(w->Form().CheckDeviceChange());
    w->StartTimer(ETimer::TimerCheck);
    QTest::mouseClick(static_cast<QPushButton*>(w->Control(EControl::ButtonCancel)),
                      Qt::LeftButton);
    EXPECT_EQ(w->PageControl()->currentIndex(), 0);
    EXPECT_FALSE(w->Timer(ETimer::TimerCheck)->isActive());
    EXPECT_FALSE(w->Form().CheckDeviceChange());
}

TEST_F(WizardWindow, ClosingAsksAndNoKeepsTheWindow) {
    auto w = Make();
    w->ShowPage(EPage::DetectKey);
    w->StartTimer(ETimer::TimerCheck);
    AnswerNextModal([](QWidget* m) { m->findChild<QPushButton*>("ButtonNo")->click(); });
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->PageControl()->currentIndex(), 1);
    EXPECT_TRUE(w->Timer(ETimer::TimerCheck)->isActive());
    EXPECT_TRUE(w->Timer(ETimer::TimerAnim)->isActive());

    AnswerNextModal([](QWidget* m) { m->findChild<QPushButton*>("ButtonYes")->click(); });
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->isVisible());
}

TEST_F(WizardWindow, AskingTheApplicationToEndSkipsTheCloseQuery) {
    auto w = Make();
    int dialogs = 0;
    QObject::connect(w.get(), &TQtWizardWindow::DialogOpening, [&] { ++dialogs; });
    QTimer::singleShot(0, [&] { w->Terminate(); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(dialogs, 0);
    EXPECT_TRUE(w->isVisible()) << "the window is not closed, the loop just ends";
}

TEST_F(WizardWindow, AMountTableChangeReachesTheDeviceChangeHandler) {
    const std::filesystem::path table = Locale.FolderPath / "mountinfo";
    std::ofstream(table) << "26 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
    TPendockPlatform p = IdlePlatform();
    p.ProgramFolder = [this] { return Locale.Folder(); };
    p.ConnectedDrives = [] { return TDriveConn{}; };
    p.DriveWatch = [table] { return platform::lnx::MakeDriveWatch(table.string()); };
    TQtWizardWindow w(p);
    int notices = 0;
    QObject::connect(&w, &TQtWizardWindow::DeviceChangeNoticed, [&] { ++notices; });
    QApplication::processEvents();
    EXPECT_EQ(notices, 0);

    std::ofstream(table, std::ios::app) << "27 26 8:17 / /media/KEY rw - vfat /dev/sdb1 rw\n";
    EXPECT_TRUE(QTest::qWaitFor([&] { return notices > 0; }, 5000));
    const int afterPlug = notices;
    QApplication::processEvents();
    EXPECT_EQ(notices, afterPlug) << "one change, acknowledged, stays quiet";
}

TEST_F(WizardWindow, ALocaleDatabaseWithoutTheTableShowsTheErrorBoxAndTheWindowOpens) {
    Locale.WriteLocaleDb({}, false);
    QString shown, title;
    AnswerNextModal([&](QWidget* m) {
        auto* box = qobject_cast<QMessageBox*>(m);
        ASSERT_NE(box, nullptr);
        shown = box->text();
        title = box->windowTitle();
        box->accept();
    });
    auto w = Make();
    EXPECT_TRUE(shown.startsWith("Error executing SQL.")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("no such table: LOCALIZE")) << shown.toStdString();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), "Pendock Utility");
    EXPECT_EQ(w->size(), QSize(547, 474));
    EXPECT_EQ(w->PageControl()->geometry(), QRect(0, 0, 547, 474))
        << "the tab strip is not pushed aside";
    EXPECT_EQ(static_cast<QAbstractButton*>(w->Control(EControl::ButtonNext))->text(), "Next");
    // The buttons keep their distance to the page's right and bottom edges.
    const QWidget* page = w->Page(EPage::Briefing);
    const QRect next = InPage(*w, EControl::ButtonNext, EPage::Briefing);
    EXPECT_EQ(page->width() - next.right() - 1, 478 - 431);
    EXPECT_EQ(page->height() - next.bottom() - 1, 334 - 307);

    // Closing: the question cannot be read, the error box says so and the window closes.
    AnswerNextModal([](QWidget* m) { static_cast<QDialog*>(m)->accept(); });
    EXPECT_TRUE(w->close());
}

} // namespace

namespace {

// The shipped texts in every language fit their controls: nothing is cut off.
class ShippedTexts : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedTexts, FitTheirControls) {
    const std::filesystem::path shipped =
        std::filesystem::path(PENDOCK_BINARY_DIR) / "app" / "locale.db";
    ASSERT_TRUE(std::filesystem::is_regular_file(shipped));
    TLocaleFolder folder;
    std::filesystem::copy_file(shipped, folder.FolderPath / "locale.db");
    folder.WriteLocaleXml(GetParam());

    TPendockPlatform p = IdlePlatform();
    p.ProgramFolder = [&] { return folder.Folder(); };
    p.ConnectedDrives = [] { return TDriveConn{}; };
    TQtWizardWindow w(p);
    w.show();
    // The key page's headings appear later; put each of them in for the check.
    std::vector<std::pair<EControl, std::string>> later = {
        {EControl::MessageDetectKey, "PLEASE_WAIT"},
        {EControl::MessageDetectKey, "MESSAGE_NOKEY"},
        {EControl::MessageDetectKey, "MESSAGE_KEYFOUND"},
    };
    // Where each text is drawn (headings in even lines, bodies below their heading) lies inside
    // its label.
    const auto checkLabel = [&](EControl c, const char* what) {
        auto* label = static_cast<QLabel*>(w.Control(c));
        ASSERT_FALSE(label->text().isEmpty()) << what;
        EXPECT_FALSE(label->text().contains("#NOT_FOUND#")) << what;
        const QRect room = label->contentsRect();
        const QRect need = qobject_cast<THeadingLabel*>(label)
                               ? static_cast<THeadingLabel*>(label)->TextRect()
                               : static_cast<TBodyLabel*>(label)->TextRect();
        EXPECT_TRUE(room.contains(need)) << what << ": " << label->text().toStdString();
    };
    for (EControl c : {EControl::MessageBriefing, EControl::BriefingText,
                       EControl::MessageWaitBrowser, EControl::WaitBrowserText})
        checkLabel(c, "creation");
    for (const auto& [c, key] : later) {
        w.SetText(c, w.Form().SQLocale()->GetString(key));
        checkLabel(c, key.c_str());
    }
    for (EControl c : {EControl::ButtonNext, EControl::ButtonCancel}) {
        auto* b = static_cast<QPushButton*>(w.Control(c));
        QString shown = b->text();
        shown.remove('&');
        EXPECT_LE(b->fontMetrics().horizontalAdvance(shown) + 28, b->width())
            << shown.toStdString();
    }
    // The close question fits its dialog.
    bool fits = false;
    QString asked;
    AnswerNextModal([&](QWidget* m) {
        QApplication::processEvents();
        auto* label = m->findChild<QLabel*>("qt_msgbox_label");
        ASSERT_NE(label, nullptr);
        asked = label->text();
        const QRect room = label->contentsRect();
        const QRect need = label->fontMetrics().boundingRect(
            QRect(0, 0, room.width(), 10000), Qt::TextWordWrap | label->alignment(), asked);
        fits = need.height() <= room.height() && need.width() <= room.width() &&
               label->geometry().right() < m->width();
        // The icon keeps to its own size and leaves the room to the text.
        if (auto* icon = m->findChild<QLabel*>("qt_msgboxex_icon_label"))
            fits = fits && icon->width() <= 64;
        m->findChild<QPushButton*>("ButtonNo")->click();
    });
    bool canClose = true;
    w.Form().FormCloseQuery(canClose);
    EXPECT_FALSE(asked.isEmpty());
    EXPECT_TRUE(fits) << asked.toStdString();

    // The dialog texts: their captions exist in the language.
    for (const char* name :
         {"MSG_CAP_ERROR", "MSG_CAP_CONFIRM", "MSG_BTN_YES", "MSG_BTN_NO", "MSG_BTN_OK"})
        EXPECT_FALSE(w.Form().StrData().Value(name).empty()) << name;
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedTexts,
                         ::testing::Values("it-IT", "en-GB", "de-DE", "fr-FR", "es-ES"));

} // namespace
