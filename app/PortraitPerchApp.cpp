#include "app/PortraitPerchApp.h"

#include "app/AppDelegate.h"
#include "app/Translations.h"
#include "platform/base/Console.h"
#include "platform/base/ProcessMemory.h"
#include "platform/files/UserDirectories.h"
#include "platform/session/DesktopAppearance.h"
#include "platform/session/DisplayCheck.h"
#include "platform/session/SingleInstance.h"
#include "platform/usernotifications/DeliveryRun.h"
#include "platform/usernotifications/UserNotificationCenter.h"
#include "preferences/ExternalDefaultsChanges.h"
#include "preferences/UserDefaults.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QLocale>
#include <QTimer>

#include <cstdio>

namespace PortraitPerchApp {

namespace {
// Opens the photo popover once the program runs: how a click on a reminder starts it.
const QString kOpenPopoverOption = QStringLiteral("--open-popover");
} // namespace

int main(int argc, char** argv, Edition edition)
{
    const QString name = Editions::executableName(edition);
    if (DeliveryRun::isRequested(argc, argv))
        return DeliveryRun::main(argc, argv, name, Editions::displayName(edition), {kOpenPopoverOption});
    if (const auto problem = DisplayCheck::displayProblem()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(*problem));
        return 1;
    }

    ProcessMemory::returnLargeBlocksWhenFreed();
    QApplication application(argc, argv);
    // The tray item's title is the application name: the name people know the program by.
    QApplication::setApplicationName(Editions::displayName(edition));
    QApplication::setApplicationDisplayName(Editions::displayName(edition));
    QApplication::setDesktopFileName(name);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/museIcon.png")));
    Translations::install(application, QLocale().uiLanguages());
    DesktopAppearance appearance(QDBusConnection::sessionBus());
    appearance.start();
    // The popovers come and go; only Exit (or the session) ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    if (const auto problem = UserDirectories::runtimeDirectoryProblem())
        Console::printError(*problem + QStringLiteral("; using %1 instead").arg(UserDirectories::temporaryDirectory()));

    SingleInstance instance(name);
    switch (instance.start()) {
    case SingleInstance::Outcome::ForwardedToPrimary:
        return 0;
    case SingleInstance::Outcome::Unavailable:
        Console::printError(
            QStringLiteral("cannot make sure that only one copy runs (%1); starting anyway").arg(instance.problem()));
        break;
    case SingleInstance::Outcome::Primary:
        if (!instance.problem().isEmpty())
            Console::printError(instance.problem());
        break;
    }

    UserDefaults::standard(); // reports an unusable store once, at start
    const ExternalDefaultsChanges otherProcessesWrites(UserDefaults::standard());
    AppDelegate delegate(edition);
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate, &AppDelegate::presentPopover);
    QObject::connect(&UserNotificationCenter::current(), &UserNotificationCenter::activated, &delegate,
                     &AppDelegate::presentPopover);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    if (QCoreApplication::arguments().contains(kOpenPopoverOption))
        QTimer::singleShot(0, &delegate, &AppDelegate::presentPopover);
    return QApplication::exec();
}

} // namespace PortraitPerchApp
