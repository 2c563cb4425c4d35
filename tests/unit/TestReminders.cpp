#include "FakeNotificationServer.h"
#include "FakeWallClock.h"
#include "StdoutCapture.h"

#include "platform/files/PrivateFile.h"
#include "platform/files/UserDirectories.h"
#include "platform/usernotifications/UserNotificationCenter.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/PreviewNotification.h"
#include "reminders/ReminderAttachment.h"
#include "reminders/ReminderScheduling.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Reminders;

namespace {

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

QImage testPhoto(QColor colour = Qt::darkCyan)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(colour);
    image.setPixelColor(3, 5, Qt::yellow);
    return image;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString attachmentPath()
{
    return UserDirectories::temporaryDirectory() + QStringLiteral("/notifImage.png");
}

// Preferences, a center on a fake clock and server, and a clean private temporary folder.
struct Rig
{
    QTemporaryDir folder;
    UserDefaults store{folder.filePath(QStringLiteral("defaults.sqlite3"))};
    FakeWallClock* clock = nullptr;
    FakeNotificationServer* server = nullptr;
    std::unique_ptr<UserNotificationCenter> center;
    QStringList deliveredIdentifiers;

    Rig()
    {
        QDir(UserDirectories::temporaryDirectory()).removeRecursively();
        open(QDateTime(QDate(2025, 6, 1), QTime(8, 0), Qt::UTC));
    }

    void open(const QDateTime& now)
    {
        auto fakeClock = std::make_unique<FakeWallClock>(now, QTimeZone("Europe/Berlin"));
        auto fakeServer = std::make_unique<FakeNotificationServer>();
        clock = fakeClock.get();
        server = fakeServer.get();
        center = std::make_unique<UserNotificationCenter>(folder.filePath(QStringLiteral("service")),
                                                          std::move(fakeClock), std::move(fakeServer));
        QObject::connect(center.get(), &UserNotificationCenter::delivered,
                         [this](const NotificationRequest& r) { deliveredIdentifiers.append(r.identifier); });
    }

    void restart(const QDateTime& now)
    {
        center.reset();
        open(now);
    }

    QStringList copies() const
    {
        QCoreApplication::processEvents(); // the sweep of unused copies runs from the event loop
        return QDir(folder.filePath(QStringLiteral("service/attachments"))).entryList(QDir::Files | QDir::Hidden);
    }

    void schedule() { scheduleDailyReminder(*center, store); }
    void preview() { sendPreviewNotification(*center, store); }
};

} // namespace

class TestReminders : public QObject
{
    Q_OBJECT

private slots:
    void schedulingRegistersTheDailyReminderWithThePhoto()
    {
        Rig rig;
        const QByteArray png = encoded(testPhoto(), "png");
        rig.store.setData(PreferenceKeys::SavedImageData, png);
        Preferences::write(PreferenceKeys::notificationHour, 7, rig.store);
        Preferences::write(PreferenceKeys::notificationMinute, 45, rig.store);
        rig.schedule();

        const auto pending = rig.center->pendingNotificationRequests();
        QCOMPARE(pending.size(), 1);
        const NotificationRequest& request = pending.first();
        QCOMPARE(request.identifier, QStringLiteral("dailyNotification"));
        QCOMPARE(request.content.title, QStringLiteral("Reminder"));
        QCOMPARE(request.content.body, QString::fromUtf8("Here\xE2\x80\x99s a daily note from your PortraitPerch."));
        QVERIFY(request.content.playsDefaultSound);
        QCOMPARE(request.trigger->hour, 7);
        QCOMPARE(request.trigger->minute, 45);
        QVERIFY(request.trigger->repeats);

        // A stored PNG is the attachment as it stands; the center keeps its own copy of it.
        QCOMPARE(fileBytes(attachmentPath()), png);
        QCOMPARE(QFileInfo(attachmentPath()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
        QCOMPARE(request.content.attachments.size(), 1);
        QCOMPARE(request.content.attachments.first().identifier, QStringLiteral("notifImage"));
        const QString copy = request.content.attachments.first().url.toLocalFile();
        QVERIFY(copy.startsWith(rig.folder.filePath(QStringLiteral("service/"))));
        QCOMPARE(fileBytes(copy), png);

        // The reminder still shows the photo when the temporary file is gone.
        QFile::remove(attachmentPath());
        rig.clock->runUntil(QDateTime(QDate(2025, 6, 2), QTime(6, 0), Qt::UTC));
        QCOMPARE(rig.server->shown.size(), 1);
        QCOMPARE(rig.server->shown.first().notification.imagePath, copy);
        QCOMPARE(fileBytes(copy), png);
    }

    void aBurstOfChangesLeavesOneRequestWithTheLastText()
    {
        Rig rig;
        rig.store.setData(PreferenceKeys::SavedImageData, encoded(testPhoto(), "png"));
        QString message;
        for (int i = 0; i < 50; ++i) {
            message += QChar(u'a' + i % 26);
            Preferences::write(PreferenceKeys::notificationMessage, message, rig.store);
            rig.schedule();
        }
        const auto pending = rig.center->pendingNotificationRequests();
        QCOMPARE(pending.size(), 1);
        QCOMPARE(pending.first().content.body, message);
        QCOMPARE(rig.copies().size(), 1);

        // An empty message is an empty body, not a fallback text.
        Preferences::write(PreferenceKeys::notificationMessage, QString(), rig.store);
        rig.schedule();
        QCOMPARE(rig.center->pendingNotificationRequests().first().content.body, QString());
    }

    void remindersOffLeaveNothingPending()
    {
        Rig rig;
        rig.schedule();
        auto other = rig.center->pendingNotificationRequests().first();
        other.identifier = QStringLiteral("another");
        rig.center->add(other);
        QCOMPARE(rig.center->pendingNotificationRequests().size(), 2);

        Preferences::write(PreferenceKeys::notificationsEnabled, false, rig.store);
        rig.schedule();
        QVERIFY(rig.center->pendingNotificationRequests().isEmpty());
        // A time changed while off is stored but registers nothing until reminders come back on.
        Preferences::write(PreferenceKeys::notificationHour, 18, rig.store);
        rig.schedule();
        QVERIFY(rig.center->pendingNotificationRequests().isEmpty());
        Preferences::write(PreferenceKeys::notificationsEnabled, true, rig.store);
        rig.schedule();
        QCOMPARE(rig.center->pendingNotificationRequests().first().trigger->hour, 18);
    }

    void previewsComeAtOnceAndLeaveThePendingReminderAlone()
    {
        Rig rig;
        rig.store.setData(PreferenceKeys::SavedImageData, encoded(testPhoto(), "png"));
        Preferences::write(PreferenceKeys::notificationMessage, QStringLiteral("daily"), rig.store);
        rig.schedule();
        const auto before = rig.center->pendingNotificationRequests();

        Preferences::write(PreferenceKeys::notificationsEnabled, false, rig.store);
        Preferences::write(PreferenceKeys::notificationMessage, QStringLiteral("typed later"), rig.store);
        rig.preview();
        rig.preview();
        QCOMPARE(rig.server->shown.size(), 2);
        for (const auto& shown : rig.server->shown) {
            QCOMPARE(shown.notification.summary, QStringLiteral("Preview Notification"));
            QCOMPARE(shown.notification.body, QStringLiteral("typed later"));
            QVERIFY(shown.notification.playsSound);
            QCOMPARE(fileBytes(shown.notification.imagePath), fileBytes(attachmentPath()));
        }
        const QRegularExpression uuid(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
        QCOMPARE(rig.deliveredIdentifiers.size(), 2);
        QVERIFY(uuid.match(rig.deliveredIdentifiers[0]).hasMatch());
        QVERIFY(rig.deliveredIdentifiers[0] != rig.deliveredIdentifiers[1]);

        const auto after = rig.center->pendingNotificationRequests();
        QCOMPARE(after.size(), 1);
        QCOMPARE(after.first().identifier, before.first().identifier);
        QCOMPARE(after.first().content.body, QStringLiteral("daily"));
        QCOMPARE(after.first().content.attachments.first().url, before.first().content.attachments.first().url);
    }

    void previewCopiesGoWhenClosedOrAfterADay()
    {
        Rig rig;
        rig.store.setData(PreferenceKeys::SavedImageData, encoded(testPhoto(), "png"));
        rig.preview();
        const QString first = rig.server->shown.first().notification.imagePath;
        QCOMPARE(rig.copies().size(), 1);
        rig.server->close(rig.server->shown.first().id);
        QTRY_VERIFY(!QFile::exists(first));

        rig.store.setData(PreferenceKeys::SavedImageData, encoded(testPhoto(Qt::red), "png"));
        rig.preview();
        QCOMPARE(rig.copies().size(), 1);
        rig.restart(rig.clock->now().addSecs(23 * 3600));
        QCOMPARE(rig.copies().size(), 1);
        rig.restart(rig.clock->now().addSecs(2 * 3600));
        QVERIFY(rig.copies().isEmpty());
    }

    void photoWithoutUsablePixelsIsLeftOutSilently_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("no photo") << QByteArray();
        QTest::newRow("not an image") << QByteArray("certainly not a picture");
        QTest::newRow("PNG signature only") << QByteArray("\x89PNG\r\n\x1a\n", 8);
    }

    void photoWithoutUsablePixelsIsLeftOutSilently()
    {
        QFETCH(QByteArray, stored);
        Rig rig;
        if (!stored.isEmpty())
            rig.store.setData(PreferenceKeys::SavedImageData, stored);
        QVERIFY(!loadSavedPhoto(rig.store));
        StdoutCapture out;
        rig.schedule();
        rig.preview();
        QCOMPARE(out.finish(), QString());
        QVERIFY(rig.center->pendingNotificationRequests().first().content.attachments.isEmpty());
        QCOMPARE(rig.server->shown.size(), 1);
        QVERIFY(rig.server->shown.first().notification.imagePath.isEmpty());
        QVERIFY(!QFile::exists(attachmentPath()));
    }

    void otherFormatsAreConvertedToPng()
    {
        Rig rig;
        rig.store.setData(PreferenceKeys::SavedImageData, encoded(testPhoto(), "jpeg"));
        rig.preview();
        const QByteArray written = fileBytes(attachmentPath());
        QVERIFY(written.startsWith("\x89PNG"));
        QCOMPARE(QImage::fromData(written, "png").size(), QSize(64, 48));
    }

    void theFileIsWrittenOnlyWhenItDoesNotHoldTheCurrentPhoto()
    {
        Rig rig;
        rig.store.setData(PreferenceKeys::SavedImageData, encoded(testPhoto(), "png"));
        rig.schedule();
        const auto written = PrivateFile::identityOf(attachmentPath());
        QVERIFY(written);
        rig.schedule();
        rig.preview();
        QCOMPARE(PrivateFile::identityOf(attachmentPath()), written);
        QCOMPARE(rig.copies().size(), 1);

        // A new photo, a file removed or replaced behind our back: written again.
        const QByteArray red = encoded(testPhoto(Qt::red), "png");
        rig.store.setData(PreferenceKeys::SavedImageData, red);
        rig.schedule();
        QCOMPARE(fileBytes(attachmentPath()), red);
        QCOMPARE(
            fileBytes(rig.center->pendingNotificationRequests().first().content.attachments.first().url.toLocalFile()),
            red);
        QFile::remove(attachmentPath());
        rig.preview();
        QCOMPARE(fileBytes(attachmentPath()), red);
        QFile tampered(attachmentPath());
        QVERIFY(tampered.open(QIODevice::WriteOnly | QIODevice::Truncate));
        tampered.write("garbage");
        tampered.close();
        rig.preview();
        QCOMPARE(fileBytes(attachmentPath()), red);
    }

    void anUnwritableFolderPrintsOneLineAndTheNotificationStillGoes()
    {
        Rig rig;
        rig.store.setData(PreferenceKeys::SavedImageData, encoded(testPhoto(), "png"));
        // A plain file where the private folder belongs: the folder cannot be made.
        QFile blocker(UserDirectories::temporaryDirectory());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        StdoutCapture out;
        rig.preview();
        rig.schedule();
        const QString printed = out.finish();
        QFile::remove(blocker.fileName());

        const QStringList lines = printed.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2); // one per notification
        for (const QString& line : lines) {
            QVERIFY2(line.startsWith(QStringLiteral("Could not save or attach image: Error Domain=")),
                     qPrintable(line));
            QVERIFY(line.contains(blocker.fileName()));
            QVERIFY(line.contains(QStringLiteral("Code=")));
        }
        QVERIFY(printed.endsWith(u'\n'));
        QCOMPARE(rig.server->shown.size(), 1);
        QVERIFY(rig.server->shown.first().notification.imagePath.isEmpty());
        QCOMPARE(rig.center->pendingNotificationRequests().size(), 1);
        QVERIFY(rig.center->pendingNotificationRequests().first().content.attachments.isEmpty());
    }

    void aFolderInTheFilesPlaceIsReportedWithTheSystemMessage()
    {
        Rig rig;
        rig.store.setData(PreferenceKeys::SavedImageData, encoded(testPhoto(), "png"));
        QVERIFY(QDir().mkpath(attachmentPath() + QStringLiteral("/occupied")));
        StdoutCapture out;
        rig.preview();
        const QString printed = out.finish();
        QCOMPARE(printed, QStringLiteral("Could not save or attach image: Error Domain=POSIX Code=%1 \"%2\" Path=%3\n")
                              .arg(EISDIR)
                              .arg(QString::fromLocal8Bit(strerror(EISDIR)), attachmentPath()));
        QCOMPARE(rig.server->shown.size(), 1);
        QVERIFY(rig.server->shown.first().notification.imagePath.isEmpty());
        // No half-written scratch file is left behind.
        QCOMPARE(QDir(UserDirectories::temporaryDirectory()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void plantedLinksAreNotFollowed()
    {
        Rig rig;
        const QByteArray png = encoded(testPhoto(), "png");
        rig.store.setData(PreferenceKeys::SavedImageData, png);
        QTemporaryDir outside;
        const QString victim = outside.filePath(QStringLiteral("victim"));
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
        file.close();

        // A link at the file's name is replaced, not written through.
        QString error;
        QVERIFY(UserDirectories::makePrivateDirectory(UserDirectories::temporaryDirectory(), &error));
        QVERIFY(QFile::link(victim, attachmentPath()));
        rig.preview();
        QCOMPARE(fileBytes(victim), QByteArray("precious"));
        QVERIFY(!QFileInfo(attachmentPath()).isSymLink());
        QCOMPARE(fileBytes(attachmentPath()), png);

        // A link in place of the private folder is refused.
        QDir(UserDirectories::temporaryDirectory()).removeRecursively();
        QVERIFY(QFile::link(outside.path(), UserDirectories::temporaryDirectory()));
        StdoutCapture out;
        rig.schedule();
        const QString printed = out.finish();
        QVERIFY(printed.startsWith(QStringLiteral("Could not save or attach image: ")));
        QCOMPARE(QDir(outside.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("victim")});
        QFile::remove(UserDirectories::temporaryDirectory());
    }

    void authorizationPrintsOnlyWhenAServerAnswers()
    {
        Rig rig;
        StdoutCapture out;
        requestNotificationAuthorization(*rig.center);
        rig.server->serverRuns = false;
        requestNotificationAuthorization(*rig.center);
        QCOMPARE(out.finish(), QStringLiteral("Notifications allowed\n"));
    }
};

QTEST_GUILESS_MAIN(TestReminders)
#include "TestReminders.moc"
