#include "ui/qt/QtActivation.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

const QString ServiceName = QStringLiteral("example.quorvento.Pendock");
const QString ObjectPath = QStringLiteral("/example/quorvento/Pendock");
const QString Interface = QStringLiteral("org.freedesktop.Application");

// Long enough for a running copy that is busy for a moment; the request stays with the bus when
// this copy has stopped waiting.
constexpr int AnswerTimeoutMs = 2000;

// Whether a window manager runs on the X display: one that follows the freedesktop window
// manager hints names its check window on the root window.
bool WindowManagerRuns(xcb_connection_t* connection) {
    const char* const name = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    if (!atom)
        return false;
    const xcb_atom_t check = atom->atom;
    std::free(atom);
    if (check == XCB_ATOM_NONE)
        return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
    const bool runs = property && xcb_get_property_value_length(property) == 4;
    std::free(property);
    return runs;
}

// X11 without a window manager: the server alone decides, by time stamps, and Qt's request
// carries the time of the last event it saw, which is older than the focus change that took
// the focus away. The focus is set once more with the server's present time. (With a window
// manager, Qt's request goes to it, and it decides.)
void FocusWithoutWindowManager(QWidget* target) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection() || WindowManagerRuns(x11->connection()))
        return;
    xcb_set_input_focus(x11->connection(), XCB_INPUT_FOCUS_PARENT,
                        static_cast<xcb_window_t>(target->winId()), XCB_CURRENT_TIME);
    xcb_flush(x11->connection());
}

// The running copy's side: the interface's three methods as slots exported on the bus.
class TActivationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit TActivationService(QWidget* window) : QObject(window), FWindow(window) {}

public Q_SLOTS:
    void Activate(const QVariantMap& platformData) { BringToFront(platformData); }
    void Open(const QStringList&, const QVariantMap& platformData) { BringToFront(platformData); }
    void ActivateAction(const QString&, const QVariantList&, const QVariantMap&) {}

private:
    void BringToFront(const QVariantMap& platformData) {
        // Qt's Wayland platform takes the token for the next activation from the environment.
        const QString token = platformData.value(QStringLiteral("activation-token")).toString();
        if (!token.isEmpty())
            qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
        if (FWindow->isMinimized())
            FWindow->setWindowState(FWindow->windowState() & ~Qt::WindowMinimized);
        FWindow->show();
        FWindow->raise();
        QWidget* target = FWindow;
        // A modal dialog blocks its window: it is what the user has to answer.
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != FWindow) {
            modal->raise();
            target = modal;
        }
        target->activateWindow();
        FocusWithoutWindowManager(target);
    }

    QWidget* FWindow;
};

} // namespace

bool ServeActivation(QWidget* window) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    auto* service = new TActivationService(window);
    if (!bus.registerObject(ObjectPath, service, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(ServiceName)) {
        delete service;
        return false;
    }
    return true;
}

bool RequestActivation() {
    // The bus connection wants an application object, which a copy that may not run does not
    // make otherwise.
    int argc = 1;
    char name[] = "Pendock";
    char* argv[] = {name, nullptr};
    std::optional<QCoreApplication> application;
    if (!QCoreApplication::instance())
        application.emplace(argc, argv);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QVariantMap platformData;
    for (const auto& [key, variable] : {std::pair{"activation-token", "XDG_ACTIVATION_TOKEN"},
                                        std::pair{"desktop-startup-id", "DESKTOP_STARTUP_ID"}}) {
        const QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty())
            platformData.insert(QString::fromLatin1(key), value);
    }
    QDBusMessage call = QDBusMessage::createMethodCall(ServiceName, ObjectPath, Interface,
                                                       QStringLiteral("Activate"));
    // Only a running copy answers; nothing is to be started for the name.
    call.setAutoStartService(false);
    call << platformData;
    return bus.call(call, QDBus::Block, AnswerTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

#include "QtActivation.moc"
