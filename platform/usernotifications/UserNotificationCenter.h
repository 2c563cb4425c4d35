#pragma once

#include "platform/usernotifications/DeliveryTimer.h"
#include "platform/usernotifications/NotificationRequest.h"
#include "platform/usernotifications/NotificationServer.h"
#include "platform/usernotifications/PendingRequestStore.h"
#include "platform/usernotifications/WallClock.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>

class FolderWatch;

// The program's notification service. It keeps the requests that wait for their trigger,
// with a copy of their attachments, in its own store so that they survive the program;
// delivers a request without trigger at once and one with a calendar trigger whenever the
// local wall clock reaches its hour and minute; and hands every notification to the
// desktop's notification server.
//
// The next fire time is kept by a DeliveryTimer outside the process when there is one (the
// user's service manager), so that reminders come whether or not the program runs, else by
// one alarm in the process. The store is shared by every process of the program and is the
// only truth: a change that one makes takes effect in the others at once, and each fire time
// is claimed in one transaction, so that of several deliverers exactly one delivers it.
//
// A fire time missed while the machine slept, the clock jumped or nothing of the program
// ran is delivered once when that is noticed, never once per missed day. A fire time counts
// as delivered only once the server has taken its notification: one that no server takes
// (none runs yet, or it refuses or never answers) is tried again, at once when a server
// appears on the bus, else after a pause that grows, for up to kLongestWaitForServer.
class UserNotificationCenter : public QObject
{
    Q_OBJECT

public:
    // Without a timer, the alarm in the process is the deliverer.
    UserNotificationCenter(const QString& storeFolder, std::unique_ptr<WallClock> clock,
                           std::unique_ptr<NotificationServer> server, std::unique_ptr<DeliveryTimer> timer = {},
                           QObject* parent = nullptr);
    ~UserNotificationCenter() override;

    // The program's own center, with its store under UserDirectories::dataDirectory(), the
    // system clock, the session bus and a timer of the user's service manager (without a
    // manager: the alarm, said once on standard error). Made on first use, on the GUI thread;
    // the requests pending from earlier runs are armed (or delivered, if they were missed).
    static UserNotificationCenter& current();

    // Calls `completion` later with whether a notification server answers.
    void requestAuthorization(std::function<void(bool granted)> completion);

    void add(const NotificationRequest& request);
    void removeAllPendingNotificationRequests();
    QList<NotificationRequest> pendingNotificationRequests() const;

    // Lets the alarm in the process deliver too while a timer is the deliverer: for a process
    // that lives while the timer cannot start another (the delivery run).
    void setAlarmAlongsideTimer(bool alongside);
    // Whether the alarm in the process stands for the next fire time now.
    bool usesAlarm() const;
    // Brings the timer in line with the store now; `done` once it stands (or failed).
    void syncTimer(std::function<void(bool ok)> done);
    // Waits (a few seconds at most) until the store's changes have landed and the timer stands
    // as the store says: before the process ends, so that a change made just before is not lost
    // with it. What has not landed by then is said on standard error.
    void settle();
    // The first fire time after now of any pending request.
    std::optional<QDateTime> nextFireTime() const;
    // Whether a fire time that no server took waits to be tried again.
    bool awaitsServer() const { return m_retryAt.has_value(); }
    static constexpr int kLongestWaitForServerHours = 12;
    static std::optional<QDateTime> nextFireTime(const QList<PendingRequest>& pending, const QDateTime& now,
                                                 const QTimeZone& zone);
    // Notifications that this process showed and that are neither clicked nor closed, and
    // those that it handed to the server without an answer yet.
    qsizetype openNotificationCount() const { return m_open.size() + m_unanswered; }

    WallClock& clock() const { return *m_clock; }
    const PendingRequestStore& store() const { return m_store; }

signals:
    // A notification was handed to the server (whether or not one is listening).
    void delivered(const NotificationRequest& request);
    // A notification of the program, shown by any of its processes, was clicked; only one
    // process of the program reports each click.
    void activated();
    void openNotificationsChanged();

private:
    // A fire time recorded as delivered while its notification is on the way.
    struct Claim
    {
        NotificationRequest request;
        QDateTime coveredBefore;
        QDateTime coveredAt;
    };

    void deliverDue();
    void rearm();
    std::optional<QDateTime> timerInstant() const;
    void deliver(const NotificationRequest& request, std::function<void(bool taken)> answered = {});
    void onClaimAnswered(const Claim& claim, bool taken);
    bool giveBack(const Claim& claim);
    // The next try after the pause, unless a server appears before.
    void scheduleRetry();
    void releaseExpiredHolds();
    void onStoreChanged();
    void onTimerSynced(bool ok);
    void forget(quint32 id);

    PendingRequestStore m_store;
    std::unique_ptr<WallClock> m_clock;
    std::unique_ptr<NotificationServer> m_server;
    std::unique_ptr<DeliveryTimer> m_timer;
    FolderWatch* m_storeWatch = nullptr;
    QTimer m_collectTimer;
    QTimer m_expiryTimer;
    QTimer m_syncTimer;
    QTimer m_claimRetry;
    bool m_alarmAlongsideTimer = false;
    bool m_timerFailed = false;
    qint64 m_armedGeneration = -1;      // of the store's requests that the deliverers were armed for
    std::optional<QDateTime> m_retryAt; // of what no server took
    QDateTime m_waitingForServerSince;
    int m_retryDelaySeconds = 0;
    QList<Claim> m_untaken; // not given back yet: the store was locked
    QSet<quint32> m_open;
    qsizetype m_unanswered = 0;
};
