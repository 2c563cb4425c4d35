#include "app/PortraitPerchApp.h"

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/DesktopActivation.h"
#include "app/Translations.h"
#include "app/TrayActions.h"
#include "platform/base/Console.h"
#include "platform/base/ProcessMemory.h"
#include "platform/files/UserDirectories.h"
#include "platform/session/DesktopAppearance.h"
#include "platform/session/DisplayCheck.h"
#include "platform/session/OrderlyShutdown.h"
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

int main(int argc, char** argv, Edition edition)
{
    const QString name = Editions::executableName(edition);
    const QStringList arguments = CommandLine::arguments(argc, argv);
    CommandLine commandLine(name);
    if (commandLine.wouldAnswer(arguments)) {
        // The help and the errors in the user's language: translators need an application
        // object. It gets no options of Qt's to read, and the program's name to show.
        QByteArray program = name.toLocal8Bit();
        char* programOnly[] = {program.data(), nullptr};
        int count = 1;
        QCoreApplication answering(count, programOnly);
        Translations::install(answering, QLocale().uiLanguages());
        return CommandLine(name).answer(arguments).value_or(0);
    }
    if (commandLine.isSet(CommandLine::DeliverPending))
        return DeliveryRun::main(argc, argv, name, Editions::displayName(edition),
                                 {QStringLiteral("--") + CommandLine::OpenPopover});
    if (const auto problem = DisplayCheck::displayProblem()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(*problem));
        return 1;
    }

    ProcessMemory::returnLargeBlocksWhenFreed();
    QApplication application(argc, argv);
    // The tray item's title is the application name: the name people know the program by.
    QApplication::setApplicationName(Editions::displayName(edition));
    QApplication::setApplicationDisplayName(Editions::displayName(edition));
    QApplication::setApplicationVersion(QStringLiteral(PERCH_VERSION));
    QApplication::setDesktopFileName(Editions::applicationId(edition));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/museIcon.png")));
    Translations::install(application, QLocale().uiLanguages());
    DesktopAppearance appearance(QDBusConnection::sessionBus());
    appearance.start();
    // The popovers come and go; only Exit (or the session) ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    if (const auto notice = UserDirectories::temporaryDirectoryNotice())
        Console::printError(*notice);

    SingleInstance instance(Editions::applicationId(edition), name, TrayActions::all());
    switch (instance.start()) {
    case SingleInstance::Outcome::ForwardedToPrimary:
        return 0;
    case SingleInstance::Outcome::PrimaryNotAnswering:
        Console::printError(instance.problem() + QStringLiteral("; not starting a second copy"));
        return 1;
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
    ExternalDefaultsChanges otherProcessesWrites(UserDefaults::standard());
    AppDelegate delegate(edition);
    DesktopActivation activation(instance, delegate);
    QObject::connect(&UserNotificationCenter::current(), &UserNotificationCenter::activated, &delegate,
                     &AppDelegate::presentPopover);
    // Every way the program ends (Exit, a signal, the session, the display going away) comes
    // through here: a photo still decoding and the queued writes land before the process ends.
    OrderlyShutdown shutdown;
    QObject::connect(&shutdown, &OrderlyShutdown::saveRequested, &delegate, &AppDelegate::finishPendingWork);
    QObject::connect(&shutdown, &OrderlyShutdown::finishing, &delegate, &AppDelegate::finishPendingWork);
    QTimer::singleShot(0, &delegate, [&delegate, &instance, openPopover = commandLine.isSet(CommandLine::OpenPopover)] {
        delegate.applicationDidFinishLaunching();
        instance.acceptRequests();
        if (openPopover)
            delegate.presentPopover();
    });
    const int status = QApplication::exec();
    instance.release();
    shutdown.finish();
    return status;
}

} // namespace PortraitPerchApp
