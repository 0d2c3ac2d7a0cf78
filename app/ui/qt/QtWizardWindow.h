#pragma once
// The wizard window on Qt: builds the window as designed (controls, fonts, pictures, timers,
// skin), implements IWizardView for TPendockForm and delivers the window's events (clicks,
// timer ticks, tab requests, close requests) to the form's handlers.

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>
#include <map>
#include <memory>

#include "FormPendock.h"
#include "WizardResource.h"
#include "WizardView.h"

class QLabel;
class QSocketNotifier;
class QMessageBox;
class QPushButton;
class QTimer;
class TWizardPageControl;

// A font of `family` whose cell height (ascent plus descent) is at most `cellPixels`, as
// large as it can be.
QFont FontForCellHeight(const QString& family, int cellPixels, bool bold);

// The program's icon in the sizes a window shows it at.
QIcon ApplicationIcon();

// The picture `name` of the window's resource (a name of the image store, or DialogError and
// DialogQuestion) for a screen of device pixel ratio `ratio`: the drawing made for 2x above 1,
// made to fit the ratio exactly when it is neither 1 nor 2. Null when there is no such picture.
QPixmap LoadPicture(const QString& name, qreal ratio);

// The skin "ZiviZeduze.skn" from the window's resource, inflated; empty if it is missing or
// damaged.
QString LoadSkin();

class TQtWizardWindow : public QWidget, public IWizardView {
    Q_OBJECT
public:
    // Builds the window and runs the form's create handler.
    explicit TQtWizardWindow(TPendockPlatform Platform, QWidget* parent = nullptr);
    ~TQtWizardWindow() override;

    TPendockForm& Form() { return FForm; }
    QWidget* Control(EControl control) const;
    QWidget* Page(EPage page) const;
    QTimer* Timer(ETimer timer) const;
    TWizardPageControl* PageControl() const { return FWizard; }
    const QString& Skin() const { return FSkin; }
    // A picture of the image store for the screen's pixel ratio, drawn the first time it is
    // asked for (most are not needed at start).
    const QPixmap& Picture(EImage image) const;
    const QPixmap& DialogIcon(EDialogKind kind) const;
    const QString& ApplicationTitle() const { return FApplicationTitle; }

    // IWizardView
    void ShowPage(EPage page) override;
    void SetText(EControl control, const std::string& text) override;
    void SetImage(EControl control, EImage image) override;
    EImage ImageOf(EControl control) const override;
    void SetPictureTexts(const std::array<TPictureTexts, PngIconsCount>& texts) override;
    void SetEnabled(EControl control, bool enabled) override;
    void StartTimer(ETimer timer) override;
    void StopTimer(ETimer timer) override;
    EDialogButton ShowDialog(EDialogKind kind, const std::string& text,
                             const TDialogCaptions& captions) override;
    void ShowException(const std::string& message) override;
    void ProcessMessages() override;
    void Terminate() override;
    void SetCaption(const std::string& text) override;
    void SetApplicationTitle(const std::string& text) override;
    void SetBorderIcons(unsigned icons) override;
    void SetClientSize(int width, int height) override;
    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetBounds(EControl control, int left, int top, int width, int height) override;

signals:
    // A message dialog is about to run modally (tests answer it through this).
    void DialogOpening(QMessageBox* dialog);
    // A device-change notice arrived and goes to the form's WMDeviceChange.
    void DeviceChangeNoticed();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    // Escape asks to close, as the close box does; Enter presses the page's button.
    void keyPressEvent(QKeyEvent* e) override;

private:
    void BuildControls();
    // The page control and its pages.
    void BuildPageControl();
    // The control of a row of the resource table, on `parent`, still without name and place.
    QWidget* CreateControl(const wizard_resource::TControlSpec& def, QWidget* parent);
    // The buttons and the page control's change requests to the form's handlers.
    void ConnectControls();
    void BuildTimers();
    // Forgets the pictures drawn for another pixel ratio and shows them anew where they are shown.
    void ReloadPictures();
    // Gives the image views of the page in front the pictures they are to show.
    void ShowPictures();
    // The page's button takes the focus (and so Enter) when it can.
    void FocusPage();
    QPushButton* PageButton(int page) const;
    // Waits on the form's drive watch, if it has one that can be waited on.
    void WatchDrives();

    TPendockForm FForm;
    TWizardPageControl* FWizard = nullptr;
    std::array<QWidget*, wizard_resource::PageCount> FPages{};
    std::map<EControl, QWidget*> FControls;
    std::map<EControl, EImage> FShownImage;
    std::array<QTimer*, wizard_resource::TimerCount> FTimers{};
    mutable std::array<QPixmap, PngIconsCount> FPngIcons;
    mutable std::array<QPixmap, 2> FDialogIcons;
    qreal FPictureRatio = 0;
    std::array<TPictureTexts, PngIconsCount> FPictureTexts;
    QString FApplicationTitle;
    QString FSkin;
    bool FCentred = false;
    QSocketNotifier* FDeviceNotifier = nullptr;
};
