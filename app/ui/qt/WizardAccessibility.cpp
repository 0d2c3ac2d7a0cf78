#include "ui/qt/WizardAccessibility.h"

#include <QAccessibleWidget>
#include <QTabBar>
#include <QWidget>

namespace {

// The window: a frame (QAccessibleWidget names a top-level widget by its title).
class TWindowAccessible : public QAccessibleWidget {
public:
    explicit TWindowAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Window) {}
};

// The page control and the stack of its pages: only what the user can reach. The tab strip is
// left out, and of the pages the one in front (the others hold texts not yet set).
class TPagesAccessible : public QAccessibleWidget {
public:
    TPagesAccessible(QWidget* w, QAccessible::Role role) : QAccessibleWidget(w, role) {}

    int childCount() const override { return static_cast<int>(Children().size()); }

    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> children = Children();
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children.at(index));
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child || !child->object() || !child->object()->isWidgetType())
            return -1;
        return static_cast<int>(Children().indexOf(static_cast<QWidget*>(child->object())));
    }

private:
    QList<QWidget*> Children() const {
        QList<QWidget*> children;
        for (QObject* o : widget()->children()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (w && !w->isWindow() && !w->isHidden() && !qobject_cast<QTabBar*>(w))
                children.append(w);
        }
        return children;
    }
};

QAccessibleInterface* WizardAccessible(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("TQtWizardWindow"))
        return new TWindowAccessible(widget);
    if (className == QLatin1String("TWizardPageControl"))
        return new TPagesAccessible(widget, QAccessible::Client);
    if (className == QLatin1String("QStackedWidget") && widget->parentWidget() &&
        widget->parentWidget()->inherits("TWizardPageControl"))
        return new TPagesAccessible(widget, QAccessible::LayeredPane);
    return nullptr;
}

} // namespace

void InstallWizardAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(WizardAccessible);
        return true;
    }();
    (void)installed;
}
