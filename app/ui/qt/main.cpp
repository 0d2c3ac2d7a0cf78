// The program entry: one copy per machine (a second start brings the running copy's window to
// the front), the wizard window, the message loop.

#include <QApplication>

#include <memory>
#include <utility>

#include "FormPendock.h"
#include "mod_FirstInstance.h"
#include "ui/qt/QtActivation.h"
#include "ui/qt/QtWizardWindow.h"

namespace {

// Names the machine-wide single-instance lock.
const char* const InstanceIdentifier = "{888D4D22-EDB2-4D13-A098-88CF11E0EECB}";

} // namespace

TMaxInstance* InstanceGuard = nullptr;

int main(int argc, char** argv) {
    std::unique_ptr<QApplication> application;
    std::unique_ptr<TQtWizardWindow> PendockForm;

    // Before the guard: the platform hands the layer where its lock folders are.
    TPendockPlatform platform = DefaultPendockPlatform();

    if (FirstInstance(InstanceIdentifier, InstanceGuard)) {
        application = std::make_unique<QApplication>(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Pendock"));
        QApplication::setApplicationVersion(QStringLiteral(PENDOCK_VERSION));
        QApplication::setDesktopFileName(QStringLiteral("example.quorvento.Pendock"));

        PendockForm = std::make_unique<TQtWizardWindow>(std::move(platform));
        ServeActivation(PendockForm.get());
        PendockForm->show();
        QApplication::exec();

        ReleaseFirstInstance(InstanceGuard);
    } else {
        // A second start: the running copy's window comes to the front, this copy ends.
        RequestActivation();
    }
    FreeFirstInstance(InstanceGuard);

    // The window goes before the application object it lives in.
    PendockForm.reset();
    application.reset();
    return 0;
}
