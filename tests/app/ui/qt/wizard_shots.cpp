// Development tool: draws every page and both dialog forms of the wizard, in the language
// given, into PNG files, for looking at the layout. Not a test.
//   wizard_shots LOCALE.DB LANG-CODE OUT-DIR

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include "QtTestSupport.h"
#include "support/PreviewMachine.h"
#include "ui/qt/QtWizardWindow.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s LOCALE.DB LANG-CODE OUT-DIR\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir folder;
    const QString code = QString::fromLocal8Bit(argv[2]);
    const QString out = QString::fromLocal8Bit(argv[3]);
    QFile::copy(QString::fromLocal8Bit(argv[1]), folder.filePath("locale.db"));
    QFile xml(folder.filePath("locale.xml"));
    xml.open(QIODevice::WriteOnly);
    xml.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<localization><locale>" + code.toUtf8() +
              "</locale></localization>\n");
    xml.close();
    QDir().mkpath(out);

    // A drive that nothing identifies appears first, then the key.
    TPreviewMachine machine;
    const TPendockPlatform p = machine.Platform(folder.path().toStdString() + "/");
    TQtWizardWindow w(p);
    w.Timer(ETimer::TimerAnim)->stop();
    w.show();
    QApplication::processEvents();

    const auto save = [&](QWidget* what, const QString& name) {
        QApplication::processEvents();
        what->grab().save(out + "/" + code + "-" + name + ".png");
    };
    save(&w, "1-briefing");
    static_cast<QPushButton*>(w.Control(EControl::ButtonNext))->click();
    save(&w, "2-detectkey");

    // The drive without identity: the error dialog, by the wizard's own handlers.
    AnswerNextModal([&](QWidget* m) {
        save(m, "6-error");
        m->findChild<QPushButton*>("ButtonOK")->click();
    });
    machine.Plugged = true;
    w.Form().WMDeviceChange();
    w.Form().TimerCheckTimer();

    // The key: pulled out and plugged in again, identified this time.
    machine.Plugged = false;
    w.Form().WMDeviceChange();
    w.Form().TimerCheckTimer();
    machine.Plugged = machine.Identified = true;
    w.Form().WMDeviceChange();
    w.Form().TimerCheckTimer();
    save(&w, "3-keyfound");
    // As often as the form waits for a product folder, which the preview key lacks.
    do
        w.Form().TimerContTimer();
    while (w.Timer(ETimer::TimerCont)->isActive());
    w.Timer(ETimer::TimerWait)->stop();
    save(&w, "4-waitbrowser");

    AnswerNextModal([&](QWidget* m) {
        save(m, "5-confirm");
        m->findChild<QPushButton*>("ButtonNo")->click();
    });
    bool canClose = true;
    w.Form().FormCloseQuery(canClose);
    return 0;
}
