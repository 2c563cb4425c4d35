#include "FakeNotificationServer.h"
#include "FakeWallClock.h"

#include "platform/usernotifications/DailyTrigger.h"
#include "platform/usernotifications/UserNotificationCenter.h"

#include <QMap>
#include <QTemporaryDir>
#include <QTest>

namespace {

QDateTime local(const char* text, const char* zone)
{
    const QDateTime reading = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    return QDateTime(reading.date(), reading.time(), QTimeZone(zone));
}

NotificationRequest daily(qint64 hour, qint64 minute, const QString& body = QStringLiteral("note"))
{
    return NotificationRequest{QStringLiteral("dailyNotification"),
                               NotificationContent{QStringLiteral("Reminder"), body, true, {}},
                               CalendarTrigger{hour, minute, true}};
}

// The instant the reminder is due on `date`, found by walking the clock minute by minute:
// the first instant whose wall-clock reading on that date is at or past hour:minute. This
// is the rule for gaps (first instant after) and overlaps (first of the two) by definition.
QDateTime expectedOn(QDate date, int hour, int minute, const QTimeZone& zone)
{
    const QDateTime noon(date, QTime(12, 0), zone);
    const QTime wanted(hour, minute);
    QDateTime t = QDateTime(date, QTime(0, 0), Qt::UTC).addSecs(-zone.offsetFromUtc(noon) - 3 * 3600);
    for (int step = 0; step < 36 * 60; ++step, t = t.addSecs(60)) {
        const QDateTime shown = t.toTimeZone(zone);
        if (shown.date() == date && shown.time() >= wanted)
            return t;
        if (shown.date() > date)
            break;
    }
    return {};
}

// A center on a fake clock and server, with its store in a folder of its own.
struct Rig
{
    QTemporaryDir folder;
    FakeWallClock* clock;
    FakeNotificationServer* server;
    std::unique_ptr<UserNotificationCenter> center;
    QList<QDateTime> deliveries;

    Rig(const QDateTime& start, const QTimeZone& zone) { open(start, zone); }

    void open(const QDateTime& start, const QTimeZone& zone)
    {
        auto fakeClock = std::make_unique<FakeWallClock>(start, zone);
        auto fakeServer = std::make_unique<FakeNotificationServer>();
        clock = fakeClock.get();
        server = fakeServer.get();
        center = std::make_unique<UserNotificationCenter>(folder.path(), std::move(fakeClock), std::move(fakeServer));
        QObject::connect(center.get(), &UserNotificationCenter::delivered,
                         [this](const NotificationRequest&) { deliveries.append(clock->now()); });
    }

    // The program ends and starts again at `at` with the same store.
    void restart(const QDateTime& at)
    {
        const QTimeZone zone = clock->timeZone();
        center.reset();
        open(at, zone);
    }
};

} // namespace

class TestDailyDelivery : public QObject
{
    Q_OBJECT

private slots:
    void fireTimesFollowDaylightSavingRules_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("day");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<QString>("expectedUtc");
        // Skipped readings fire at the first instant after the gap; repeated ones at the first.
        QTest::newRow("Berlin gap") << QByteArray("Europe/Berlin") << "2025-03-30" << 2 << 30 << "2025-03-30T01:00:00";
        QTest::newRow("Berlin overlap") << QByteArray("Europe/Berlin") << "2025-10-26" << 2 << 30
                                        << "2025-10-26T00:30:00";
        QTest::newRow("New York gap") << QByteArray("America/New_York") << "2025-03-09" << 2 << 0
                                      << "2025-03-09T07:00:00";
        QTest::newRow("New York overlap")
            << QByteArray("America/New_York") << "2025-11-02" << 1 << 30 << "2025-11-02T05:30:00";
        QTest::newRow("Lord Howe half-hour gap")
            << QByteArray("Australia/Lord_Howe") << "2025-10-05" << 2 << 15 << "2025-10-04T15:30:00";
        QTest::newRow("Lord Howe half-hour overlap")
            << QByteArray("Australia/Lord_Howe") << "2025-04-06" << 1 << 45 << "2025-04-05T14:45:00";
        QTest::newRow("ordinary day") << QByteArray("Europe/Berlin") << "2025-07-01" << 9 << 0 << "2025-07-01T07:00:00";
    }

    void fireTimesFollowDaylightSavingRules()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, day);
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(QString, expectedUtc);
        const auto fire = DailyTrigger::fireTimeOn(QDate::fromString(day, Qt::ISODate), hour, minute, QTimeZone(zone));
        QVERIFY(fire);
        const QDateTime expected = QDateTime::fromString(expectedUtc, Qt::ISODate);
        QCOMPARE(fire->toUTC(), QDateTime(expected.date(), expected.time(), Qt::UTC));
    }

    void outOfRangeComponentsNeverFireAndArmNothing()
    {
        const QTimeZone zone("Europe/Berlin");
        for (auto [hour, minute] : {std::pair<qint64, qint64>{24, 0}, {-1, 0}, {9, 60}, {9, -5}, {1LL << 40, 0}}) {
            QVERIFY(!DailyTrigger::nextFireTime(hour, minute, QDateTime::currentDateTimeUtc(), zone));
            Rig rig(local("2025-01-01T00:00:00", "Europe/Berlin"), zone);
            rig.center->add(daily(hour, minute));
            // Kept as given, like any request, but no alarm is armed for it: it costs no wake-up.
            QCOMPARE(rig.center->pendingNotificationRequests().size(), 1);
            QCOMPARE(rig.center->pendingNotificationRequests().first().trigger->hour, hour);
            QVERIFY(!rig.clock->armed());
            rig.clock->runUntil(local("2026-01-01T00:00:00", "Europe/Berlin"));
            QVERIFY(rig.deliveries.isEmpty());
        }
    }

    void deliversOncePerDayForTwoYears_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::newRow("Berlin 02:30 (in gap and overlap)") << QByteArray("Europe/Berlin") << 2 << 30;
        QTest::newRow("Berlin defaults 09:00") << QByteArray("Europe/Berlin") << 9 << 0;
        QTest::newRow("New York 01:30 (overlap)") << QByteArray("America/New_York") << 1 << 30;
        QTest::newRow("New York 02:00 (gap)") << QByteArray("America/New_York") << 2 << 0;
        QTest::newRow("Lord Howe 02:15 (gap)") << QByteArray("Australia/Lord_Howe") << 2 << 15;
        QTest::newRow("Lord Howe 01:45 (overlap)") << QByteArray("Australia/Lord_Howe") << 1 << 45;
    }

    void deliversOncePerDayForTwoYears()
    {
        QFETCH(QByteArray, zone);
        QFETCH(int, hour);
        QFETCH(int, minute);
        const QTimeZone tz(zone);
        const QDate first(2025, 1, 1);
        const QDate last(2026, 12, 31);
        Rig rig(QDateTime(first.addDays(-1), QTime(12, 0), tz), tz);
        rig.center->add(daily(hour, minute));
        rig.clock->runUntil(QDateTime(last, QTime(23, 59), tz));

        QMap<QDate, QList<QDateTime>> byDay;
        for (const QDateTime& delivery : rig.deliveries)
            byDay[delivery.toTimeZone(tz).date()].append(delivery);
        QCOMPARE(byDay.size(), int(first.daysTo(last)) + 1);
        for (QDate day = first; day <= last; day = day.addDays(1)) {
            const auto& on = byDay.value(day);
            QVERIFY2(on.size() == 1, qPrintable(day.toString(Qt::ISODate)));
            QCOMPARE(on.first(), expectedOn(day, hour, minute, tz));
        }
    }

    void sleepAcrossFireTimesDeliversOnceAtResume()
    {
        const QTimeZone tz("Europe/Berlin");
        Rig rig(local("2025-05-01T08:00:00", "Europe/Berlin"), tz);
        rig.center->add(daily(9, 0));
        // Three fire times pass while the machine sleeps: one notification at resume.
        rig.clock->sleepUntil(local("2025-05-04T07:00:00", "Europe/Berlin"));
        QCOMPARE(rig.deliveries, QList<QDateTime>{local("2025-05-04T07:00:00", "Europe/Berlin")});
        // And the day goes on as usual, with that day's own reminder.
        rig.clock->runUntil(local("2025-05-05T08:00:00", "Europe/Berlin"));
        QCOMPARE(rig.deliveries.size(), 2);
        QCOMPARE(rig.deliveries.last(), local("2025-05-04T09:00:00", "Europe/Berlin"));

        // Sleeping through it within the day: once at resume, then not again that day.
        rig.clock->sleepUntil(local("2025-05-05T10:00:00", "Europe/Berlin"));
        rig.clock->runUntil(local("2025-05-06T08:59:00", "Europe/Berlin"));
        QCOMPARE(rig.deliveries.size(), 3);
        QCOMPARE(rig.deliveries.last(), local("2025-05-05T10:00:00", "Europe/Berlin"));
    }

    void settingTheClockNeitherRepeatsNorLosesADay()
    {
        const QTimeZone tz("America/New_York");
        Rig rig(local("2025-06-01T08:00:00", "America/New_York"), tz);
        rig.center->add(daily(9, 0));
        rig.clock->runUntil(local("2025-06-01T09:30:00", "America/New_York"));
        QCOMPARE(rig.deliveries.size(), 1);

        // Back by an hour after the delivery: 09:00 comes round again but was already served.
        rig.clock->setClock(local("2025-06-01T08:30:00", "America/New_York"));
        rig.clock->runUntil(local("2025-06-02T08:00:00", "America/New_York"));
        QCOMPARE(rig.deliveries.size(), 1);

        // Forward past the fire time: delivered once, at once.
        rig.clock->setClock(local("2025-06-02T11:00:00", "America/New_York"));
        QCOMPARE(rig.deliveries.size(), 2);
        QCOMPARE(rig.deliveries.last(), local("2025-06-02T11:00:00", "America/New_York"));

        // Forward by days: still one.
        rig.clock->setClock(local("2025-06-06T12:00:00", "America/New_York"));
        QCOMPARE(rig.deliveries.size(), 3);

        // Far back (a clock that was wrong and is corrected): reminders go on from the new time.
        rig.clock->setClock(local("2025-05-20T08:00:00", "America/New_York"));
        rig.clock->runUntil(local("2025-05-21T08:00:00", "America/New_York"));
        QCOMPARE(rig.deliveries.size(), 4);
        QCOMPARE(rig.deliveries.last(), local("2025-05-20T09:00:00", "America/New_York"));
    }

    void pendingRequestsSurviveARestart()
    {
        const QTimeZone tz("Europe/Berlin");
        Rig rig(local("2025-02-01T08:00:00", "Europe/Berlin"), tz);
        rig.center->add(daily(9, 0, QStringLiteral("kept")));

        // Restarted before the fire time: re-armed, nothing delivered early.
        rig.restart(local("2025-02-01T08:30:00", "Europe/Berlin"));
        QCOMPARE(rig.center->pendingNotificationRequests().size(), 1);
        QCOMPARE(rig.center->pendingNotificationRequests().first().content.body, QStringLiteral("kept"));
        QCOMPARE(rig.clock->armed(), std::optional(local("2025-02-01T09:00:00", "Europe/Berlin").toUTC()));
        QVERIFY(rig.server->shown.isEmpty());

        // Not running at 09:00 on two days: one delivery when it starts, then daily again.
        rig.restart(local("2025-02-03T12:00:00", "Europe/Berlin"));
        QCOMPARE(rig.server->shown.size(), 1);
        QCOMPARE(rig.server->shown.first().notification.body, QStringLiteral("kept"));
        QCOMPARE(rig.clock->armed(), std::optional(local("2025-02-04T09:00:00", "Europe/Berlin").toUTC()));

        // Started again the same day: that missed reminder was already delivered.
        rig.restart(local("2025-02-03T13:00:00", "Europe/Berlin"));
        QVERIFY(rig.server->shown.isEmpty());
    }

    void requestAddedAfterTheFireTimeWaitsForTheNextDay()
    {
        const QTimeZone tz("Europe/Berlin");
        Rig rig(local("2025-02-01T10:00:00", "Europe/Berlin"), tz);
        rig.center->add(daily(9, 0));
        rig.restart(local("2025-02-01T11:00:00", "Europe/Berlin"));
        QVERIFY(rig.server->shown.isEmpty());
        QCOMPARE(rig.clock->armed(), std::optional(local("2025-02-02T09:00:00", "Europe/Berlin").toUTC()));
    }

    void removalWithdrawsEveryPendingRequestAndDisarms()
    {
        const QTimeZone tz("Europe/Berlin");
        Rig rig(local("2025-02-01T08:00:00", "Europe/Berlin"), tz);
        rig.center->add(daily(9, 0));
        auto other = daily(10, 0);
        other.identifier = QStringLiteral("somethingElse");
        rig.center->add(other);
        QCOMPARE(rig.center->pendingNotificationRequests().size(), 2);
        rig.center->removeAllPendingNotificationRequests();
        QVERIFY(rig.center->pendingNotificationRequests().isEmpty());
        QVERIFY(!rig.clock->armed());
        rig.restart(local("2025-02-02T12:00:00", "Europe/Berlin"));
        QVERIFY(rig.center->pendingNotificationRequests().isEmpty());
        QVERIFY(rig.server->shown.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDailyDelivery)
#include "TestDailyDelivery.moc"
