// The notification service as several processes of the program use it at once: one store,
// one delivery per fire time, the timer outside the process, and clicks.
#include "FakeNotificationServer.h"
#include "FakeWallClock.h"
#include "StdoutCapture.h"

#include "platform/usernotifications/SystemdUnits.h"
#include "platform/usernotifications/UserNotificationCenter.h"
#include "preferences/ExternalDefaultsChanges.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/ReminderScheduling.h"
#include "views/NotificationMessageEditor.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sqlite3.h>

namespace {

const QTimeZone kUtc("UTC");
const QDateTime kMorning(QDate(2025, 6, 1), QTime(8, 0), Qt::UTC);

NotificationRequest daily(qint64 hour, qint64 minute)
{
    return {QStringLiteral("dailyNotification"),
            {QStringLiteral("Reminder"), QStringLiteral("note"), true, {}},
            CalendarTrigger{hour, minute, true}};
}

QDateTime at(int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2025, 6, day), QTime(hour, minute), Qt::UTC);
}

// Records what the center asks of it; refuses when told to.
class FakeDeliveryTimer : public DeliveryTimer
{
public:
    bool works = true;
    QList<std::optional<QDateTime>> synced;

    bool isAvailable() const override { return true; }
    QString problem() const override { return QStringLiteral("refused for the test"); }
    void sync(std::function<std::optional<QDateTime>()> desired, std::function<void(bool)> done) override
    {
        synced.append(desired());
        done(works);
    }
};

// One process of the program: a center on the shared store, with a clock and server of its own.
struct Process
{
    FakeWallClock* clock;
    FakeNotificationServer* server;
    FakeDeliveryTimer* timer = nullptr;
    std::unique_ptr<UserNotificationCenter> center;

    Process(const QString& store, bool withTimer = false, const QDateTime& now = kMorning)
    {
        auto fakeClock = std::make_unique<FakeWallClock>(now, kUtc);
        auto fakeServer = std::make_unique<FakeNotificationServer>();
        std::unique_ptr<FakeDeliveryTimer> fakeTimer = withTimer ? std::make_unique<FakeDeliveryTimer>() : nullptr;
        clock = fakeClock.get();
        server = fakeServer.get();
        timer = fakeTimer.get();
        center = std::make_unique<UserNotificationCenter>(store, std::move(fakeClock), std::move(fakeServer),
                                                          std::move(fakeTimer));
    }
    qsizetype shown() const { return server->shown.size(); }
};

} // namespace

class TestReminderDelivery : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_stores = 0;
    QString freshStore() { return m_root.filePath(QString::number(m_stores++)); }

private slots:
    void bothProgramsDeliverEachFireTimeOnceAndSwitchOffTogether()
    {
        const QString store = freshStore();
        Process portraitPerch(store);
        Process perchlight(store);
        perchlight.center->add(daily(9, 0));
        // The other program learns of it at once, from the store, and arms for it.
        QCOMPARE(portraitPerch.center->pendingNotificationRequests().size(), 1);
        QTRY_COMPARE(portraitPerch.clock->armed(), std::optional(at(1, 9)));

        // Both alarms go off at the fire time, in either order: one notification a day.
        for (int day = 1; day <= 4; ++day) {
            Process& first = day % 2 ? perchlight : portraitPerch;
            Process& second = day % 2 ? portraitPerch : perchlight;
            first.clock->runUntil(at(day, 9, 1));
            second.clock->runUntil(at(day, 9, 1));
            QCOMPARE(first.shown() + second.shown(), day);
            QCOMPARE(second.clock->armed(), std::optional(at(day + 1, 9)));
            QCoreApplication::processEvents();
        }

        // Off in one program: off in both, with what another process added a moment ago.
        auto other = daily(11, 0);
        other.identifier = QStringLiteral("justAdded");
        PendingRequestStore(store).put(PendingRequest{other, at(4, 10)});
        portraitPerch.center->removeAllPendingNotificationRequests();
        QVERIFY(perchlight.center->pendingNotificationRequests().isEmpty());
        QTRY_VERIFY(!perchlight.clock->armed());
        perchlight.clock->runUntil(at(6, 12));
        QCOMPARE(perchlight.shown() + portraitPerch.shown(), 4);
    }

    void aFireTimeIsClaimedInOneTransaction()
    {
        const QString folder = freshStore();
        PendingRequestStore store(folder);
        store.put(PendingRequest{daily(9, 0), kMorning});
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open((folder + QStringLiteral("/notifications.sqlite3")).toUtf8().constData(), &other),
                 SQLITE_OK);
        bool otherLockedOut = false;
        QVERIFY(store.exclusively([&] {
            store.setCoveredUntil(QStringLiteral("dailyNotification"), at(1, 9));
            // Another process that wants to claim waits until the claim is recorded.
            otherLockedOut = sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_BUSY;
        }));
        sqlite3_close(other);
        QVERIFY(otherLockedOut);
        QCOMPARE(PendingRequestStore(folder).pending().first().coveredUntil, at(1, 9));
    }

    void theTimerDeliversAndTheAlarmStandsInOnlyWhenItCannot()
    {
        const QString store = freshStore();
        Process program(store, true);
        Process run(store, true);
        run.center->setAlarmAlongsideTimer(true);
        // A rescheduling is a removal and an add: the timer sees only their outcome.
        for (int i = 0; i < 3; ++i) {
            program.center->removeAllPendingNotificationRequests();
            program.center->add(daily(9, 0));
        }
        QCoreApplication::processEvents();
        QCOMPARE(program.timer->synced, QList<std::optional<QDateTime>>{at(1, 9)});
        QVERIFY(!program.clock->armed());
        QTRY_COMPARE(run.clock->armed(), std::optional(at(1, 9)));

        // The run at the fire time and the program's own start a moment later: once.
        run.clock->runUntil(at(1, 9));
        Process restarted(store, true, at(1, 9).addSecs(1));
        QCOMPARE(run.shown() + restarted.shown(), 1);

        // A time zone change moves the timer to the new zone's 09:00.
        program.clock->setTimeZone(QTimeZone("Asia/Kolkata"));
        QCoreApplication::processEvents();
        QCOMPARE(program.timer->synced.last(), std::optional(at(2, 3, 30)));

        // A timer the manager refuses: the alarm takes over, said once on standard error.
        OutputCapture errors(stderr);
        program.timer->works = false;
        program.center->add(daily(10, 0));
        QCoreApplication::processEvents();
        program.center->add(daily(11, 0));
        QCoreApplication::processEvents();
        const QString said = errors.finish();
        QCOMPARE(said.count(QStringLiteral("reminders come only while the program runs (refused for the test)")), 1);
        QCOMPARE(program.clock->armed(), std::optional(at(2, 5, 30)));
    }

    void aClickOpensThePopoverOfOneProgramOnly()
    {
        const QString store = freshStore();
        Process program(store);
        Process run(store, true, kMorning);
        run.center->setAlarmAlongsideTimer(true);
        run.center->add(daily(9, 0));
        QSignalSpy programClicks(program.center.get(), &UserNotificationCenter::activated);
        QSignalSpy runClicks(run.center.get(), &UserNotificationCenter::activated);
        run.clock->runUntil(at(1, 9));
        QCOMPARE(run.center->openNotificationCount(), 1);

        const quint32 id = run.server->shown.first().id;
        emit run.server->actionInvoked(QString(), id, QStringLiteral("default"));
        emit program.server->actionInvoked(QString(), id, QStringLiteral("default"));
        QCOMPARE(programClicks.size() + runClicks.size(), 1);
        QCOMPARE(run.center->openNotificationCount(), 0);
        // Another program's notification, or one of ours from a server since replaced: no.
        emit program.server->actionInvoked(QStringLiteral(":1.99"), id, QStringLiteral("default"));
        QCOMPARE(programClicks.size() + runClicks.size(), 1);
    }

    void aFreshInstallationWithRemindersOnHasOnePending()
    {
        UserDefaults prefs(m_root.filePath(QStringLiteral("fresh.sqlite3")));
        Process program(freshStore());
        Reminders::scheduleDailyReminderIfMissing(*program.center, prefs);
        QCOMPARE(program.center->pendingNotificationRequests().size(), 1);
        QCOMPARE(program.center->pendingNotificationRequests().first().trigger->hour, 9);
        // Once: a later launch leaves the pending one as it is, and reminders off add none.
        Preferences::write(PreferenceKeys::notificationMessage, QStringLiteral("changed"), prefs);
        Reminders::scheduleDailyReminderIfMissing(*program.center, prefs);
        QCOMPARE(program.center->pendingNotificationRequests().first().content.body,
                 PreferenceKeys::notificationMessage.defaultValue);
        Process other(freshStore());
        Preferences::write(PreferenceKeys::notificationsEnabled, false, prefs);
        Reminders::scheduleDailyReminderIfMissing(*other.center, prefs);
        QVERIFY(other.center->pendingNotificationRequests().isEmpty());
    }

    void aPictureTheServiceCannotCopyIsReported()
    {
        const QString store = freshStore();
        Process program(store);
        const QString picture = m_root.filePath(QStringLiteral("picture.png"));
        QImage(4, 4, QImage::Format_RGB32).save(picture);
        QVERIFY(QDir(store + QStringLiteral("/attachments")).removeRecursively());
        QFile blocker(store + QStringLiteral("/attachments"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        auto request = daily(9, 0);
        request.content.attachments = {{QStringLiteral("notifImage"), QUrl::fromLocalFile(picture)}};
        StdoutCapture out;
        program.center->add(request);
        const QString printed = out.finish();
        QVERIFY2(printed.startsWith(
                     QStringLiteral("Could not save or attach image: Error Domain=POSIX Code=%1").arg(ENOTDIR)),
                 qPrintable(printed));
        QVERIFY(program.center->pendingNotificationRequests().first().content.attachments.isEmpty());
    }

    // What a unit file would take for a specifier, a variable, a quote or a word break stays
    // literal, so that the manager runs exactly this program with exactly these surroundings.
    void unitsForAnAwkwardPathPassSystemdAnalyze()
    {
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed (package systemd)");
        const QString folder = m_root.filePath(QStringLiteral("a %h $HOME"));
        QVERIFY(QDir().mkpath(folder));
        const QString program = folder + QStringLiteral("/perch light");
        QVERIFY(QFile::copy(QStringLiteral("/bin/true"), program));
        const QString base = SystemdUnits::baseName(program);
        QCOMPARE(base, QStringLiteral("perch\\x20light-reminder"));
        const QString awkward = QStringLiteral("%h $HOME \"quoted\" back\\slash");
        const auto service = SystemdUnits::service(QStringLiteral("100% \"daily\""), {program, awkward},
                                                   {{QStringLiteral("XDG_DATA_HOME"), awkward}});
        QVERIFY(service);
        for (const QString& refused :
             {QStringLiteral("/line\nbreak"), QStringLiteral("/\"quoted\""), QStringLiteral("/back\\slash")})
            QVERIFY(!SystemdUnits::service({}, {folder + refused}, {}));
        const QString units = m_root.filePath(QStringLiteral("units"));
        QVERIFY(QDir().mkpath(units));
        for (const auto& [name, text] :
             {std::pair(base + QStringLiteral(".service"), *service),
              std::pair(base + QStringLiteral(".timer"),
                        SystemdUnits::timer(QStringLiteral("100%"), at(1, 9), base + QStringLiteral(".service")))}) {
            QFile file(units + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text.toUtf8());
        }
        QProcess verify;
        verify.start(analyze, {QStringLiteral("verify"), QStringLiteral("--user"),
                               units + QLatin1Char('/') + base + QStringLiteral(".timer"),
                               units + QLatin1Char('/') + base + QStringLiteral(".service")});
        QVERIFY(verify.waitForFinished(60000));
        const QString said = QString::fromUtf8(verify.readAllStandardError());
        QVERIFY2(verify.exitCode() == 0 && said.isEmpty(), qPrintable(said));
    }

    void theSettingsFollowWhatTheOtherProgramWrites()
    {
        const ExternalDefaultsChanges following(UserDefaults::standard());
        UserDefaults otherProgram(UserDefaults::standardPath());
        SettingsView view(Edition::PortraitPerch);
        QSignalSpy changes(&UserDefaults::standard(), &UserDefaults::valueChanged);
        Preferences::write(PreferenceKeys::popoverTitle, QStringLiteral("mine"));
        Preferences::write(PreferenceKeys::notificationMessage, QStringLiteral("written by the other"), otherProgram);
        QTRY_COMPARE(view.messageEditor()->text(), QStringLiteral("written by the other"));
        // The program's own write is reported once, as before, not again with the other's.
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.first().first().toString(), PreferenceKeys::popoverTitle.key);
    }
};

QTEST_MAIN(TestReminderDelivery)
#include "TestReminderDelivery.moc"
