#include "ui/qt/WizardPageControl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

TWizardTabBar::TWizardTabBar(QWidget* parent) : QTabBar(parent) {}

bool TWizardTabBar::event(QEvent* e) {
    bool asks = false;
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto* m = static_cast<QMouseEvent*>(e);
        const int at = tabAt(m->position().toPoint());
        asks = at >= 0 && at != currentIndex();
        break;
    }
    case QEvent::Wheel:
        asks = true;
        break;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(e)->key();
        // Tab and Backtab move the focus on; every other key may move the current tab.
        asks = key != Qt::Key_Tab && key != Qt::Key_Backtab;
        break;
    }
    default:
        break;
    }
    if (asks && AskChange && !AskChange()) {
        e->accept();
        return true;
    }
    Granted = asks;
    const bool handled = QTabBar::event(e);
    Granted = false;
    return handled;
}

TWizardPageControl::TWizardPageControl(QWidget* parent)
    : QTabWidget(parent), FTabBar(new TWizardTabBar(this)) {
    setTabBar(FTabBar);
    setTabPosition(QTabWidget::East);
    // Should a change get past the guards after all, the wizard's own page comes back.
    connect(this, &QTabWidget::currentChanged, this, [this](int index) {
        if (FOwnChange || FTabBar->Granted) {
            FPage = index;
        } else if (index != FPage && FPage >= 0 && FPage < count()) {
            FOwnChange = true;
            setCurrentIndex(FPage);
            FOwnChange = false;
        }
    });
}

void TWizardPageControl::SetAskChange(std::function<bool()> ask) {
    FTabBar->AskChange = std::move(ask);
}

bool TWizardPageControl::Allowed() const {
    return !FTabBar->AskChange || FTabBar->AskChange();
}

void TWizardPageControl::ShowPageIndex(int index) {
    FOwnChange = true;
    setCurrentIndex(index);
    FOwnChange = false;
    FPage = currentIndex();
}

void TWizardPageControl::keyPressEvent(QKeyEvent* e) {
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const int key = e->key();
    const bool pages = ctrl && (key == Qt::Key_Tab || key == Qt::Key_Backtab ||
                                key == Qt::Key_PageUp || key == Qt::Key_PageDown);
    if (pages && !Allowed()) {
        e->accept();
        return;
    }
    FTabBar->Granted = pages;
    QTabWidget::keyPressEvent(e);
    FTabBar->Granted = false;
}
