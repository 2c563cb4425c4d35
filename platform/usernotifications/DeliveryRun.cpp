#include "platform/usernotifications/DeliveryRun.h"

#include "platform/base/Console.h"
#include "platform/files/UserDirectories.h"
#include "platform/usernotifications/SystemdUnits.h"
#include "platform/usernotifications/SystemdUserManager.h"
#include "platform/usernotifications/SystemdUserTimer.h"
#include "platform/usernotifications/UserNotificationCenter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>

namespace DeliveryRun {
namespace {

// The run ends this long before the next fire time, so that the timer can start the next one.
constexpr int kEndBeforeNextFireSeconds = 30;
constexpr int kLongestStayDays = 1;

bool serverAnswers(NotificationServer& server)
{
    QEventLoop loop;
    bool answered = false;
    server.queryServer([&](bool answer) {
        answered = answer;
        loop.quit();
    });
    loop.exec();
    return answered;
}

} // namespace

bool isRequested(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (QString::fromLocal8Bit(argv[i]) == kOption)
            return true;
    }
    return false;
}

int main(int argc, char** argv, const QString& name, const QString& displayName, const QStringList& openArguments)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(name);
    QGuiApplication::setApplicationDisplayName(displayName);
    QGuiApplication::setDesktopFileName(name);

    const QString executable = QCoreApplication::applicationFilePath();
    auto timer = std::make_unique<SystemdUserTimer>(executable, QStringLiteral("%1 daily reminder").arg(displayName),
                                                    SystemdUserTimer::ServiceWriter::DeliveryRun);
    SystemdUserTimer* const timerView = timer.get();
    auto server = std::make_unique<FreedesktopNotificationServer>();
    if (!serverAnswers(*server)) {
        // Nothing is claimed: the program, or the next run, delivers the missed fire time.
        Console::printError(QStringLiteral("no notification server answers; the reminder waits for the next chance"));
        const PendingRequestStore store(UserDirectories::dataDirectory());
        SystemWallClock clock;
        const auto next = UserNotificationCenter::nextFireTime(store.pending(), clock.now(), clock.timeZone());
        QEventLoop loop;
        timer->sync([next] { return next; }, [&](bool) { loop.quit(); });
        loop.exec();
        return 1;
    }

    UserNotificationCenter center(UserDirectories::dataDirectory(), std::make_unique<SystemWallClock>(),
                                  std::move(server), timer->isAvailable() ? std::move(timer) : nullptr);
    center.setAlarmAlongsideTimer(true);

    int launching = 0;
    bool synced = false;
    QTimer stayLimit;
    stayLimit.setSingleShot(true);
    auto endWhenDone = [&] {
        if (synced && launching == 0 && center.openNotificationCount() == 0)
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
        if (!QProcess::startDetached(executable, openArguments, QString(), &pid)) {
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
