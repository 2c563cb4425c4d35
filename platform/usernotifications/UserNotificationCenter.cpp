#include "platform/usernotifications/UserNotificationCenter.h"

#include "platform/base/Console.h"
#include "platform/files/FolderWatch.h"
#include "platform/files/UserDirectories.h"
#include "platform/usernotifications/DailyTrigger.h"
#include "platform/usernotifications/SystemdUserTimer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>

#include <algorithm>
#include <limits>

namespace {

// How long a copy stays for a notification whose closing the server never reports, and how
// long a click on a notification is recognised.
constexpr int kHoldDays = 1;
constexpr int kSettleTimeoutMs = 5000;
// Between attempts to hand a fire time to a server that did not take it.
constexpr int kFirstRetrySeconds = 15;
constexpr int kLongestRetrySeconds = 600;
// Between attempts to claim fire times in a store that another program keeps locked.
constexpr int kClaimRetryMs = 1000;
// How long the program's end waits for changes of the store that have not landed yet.
constexpr int kFinishWritesMs = 3000;

} // namespace

UserNotificationCenter::UserNotificationCenter(const QString& storeFolder, std::unique_ptr<WallClock> clock,
                                               std::unique_ptr<NotificationServer> server,
                                               std::unique_ptr<DeliveryTimer> timer, QObject* parent)
    : QObject(parent), m_store(storeFolder), m_clock(std::move(clock)), m_server(std::move(server)),
      m_timer(std::move(timer))
{
    m_clock->setParent(nullptr);
    connect(m_clock.get(), &WallClock::alarm, this, &UserNotificationCenter::deliverDue);
    connect(m_clock.get(), &WallClock::clockChanged, this, &UserNotificationCenter::deliverDue);
    connect(m_clock.get(), &WallClock::timeZoneChanged, this, &UserNotificationCenter::deliverDue);
    connect(m_server.get(), &NotificationServer::notificationClosed, this, [this](quint32 id) {
        m_store.releaseHeld(id);
        m_collectTimer.start();
        forget(id);
    });
    connect(m_server.get(), &NotificationServer::serverAppeared, this, [this] {
        if (m_retryAt) {
            m_retryAt = m_clock->now();
            deliverDue();
        }
    });
    connect(m_server.get(), &NotificationServer::actionInvoked, this,
            [this](const QString& server, quint32 id, const QString& action) {
                // Every process of the program hears the click; the store lets one act on it.
                if (action == QLatin1String("default") && m_store.takeShown(server, id))
                    emit activated();
                forget(id);
            });
    if (m_store.isPersistent()) {
        m_storeWatch = new FolderWatch(storeFolder, PendingRequestStore::fileNames(), this);
        connect(m_storeWatch, &FolderWatch::changed, this, &UserNotificationCenter::onStoreChanged);
    } else {
        // A timer would start runs that cannot read what this process keeps in memory: without
        // the store, the alarm here is the only deliverer.
        m_timer.reset();
    }

    // Unused copies are swept once the current burst of calls is over, so that a removal
    // followed by an add of the same picture keeps the copy instead of making it again. The
    // timer follows the store at the same moment, so that the removal and the add that make
    // up one rescheduling never reach it apart.
    m_collectTimer.setSingleShot(true);
    m_collectTimer.setInterval(0);
    connect(&m_collectTimer, &QTimer::timeout, this, [this] { m_store.collectUnusedCopies(); });
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(0);
    connect(&m_syncTimer, &QTimer::timeout, this, [this] { syncTimer({}); });
    m_claimRetry.setSingleShot(true);
    m_claimRetry.setInterval(kClaimRetryMs);
    connect(&m_claimRetry, &QTimer::timeout, this, &UserNotificationCenter::deliverDue);
    m_expiryTimer.setSingleShot(true);
    m_expiryTimer.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_expiryTimer, &QTimer::timeout, this, &UserNotificationCenter::releaseExpiredHolds);

    releaseExpiredHolds();
    deliverDue();
}

UserNotificationCenter::~UserNotificationCenter() = default;

UserNotificationCenter& UserNotificationCenter::current()
{
    static UserNotificationCenter* instance = [] {
        QString name = QGuiApplication::applicationDisplayName();
        if (name.isEmpty())
            name = QCoreApplication::applicationName();
        auto timer = std::make_unique<SystemdUserTimer>(QCoreApplication::applicationFilePath(),
                                                        QStringLiteral("%1 daily reminder").arg(name),
                                                        SystemdUserTimer::ServiceWriter::Program);
        if (!timer->isAvailable()) {
            Console::printError(
                QStringLiteral("reminders come only while the program runs (%1)").arg(timer->problem()));
            timer.reset();
        }
        auto* center = new UserNotificationCenter(UserDirectories::dataDirectory(), std::make_unique<SystemWallClock>(),
                                                  std::make_unique<FreedesktopNotificationServer>(), std::move(timer));
        if (!center->store().isPersistent())
            Console::printError(QStringLiteral("cannot open the notification store in %1 (%2); reminders will "
                                               "not outlive this run")
                                    .arg(UserDirectories::dataDirectory(), center->store().openError()));
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, center,
                         &UserNotificationCenter::settle);
        return center;
    }();
    return *instance;
}

void UserNotificationCenter::requestAuthorization(std::function<void(bool granted)> completion)
{
    m_server->queryServer(std::move(completion));
}

void UserNotificationCenter::add(const NotificationRequest& request)
{
    NotificationRequest kept = request;
    // The service keeps its own copy of the picture: the caller may rewrite or lose its file.
    QList<NotificationAttachment> copies;
    for (const NotificationAttachment& attachment : request.content.attachments) {
        PrivateFile::Error error;
        if (const auto copy = m_store.copyAttachment(attachment.url.toLocalFile(), &error))
            copies.append(NotificationAttachment{attachment.identifier, QUrl::fromLocalFile(*copy)});
        else
            Console::printLine(attachmentFailureLine(error.description()));
    }
    kept.content.attachments = copies;

    if (!kept.trigger) {
        deliver(kept);
        return;
    }
    m_store.put(PendingRequest{kept, m_clock->now()});
    m_collectTimer.start();
    rearm();
}

void UserNotificationCenter::removeAllPendingNotificationRequests()
{
    // Also when this process knows of none: another may have added some a moment ago.
    m_store.removeAll();
    m_collectTimer.start();
    rearm();
}

QList<NotificationRequest> UserNotificationCenter::pendingNotificationRequests() const
{
    QList<NotificationRequest> requests;
    for (const PendingRequest& pending : m_store.pending())
        requests.append(pending.request);
    return requests;
}

void UserNotificationCenter::setAlarmAlongsideTimer(bool alongside)
{
    m_alarmAlongsideTimer = alongside;
    rearm();
}

bool UserNotificationCenter::usesAlarm() const
{
    // While a fire time waits for a server, this process tries again itself too.
    return !m_timer || m_timerFailed || m_alarmAlongsideTimer || m_retryAt;
}

std::optional<QDateTime> UserNotificationCenter::nextFireTime() const
{
    return nextFireTime(m_store.pending(), m_clock->now(), m_clock->timeZone());
}

std::optional<QDateTime> UserNotificationCenter::nextFireTime(const QList<PendingRequest>& pending,
                                                              const QDateTime& now, const QTimeZone& zone)
{
    std::optional<QDateTime> earliest;
    for (const PendingRequest& entry : pending) {
        const auto& trigger = *entry.request.trigger;
        const QDateTime after = std::max(entry.coveredUntil, now);
        const auto next = DailyTrigger::nextFireTime(trigger.hour, trigger.minute, after, zone);
        if (next && (!earliest || *next < *earliest))
            earliest = next;
    }
    return earliest;
}

std::optional<QDateTime> UserNotificationCenter::timerInstant() const
{
    const auto next = nextFireTime();
    if (m_retryAt && (!next || *m_retryAt < *next))
        return m_retryAt;
    return next;
}

void UserNotificationCenter::deliverDue()
{
    const QDateTime now = m_clock->now();
    const QTimeZone zone = m_clock->timeZone();
    m_untaken.removeIf([this](const Claim& claim) { return giveBack(claim); });
    QList<Claim> due;
    // One transaction from reading to recording: a deliverer in another process waits for it
    // and then finds these fire times covered. While another program holds the store's lock,
    // this one tries again shortly instead of waiting for it.
    const bool claimed = m_store.exclusively([&] {
        const QList<PendingRequest> pending = m_store.pending();
        for (const PendingRequest& entry : pending) {
            const NotificationRequest& request = entry.request;
            QDateTime covered = entry.coveredUntil;
            // A clock set far back would silence the reminder until it caught up again; a small
            // step back must not repeat the delivery that was just made. An instant that cannot
            // be told (a damaged store) would silence it for good.
            if (!covered.isValid() || covered > now.addDays(1)) {
                covered = now;
                m_store.setCoveredUntil(request.identifier, covered);
            }
            const auto& trigger = *request.trigger;
            const auto fire = DailyTrigger::nextFireTime(trigger.hour, trigger.minute, covered, zone);
            if (!fire || *fire > now)
                continue;
            due.append(Claim{request, covered, now});
            if (trigger.repeats)
                m_store.setCoveredUntil(request.identifier, now);
            else
                m_store.remove(request.identifier);
        }
    });
    if (!claimed) {
        due.clear();
        m_claimRetry.start();
    }
    for (const Claim& claim : due)
        deliver(claim.request, [this, claim](bool taken) { onClaimAnswered(claim, taken); });
    rearm();
}

void UserNotificationCenter::onClaimAnswered(const Claim& claim, bool taken)
{
    if (taken) {
        if (m_retryAt) {
            m_retryAt.reset();
            m_waitingForServerSince = {};
            rearm();
        }
        return;
    }
    const QDateTime now = m_clock->now();
    if (!m_waitingForServerSince.isValid()) {
        m_waitingForServerSince = now;
        m_retryDelaySeconds = kFirstRetrySeconds;
        Console::printError(QStringLiteral("no notification server took the reminder \"%1\"; it comes once one does "
                                           "(waiting up to %2 hours)")
                                .arg(claim.request.content.title)
                                .arg(kLongestWaitForServerHours));
    } else {
        m_retryDelaySeconds = std::min(2 * m_retryDelaySeconds, kLongestRetrySeconds);
    }
    if (now > m_waitingForServerSince.addSecs(qint64(kLongestWaitForServerHours) * 3600)) {
        Console::printError(QStringLiteral("no notification server took the reminder \"%1\" in %2 hours; it is "
                                           "dropped, and the next one comes as usual")
                                .arg(claim.request.content.title)
                                .arg(kLongestWaitForServerHours));
        m_retryAt.reset();
        m_waitingForServerSince = {};
        rearm();
        return;
    }
    if (!giveBack(claim))
        m_untaken.append(claim);
    scheduleRetry();
}

bool UserNotificationCenter::giveBack(const Claim& claim)
{
    // Only the claim itself is undone: a rescheduling or a removal since then stands.
    return m_store.exclusively([&] {
        for (const PendingRequest& pending : m_store.pending()) {
            if (pending.request.identifier == claim.request.identifier) {
                if (pending.coveredUntil == claim.coveredAt)
                    m_store.setCoveredUntil(claim.request.identifier, claim.coveredBefore);
                return;
            }
        }
        if (!claim.request.trigger->repeats)
            m_store.put(PendingRequest{claim.request, claim.coveredBefore});
    });
}

void UserNotificationCenter::scheduleRetry()
{
    m_retryAt = m_clock->now().addSecs(m_retryDelaySeconds);
    rearm();
}

void UserNotificationCenter::rearm()
{
    m_store.refresh();
    m_armedGeneration = m_store.generation();
    if (m_timer)
        m_syncTimer.start();
    if (!usesAlarm()) {
        m_clock->disarm();
        return;
    }
    // The first fire time after what is covered, which may be past: then the alarm goes off
    // at once and delivers it.
    const QTimeZone zone = m_clock->timeZone();
    std::optional<QDateTime> earliest;
    for (const PendingRequest& entry : m_store.pending()) {
        const auto& trigger = *entry.request.trigger;
        const auto next = DailyTrigger::nextFireTime(trigger.hour, trigger.minute, entry.coveredUntil, zone);
        if (next && (!earliest || *next < *earliest))
            earliest = next;
    }
    // A fire time given back after no server took it is due already: not before the retry.
    if (m_retryAt && (!earliest || *earliest < *m_retryAt))
        earliest = m_retryAt;
    if (earliest)
        m_clock->armAt(*earliest);
    else
        m_clock->disarm();
}

void UserNotificationCenter::syncTimer(std::function<void(bool ok)> done)
{
    if (!m_timer) {
        if (done)
            done(false);
        return;
    }
    m_syncTimer.stop();
    m_timer->sync([this] { return timerInstant(); },
                  [this, done = std::move(done)](bool ok) {
                      onTimerSynced(ok);
                      if (done)
                          done(ok);
                  });
}

void UserNotificationCenter::settle()
{
    m_store.finishWrites(QDeadlineTimer(kFinishWritesMs));
    if (!m_timer)
        return;
    QEventLoop loop;
    bool settled = false;
    syncTimer([&](bool) {
        settled = true;
        loop.quit();
    });
    if (!settled) {
        QTimer::singleShot(kSettleTimeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void UserNotificationCenter::onTimerSynced(bool ok)
{
    if (ok == !m_timerFailed)
        return;
    if (!ok)
        Console::printError(QStringLiteral("reminders come only while the program runs (%1)").arg(m_timer->problem()));
    m_timerFailed = !ok;
    rearm();
}

void UserNotificationCenter::onStoreChanged()
{
    // Another read may have taken the change in already, without arming for it.
    m_store.refresh();
    if (m_store.generation() != m_armedGeneration)
        rearm();
}

void UserNotificationCenter::deliver(const NotificationRequest& request, std::function<void(bool taken)> answered)
{
    DesktopNotification notification{request.content.title, request.content.body, QString(),
                                     request.content.playsDefaultSound};
    const QDateTime until = m_clock->now().addDays(kHoldDays);
    std::optional<qint64> hold;
    if (!request.content.attachments.isEmpty()) {
        notification.imagePath = request.content.attachments.first().url.toLocalFile();
        // The copy stays while the notification is on screen, even if the request goes.
        hold = m_store.hold(notification.imagePath, until);
        if (!m_expiryTimer.isActive())
            releaseExpiredHolds();
    }
    ++m_unanswered;
    m_server->notify(notification, [this, hold, until, answered = std::move(answered)](quint32 id) {
        --m_unanswered;
        if (id != 0) {
            if (hold)
                m_store.setHeldServerId(*hold, id);
            m_store.recordShown(m_server->answeringServer(), id, until);
            m_open.insert(id);
        }
        if (answered)
            answered(id != 0);
        emit openNotificationsChanged();
    });
    emit delivered(request);
}

void UserNotificationCenter::forget(quint32 id)
{
    if (m_open.remove(id))
        emit openNotificationsChanged();
}

void UserNotificationCenter::releaseExpiredHolds()
{
    const QDateTime now = m_clock->now();
    const auto next = m_store.releaseExpired(now);
    m_collectTimer.start();
    // The store may name any instant at all: wait at least a second and at most what a timer can.
    if (next)
        m_expiryTimer.start(
            int(std::clamp<qint64>(now.msecsTo(*next), 0, std::numeric_limits<int>::max() - 1000) + 1000));
    else
        m_expiryTimer.stop();
}
