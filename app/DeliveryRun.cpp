#include "app/DeliveryRun.h"

#include "platform/base/Console.h"
#include "platform/files/UserDirectories.h"
#include "platform/systemd/SystemdUnits.h"
#include "platform/systemd/SystemdUserManager.h"
#include "platform/usernotifications/SystemdUserTimer.h"
#include "platform/usernotifications/UserNotificationCenter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>
#include <QTimer>

namespace DeliveryRun {
namespace {

// The run ends this long before the next fire time, so that the timer can start the next one.
constexpr int kEndBeforeNextFireSeconds = 30;
constexpr int kLongestStayDays = 1;

// Between attempts to read a store that another program keeps locked, and for how long.
constexpr int kLockedStoreRetryMs = 1000;
constexpr int kLongestWaitForStoreHours = 12;

// Waits until the store in `folder` can be read. False when there is none (a run started with
// other folders than the program's) or it cannot be read (damaged): the run then acts on
// nothing, and above all leaves the timer as it is.
bool storeReadable(const QString& folder)
{
    if (!QFileInfo::exists(folder + QLatin1Char('/') + PendingRequestStore::fileNames().first())) {
        Console::printError(QStringLiteral("no reminder store in %1; nothing to deliver").arg(folder));
        return false;
    }
    const QDeadlineTimer deadline{std::chrono::hours(kLongestWaitForStoreHours)};
    for (bool said = false;; said = true) {
        const PendingRequestStore store(folder, false);
        if (store.isPersistent())
            return true;
        if (!store.wasLocked() || deadline.hasExpired()) {
            Console::printError(QStringLiteral("cannot read the reminder store in %1 (%2); the timer stays as it is")
                                    .arg(folder, store.openError()));
            return false;
        }
        if (!said)
            Console::printError(
                QStringLiteral("the reminder store in %1 is locked by another program; waiting").arg(folder));
        QThread::msleep(kLockedStoreRetryMs);
    }
}

} // namespace

bool isRequested(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (QString::fromLocal8Bit(argv[i]) == QStringLiteral("--") + DeliveryTimer::kRunOption)
            return true;
    }
    return false;
}

int main(int argc, char** argv, const QString& name, const QString& displayName, const QString& applicationId,
         const QStringList& openArguments, const StartProgram& startProgram)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(name);
    QGuiApplication::setApplicationDisplayName(displayName);
    QGuiApplication::setDesktopFileName(applicationId);

    const QString executable = QCoreApplication::applicationFilePath();
    auto timer = std::make_unique<SystemdUserTimer>(executable, QStringLiteral("%1 daily reminder").arg(displayName),
                                                    SystemdUserTimer::ServiceWriter::DeliveryRun);
    SystemdUserTimer* const timerView = timer.get();
    const QString folder = UserDirectories::dataDirectory();
    if (!storeReadable(folder))
        return 1;
    // A server that is not there yet, or refuses, is waited for by the center (see awaitsServer).
    UserNotificationCenter center(folder, std::make_unique<SystemWallClock>(),
                                  std::make_unique<FreedesktopNotificationServer>(),
                                  timer->isAvailable() ? std::move(timer) : nullptr);
    if (!center.store().isPersistent()) {
        Console::printError(QStringLiteral("cannot read the reminder store in %1 (%2); the timer stays as it is")
                                .arg(folder, center.store().openError()));
        return 1;
    }
    center.setAlarmAlongsideTimer(true);

    int launching = 0;
    bool synced = false;
    QTimer stayLimit;
    stayLimit.setSingleShot(true);
    auto endWhenDone = [&] {
        if (synced && launching == 0 && center.openNotificationCount() == 0 && !center.awaitsServer())
            center.syncTimer([](bool) { QCoreApplication::quit(); });
    };
    auto limitStay = [&] {
        const QDateTime now = center.clock().now();
        QDateTime end = now.addDays(kLongestStayDays);
        if (const auto next = center.nextFireTime())
            end = std::min(end, next->addSecs(-kEndBeforeNextFireSeconds));
        stayLimit.start(int(std::max<qint64>(0, now.msecsTo(end))));
    };
    QObject::connect(&stayLimit, &QTimer::timeout, [&] { center.syncTimer([](bool) { QCoreApplication::quit(); }); });
    QObject::connect(&center, &UserNotificationCenter::delivered, limitStay);
    QObject::connect(&center, &UserNotificationCenter::openNotificationsChanged, endWhenDone);
    QObject::connect(&center, &UserNotificationCenter::activated, [&] {
        qint64 pid = 0;
        if (startProgram ? (pid = startProgram().value_or(0)) <= 0
                         : !QProcess::startDetached(executable, openArguments, QString(), &pid)) {
            Console::printError(QStringLiteral("cannot start %1").arg(executable));
            return;
        }
        // Out of this run's unit, which ends with the run and would take the program along.
        ++launching;
        timerView->manager().adopt(pid,
                                   QStringLiteral("app-%1-%2.scope").arg(SystemdUnits::baseName(executable)).arg(pid),
                                   [&](const QString& error) {
                                       if (!error.isEmpty())
                                           Console::printError(QStringLiteral("the program started from a reminder "
                                                                              "may end with the run (%1)")
                                                                   .arg(error));
                                       --launching;
                                       endWhenDone();
                                   });
    });
    limitStay();
    center.syncTimer([&](bool) {
        synced = true;
        endWhenDone();
    });
    return QCoreApplication::exec();
}

} // namespace DeliveryRun
