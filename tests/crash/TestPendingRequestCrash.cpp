// Kills a process that keeps rescheduling the daily reminder with a large photo, and
// sending previews of it, at random moments, hundreds of times. After every kill the
// notification store opens and holds one whole reminder from one round or none, and the
// copy of the photo that it names is there and decodes.
#include "../unit/FakeNotificationServer.h"

#include "platform/usernotifications/PendingRequestStore.h"
#include "platform/usernotifications/UserNotificationCenter.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/UserDefaults.h"
#include "reminders/PreviewNotification.h"
#include "reminders/ReminderScheduling.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "NoisePhotos.h"
#include <QTimer>

namespace {

constexpr int kKills = 200;
constexpr int kPhotoCount = 3;

QString storeFolder(const QString& folder)
{
    return folder + QStringLiteral("/notifications");
}

// What round `i` of the writer stores before it schedules: the reminder made in that round
// carries all of it, or the round made none.
QString messageFor(int i)
{
    return QStringLiteral("message %1;").arg(i).repeated(50);
}
int hourFor(int i)
{
    return i % 24;
}
int photoFor(int i)
{
    return (i / 2) % kPhotoCount; // every other round keeps the photo, so its copy is reused
}
bool enabledIn(int i)
{
    return i % 5 != 4;
}

// Takes every notification and closes it at once, so that held copies come and go too.
class ClosingServer : public FakeNotificationServer
{
public:
    void notify(const DesktopNotification& notification, std::function<void(quint32)> onShown) override
    {
        FakeNotificationServer::notify(notification, std::move(onShown));
        const quint32 id = quint32(shown.size());
        QTimer::singleShot(0, this, [this, id] { close(id); });
    }
};

// Child mode: reschedule until killed.
int scheduleForever(const QString& folder)
{
    QList<QByteArray> pngs;
    for (int i = 0; i < kPhotoCount; ++i) {
        QFile file(NoisePhotos::path(folder, i));
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        pngs << file.readAll();
    }
    UserDefaults defaults(folder + QStringLiteral("/defaults.sqlite3"));
    UserNotificationCenter center(storeFolder(folder), std::make_unique<SystemWallClock>(),
                                  std::make_unique<ClosingServer>());
    if (!defaults.isPersistent() || !center.store().isPersistent())
        return 3;
    for (int i = 0;; ++i) {
        defaults.setData(PreferenceKeys::SavedImageData, pngs[photoFor(i)]);
        Preferences::write(PreferenceKeys::notificationMessage, messageFor(i), defaults);
        Preferences::write(PreferenceKeys::notificationHour, hourFor(i), defaults);
        Preferences::write(PreferenceKeys::notificationsEnabled, enabledIn(i), defaults);
        Reminders::scheduleDailyReminder(center, defaults);
        if (i % 3 == 0)
            Reminders::sendPreviewNotification(center, defaults);
        QCoreApplication::processEvents(); // closes the previews and sweeps unused copies
        if (i == 0) {
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestPendingRequestCrash : public QObject
{
    Q_OBJECT

private slots:
    void storeHoldsOneWholeReminderOrNoneAfterEveryKill()
    {
        QTemporaryDir folder;
        const QList<QByteArray> pngs = NoisePhotos::make(folder.path(), kPhotoCount);
        QCOMPARE(pngs.size(), kPhotoCount);
        const QString copies = storeFolder(folder.path()) + QStringLiteral("/attachments");
        int withReminder = 0;

        for (int kill = 0; kill < kKills; ++kill) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {"--schedule", folder.path()});
            QVERIFY(child.waitForStarted());
            QVERIFY2(child.waitForReadyRead(30000), "the writer never finished its first round");
            QTest::qSleep(int(QRandomGenerator::global()->bounded(150)));
            child.kill();
            QVERIFY(child.waitForFinished());

            PendingRequestStore store(storeFolder(folder.path()));
            QVERIFY2(store.isPersistent(), qPrintable(store.openError()));
            QVERIFY(store.pending().size() <= 1);
            QString copy;
            if (!store.pending().isEmpty()) {
                ++withReminder;
                const NotificationRequest& request = store.pending().first().request;
                QCOMPARE(request.identifier, Reminders::kDailyReminderIdentifier);
                QCOMPARE(request.content.title, QStringLiteral("Reminder"));
                // Everything in the request comes from one round.
                const int round = request.content.body.section(' ', 1, 1).section(';', 0, 0).toInt();
                QCOMPARE(request.content.body, messageFor(round));
                QVERIFY(enabledIn(round));
                QVERIFY(request.trigger);
                QCOMPARE(request.trigger->hour, hourFor(round));
                QCOMPARE(request.trigger->minute, 0);
                QVERIFY(request.trigger->repeats);
                QCOMPARE(request.content.attachments.size(), 1);
                copy = request.content.attachments.first().url.toLocalFile();
                QFile file(copy);
                QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(copy));
                const QByteArray bytes = file.readAll();
                QVERIFY2(bytes == pngs[photoFor(round)], "the copy is not the photo of its round");
                QVERIFY(!QImage::fromData(bytes, "PNG").isNull());
            }

            // Once the holds of shown notifications run out, the sweep leaves the copy of
            // the pending request and nothing else: no half-written file, no orphan.
            store.releaseExpired(QDateTime::currentDateTimeUtc().addDays(2));
            store.collectUnusedCopies();
            const QStringList left = filesIn(copies);
            if (copy.isEmpty())
                QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
            else
                QCOMPARE(left, QStringList{QFileInfo(copy).fileName()});
        }
        QVERIFY2(withReminder > 0 && withReminder < kKills, "the kills never caught both states");
        std::printf("pending-request kills %d (with a reminder pending: %d)\n", kKills, withReminder);
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--schedule") == 0) {
        QCoreApplication app(argc, argv);
        return scheduleForever(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestPendingRequestCrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestPendingRequestCrash.moc"
