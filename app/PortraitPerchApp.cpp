#include "app/PortraitPerchApp.h"

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/Confinement.h"
#include "app/DeliveryRun.h"
#include "app/DesktopActivation.h"
#include "app/Translations.h"
#include "app/TrayActions.h"
#include "platform/base/Console.h"
#include "platform/base/ProcessMemory.h"
#include "platform/files/UserDirectories.h"
#include "platform/sandbox/OutsideFileChooser.h"
#include "platform/sandbox/OutsideLauncher.h"
#include "platform/session/DesktopAppearance.h"
#include "platform/session/DisplayCheck.h"
#include "platform/session/OrderlyShutdown.h"
#include "platform/session/SingleInstance.h"
#include "platform/usernotifications/UserNotificationCenter.h"
#include "preferences/ExternalDefaultsChanges.h"
#include "preferences/UserDefaults.h"
#include "views/ConfinedPhotoAccess.h"
#include "views/PopoverView.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QLocale>
#include <QTimer>

#include <cstdio>

namespace PortraitPerchApp {
namespace {

// What the chooser outside the confinement runs for each choice, in its own process and
// application object, made at the first: the desktop portal's file chooser where one
// answers, else Qt's file dialog.
std::optional<QString> choosePhotoOutside(int argc, char** argv, Edition edition)
{
    static int count = argc;
    static QApplication* application = nullptr;
    static DesktopAppearance* appearance = nullptr;
    if (!application) {
        application = new QApplication(count, argv);
        QApplication::setApplicationName(Editions::displayName(edition));
        QApplication::setApplicationDisplayName(Editions::displayName(edition));
        QApplication::setDesktopFileName(Editions::applicationId(edition));
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/museIcon.png")));
        Translations::install(*application, QLocale().uiLanguages());
        appearance = new DesktopAppearance(QDBusConnection::sessionBus());
        appearance->start();
    }
    const auto chosen = PopoverView::askForPhoto();
    if (!chosen || !chosen->isLocalFile())
        return std::nullopt;
    return chosen->toLocalFile();
}

} // namespace

int main(int argc, char** argv, Edition edition)
{
    const QString name = Editions::executableName(edition);
    const QStringList arguments = CommandLine::arguments(argc, argv);
    CommandLine commandLine(name);
    // PortraitPerch confines itself before it reads any file of the user's, in both modes.
    const bool confining = edition == Edition::PortraitPerch;
    if (commandLine.wouldAnswer(arguments)) {
        // The help and the errors in the user's language: translators need an application
        // object. It gets no options of Qt's to read, and the program's name to show.
        QByteArray program = name.toLocal8Bit();
        char* programOnly[] = {program.data(), nullptr};
        int count = 1;
        QCoreApplication answering(count, programOnly);
        Translations::install(answering, QLocale().uiLanguages());
        return CommandLine(name, confining ? Confinement::kernelSupport() : QString()).answer(arguments).value_or(0);
    }
    const QStringList openPopover{QStringLiteral("--") + CommandLine::OpenPopover};
    if (commandLine.isSet(CommandLine::DeliverPending)) {
        if (!confining)
            return DeliveryRun::main(argc, argv, name, Editions::displayName(edition), Editions::applicationId(edition),
                                     openPopover);
        // A click on a reminder starts the program from outside: started from here, it would
        // begin confined, its chooser too, and could take no photo from elsewhere.
        std::unique_ptr<OutsideLauncher> launcher;
        if (LandlockConfinement::support().abi > 0)
            launcher = OutsideLauncher::start(openPopover, true);
        if (!Confinement().apply(name))
            launcher.reset();
        DeliveryRun::StartProgram startProgram;
        if (launcher)
            startProgram = [&launcher] { return launcher->launch(); };
        return DeliveryRun::main(argc, argv, name, Editions::displayName(edition), Editions::applicationId(edition),
                                 openPopover, startProgram);
    }
    DisplayCheck::preferX11OnGnomeWayland();
    if (const auto problem = DisplayCheck::displayProblem()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(*problem));
        return 1;
    }

    ProcessMemory::returnLargeBlocksWhenFreed();
    // The chooser is forked first, so that it stays outside; Qt's application object comes
    // after, so that the process still runs one thread, all of which Landlock restricts.
    Confinement confinement;
    std::unique_ptr<OutsideFileChooser> chooser;
    bool confined = false;
    if (confining) {
        if (LandlockConfinement::support().abi > 0)
            chooser =
                OutsideFileChooser::start([argc, argv, edition] { return choosePhotoOutside(argc, argv, edition); });
        confined = confinement.apply(name);
        if (!confined)
            chooser.reset();
    }
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
    // After the delegate, so that it goes first: a choice still on its way has nowhere to go.
    std::unique_ptr<ConfinedPhotoAccess> photoAccess;
    if (confined) {
        photoAccess = std::make_unique<ConfinedPhotoAccess>(std::move(chooser), confinement.photoFolders());
        delegate.setConfinedPhotoAccess(photoAccess.get());
    }
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
