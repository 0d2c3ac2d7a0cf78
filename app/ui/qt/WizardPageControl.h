#pragma once
// The page control of the wizard: a QTabWidget whose tabs never change the page on their own.
// Every change the user asks for through the tabs (a click or the mouse wheel on a tab, the
// arrow keys on a focused tab bar, Ctrl+Tab and Ctrl+Page Up/Down anywhere on the pages)
// is first put to `AskChange`; when it answers false the request is swallowed.

#include <QTabBar>
#include <QTabWidget>

#include <functional>

class TWizardTabBar : public QTabBar {
    Q_OBJECT
public:
    explicit TWizardTabBar(QWidget* parent = nullptr);
    std::function<bool()> AskChange;
    // True while a change that AskChange granted is being carried out.
    bool Granted = false;

protected:
    bool event(QEvent* e) override;
};

class TWizardPageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TWizardPageControl(QWidget* parent = nullptr);

    // Puts a page in front on the wizard's own behalf.
    void ShowPageIndex(int index);
    TWizardTabBar* WizardTabBar() const { return FTabBar; }
    void SetAskChange(std::function<bool()> ask);

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    bool Allowed() const;

    TWizardTabBar* FTabBar;
    int FPage = 0;
    bool FOwnChange = false;
};
