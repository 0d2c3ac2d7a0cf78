// The Qt window when the mount table cannot be watched: the wizard finds the key all the same.

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "FormPendock.h"
#include "platform/linux/drive_watch.h"
#include "support/IdlePlatform.h"
#include "support/LocaleFixture.h"
#include "ui/qt/QtWizardWindow.h"

TEST(QtWizardFaults, AMountTableThatCannotBeWatchedIsLookedAtWhileWaiting) {
    TLocaleFolder locale;
    locale.WriteLocaleXml("it-IT");
    locale.WriteLocaleDb(WizardRows());
    TDriveConn present{};
    present[0] = true; // C:
    TPendockPlatform p = IdlePlatform();
    p.ProgramFolder = [&] { return locale.Folder(); };
    p.ConnectedDrives = [&] { return present; };
    p.DriveUsbInfo = [](const std::string& Drive, std::string& VID, std::string&, std::string&) {
        VID = Drive == "E" ? "ACME" : "";
        return Drive == "E";
    };
    // Its folder is missing, so no watch can be set up on it.
    p.DriveWatch = [&] {
        return platform::lnx::MakeDriveWatch(
            (locale.FolderPath / "missing" / "mountinfo").string());
    };
    TQtWizardWindow w(p);
    w.Form().Dispatch([&] { w.Form().ButtonNextClick(); });

    present[2] = true; // E: plugged in
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.Form().Drive() == 'E'; }, 5000));
    EXPECT_EQ(w.Form().UsbVID(), "ACME");
}
