#include "platform/usernotifications/UserNotificationCenter.h"

#include "platform/base/Console.h"
#include "platform/files/UserDirectories.h"
#include "platform/usernotifications/DailyTrigger.h"

#include <algorithm>
#include <limits>

namespace {

// How long a copy stays for a notification whose closing the server never reports.
constexpr int kHoldDays = 1;

} // namespace

UserNotificationCenter::UserNotificationCenter(const QString& storeFolder, std::unique_ptr<WallClock> clock,
                                               std::unique_ptr<NotificationServer> server, QObject* parent)
    : QObject(parent), m_store(storeFolder), m_clock(std::move(clock)), m_server(std::move(server))
{
    m_clock->setParent(nullptr);
    connect(m_clock.get(), &WallClock::alarm, this, &UserNotificationCenter::deliverDue);
    connect(m_clock.get(), &WallClock::clockChanged, this, &UserNotificationCenter::deliverDue);
    connect(m_server.get(), &NotificationServer::notificationClosed, this, [this](quint32 id) {
        m_store.releaseHeld(id);
        m_collectTimer.start();
    });

    // Unused copies are swept once the current burst of calls is over, so that a removal
    // followed by an add of the same picture keeps the copy instead of making it again.
    m_collectTimer.setSingleShot(true);
    m_collectTimer.setInterval(0);
    connect(&m_collectTimer, &QTimer::timeout, this, [this] { m_store.collectUnusedCopies(); });
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
        auto* center = new UserNotificationCenter(UserDirectories::dataDirectory(), std::make_unique<SystemWallClock>(),
                                                  std::make_unique<FreedesktopNotificationServer>());
        if (!center->store().isPersistent())
            Console::printError(QStringLiteral("cannot open the notification store in %1 (%2); reminders will "
                                               "not outlive this run")
                                    .arg(UserDirectories::dataDirectory(), center->store().openError()));
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
        if (const auto copy = m_store.copyAttachment(attachment.url.toLocalFile()))
            copies.append(NotificationAttachment{attachment.identifier, QUrl::fromLocalFile(*copy)});
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
    if (m_store.pending().isEmpty())
        return;
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

void UserNotificationCenter::deliverDue()
{
    const QDateTime now = m_clock->now();
    const QTimeZone zone = m_clock->timeZone();
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
        const auto due = DailyTrigger::nextFireTime(trigger.hour, trigger.minute, covered, zone);
        if (!due || *due > now)
            continue;
        deliver(request);
        if (trigger.repeats)
            m_store.setCoveredUntil(request.identifier, now);
        else
            m_store.remove(request.identifier);
    }
    rearm();
}

void UserNotificationCenter::rearm()
{
    const QTimeZone zone = m_clock->timeZone();
    std::optional<QDateTime> earliest;
    for (const PendingRequest& entry : m_store.pending()) {
        const auto& trigger = *entry.request.trigger;
        const auto next = DailyTrigger::nextFireTime(trigger.hour, trigger.minute, entry.coveredUntil, zone);
        if (next && (!earliest || *next < *earliest))
            earliest = next;
    }
    if (earliest)
        m_clock->armAt(*earliest);
    else
        m_clock->disarm();
}

void UserNotificationCenter::deliver(const NotificationRequest& request)
{
    DesktopNotification notification{request.content.title, request.content.body, QString(),
                                     request.content.playsDefaultSound};
    std::optional<qint64> hold;
    if (!request.content.attachments.isEmpty()) {
        notification.imagePath = request.content.attachments.first().url.toLocalFile();
        // The copy stays while the notification is on screen, even if the request goes.
        hold = m_store.hold(notification.imagePath, m_clock->now().addDays(kHoldDays));
        if (!m_expiryTimer.isActive())
            releaseExpiredHolds();
    }
    m_server->notify(notification, [this, hold](quint32 id) {
        if (hold)
            m_store.setHeldServerId(*hold, id);
    });
    emit delivered(request);
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
