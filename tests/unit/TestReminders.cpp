// The daily reminder and the preview as the notification service receives them, with the
// saved photo as their picture.
#include "Fakes.h"
#include "OutputCapture.h"
#include "PhotoFixtures.h"
#include "platform/files/PrivateFile.h"
#include "platform/files/UserDirectories.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/PreviewNotification.h"
#include "reminders/ReminderAttachment.h"
#include "reminders/ReminderScheduling.h"

#include <QtTest>

#include <sqlite3.h>

using namespace PhotoFixtures;
using namespace PreferenceKeys;

namespace {

QString attachment()
{
    return UserDirectories::temporaryDirectory() + QStringLiteral("/notifImage.png");
}

// A center on a fake clock and server, and preferences with `photo` stored.
struct Rig : CenterRig
{
    UserDefaults store{folder.filePath(QStringLiteral("defaults.sqlite3"))};

    explicit Rig(const QByteArray& photo = encoded(halves(64, 48), "PNG"))
        : CenterRig(QDateTime(QDate(2025, 6, 1), QTime(8, 0), Qt::UTC))
    {
        QDir(UserDirectories::temporaryDirectory()).removeRecursively();
        if (!photo.isNull())
            store.setData(SavedImageData, photo);
    }
    void schedule() { Reminders::scheduleDailyReminder(*center, store); }
    void preview() { Reminders::sendPreviewNotification(*center, store); }
    QByteArray stored() const { return store.dataForKey(SavedImageData).value_or(QByteArray()); }
    QList<NotificationRequest> pending() const { return center->pendingNotificationRequests(); }
    QStringList copies() const
    {
        QCoreApplication::processEvents(); // unused copies are swept from the event loop
        return QDir(storeFolder + QStringLiteral("/attachments")).entryList(QDir::Files);
    }
};

} // namespace

class TestReminders : public QObject
{
    Q_OBJECT

private slots:
    void theDailyReminderFollowsTheSettings()
    {
        Rig rig;
        // Permission is reported when a server answers, and only then.
        OutputCapture out;
        Reminders::requestNotificationAuthorization(*rig.center);
        rig.server->serverRuns = false;
        Reminders::requestNotificationAuthorization(*rig.center);
        rig.server->serverRuns = true;
        QCOMPARE(out.finish(), QStringLiteral("Notifications allowed\n"));
        // A fresh installation with reminders on has one pending, at 09:00; later launches leave it be.
        Reminders::scheduleDailyReminderIfMissing(*rig.center, rig.store);
        Preferences::write(notificationHour, 7, rig.store);
        Preferences::write(notificationMinute, 45, rig.store);
        Reminders::scheduleDailyReminderIfMissing(*rig.center, rig.store);
        QVERIFY(rig.pending().size() == 1);
        QVERIFY(rig.pending().first().trigger->hour == 9);
        rig.schedule();
        QCOMPARE(rig.pending().size(), 1);
        const NotificationRequest request = rig.pending().first();
        QCOMPARE(
            request.identifier + '|' + request.content.title + '|' + request.content.body,
            QString::fromUtf8("dailyNotification|Reminder|Here\xE2\x80\x99s a daily note from your PortraitPerch."));
        QVERIFY(request.content.playsDefaultSound);
        QVERIFY(request.trigger->repeats);
        QCOMPARE(QTime(int(request.trigger->hour), int(request.trigger->minute)), QTime(7, 45));
        // A stored PNG is attached as it stands, from a private file; the center keeps a copy.
        QCOMPARE(readFile(attachment()), rig.stored());
        QCOMPARE(QFile::permissions(attachment()) & (QFile::ReadGroup | QFile::ReadOther), 0);
        QCOMPARE(request.content.attachments.value(0).identifier, QStringLiteral("notifImage"));
        QVERIFY(request.content.attachments.value(0).url.toLocalFile().startsWith(rig.storeFolder));

        // Every keystroke of the message reschedules: one request with the last text, one copy.
        for (const QString& message : {QStringLiteral("S"), QStringLiteral("St"), QString()}) {
            Preferences::write(notificationMessage, message, rig.store);
            rig.schedule();
        }
        QVERIFY(rig.pending().size() == 1);
        QVERIFY(rig.pending().first().content.body.isEmpty());
        QVERIFY(rig.copies().size() == 1);
        // Off withdraws everything pending; a time changed meanwhile counts once it is on again.
        rig.center->add(NotificationRequest{QStringLiteral("another"), request.content, request.trigger});
        Preferences::write(notificationsEnabled, false, rig.store);
        rig.schedule();
        Preferences::write(notificationHour, 18, rig.store);
        rig.schedule();
        Reminders::scheduleDailyReminderIfMissing(*rig.center, rig.store);
        QVERIFY(rig.pending().isEmpty());
        Preferences::write(notificationsEnabled, true, rig.store);
        rig.schedule();
        // It comes then, with the photo, even when the temporary file is gone.
        QFile::remove(attachment());
        rig.clock->runUntil(QDateTime(QDate(2025, 6, 1), QTime(17, 0), Qt::UTC));
        QCOMPARE(rig.deliveries, QList<QDateTime>{QDateTime(QDate(2025, 6, 1), QTime(16, 45), Qt::UTC)});
        QCOMPARE(readFile(rig.server->shown.first().imagePath), rig.stored());
    }

    void previewsComeAtOnceAndLeaveTheReminderAlone()
    {
        Rig rig;
        rig.schedule();
        const NotificationRequest reminder = rig.pending().first();
        Preferences::write(notificationsEnabled, false, rig.store);
        Preferences::write(notificationMessage, QStringLiteral("typed later"), rig.store);
        rig.preview();
        rig.preview();
        for (const DesktopNotification& shown : rig.server->shown) {
            QCOMPARE(shown.summary, "Preview Notification");
            QCOMPARE(shown.body, "typed later");
            QVERIFY(shown.playsSound);
            QVERIFY(!readFile(shown.imagePath).isEmpty());
        }
        const QRegularExpression uuid(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
        QVERIFY(rig.delivered.size() == 2);
        QVERIFY(uuid.match(rig.delivered[0]).hasMatch());
        QVERIFY(rig.delivered[0] != rig.delivered[1]);
        QCOMPARE(rig.pending().size(), 1);
        QCOMPARE(rig.pending().first().content.body, reminder.content.body);
        QCOMPARE(rig.pending().first().content.attachments.first().url, reminder.content.attachments.first().url);

        // A preview's copy stays while it is on screen: until the server says it closed, or a day.
        Rig other;
        other.preview();
        QCOMPARE(other.copies().size(), 1);
        other.server->close(1);
        QTRY_VERIFY(other.copies().isEmpty());
        other.preview();
        other.restartAfter(23 * 3600);
        QCOMPARE(other.copies().size(), 1);
        other.restartAfter(2 * 3600);
        QVERIFY(other.copies().isEmpty());
    }

    // Both stores as every released version left them open with everything kept (one fixture
    // per layout); a store that a newer version wrote is left exactly as it was, and the one
    // in memory in its place still sends the photo.
    void storesOfEarlierReleasesOpenWithEverythingKept()
    {
        const QTimeZone berlin("Europe/Berlin");
        QTemporaryDir dir;
        const QStringList files{QStringLiteral("defaults.sqlite3"), QStringLiteral("notifications.sqlite3")};
        for (const QString& name : files)
            QVERIFY(QFile::copy(QFINDTESTDATA("../fixtures/stores-layout-0/" + name), dir.filePath(name)));
        {
            UserDefaults store(dir.filePath(files[0]));
            QVERIFY2(store.isPersistent(), qPrintable(store.openError()));
            QCOMPARE(Preferences::read(popoverTitle, store), QStringLiteral("Oma\u2019s garden"));
            QCOMPARE(Preferences::read(notificationMessage, store), QStringLiteral("Tea at four \u2615"));
            QCOMPARE(Preferences::read(notificationHour, store) * 100 + Preferences::read(notificationMinute, store),
                     745);
            QCOMPARE(QImage::fromData(store.dataForKey(SavedImageData).value_or(QByteArray())).size(), QSize(64, 64));
            // Stored at noon: the reminder's first fire time is the next morning, and it comes once.
            CenterRig rig(QDateTime(QDate(2026, 12, 8), QTime(7, 0), berlin), berlin, dir.path());
            const auto pending = rig.center->pendingNotificationRequests();
            QCOMPARE(pending.size(), 1);
            QCOMPARE(pending[0].content.title + '|' + pending[0].content.body,
                     QStringLiteral("Reminder|Tea at four \u2615"));
            QCOMPARE(pending[0].content.attachments.size(), 1);
            rig.clock->runUntil(QDateTime(QDate(2026, 12, 8), QTime(7, 46), berlin));
            QCOMPARE(rig.deliveries, QList<QDateTime>{QDateTime(QDate(2026, 12, 8), QTime(7, 45), berlin)});
        }
        for (const QString& name : files) {
            sqlite3* db = nullptr;
            sqlite3_open(QFile::encodeName(dir.filePath(name)).constData(), &db);
            QCOMPARE(sqlite3_exec(db, "PRAGMA user_version=1000", nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        const QByteArray before = readFile(dir.filePath(files[0])) + readFile(dir.filePath(files[1]));
        {
            UserDefaults store(dir.filePath(files[0]));
            CenterRig rig(QDateTime(QDate(2026, 12, 8), QTime(7, 0), berlin), berlin, dir.path());
            QVERIFY2(store.openError().contains(QLatin1String("newer version")), qPrintable(store.openError()));
            QVERIFY2(rig.center->store().openError().contains(QLatin1String("newer version")),
                     qPrintable(rig.center->store().openError()));
            // A store in memory keeps no copies; the preview still carries the photo.
            store.setData(SavedImageData, encoded(halves(64, 48), "PNG"));
            Reminders::sendPreviewNotification(*rig.center, store);
            QCOMPARE(rig.shown(), 1);
            QCOMPARE(QImage(rig.server->shown[0].imagePath).size(), QSize(64, 48));
        }
        QVERIFY(readFile(dir.filePath(files[0])) + readFile(dir.filePath(files[1])) == before);
    }

    // Another program holding the store's lock (a backup, an open sqlite3 shell) only delays the
    // switch: no call waits for the lock, what is pending follows the switch at once, the file
    // agrees once the lock goes, and a change that never landed is said and mended at the next
    // start, when the switch decides.
    void aLockOnTheStoreDelaysTheSwitchWithoutInvertingIt()
    {
        Rig rig;
        rig.schedule();
        sqlite3* other = nullptr;
        sqlite3_open(QFile::encodeName(rig.storeFolder + QStringLiteral("/notifications.sqlite3")).constData(), &other);
        const auto lock = [&](const char* sql) { QCOMPARE(sqlite3_exec(other, sql, nullptr, nullptr, nullptr), 0); };
        lock("BEGIN IMMEDIATE");
        qint64 longest = 0;
        for (const int hour : {-1, 9, -1, 7}) {
            const qint64 began = QDateTime::currentMSecsSinceEpoch();
            Preferences::write(notificationsEnabled, hour >= 0, rig.store);
            Preferences::write(notificationHour, std::max(hour, 0), rig.store);
            rig.schedule();
            longest = std::max(longest, QDateTime::currentMSecsSinceEpoch() - began);
            QCOMPARE(rig.pending().size(), hour >= 0 ? 1 : 0);
        }
        qInfo("longest stall under the lock: %lld ms", longest);
        QVERIFY2(longest < 2000, qPrintable(QString::number(longest))); // each statement waited 5 s
        lock("ROLLBACK");
        QTRY_COMPARE(PendingRequestStore(rig.storeFolder).pending().value(0).request.trigger->hour, 7);
        lock("BEGIN IMMEDIATE");
        Preferences::write(notificationsEnabled, false, rig.store);
        rig.schedule();
        OutputCapture errors(stderr);
        const QDateTime restart = rig.clock->now().addDays(1);
        rig.center.reset();
        QVERIFY2(errors.finish().contains(QLatin1String("could not save the removal of every reminder")),
                 "a change that never landed goes unsaid");
        lock("ROLLBACK");
        sqlite3_close(other);
        rig.restart(restart);
        Reminders::scheduleDailyReminderIfMissing(*rig.center, rig.store);
        QCOMPARE(rig.pending().size(), 0);
        rig.restartAfter(60);
        QCOMPARE(rig.pending().size(), 0);
    }

    void thePictureIsThePngOfTheStoredPhoto()
    {
        for (const QByteArray& stored : {encoded(halves(64, 48), "PNG"), encoded(halves(64, 48), "JPEG"), QByteArray(),
                                         QByteArray("certainly not a picture"), QByteArray("\x89PNG\r\n\x1a\n", 8)}) {
            Rig rig(stored);
            const auto photo = Reminders::loadSavedPhoto(rig.store);
            const QImage image = QImage::fromData(stored);
            QCOMPARE(photo.has_value(), !image.isNull()); // a stored photo that does not decode is no photo
            QCOMPARE(photo.value_or(Reminders::SavedPhoto()).png,
                     stored.startsWith("\x89PNG") && photo ? stored : QByteArray());
            OutputCapture out;
            rig.preview();
            rig.schedule();
            QCOMPARE(out.finish(), QString()); // left out silently
            const QImage attached(rig.server->shown.first().imagePath);
            QCOMPARE(attached.convertToFormat(QImage::Format_RGB32), image.convertToFormat(QImage::Format_RGB32));
            QCOMPARE(rig.pending().first().content.attachments.isEmpty(), image.isNull());
            QVERIFY(readFile(attachment()).startsWith("\x89PNG") || image.isNull());
        }
    }

    void theFileIsWrittenOnlyWhenItDoesNotHoldTheCurrentPhoto()
    {
        Rig rig;
        rig.schedule();
        const auto written = PrivateFile::identityOf(attachment());
        rig.schedule();
        rig.preview();
        QVERIFY(written);
        QVERIFY(PrivateFile::identityOf(attachment()) == written);
        QVERIFY(rig.copies().size() == 1);
        // A new photo, or a file removed or replaced behind our back: written again.
        const QByteArray red = encoded(solid(Qt::red), "PNG");
        rig.store.setData(SavedImageData, red);
        rig.schedule();
        QCOMPARE(readFile(rig.pending().first().content.attachments.first().url.toLocalFile()), red);
        QFile::remove(attachment());
        rig.preview();
        QCOMPARE(readFile(attachment()), red);
        QVERIFY(writeFile(attachment(), "garbage"));
        rig.preview();
        QCOMPARE(readFile(attachment()), red);
    }

    void aFileThatCannotBeWrittenIsReportedAndTheNotificationStillGoes()
    {
        Rig rig;
        QVERIFY(QDir().mkpath(attachment() + QStringLiteral("/occupied"))); // a folder in the file's place
        OutputCapture out;
        rig.preview();
        rig.schedule();
        QCOMPARE(out.finish(),
                 QStringLiteral("Could not save or attach image: Error Domain=POSIX Code=%1 \"%2\" Path=%3\n")
                     .arg(EISDIR)
                     .arg(QString::fromLocal8Bit(strerror(EISDIR)), attachment())
                     .repeated(2)); // one line per notification
        QVERIFY(rig.server->shown.first().imagePath.isEmpty());
        QVERIFY(rig.pending().first().content.attachments.isEmpty());
        // No half-written scratch file is left behind.
        QCOMPARE(QDir(UserDirectories::temporaryDirectory()).entryList(QDir::Files | QDir::Hidden), QStringList());
        // The service cannot keep its own copy (a file where its folder goes): said the same way.
        const QString copies = rig.storeFolder + QStringLiteral("/attachments");
        QVERIFY(QDir(attachment()).removeRecursively());
        QVERIFY(QDir(copies).removeRecursively());
        QVERIFY(writeFile(copies, "x"));
        OutputCapture again;
        rig.schedule();
        const QString said = again.finish();
        QVERIFY2(
            said.startsWith(QStringLiteral("Could not save or attach image: Error Domain=POSIX Code=%1").arg(ENOTDIR)),
            qPrintable(said));
        QVERIFY(rig.pending().first().content.attachments.isEmpty());
    }

    void plantedLinksAreNotFollowed()
    {
        Rig rig;
        QTemporaryDir outside;
        QVERIFY(writeFile(outside.filePath(QStringLiteral("victim")), "precious"));
        QVERIFY(QDir().mkpath(UserDirectories::temporaryDirectory()));
        // A link at the file's name is replaced, not written through; the folder is made private.
        QVERIFY(QFile::link(outside.filePath(QStringLiteral("victim")), attachment()));
        rig.preview();
        QVERIFY(!QFileInfo(attachment()).isSymLink());
        QVERIFY(readFile(attachment()) == rig.stored());
        QCOMPARE(QFile::permissions(UserDirectories::temporaryDirectory()) & QFile::ReadOther, 0);
        // A link in place of the private folder is refused.
        QDir(UserDirectories::temporaryDirectory()).removeRecursively();
        QVERIFY(QFile::link(outside.path(), UserDirectories::temporaryDirectory()));
        OutputCapture out;
        rig.schedule();
        QVERIFY(out.finish().startsWith(QStringLiteral("Could not save or attach image: ")));
        QCOMPARE(QDir(outside.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("victim")});
        QCOMPARE(readFile(outside.filePath(QStringLiteral("victim"))), QByteArray("precious"));
        QFile::remove(UserDirectories::temporaryDirectory());
        // Where links are an ordinary set-up (a linked unit folder), one that leads nowhere is refused.
        QString refusal;
        QVERIFY(QFile::link(outside.filePath(QStringLiteral("gone")), rig.folder.filePath(QStringLiteral("units"))));
        QVERIFY(!UserDirectories::followOwnLink(rig.folder.filePath(QStringLiteral("units")), &refusal));
        QVERIFY2(refusal.contains(QLatin1String("leads to no folder")), qPrintable(refusal));
    }
};

QTEST_GUILESS_MAIN(TestReminders)
#include "TestReminders.moc"
