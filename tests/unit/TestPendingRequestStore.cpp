// The notification store on files it did not write itself: a layout of another program,
// and rows that no request of ours would leave (found by fuzzing the store).
#include "FakeNotificationServer.h"
#include "FakeWallClock.h"

#include "platform/usernotifications/PendingRequestStore.h"
#include "platform/usernotifications/UserNotificationCenter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

const QDateTime kStart(QDate(2025, 3, 1), QTime(7, 0), Qt::UTC); // 08:00 in Berlin

bool runSql(const QString& file, const char* sql)
{
    sqlite3* db = nullptr;
    const bool opened = sqlite3_open(QFile::encodeName(file).constData(), &db) == SQLITE_OK;
    const bool ran = opened && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ran;
}

QByteArray contents(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

PendingRequest dailyRequest()
{
    return PendingRequest{NotificationRequest{QStringLiteral("dailyNotification"),
                                              {QStringLiteral("Reminder"), QStringLiteral("stretch"), true, {}},
                                              CalendarTrigger{9, 0, true}},
                          kStart};
}

} // namespace

class TestPendingRequestStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_next = 0;

    // A fresh store folder whose database was made by `sql`.
    QString folderWith(const char* sql)
    {
        const QString folder = m_root.filePath(QString::number(m_next++));
        if (!QDir().mkpath(folder) || !runSql(folder + QStringLiteral("/notifications.sqlite3"), sql))
            return {};
        return folder;
    }

private slots:
    // A store that says it is persistent keeps what it is given; one that cannot keep it
    // says so and leaves the file as it found it.
    void tablesOfAnotherLayoutAreRefusedAndLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("sql");
        QTest::newRow("fewer columns") << QByteArray("CREATE TABLE requests (identifier TEXT, payload BLOB)");
        QTest::newRow("held is a view") << QByteArray("CREATE VIEW held AS SELECT 1 AS path");
        QTest::newRow("copies without source") << QByteArray("CREATE TABLE copies (path TEXT)");
    }
    void tablesOfAnotherLayoutAreRefusedAndLeftAlone()
    {
        QFETCH(QByteArray, sql);
        const QString folder = folderWith(sql.constData());
        QVERIFY(!folder.isEmpty());
        const QString file = folder + QStringLiteral("/notifications.sqlite3");
        const QByteArray before = contents(file);
        {
            PendingRequestStore store(folder);
            QVERIFY(!store.isPersistent());
            QVERIFY2(store.openError().contains(QStringLiteral("another layout")), qPrintable(store.openError()));
            store.put(dailyRequest()); // kept in memory for this run
            QCOMPARE(store.pending().size(), 1);
        }
        QCOMPARE(contents(file), before);
    }

    // A row without a trigger would be armed through an empty trigger; instants beyond what
    // a date can hold would silence a reminder for good or overflow the expiry timer.
    void rowsNoRequestOfOursLeavesAreHarmless()
    {
        const QString folder = folderWith(
            "CREATE TABLE requests (identifier TEXT PRIMARY KEY NOT NULL, title TEXT, body TEXT, sound INTEGER,"
            " attachment_id TEXT, attachment TEXT, has_trigger INTEGER, hour INTEGER, minute INTEGER,"
            " repeats INTEGER, covered_until INTEGER);"
            "CREATE TABLE held (path TEXT NOT NULL, server_id INTEGER, until INTEGER);"
            "INSERT INTO requests VALUES ('untriggered', 'Reminder', 'x', 1, '', '', 0, 0, 0, 0, 0);"
            "INSERT INTO requests VALUES ('far', 'Reminder', 'y', 1, '', '', 1, 9, 0, 1, 9223372036854775807);"
            "INSERT INTO requests VALUES ('before', 'Reminder', 'z', 1, '', '', 1, 9, 0, 1, -9223372036854775808);"
            "INSERT INTO held VALUES ('a', 0, 9223372036854775807);"
            "INSERT INTO held VALUES ('b', 0, -9223372036854775808);");
        QVERIFY(!folder.isEmpty());
        auto clock = std::make_unique<FakeWallClock>(kStart, QTimeZone("Europe/Berlin"));
        FakeWallClock* time = clock.get();
        auto server = std::make_unique<FakeNotificationServer>();
        FakeNotificationServer* shown = server.get();
        UserNotificationCenter center(folder, std::move(clock), std::move(server));
        QVERIFY(center.store().isPersistent());

        QStringList identifiers;
        for (const auto& request : center.pendingNotificationRequests())
            identifiers << request.identifier;
        QCOMPARE(identifiers, QStringList({QStringLiteral("far"), QStringLiteral("before")}));
        // Both come at the next 09:00 and every day after, as any daily reminder does (the
        // one covered only up to the distant past came once more at start, as missed).
        const qsizetype atStart = shown->shown.size();
        QVERIFY(atStart <= 1);
        time->runUntil(kStart.addSecs(2 * 3600 + 60));
        QCOMPARE(shown->shown.size(), atStart + 2);
        time->runUntil(kStart.addDays(1).addSecs(2 * 3600 + 60));
        QCOMPARE(shown->shown.size(), atStart + 4);
    }
};

QTEST_GUILESS_MAIN(TestPendingRequestStore)
#include "TestPendingRequestStore.moc"
