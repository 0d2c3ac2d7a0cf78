#include "ui/qt/QtWizardWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include <vector>

#include "WizardResource.h"
#include "ui/qt/WizardAccessibility.h"
#include "ui/qt/WizardLabels.h"
#include "ui/qt/WizardPageControl.h"

// The resource compiled by rcc under the name "pendock" (a static library's resources need
// an explicit start).
static void InitPendockResource() {
    Q_INIT_RESOURCE(pendock);
}

namespace {

namespace res = wizard_resource;

QString ToQt(const std::string& text) {
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

// Where Tahoma is not installed, fontconfig's usual stand-in (DejaVu Sans) runs far wider than
// Tahoma. Liberation Sans keeps close to Tahoma's widths, and is what Windows programs get for it
// under Wine, so that both builds set a text alike.
void PreferNarrowStandIns() {
    static const bool done = [] {
        QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"));
        return true;
    }();
    (void)done;
}

// The message dialog lays its text out itself; a non-breaking hyphen (U+2011) in place of a
// hyphen inside a word keeps it from breaking a line there, as the window's own texts never do.
QString WithoutBreaksAtHyphens(QString text) {
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == u'-' && text[i - 1].isLetterOrNumber() && text[i + 1].isLetterOrNumber())
            text[i] = QChar(0x2011);
    }
    return text;
}

QFont FontOf(const res::TFontSpec& def) {
    if (def.CellHeight)
        return FontForCellHeight(QString::fromLatin1(def.Family), def.Pixels, def.Bold);
    QFont f(QString::fromLatin1(def.Family));
    f.setPixelSize(def.Pixels);
    f.setBold(def.Bold);
    return f;
}

// A page whose buttons keep their distance to its right and bottom edges.
class TWizardPage : public QWidget {
public:
    using QWidget::QWidget;

    struct TAnchored {
        QWidget* Widget;
        int Right;  // distance from the page's right edge to the widget's right edge
        int Bottom; // distance from the page's bottom edge to the widget's bottom edge
    };
    std::vector<TAnchored> Anchored;

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        for (const TAnchored& a : Anchored) {
            a.Widget->move(width() - a.Right - a.Widget->width(),
                           height() - a.Bottom - a.Widget->height());
        }
    }
};

} // namespace

QFont FontForCellHeight(const QString& family, int cellPixels, bool bold) {
    QFont f(family);
    f.setBold(bold);
    for (int px = cellPixels; px > 1; --px) {
        f.setPixelSize(px);
        if (QFontMetrics(f).height() <= cellPixels)
            return f;
    }
    f.setPixelSize(1);
    return f;
}

QIcon ApplicationIcon() {
    InitPendockResource();
    QIcon icon;
    // The sizes a window's icon is shown at (up to 32 px at 200 %). QIcon reads every file it
    // is given at once; the larger sizes come to launchers from the icon theme instead.
    for (int n : {16, 24, 32, 48, 64})
        icon.addFile(QStringLiteral(":/pendock/icon/%1.png").arg(n), QSize(n, n));
    return icon;
}

QPixmap LoadPicture(const QString& name, qreal ratio) {
    InitPendockResource();
    const bool large = ratio > 1.0;
    // A name ending in "@2x" gives the image a device pixel ratio of 2 as it is read.
    QImage image(QStringLiteral(":/pendock/images/%1%2.png")
                     .arg(name, large ? QStringLiteral("@2x") : QString()));
    if (image.isNull())
        return {};
    if (!qFuzzyCompare(image.devicePixelRatio(), ratio) && ratio > 0) {
        const QSizeF logical = QSizeF(image.size()) / image.devicePixelRatio();
        image = image.scaled((logical * ratio).toSize(), Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
        image.setDevicePixelRatio(ratio);
    }
    return QPixmap::fromImage(image);
}

QString LoadSkin() {
    InitPendockResource();
    QFile file(QStringLiteral(":/pendock/ZiviZeduze.skn"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray packed = file.readAll();
    if (packed.size() < 5)
        return {};
    return QString::fromUtf8(qUncompress(packed));
}

TQtWizardWindow::TQtWizardWindow(TPendockPlatform Platform, QWidget* parent)
    : QWidget(parent, Qt::Window), FForm(*this, std::move(Platform)) {
    InitPendockResource();
    InstallWizardAccessibility();
    PreferNarrowStandIns();
    setObjectName(QStringLiteral("PendockForm"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QString::fromLatin1(res::Caption));
    setFont(FontOf(res::DefaultFont));
    setFixedSize(res::DesignClientWidth, res::DesignClientHeight);

    FSkin = LoadSkin();
    FPictureRatio = devicePixelRatioF();
    BuildControls();
    BuildTimers();
    setStyleSheet(FSkin);
    WatchDrives();

    FForm.Dispatch([this] { FForm.FormCreate(); });
}

TQtWizardWindow::~TQtWizardWindow() {
    for (QTimer* t : FTimers)
        t->stop();
    delete FDeviceNotifier; // before the form closes the descriptor it watches
    FDeviceNotifier = nullptr;
    FForm.Dispatch([this] { FForm.FormDestroy(); });
}

const QPixmap& TQtWizardWindow::Picture(EImage image) const {
    const char* name = res::PictureName(image);
    if (!name) {
        static const QPixmap none;
        return none;
    }
    QPixmap& picture = FPngIcons[static_cast<size_t>(image)];
    if (picture.isNull())
        picture = LoadPicture(QString::fromLatin1(name), FPictureRatio);
    return picture;
}

const QPixmap& TQtWizardWindow::DialogIcon(EDialogKind kind) const {
    QPixmap& icon = FDialogIcons[static_cast<size_t>(kind)];
    if (icon.isNull())
        icon = LoadPicture(QString::fromLatin1(res::PictureName(kind)), FPictureRatio);
    return icon;
}

void TQtWizardWindow::ReloadPictures() {
    FPictureRatio = devicePixelRatioF();
    FPngIcons = {};
    FDialogIcons = {};
    ShowPictures();
}

void TQtWizardWindow::ShowPictures() {
    for (const auto& [view, image] : FShownImage) {
        auto* label = qobject_cast<QLabel*>(Control(view));
        if (label && label->parentWidget() && label->parentWidget()->isVisibleTo(this))
            label->setPixmap(Picture(image));
    }
}

void TQtWizardWindow::BuildControls() {
    BuildPageControl();
    for (const res::TControlSpec& def : res::Controls) {
        auto* page = static_cast<TWizardPage*>(FPages[static_cast<size_t>(def.Page)]);
        QWidget* parent =
            def.Control == EControl::Image ? FControls.at(EControl::PanelImage) : page;
        QWidget* w = CreateControl(def, parent);
        if (!w)
            continue;
        w->setObjectName(QString::fromLatin1(def.Name));
        w->setGeometry(def.Left, def.Top, def.Width, def.Height);
        if (def.Anchor == res::EAnchor::RightBottom) {
            page->Anchored.push_back(
                {w, res::PageWidth - def.Left - def.Width, res::PageHeight - def.Top - def.Height});
        }
        FControls[def.Control] = w;
    }

    SetImage(EControl::BriefingImage, res::BriefingImageAtStart);
    SetImage(EControl::Image, res::ImageAtStart);
    ConnectControls();
    FWizard->ShowPageIndex(0);
}

void TQtWizardWindow::BuildPageControl() {
    FWizard = new TWizardPageControl(this);
    FWizard->setObjectName(QStringLiteral("Wizard"));
    // Its own background (the rail beside the pages) comes from the skin.
    FWizard->setAttribute(Qt::WA_StyledBackground);
    FWizard->tabBar()->setFont(FontOf(res::TabFont));
    // The tabs only mark the page in front: the keyboard passes them by.
    FWizard->setFocusPolicy(Qt::NoFocus);
    FWizard->tabBar()->setFocusPolicy(Qt::NoFocus);
    FWizard->setGeometry(res::DesignWizardLeft, res::DesignWizardTop, res::DesignClientWidth,
                         res::DesignClientHeight);
    FControls[EControl::Wizard] = FWizard;

    for (int i = 0; i < res::PageCount; ++i) {
        auto* page = new TWizardPage;
        page->setObjectName(QString::fromLatin1(res::PageNames[i]));
        FPages[static_cast<size_t>(i)] = page;
        FWizard->addTab(page, QString::fromLatin1(res::TabCaptions[i]));
    }
}

QWidget* TQtWizardWindow::CreateControl(const res::TControlSpec& def, QWidget* parent) {
    const QString text = QString::fromLatin1(def.ResourceText);
    switch (def.Kind) {
    case res::EKind::Heading: {
        auto* label = new THeadingLabel(text, parent);
        label->setFont(FontOf(res::HeadingFont));
        label->setAlignment(Qt::AlignCenter);
        label->setProperty("heading", true);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        return label;
    }
    case res::EKind::Label: {
        // The table puts a page's heading before its text.
        const res::TControlSpec* heading = res::FindControl(res::EKind::Heading, def.Page);
        auto* label = new TBodyLabel(
            text, heading ? static_cast<THeadingLabel*>(Control(heading->Control)) : nullptr,
            parent);
        label->setFont(FontOf(res::BodyFont));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        return label;
    }
    case res::EKind::ImageView: {
        auto* view = new QLabel(parent);
        view->setAlignment(Qt::AlignCenter);
        view->setProperty("imageView", true);
        return view;
    }
    case res::EKind::Button: {
        auto* button = new QPushButton(text, parent);
        // Each page has one button, and it is the page's default: Enter presses it.
        button->setAutoDefault(false);
        button->setDefault(true);
        // The platform may give buttons a font of their own; they take the window's.
        button->setFont(font());
        return button;
    }
    case res::EKind::Panel:
        // A plain widget: a QFrame would be announced as a window frame.
        return new QWidget(parent);
    case res::EKind::PageControl:
        break;
    }
    return nullptr;
}

void TQtWizardWindow::ConnectControls() {
    auto* next = static_cast<QPushButton*>(FControls.at(EControl::ButtonNext));
    auto* cancel = static_cast<QPushButton*>(FControls.at(EControl::ButtonCancel));
    connect(next, &QPushButton::clicked, this,
            [this] { FForm.Dispatch([this] { FForm.ButtonNextClick(); }); });
    connect(cancel, &QPushButton::clicked, this,
            [this] { FForm.Dispatch([this] { FForm.ButtonCancelClick(); }); });
    FWizard->SetAskChange([this] {
        bool allow = true;
        FForm.Dispatch([&] { FForm.WizardChanging(allow); });
        return allow;
    });
}

void TQtWizardWindow::WatchDrives() {
    platform::IDriveWatch* watch = FForm.DriveWatch();
    if (!watch)
        return;
    QSocketNotifier::Type type;
    switch (watch->Kind()) {
    case platform::IDriveWatch::EKind::Priority:
        type = QSocketNotifier::Exception;
        break;
    case platform::IDriveWatch::EKind::Readable:
        type = QSocketNotifier::Read;
        break;
    default:
        return; // nothing to wait on: the form looks at the drives itself while it waits
    }
    FDeviceNotifier = new QSocketNotifier(watch->Fd(), type, this);
    connect(FDeviceNotifier, &QSocketNotifier::activated, this, [this, watch] {
        const platform::IDriveWatch::TNotice notice = watch->Acknowledge();
        // The device nothing could open first: the scan that a change of the drives starts
        // would hold detection until it has run.
        if (notice.Unopened)
            FForm.Dispatch([this] { FForm.DeviceNotOpened(); });
        if (!notice.Drives)
            return;
        emit DeviceChangeNoticed();
        FForm.Dispatch([this] { FForm.WMDeviceChange(); });
    });
}

void TQtWizardWindow::BuildTimers() {
    for (const res::TTimerSpec& def : res::Timers) {
        auto* timer = new QTimer(this);
        timer->setInterval(def.IntervalMs);
        // A coarse timer may fire up to 5% early; the wizard's delays are meant to the
        // millisecond.
        timer->setTimerType(Qt::PreciseTimer);
        timer->setObjectName(QString::fromLatin1(def.Name));
        FTimers[static_cast<size_t>(def.Timer)] = timer;
        connect(timer, &QTimer::timeout, this,
                [this, t = def.Timer] { FForm.Dispatch([this, t] { FForm.OnTimer(t); }); });
        if (def.EnabledAtStart)
            timer->start();
    }
}

QWidget* TQtWizardWindow::Control(EControl control) const {
    const auto it = FControls.find(control);
    return it == FControls.end() ? nullptr : it->second;
}

QWidget* TQtWizardWindow::Page(EPage page) const {
    return FPages[static_cast<size_t>(page)];
}

QTimer* TQtWizardWindow::Timer(ETimer timer) const {
    return FTimers[static_cast<size_t>(timer)];
}

// ---- IWizardView --------------------------------------------------------------------------------

void TQtWizardWindow::ShowPage(EPage page) {
    FWizard->ShowPageIndex(static_cast<int>(page));
    ShowPictures();
    FocusPage();
}

QPushButton* TQtWizardWindow::PageButton(int page) const {
    const res::TControlSpec* def = res::FindControl(res::EKind::Button, static_cast<EPage>(page));
    return def ? static_cast<QPushButton*>(Control(def->Control)) : nullptr;
}

void TQtWizardWindow::FocusPage() {
    QPushButton* button = PageButton(FWizard->currentIndex());
    if (button && button->isEnabled())
        button->setFocus(Qt::OtherFocusReason);
}

void TQtWizardWindow::SetText(EControl control, const std::string& text) {
    QWidget* w = Control(control);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(ToQt(text));
        // The text below a heading starts where the heading ends.
        if (qobject_cast<THeadingLabel*>(label))
            label->parentWidget()->update();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(ToQt(text));
}

void TQtWizardWindow::SetImage(EControl control, EImage image) {
    auto* view = qobject_cast<QLabel*>(Control(control));
    if (!view)
        return;
    FShownImage[control] = image;
    const auto i = static_cast<size_t>(image);
    // A view on a page behind gets its picture when its page comes to the front.
    if (view->parentWidget() && view->parentWidget()->isVisibleTo(this))
        view->setPixmap(Picture(image));
    // Said only when it changes: each change is announced to screen readers.
    const QString name = ToQt(FPictureTexts[i].Name);
    const QString description = ToQt(FPictureTexts[i].Description);
    if (view->accessibleName() != name)
        view->setAccessibleName(name);
    if (view->accessibleDescription() != description)
        view->setAccessibleDescription(description);
}

void TQtWizardWindow::SetPictureTexts(const std::array<TPictureTexts, PngIconsCount>& texts) {
    FPictureTexts = texts;
}

EImage TQtWizardWindow::ImageOf(EControl control) const {
    return FShownImage.at(control);
}

void TQtWizardWindow::SetEnabled(EControl control, bool enabled) {
    if (QWidget* w = Control(control))
        w->setEnabled(enabled);
}

void TQtWizardWindow::StartTimer(ETimer timer) {
    Timer(timer)->start();
}

void TQtWizardWindow::StopTimer(ETimer timer) {
    Timer(timer)->stop();
}

EDialogButton TQtWizardWindow::ShowDialog(EDialogKind kind, const std::string& text,
                                          const TDialogCaptions& captions) {
    QMessageBox box(this);
    box.setObjectName(QStringLiteral("Dialog"));
    box.setStyleSheet(FSkin);
    box.setWindowModality(Qt::ApplicationModal);
    box.setTextFormat(Qt::PlainText);
    box.setWindowTitle(ToQt(captions.Title));
    box.setText(WithoutBreaksAtHyphens(ToQt(text)));
    // The texts of the window: the body's font for the message, the buttons' for the buttons.
    box.setFont(font());
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        label->setFont(FontOf(res::BodyFont));
    QPushButton* yes = nullptr;
    QPushButton* no = nullptr;
    QPushButton* ok = nullptr;
    box.setIconPixmap(DialogIcon(kind));
    // The icon says what kind of message this is; the caption says it in words.
    if (auto* icon = box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label")))
        icon->setAccessibleName(ToQt(captions.Title));
    if (kind == EDialogKind::Error) {
        ok = box.addButton(ToQt(captions.OK), QMessageBox::AcceptRole);
        ok->setObjectName(QStringLiteral("ButtonOK"));
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
    } else {
        yes = box.addButton(ToQt(captions.Yes), QMessageBox::YesRole);
        no = box.addButton(ToQt(captions.No), QMessageBox::NoRole);
        yes->setObjectName(QStringLiteral("ButtonYes"));
        no->setObjectName(QStringLiteral("ButtonNo"));
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
    }
    emit DialogOpening(&box);
    box.exec();
    if (kind == EDialogKind::Error)
        return EDialogButton::OK;
    return box.clickedButton() == yes ? EDialogButton::Yes : EDialogButton::No;
}

void TQtWizardWindow::ShowException(const std::string& message) {
    QMessageBox box(QMessageBox::Critical,
                    FApplicationTitle.isEmpty() ? windowTitle() : FApplicationTitle, ToQt(message),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setTextFormat(Qt::PlainText);
    emit DialogOpening(&box);
    box.exec();
}

void TQtWizardWindow::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TQtWizardWindow::Terminate() {
    // Leaves the message loop once the running handler has returned; no close events.
    QCoreApplication::exit(0);
}

void TQtWizardWindow::SetCaption(const std::string& text) {
    setWindowTitle(ToQt(text));
}

void TQtWizardWindow::SetApplicationTitle(const std::string& text) {
    // Kept by the window, not given to Qt as the application's display name: Qt would add that
    // name to the title of every other window (the dialogs), which carry their caption alone.
    FApplicationTitle = ToQt(text);
}

void TQtWizardWindow::SetBorderIcons(unsigned icons) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::MSWindowsFixedSizeDialogHint;
    if (icons & biSystemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (icons & biMinimize)
        flags |= Qt::WindowMinimizeButtonHint;
    if (icons & biMaximize)
        flags |= Qt::WindowMaximizeButtonHint;
    const bool shown = isVisible();
    setWindowFlags(flags);
    if (shown)
        show();
}

void TQtWizardWindow::SetClientSize(int width, int height) {
    setFixedSize(width, height);
}

int TQtWizardWindow::ClientWidth() const {
    return width();
}

int TQtWizardWindow::ClientHeight() const {
    return height();
}

void TQtWizardWindow::SetBounds(EControl control, int left, int top, int width, int height) {
    if (QWidget* w = Control(control))
        w->setGeometry(left, top, width, height);
}

// ---- Window events ------------------------------------------------------------------------------

void TQtWizardWindow::closeEvent(QCloseEvent* e) {
    bool canClose = true;
    FForm.Dispatch([&] { FForm.FormCloseQuery(canClose); });
    if (canClose)
        e->accept();
    else
        e->ignore();
}

bool TQtWizardWindow::event(QEvent* e) {
    const bool handled = QWidget::event(e);
    // Moved to a screen of another pixel ratio: the pictures made for it.
    if (e->type() == QEvent::ScreenChangeInternal &&
        !qFuzzyCompare(devicePixelRatioF(), FPictureRatio))
        ReloadPictures();
    return handled;
}

void TQtWizardWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        close(); // the close query decides
        return;
    }
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        QPushButton* button = PageButton(FWizard->currentIndex());
        if (button && button->isEnabled() && button->isVisible())
            button->click();
        return;
    }
    QWidget::keyPressEvent(e);
}

void TQtWizardWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (FCentred)
        return;
    FCentred = true;
    FocusPage();
    // The icon comes once the window is up (reading its files would hold the window back); the
    // message dialogs take it from their parent, this window.
    QTimer::singleShot(0, this, [this] { setWindowIcon(ApplicationIcon()); });
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        const QRect frame = frameGeometry();
        // move() places the frame's top-left corner.
        move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
    }
}
