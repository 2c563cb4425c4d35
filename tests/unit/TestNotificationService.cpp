// The notification service: when daily requests fire across time zones, sleeps, clock changes
// and restarts; what its store makes of files it did not write; and how notifications reach
// the desktop's server over D-Bus, on a session bus of the test's own.
#include "ChildProcess.h"
#include "Fakes.h"
#include "OutputCapture.h"
#include "PhotoFixtures.h"
#include "PrivateBus.h"
#include "platform/usernotifications/DailyTrigger.h"

#include "platform/systemd/SystemdUnits.h"
#include "platform/usernotifications/SystemdUserTimer.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QGuiApplication>
#include <QtTest>

#include <sqlite3.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QDateTime iso(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

QDateTime berlin(const char* text)
{
    return QDateTime(iso(text).date(), iso(text).time(), QTimeZone("Europe/Berlin"));
}

NotificationRequest request(const QString& body, std::optional<CalendarTrigger> trigger = CalendarTrigger{9, 0, true},
                            const QString& picture = {})
{
    NotificationRequest request{body, {QStringLiteral("Reminder"), body, true, {}}, trigger};
    if (!picture.isEmpty())
        request.content.attachments = {{QStringLiteral("notifImage"), QUrl::fromLocalFile(picture)}};
    return request;
}

const QTimeZone kUtc("UTC");
const QDateTime kMorning(QDate(2025, 6, 1), QTime(8, 0), Qt::UTC);

QDateTime at(int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2025, 6, day), QTime(hour, minute), Qt::UTC);
}

} // namespace

// A notification server as small as the protocol allows, recording what it is sent; while
// `holding`, it keeps a Notify call unanswered.
class FakeDesktopServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList capabilities{QStringLiteral("body"), QStringLiteral("body-markup")};
    QList<QVariantList> calls; // application, summary, body, hints of each Notify
    bool holding = false;

public slots:
    QStringList GetCapabilities() { return capabilities; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = version = specVersion = QStringLiteral("1");
        return QStringLiteral("fake");
    }
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int)
    {
        calls.append({app, summary, body, hints, icon, actions});
        setDelayedReply(holding);
        return uint(calls.size());
    }
};

class TestNotificationService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    PrivateBus m_bus;
    FakeDesktopServer m_server;

    std::unique_ptr<UserNotificationCenter> busCenter(const QString& name)
    {
        return std::make_unique<UserNotificationCenter>(m_folder.filePath(name), std::make_unique<SystemWallClock>(),
                                                        std::make_unique<FreedesktopNotificationServer>());
    }
    // Waits until every earlier call of `center` to the bus has been answered; whether a server did.
    static bool settle(UserNotificationCenter& center)
    {
        std::optional<bool> answered;
        center.requestAuthorization([&](bool granted) { answered = granted; });
        return QTest::qWaitFor([&] { return answered.has_value(); }, scaledMs(30000)) && *answered;
    }
    // Puts the server on the bus under its well-known name, or takes it off the bus altogether.
    static void serve(FakeDesktopServer* server, const QString& address)
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
        if (!server)
            return;
        QDBusConnection connection = QDBusConnection::connectToBus(address, QStringLiteral("server"));
        QVERIFY(connection.registerObject(kPath, server, QDBusConnection::ExportAllSlots));
        QVERIFY(connection.registerService(kService));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_bus.start(), "dbus-daemon is needed (package dbus)"); // before anything connects to a bus
        QGuiApplication::setApplicationDisplayName(QStringLiteral("Perchlight"));
        QGuiApplication::setDesktopFileName(QStringLiteral("io.github.perchlight.Perchlight"));
    }

    void fireTimesFollowDaylightSavingRules()
    {
        // The day and time of day asked for in a zone, and when it fires: a reading that a
        // change skips fires at the first instant after the gap, a repeated one at the first.
        const std::tuple<const char*, const char*, const char*> cases[] = {
            {"Europe/Berlin", "2025-03-30T02:30", "2025-03-30T01:00Z"},
            {"Europe/Berlin", "2025-10-26T02:30", "2025-10-26T00:30Z"},
            {"America/New_York", "2025-03-09T02:00", "2025-03-09T07:00Z"},
            {"America/New_York", "2025-11-02T01:30", "2025-11-02T05:30Z"},
            {"Australia/Lord_Howe", "2025-10-05T02:15", "2025-10-04T15:30Z"}, // a half-hour gap
            {"Australia/Lord_Howe", "2025-04-06T01:45", "2025-04-05T14:45Z"}, // and overlap
            {"Europe/Berlin", "2025-07-01T09:00", "2025-07-01T07:00Z"}};      // an ordinary day
        for (const auto& [name, reading, expected] : cases) {
            const QTimeZone zone(name);
            const QDateTime wall = iso(reading);
            const int hour = wall.time().hour(), minute = wall.time().minute();
            QCOMPARE(DailyTrigger::fireTimeOn(wall.date(), hour, minute, zone), std::optional(iso(expected)));
            // Every day for two years at that time of day: once a day, on the day's fire time.
            CenterRig rig(QDateTime(QDate(2024, 12, 31), QTime(12, 0), zone), zone);
            rig.center->add(request(QStringLiteral("daily"), CalendarTrigger{hour, minute, true}));
            rig.clock->runUntil(QDateTime(QDate(2026, 12, 31), QTime(23, 59), zone));
            QCOMPARE(rig.deliveries.size(), 730);
            for (int i = 0; i < 730; ++i)
                QCOMPARE(rig.deliveries[i], DailyTrigger::fireTimeOn(QDate(2025, 1, 1).addDays(i), hour, minute, zone));
        }
    }

    void outOfRangeComponentsNeverFireAndArmNothing()
    {
        QVERIFY(DailyTrigger::nextFireTime(23, 59, QDateTime::currentDateTimeUtc(),
                                           QTimeZone::utc())); // the last minute is one
        for (auto [hour, minute] : {std::pair<qint64, qint64>{24, 0}, {-1, 0}, {9, 60}, {9, -5}, {1LL << 40, 0}}) {
            QVERIFY(!DailyTrigger::nextFireTime(hour, minute, QDateTime::currentDateTimeUtc(), QTimeZone::utc()));
            CenterRig rig(berlin("2025-01-01T00:00:00"));
            rig.center->add(request(QStringLiteral("never"), CalendarTrigger{hour, minute, true}));
            // Kept as given, like any request, but it costs no wake-up.
            QVERIFY(rig.center->pendingNotificationRequests().first().trigger->hour == hour);
            QVERIFY(!rig.clock->armed());
            rig.clock->runUntil(berlin("2026-01-01T00:00:00"));
            QVERIFY(rig.deliveries.isEmpty());
        }
    }

    // A fire time missed while the machine slept, the clock jumped or the program was not
    // running comes once when that is noticed, never once per missed day.
    void missedFireTimesComeOnceWhenNoticed()
    {
        CenterRig rig(berlin("2025-05-01T08:00:00"));
        rig.center->add(request(QStringLiteral("daily")));
        rig.clock->sleepUntil(berlin("2025-05-04T07:00:00")); // three fire times slept through
        rig.clock->runUntil(berlin("2025-05-04T09:30:00"));   // then that day's own
        rig.clock->setClock(berlin("2025-05-04T08:30:00"));   // back after it: served already
        rig.clock->runUntil(berlin("2025-05-05T08:00:00"));
        rig.clock->sleepUntil(berlin("2025-05-05T10:00:00")); // slept through within the day
        rig.clock->runUntil(berlin("2025-05-06T08:59:00"));   // and nothing more that day
        rig.clock->setClock(berlin("2025-05-06T11:00:00"));   // forward past a fire time
        rig.clock->setClock(berlin("2025-05-10T12:00:00"));   // forward by days
        rig.clock->setClock(berlin("2025-05-01T08:00:00"));   // far back: goes on from there
        rig.clock->runUntil(berlin("2025-05-02T08:00:00"));
        QCOMPARE(rig.deliveries, QList<QDateTime>({berlin("2025-05-04T07:00:00"), berlin("2025-05-04T09:00:00"),
                                                   berlin("2025-05-05T10:00:00"), berlin("2025-05-06T11:00:00"),
                                                   berlin("2025-05-10T12:00:00"), berlin("2025-05-01T09:00:00")}));
        // Not running at 09:00 on two days: one delivery at the start, then daily again.
        rig.restart(berlin("2025-05-03T12:00:00"));
        QCOMPARE(rig.shown(), 1);
        QCOMPARE(rig.clock->armed(), std::optional(berlin("2025-05-04T09:00:00")));
        rig.restartAfter(3600); // that missed reminder was delivered already
        QVERIFY(rig.server->shown.isEmpty());
    }

    void requestsSurviveARestartUntilWithdrawn()
    {
        CenterRig rig(berlin("2025-02-01T10:00:00"));
        rig.center->add(request(QStringLiteral("daily")));
        rig.center->add(request(QStringLiteral("other"), CalendarTrigger{10, 30, true}));
        rig.restartAfter(1800); // at 10:30, due; 09:00 passed before the request came
        QCOMPARE(rig.shown(), 1);
        QCOMPARE(rig.server->shown.first().body, QStringLiteral("other"));
        QCOMPARE(rig.center->pendingNotificationRequests().size(), 2);
        QCOMPARE(rig.clock->armed(), std::optional(berlin("2025-02-02T09:00:00")));
        rig.center->removeAllPendingNotificationRequests();
        QVERIFY(rig.center->pendingNotificationRequests().isEmpty());
        QVERIFY(!rig.clock->armed());
        rig.restartAfter(86400);
        QVERIFY(rig.center->pendingNotificationRequests().isEmpty());
        QVERIFY(rig.server->shown.isEmpty());
    }

    void theSystemAlarmGoesOffAtItsInstant()
    {
        SystemWallClock clock;
        QSignalSpy alarm(&clock, &WallClock::alarm);
        const QDateTime when = clock.now().addMSecs(300);
        clock.armAt(when);
        QVERIFY(alarm.wait(scaledMs(5000)));
        QVERIFY2(clock.now() >= when, qPrintable(clock.now().toString(Qt::ISODateWithMs)));
        clock.armAt(clock.now().addSecs(-60)); // an instant already past goes off at once
        QVERIFY(alarm.wait(scaledMs(5000)));
    }

    // Files the store did not write itself (found by fuzzing it): a store of another layout is
    // refused and left as it is; rows no request of ours leaves do no harm.
    void storeFilesOfOthersAreHarmless()
    {
        // A row without trigger would be armed through an empty trigger; instants beyond what a
        // date can hold would silence a reminder for good or overflow the expiry timer.
        const QString extremes =
            "CREATE TABLE requests (identifier TEXT PRIMARY KEY NOT NULL, title TEXT, body TEXT, sound INTEGER,"
            " attachment_id TEXT, attachment TEXT, has_trigger INTEGER, hour INTEGER, minute INTEGER,"
            " repeats INTEGER, covered_until INTEGER);"
            "CREATE TABLE held (path TEXT NOT NULL, server_id INTEGER, until INTEGER);"
            "INSERT INTO requests VALUES ('untriggered', '', '', 1, '', '', 0, 0, 0, 0, 0),"
            " ('far', '', '', 1, '', '', 1, 9, 0, 1, 9223372036854775807),"
            " ('before', '', '', 1, '', '', 1, 9, 0, 1, -9223372036854775808);"
            "INSERT INTO held VALUES ('a', 0, 9223372036854775807), ('b', 0, -9223372036854775808);";
        for (const auto& [sql, pending] :
             {std::pair{QStringLiteral("CREATE TABLE requests (identifier TEXT, payload BLOB)"), QStringList()},
              {QStringLiteral("CREATE VIEW held AS SELECT 1 AS path"), {}},
              {QStringLiteral("CREATE TABLE copies (path TEXT)"), {}},
              // An index that disagrees with its table, which only the full check finds.
              {QStringLiteral(
                   "CREATE TABLE t(a);CREATE INDEX i ON t(a);INSERT INTO t VALUES(1);PRAGMA writable_schema=1;"
                   "UPDATE sqlite_schema SET sql='CREATE INDEX i ON t(-a)' WHERE name='i'"),
               {}},
              {extremes, {QStringLiteral("far"), QStringLiteral("before")}}}) {
            CenterRig rig;
            rig.withTimer = pending.isEmpty(); // which cannot deliver from a store it cannot read
            const QString file = rig.storeFolder + QStringLiteral("/notifications.sqlite3");
            QVERIFY(QDir().mkpath(rig.storeFolder));
            QVERIFY(runToEnd(QStringLiteral("sqlite3"), {file, sql}) == 0);
            const QByteArray before = PhotoFixtures::readFile(file);
            rig.restart(berlin("2025-03-01T08:00:00"));
            QStringList identifiers;
            for (const auto& request : rig.center->pendingNotificationRequests())
                identifiers << request.identifier;
            QCOMPARE(identifiers, pending);
            QCOMPARE(rig.center->store().isPersistent(), !pending.isEmpty());
            // Every request comes at 09:00 each day, as any daily reminder does (the one covered
            // only up to the distant past came once more at the start, as missed).
            rig.center->add(request(QStringLiteral("daily")));
            const qsizetype atStart = rig.shown();
            rig.clock->runUntil(berlin("2025-03-02T09:01:00"));
            QCOMPARE(rig.shown(), atStart + 2 * (pending.size() + 1));
            rig.center.reset();
            QVERIFY(!pending.isEmpty() || PhotoFixtures::readFile(file) == before); // a foreign store left as it is
        }
    }

    void notificationsReachTheDesktopsServerWithTheirPicture()
    {
        const QByteArray png = PhotoFixtures::encoded(PhotoFixtures::halves(40, 40), "PNG");
        const QString picture = m_folder.filePath(QStringLiteral("picture.png"));
        QVERIFY(PhotoFixtures::writeFile(picture, png));
        auto center = busCenter(QStringLiteral("preview"));
        QVERIFY(!settle(*center)); // permission is granted only while a server answers
        serve(&m_server, m_bus.address());
        QVERIFY(settle(*center));
        center->add(request(QStringLiteral("Tom & Jerry <3"), std::nullopt, picture));
        QTRY_COMPARE(m_server.calls.size(), 1);
        // The server reads markup, so the message is escaped to show as typed.
        QCOMPARE(m_server.calls.first().mid(0, 3), QVariantList({"Perchlight", "Reminder", "Tom &amp; Jerry &lt;3"}));
        const QVariantMap hints = m_server.calls.first().value(3).toMap();
        QCOMPARE(hints.value(QStringLiteral("sound-name")).toString(), QStringLiteral("message-new-instant"));
        QCOMPARE(hints.value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("io.github.perchlight.Perchlight"));
        // The program's icon, and a click on the notification that the program hears.
        QCOMPARE(m_server.calls.first().mid(4),
                 QVariantList({"io.github.perchlight.Perchlight", QStringList{"default", "Open Photo"}}));
        const QUrl image(hints.value(QStringLiteral("image-path")).toString());
        QVERIFY(image.isLocalFile());
        QVERIFY(image.toLocalFile().startsWith(m_folder.filePath(QStringLiteral("preview/"))));
        QCOMPARE(PhotoFixtures::readFile(image.toLocalFile()), png);
        // The server says the notification is gone: so is the copy.
        const auto closed = [](quint32 id, quint32 reason) {
            return QDBusConnection(QStringLiteral("server"))
                .send(QDBusMessage::createSignal(kPath, kService, QStringLiteral("NotificationClosed"))
                      << id << reason);
        };
        QVERIFY(closed(1, 2));
        QTRY_VERIFY(!QFile::exists(image.toLocalFile()));
        // A server without markup gets the text as it is.
        m_server.capabilities = QStringList{QStringLiteral("body")};
        center->add(request(QStringLiteral("Tom & Jerry <3"), std::nullopt));
        QTRY_COMPARE(m_server.calls.size(), 2);
        QCOMPARE(m_server.calls.last().value(2).toString(), QStringLiteral("Tom & Jerry <3"));
        // Expired, a notification stays clickable, with its copy, where the server keeps such a list
        // (persistence), until it is dismissed there; elsewhere it is gone.
        for (const QString& capability : {QStringLiteral("persistence"), QStringLiteral("none")}) {
            const QString own = m_folder.filePath(capability + QStringLiteral(".png")); // a copy of its own
            QVERIFY(PhotoFixtures::writeFile(own, png));
            m_server.capabilities = QStringList{QStringLiteral("body"), capability};
            center->add(request(capability, std::nullopt, own));
            QTRY_COMPARE(m_server.calls.size(), capability == QStringLiteral("none") ? 4 : 3);
        }
        const auto copy = [&](int call) {
            return QUrl(m_server.calls.at(call).value(3).toMap().value(QStringLiteral("image-path")).toString());
        };
        QVERIFY(closed(3, 1));
        QVERIFY(closed(4, 1));
        QTRY_VERIFY(!QFile::exists(copy(3).toLocalFile()));
        QVERIFY2(QFile::exists(copy(2).toLocalFile()), "an expired notification in the desktop's list");
        QVERIFY(closed(3, 2));
        QTRY_VERIFY(!QFile::exists(copy(2).toLocalFile()));
    }

    void aServerThatStallsOrDiesNeitherBlocksNorLosesARequest()
    {
        auto center = busCenter(QStringLiteral("stalled"));
        center->add(request(QStringLiteral("daily")));
        serve(&m_server, m_bus.address());
        m_server.calls.clear();
        m_server.holding = true;
        OutputCapture errors(stderr);
        QElapsedTimer held;
        held.start();
        center->add(request(QStringLiteral("first"), std::nullopt));
        QTRY_COMPARE(m_server.calls.size(), 1);
        // Waiting for the answer would have held the event loop until the call timed out.
        QVERIFY2(held.elapsed() < 5000, "the event loop stood still while the server had the call");
        serve(nullptr, m_bus.address()); // the server dies with the call
        settle(*center);
        center->add(request(QStringLiteral("second"), std::nullopt)); // goes the same way, and says nothing more
        settle(*center);
        const QStringList lines = errors.finish().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(QCoreApplication::applicationName() + QStringLiteral(": ")) &&
                     lines.first().contains(QStringLiteral("notification server")),
                 qPrintable(lines.first()));
        // Nothing pending is lost, now or at the next start, and a server that is back gets the next one.
        center.reset();
        center = busCenter(QStringLiteral("stalled"));
        QCOMPARE(center->pendingNotificationRequests().size(), 1);
        m_server.holding = false;
        serve(&m_server, m_bus.address());
        center->add(request(QStringLiteral("third"), std::nullopt));
        QTRY_COMPARE(m_server.calls.size(), 2);
    }
    // Both programs and the delivery runs share one store: each fire time is delivered once,
    // and a change made by one takes effect in the others at once.
    void bothProgramsDeliverEachFireTimeOnceAndSwitchOffTogether()
    {
        const QString store = m_folder.filePath(QStringLiteral("both"));
        CenterRig portraitPerch(kMorning, kUtc, store);
        CenterRig perchlight(kMorning, kUtc, store);
        perchlight.center->add(request(QStringLiteral("daily")));
        QCOMPARE(portraitPerch.center->pendingNotificationRequests().size(), 1);
        QTRY_COMPARE(portraitPerch.clock->armed(), std::optional(at(1, 9)));
        // Both alarms go off at the fire time, in either order: one notification a day.
        for (int day = 1; day <= 4; ++day) {
            CenterRig& first = day % 2 ? perchlight : portraitPerch;
            CenterRig& second = day % 2 ? portraitPerch : perchlight;
            first.clock->runUntil(at(day, 9, 1));
            second.clock->runUntil(at(day, 9, 1));
            QCOMPARE(first.shown() + second.shown(), day);
            QCOMPARE(second.clock->armed(), std::optional(at(day + 1, 9)));
            QCoreApplication::processEvents();
        }
        // Off in one program: off in both, with what another process added a moment ago.
        PendingRequestStore(store).put(PendingRequest{request(QStringLiteral("justAdded")), at(4, 10)});
        portraitPerch.center->removeAllPendingNotificationRequests();
        QVERIFY(perchlight.center->pendingNotificationRequests().isEmpty());
        QTRY_VERIFY(!perchlight.clock->armed());
        perchlight.clock->runUntil(at(6, 12));
        QCOMPARE(perchlight.shown() + portraitPerch.shown(), 4);
    }

    void aFireTimeIsClaimedInOneTransaction()
    {
        const QString folder = m_folder.filePath(QStringLiteral("claim"));
        PendingRequestStore store(folder);
        store.put(PendingRequest{request(QStringLiteral("daily")), kMorning});
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(qPrintable(folder + QStringLiteral("/notifications.sqlite3")), &other), SQLITE_OK);
        bool otherLockedOut = false;
        QVERIFY(store.exclusively([&] {
            store.setCoveredUntil(QStringLiteral("daily"), at(1, 9));
            // Another process that wants to claim waits until the claim is recorded.
            otherLockedOut = sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_BUSY;
        }));
        sqlite3_close(other);
        QVERIFY(otherLockedOut);
        QCOMPARE(PendingRequestStore(folder).pending().first().coveredUntil, at(1, 9));
    }

    void theTimerDeliversAndTheAlarmStandsInOnlyWhenItCannot()
    {
        const QString store = m_folder.filePath(QStringLiteral("timer"));
        CenterRig program(kMorning, kUtc, store, true);
        CenterRig run(kMorning, kUtc, store, true);
        run.center->setAlarmAlongsideTimer(true);
        // A rescheduling is a removal and an add: the timer sees only their outcome.
        for (int i = 0; i < 3; ++i) {
            program.center->removeAllPendingNotificationRequests();
            program.center->add(request(QStringLiteral("daily")));
        }
        QCoreApplication::processEvents();
        QCOMPARE(program.timer->synced, QList<std::optional<QDateTime>>{at(1, 9)});
        QVERIFY(!program.clock->armed());
        QTRY_COMPARE(run.clock->armed(), std::optional(at(1, 9)));
        // The run at the fire time and the program's own start a moment later: once.
        run.clock->runUntil(at(1, 9));
        CenterRig restarted(at(1, 9).addSecs(1), kUtc, store, true);
        QCOMPARE(run.shown() + restarted.shown(), 1);
        // Every process hears a click on it; one takes it. Another program's notification, or one
        // of ours from a server since replaced, is no click of ours.
        QList<CenterRig*> clicked;
        QCOMPARE(run.center->openNotificationCount(), 1);
        for (CenterRig* process : {&run, &restarted, &program})
            connect(process->center.get(), &UserNotificationCenter::activated, [&, process] { clicked << process; });
        emit program.server->actionInvoked(QStringLiteral(":1.99"), 1, QStringLiteral("default"));
        for (CenterRig* process : {&run, &restarted, &program})
            emit process->server->actionInvoked(QString(), 1, QStringLiteral("default"));
        QVERIFY(clicked == QList<CenterRig*>{&run});
        QVERIFY(run.center->openNotificationCount() == 0);
        // A time zone change moves the timer to the new zone's 09:00.
        program.clock->setTimeZone(QTimeZone("Asia/Kolkata"));
        QCoreApplication::processEvents();
        QCOMPARE(program.timer->synced.last(), std::optional(at(2, 3, 30)));
        // A timer the manager refuses: the alarm takes over, said once on standard error.
        OutputCapture errors(stderr);
        program.timer->works = false;
        for (int hour : {10, 11}) {
            program.center->add(request(QStringLiteral("daily"), CalendarTrigger{hour, 0, true}));
            QCoreApplication::processEvents();
        }
        QCOMPARE(errors.finish().count(QStringLiteral("reminders come only while the program runs (refused")), 1);
        QCOMPARE(program.clock->armed(), std::optional(at(2, 5, 30)));
    }

    // A fire time counts as delivered once a server took it: one that none took (none runs yet,
    // it refused, it never answered) comes once one does, also after a restart, and meanwhile
    // the timer and the alarm stand for the next try, not for the next day.
    void aFireTimeNoServerTookComesOnceOneDoes()
    {
        CenterRig rig(kMorning, kUtc, m_folder.filePath(QStringLiteral("untaken")), true);
        rig.center->setAlarmAlongsideTimer(true); // as the delivery run delivers
        rig.center->add(request(QStringLiteral("daily")));
        rig.server->serverRuns = false;
        OutputCapture errors(stderr);
        rig.clock->runUntil(at(1, 9).addSecs(40));
        QCoreApplication::processEvents();
        QVERIFY2(*rig.timer->synced.last() < at(1, 9, 5), qPrintable(rig.timer->synced.last()->toString()));
        rig.server->serverRuns = true;
        emit rig.server->serverAppeared();
        QCoreApplication::processEvents();
        QCOMPARE(rig.shown(), 1);
        QCOMPARE(rig.timer->synced.last(), std::optional(at(2, 9)));
        rig.server->serverRuns = false;
        rig.clock->runUntil(at(2, 9, 30));
        rig.restartAfter(60);
        rig.clock->runUntil(at(3, 8));
        QCOMPARE(rig.shown(), 1);
        QCOMPARE(errors.finish().count(QStringLiteral("no notification server took the reminder")), 2);
    }

    // What a unit file would take for a specifier, a variable, a quote or a word break stays
    // literal, so that the manager runs exactly this program with exactly these surroundings.
    void unitsForAnAwkwardPathPassSystemdAnalyze()
    {
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty()) { // a set-up fault under CI
            QVERIFY2(!runningUnderCi(), "systemd-analyze (package systemd) is missing");
            QSKIP("systemd-analyze is not installed (package systemd)");
        }
        const QString folder = m_folder.filePath(QStringLiteral("a %h $HOME"));
        const QString program = folder + QStringLiteral("/perch light");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(QStringLiteral("/bin/true"), program));
        const QString base = SystemdUnits::baseName(program);
        QCOMPARE(base, QStringLiteral("perch\\x20light-reminder"));
        const QString awkward = QStringLiteral("%h $HOME \"quoted\" back\\slash");
        const auto service = SystemdUnits::service(QStringLiteral("100% \"daily\""), {program, awkward},
                                                   {{QStringLiteral("XDG_DATA_HOME"), awkward}});
        QVERIFY(service);
        for (const char* refused : {"/line\nbreak", "/\"quoted\"", "/back\\slash"})
            QVERIFY(!SystemdUnits::service({}, {folder + QLatin1String(refused)}, {}));
        const QString timer =
            SystemdUnits::timer(QStringLiteral("100%"), at(1, 9), base + QStringLiteral(".service"), program);
        // The manager would take a lone % for a specifier (it only warns of an unknown one).
        QVERIFY2(timer.contains(QLatin1String("\nDescription=100%%\n")), qPrintable(timer));
        QVERIFY2(service->contains(QLatin1String("\nDescription=100%% \"daily\"\n")), qPrintable(*service));
        // What the program writes names no session's bus or display: a later session has its own.
        qputenv("DISPLAY", ":7");
        const QString written = SystemdUserTimer::serviceText(program, {}).value_or(QString());
        QVERIFY2(!written.contains(QRegularExpression(QStringLiteral("DISPLAY|DBUS_SESSION"))), qPrintable(written));
        QStringList files;
        for (const auto& [suffix, text] : {std::pair(".service", *service), std::pair(".timer", timer)}) {
            files << m_folder.filePath(base + QLatin1String(suffix));
            QVERIFY(PhotoFixtures::writeFile(files.last(), text.toUtf8()));
        }
        ChildProcess verify(analyze, QStringList{QStringLiteral("verify"), QStringLiteral("--user")} + files);
        const int status = verify.waitForExit();
        QVERIFY2(status == 0 && verify.errors().isEmpty(), verify.errors().constData());
    }
};

QTEST_GUILESS_MAIN(TestNotificationService)
#include "TestNotificationService.moc"
