// Kills a process that keeps rescheduling the daily reminder with a large photo, and sending
// previews of it, at random moments. After every kill the notification store opens and holds
// one whole reminder from one round or none, and the copy of the photo it names is there whole.
#include "CrashLoop.h"
#include "Fakes.h"
#include "PhotoFixtures.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/PreviewNotification.h"
#include "reminders/ReminderScheduling.h"

#include <QDir>
#include <QTimer>

namespace {

// What round `i` stores before it schedules: its reminder carries all of it, or it made none.
QString messageFor(int i)
{
    return QStringLiteral("message %1;").arg(i).repeated(50);
}
int photoFor(int i)
{
    return (i / 2) % 3; // every other round keeps the photo, so its copy is reused
}

// Takes every notification and closes it at once, so that held copies come and go too.
struct ClosingServer : FakeNotificationServer
{
    void notify(const DesktopNotification& notification, std::function<void(quint32)> onShown) override
    {
        FakeNotificationServer::notify(notification, std::move(onShown));
        QTimer::singleShot(0, this, [this, id = quint32(shown.size())] { close(id); });
    }
};

int child(const QStringList& arguments)
{
    const QList<QByteArray> pngs = CrashLoop::noisePhotos(arguments.value(0), 3, false);
    UserDefaults defaults(arguments.value(0) + QStringLiteral("/defaults.sqlite3"));
    UserNotificationCenter center(arguments.value(0) + QStringLiteral("/service"), std::make_unique<SystemWallClock>(),
                                  std::make_unique<ClosingServer>());
    for (int i = 0; !pngs.isEmpty() && center.store().isPersistent(); ++i) {
        defaults.setData(PreferenceKeys::SavedImageData, pngs[photoFor(i)]);
        Preferences::write(PreferenceKeys::notificationMessage, messageFor(i), defaults);
        Preferences::write(PreferenceKeys::notificationHour, i % 24, defaults);
        Preferences::write(PreferenceKeys::notificationsEnabled, i % 5 != 4, defaults);
        Reminders::scheduleDailyReminder(center, defaults);
        if (i % 3 == 0)
            Reminders::sendPreviewNotification(center, defaults);
        QCoreApplication::processEvents(); // closes the previews and sweeps unused copies
        CrashLoop::ready();
    }
    return 2;
}

} // namespace

class TestPendingRequestCrash : public QObject
{
    Q_OBJECT

private slots:
    void storeHoldsOneWholeReminderOrNoneAfterEveryKill()
    {
        QTemporaryDir folder;
        const QList<QByteArray> pngs = CrashLoop::noisePhotos(folder.path(), 3, true);
        int withReminder = 0;
        CrashLoop::killRepeatedly({folder.path()}, 200, 150, [&] {
            PendingRequestStore store(folder.filePath(QStringLiteral("service")));
            QVERIFY2(store.isPersistent() && store.pending().size() <= 1, qPrintable(store.openError()));
            QStringList copies;
            for (const PendingRequest& pending : store.pending()) {
                const NotificationContent& content = pending.request.content;
                const int round = content.body.section(' ', 1, 1).section(';', 0, 0).toInt();
                QVERIFY(content.body == messageFor(round));
                QVERIFY(round % 5 != 4);
                QVERIFY(pending.request.identifier == Reminders::kDailyReminderIdentifier);
                QVERIFY(pending.request.trigger->hour == round % 24);
                copies << content.attachments.value(0).url.toLocalFile();
                QVERIFY2(PhotoFixtures::readFile(copies.first()) == pngs[photoFor(round)],
                         "not the photo of its round");
                copies.first() = QFileInfo(copies.first()).fileName();
                ++withReminder;
            }
            // Once the holds of shown notifications run out, the sweep leaves the copy of the
            // pending request and nothing else: no half-written file, no orphan.
            store.releaseExpired(QDateTime::currentDateTimeUtc().addDays(2));
            store.collectUnusedCopies();
            QCOMPARE(QDir(folder.filePath(QStringLiteral("service/attachments"))).entryList(QDir::Files | QDir::Hidden),
                     copies);
        });
        QVERIFY2(withReminder > 0 && withReminder < 200, "the kills never caught both states");
    }
};

int main(int argc, char** argv)
{
    return CrashLoop::main<TestPendingRequestCrash>(argc, argv, child);
}

#include "TestPendingRequestCrash.moc"
