#include "FakeWallClock.h"
#include "StdoutCapture.h"

#include "platform/usernotifications/NotificationServer.h"
#include "platform/usernotifications/UserNotificationCenter.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/PreviewNotification.h"
#include "reminders/ReminderScheduling.h"

#include <QBuffer>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// A session bus of the test's own, with no services to start on demand: a name is only
// there while someone in the test owns it.
const char* kBusConfig = "<busconfig>"
                         "<type>session</type>"
                         "<listen>unix:dir=%1</listen>"
                         "<policy context='default'>"
                         "<allow send_destination='*' eavesdrop='true'/>"
                         "<allow eavesdrop='true'/>"
                         "<allow own='*'/>"
                         "</policy>"
                         "</busconfig>";

} // namespace

// A notification server as small as the protocol allows, recording what it is sent.
class FakeDesktopServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString appName, summary, body;
        QVariantMap hints;
    };
    QStringList capabilities{QStringLiteral("body"), QStringLiteral("body-markup")};
    QList<Call> calls;

public slots:
    QStringList GetCapabilities() { return capabilities; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }
    uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int)
    {
        calls.append({appName, summary, body, hints});
        return uint(calls.size());
    }
};

// A server in a process of its own that misbehaves on Notify: it answers only after a few
// seconds ("slow"), exits without answering ("exit"), or waits to be killed ("hang").
class MisbehavingServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QString mode;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = version = specVersion = QStringLiteral("1");
        return QStringLiteral("misbehaving");
    }
    uint Notify(const QString&, uint, const QString&, const QString&, const QString&, const QStringList&,
                const QVariantMap&, int)
    {
        std::puts("notify");
        std::fflush(stdout);
        if (mode == QLatin1String("exit"))
            ::_exit(0);
        QThread::sleep(mode == QLatin1String("slow") ? 3 : 600);
        return 1;
    }
};

int serveMisbehaving(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MisbehavingServer server;
    server.mode = QString::fromLatin1(argv[2]);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(kPath, &server, QDBusConnection::ExportAllSlots) || !bus.registerService(kService))
        return 2;
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

class TestNotificationBus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_busDir;
    QProcess m_bus;
    FakeDesktopServer m_fake;
    std::optional<QDBusConnection> m_serverConnection;
    QTemporaryDir m_folder;
    std::unique_ptr<UserDefaults> m_store;

    struct Center
    {
        FakeWallClock* clock;
        std::unique_ptr<UserNotificationCenter> center;
    };

    Center makeCenter(const QString& name)
    {
        auto clock = std::make_unique<FakeWallClock>(QDateTime(QDate(2025, 3, 1), QTime(7, 0), Qt::UTC),
                                                     QTimeZone("Europe/Berlin"));
        FakeWallClock* raw = clock.get();
        return {raw, std::make_unique<UserNotificationCenter>(m_folder.filePath(name), std::move(clock),
                                                              std::make_unique<FreedesktopNotificationServer>())};
    }

    // Waits until every earlier call of `center` to the bus has been answered.
    static void settle(UserNotificationCenter& center)
    {
        bool answered = false;
        center.requestAuthorization([&](bool) { answered = true; });
        QTRY_VERIFY(answered);
    }

    void publishServer(bool present)
    {
        const bool owned = m_serverConnection->interface()->isServiceRegistered(kService);
        if (present && !owned)
            QVERIFY(m_serverConnection->registerService(kService));
        else if (!present && owned)
            QVERIFY(m_serverConnection->unregisterService(kService));
    }

private slots:
    void initTestCase()
    {
        QGuiApplication::setApplicationDisplayName(QStringLiteral("Perchlight"));
        QGuiApplication::setDesktopFileName(QStringLiteral("perchlight"));
        const QString config = m_busDir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QString::fromLatin1(kBusConfig).arg(m_busDir.path()).toUtf8());
        file.close();
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config,
                                                    QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is needed (package dbus)");
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
        const QByteArray address = m_bus.readLine().trimmed();
        // Before anything touches the session bus, which Qt connects to once.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        m_serverConnection = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("fake-server"));
        QVERIFY(m_serverConnection->isConnected());
        QVERIFY(m_serverConnection->registerObject(kPath, &m_fake, QDBusConnection::ExportAllSlots));
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        m_store = std::make_unique<UserDefaults>(m_folder.filePath(QStringLiteral("defaults.sqlite3")));
        publishServer(true);
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void permissionLineOnlyWhenAServerAnswers()
    {
        auto [clock, center] = makeCenter(QStringLiteral("authorization"));
        publishServer(false);
        StdoutCapture silent;
        Reminders::requestNotificationAuthorization(*center);
        settle(*center);
        QCOMPARE(silent.finish(), QString());

        publishServer(true);
        StdoutCapture allowed;
        Reminders::requestNotificationAuthorization(*center);
        settle(*center);
        QCOMPARE(allowed.finish(), QStringLiteral("Notifications allowed\n"));
    }

    void init() { publishServer(true); }

    void previewReachesTheServerWithItsPicture()
    {
        QImage photo(40, 40, QImage::Format_RGB32);
        photo.fill(Qt::magenta);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "png").write(photo);
        m_store->setData(PreferenceKeys::SavedImageData, png);
        Preferences::write(PreferenceKeys::notificationMessage, QStringLiteral("Tom & Jerry <3"), *m_store);

        auto [clock, center] = makeCenter(QStringLiteral("preview"));
        m_fake.calls.clear();
        Reminders::sendPreviewNotification(*center, *m_store);
        QTRY_COMPARE(m_fake.calls.size(), 1);
        const auto call = m_fake.calls.first();
        QCOMPARE(call.appName, QStringLiteral("Perchlight"));
        QCOMPARE(call.summary, QStringLiteral("Preview Notification"));
        // The server reads markup, so the message is escaped to show as typed.
        QCOMPARE(call.body, QStringLiteral("Tom &amp; Jerry &lt;3"));
        QCOMPARE(call.hints.value(QStringLiteral("sound-name")).toString(), QStringLiteral("message-new-instant"));
        QCOMPARE(call.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("perchlight"));
        const QUrl image(call.hints.value(QStringLiteral("image-path")).toString());
        QVERIFY(image.isLocalFile());
        QVERIFY(image.toLocalFile().startsWith(m_folder.filePath(QStringLiteral("preview/attachments/"))));
        QFile copy(image.toLocalFile());
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), png);
        copy.close();

        // The server says the notification is gone: so is the copy.
        QDBusMessage closed = QDBusMessage::createSignal(kPath, kService, QStringLiteral("NotificationClosed"));
        closed << quint32(1) << quint32(2);
        QVERIFY(m_serverConnection->send(closed));
        QTRY_VERIFY(!QFile::exists(image.toLocalFile()));

        // A server without markup gets the text as it is.
        m_fake.capabilities = {QStringLiteral("body")};
        Reminders::sendPreviewNotification(*center, *m_store);
        QTRY_COMPARE(m_fake.calls.size(), 2);
        QCOMPARE(m_fake.calls.last().body, QStringLiteral("Tom & Jerry <3"));
        m_fake.capabilities.append(QStringLiteral("body-markup"));
    }

    void dailyReminderReachesTheServerAtItsTime()
    {
        m_store->setData(PreferenceKeys::SavedImageData, QByteArray());
        Preferences::write(PreferenceKeys::notificationMessage, QStringLiteral("stretch"), *m_store);
        Preferences::write(PreferenceKeys::notificationHour, 9, *m_store);
        Preferences::write(PreferenceKeys::notificationMinute, 30, *m_store);
        auto [clock, center] = makeCenter(QStringLiteral("daily"));
        m_fake.calls.clear();
        Reminders::scheduleDailyReminder(*center, *m_store);
        clock->runUntil(QDateTime(QDate(2025, 3, 1), QTime(8, 29), Qt::UTC));
        settle(*center);
        QVERIFY(m_fake.calls.isEmpty());
        clock->runUntil(QDateTime(QDate(2025, 3, 1), QTime(8, 31), Qt::UTC)); // 09:31 in Berlin
        QTRY_COMPARE(m_fake.calls.size(), 1);
        QCOMPARE(m_fake.calls.first().summary, QStringLiteral("Reminder"));
        QCOMPARE(m_fake.calls.first().body, QStringLiteral("stretch"));
        QVERIFY(!m_fake.calls.first().hints.contains(QStringLiteral("image-path")));
    }

    void aServerThatStallsOrDiesNeitherBlocksNorLosesTheReminder_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("answers slowly") << QStringLiteral("slow");
        QTest::newRow("exits on Notify") << QStringLiteral("exit");
        QTest::newRow("killed mid-call") << QStringLiteral("hang");
    }

    void aServerThatStallsOrDiesNeitherBlocksNorLosesTheReminder()
    {
        QFETCH(QString, mode);
        publishServer(false);
        QProcess server;
        server.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--server"), mode});
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 10000);
        QCOMPARE(server.readLine().trimmed(), QByteArray("ready"));

        m_store->setData(PreferenceKeys::SavedImageData, QByteArray());
        Preferences::write(PreferenceKeys::notificationHour, 9, *m_store);
        Preferences::write(PreferenceKeys::notificationMinute, 30, *m_store);
        const QString folder = QStringLiteral("hostile-") + mode;
        auto [clock, center] = makeCenter(folder);
        Reminders::scheduleDailyReminder(*center, *m_store);

        // The event loop must keep turning while the server has the call.
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, sinceTick.restart());
            ++ticks;
        });
        ticker.start(10);
        sinceTick.start();

        OutputCapture errors(stderr);
        clock->runUntil(QDateTime(QDate(2025, 3, 1), QTime(8, 31), Qt::UTC)); // 09:31 in Berlin
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 10000);
        QCOMPARE(server.readLine().trimmed(), QByteArray("notify"));
        const int ticksAtCall = ticks;
        QTRY_VERIFY(ticks >= ticksAtCall + 30); // the server still holds the call (or is gone)
        if (mode == QLatin1String("hang"))
            server.kill();
        settle(*center); // the server's answer, its error, or the bus's word that it left
        if (mode != QLatin1String("slow"))
            QTRY_VERIFY(!errors.text().isEmpty());
        // A preview goes the same way, and says nothing more.
        Reminders::sendPreviewNotification(*center, *m_store);
        settle(*center);
        const QString said = errors.finish();
        ticker.stop();
        server.kill();
        server.waitForFinished();

        QVERIFY2(longestGap < 1000, qPrintable(QStringLiteral("the event loop stood still for %1 ms").arg(longestGap)));
        const QStringList lines = said.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), mode == QLatin1String("slow") ? 0 : 1);
        if (!lines.isEmpty())
            QVERIFY2(lines.first().startsWith(QCoreApplication::applicationName() + QStringLiteral(": ")) &&
                         lines.first().contains(QStringLiteral("notification server")),
                     qPrintable(lines.first()));

        // Nothing pending is lost, now or at the next start.
        QCOMPARE(center->pendingNotificationRequests().size(), 1);
        center.reset();
        auto [clock2, restarted] = makeCenter(folder);
        QCOMPARE(restarted->pendingNotificationRequests().size(), 1);
        QCOMPARE(restarted->pendingNotificationRequests().first().identifier, Reminders::kDailyReminderIdentifier);

        // And the center goes on working once a server is back.
        publishServer(true);
        m_fake.calls.clear();
        Reminders::sendPreviewNotification(*restarted, *m_store);
        QTRY_COMPARE(m_fake.calls.size(), 1);
    }

    void theSystemAlarmGoesOffAtItsInstant()
    {
        SystemWallClock clock;
        QSignalSpy alarm(&clock, &WallClock::alarm);
        const QDateTime when = clock.now().addMSecs(300);
        clock.armAt(when);
        QVERIFY(alarm.wait(5000));
        QVERIFY(clock.now() >= when);
        // An instant already past goes off at once.
        clock.armAt(clock.now().addSecs(-60));
        QVERIFY(alarm.wait(5000));
        QCOMPARE(alarm.size(), 2);
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--server") == 0)
        return serveMisbehaving(argc, argv);
    QCoreApplication app(argc, argv);
    TestNotificationBus test;
    return QTest::qExec(&test, argc, argv);
}
#include "TestNotificationBus.moc"
