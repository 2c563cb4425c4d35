#pragma once

#include "platform/usernotifications/NotificationRequest.h"
#include "platform/usernotifications/NotificationServer.h"
#include "platform/usernotifications/PendingRequestStore.h"
#include "platform/usernotifications/WallClock.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

// The program's notification service. It keeps the requests that wait for their trigger,
// with a copy of their attachments, in its own store so that they survive the program;
// delivers a request without trigger at once and one with a calendar trigger whenever the
// local wall clock reaches its hour and minute; and hands every notification to the
// desktop's notification server. Time is watched with one alarm at the next fire time.
//
// A fire time missed while the machine slept, the clock jumped or the program was not
// running is delivered once when that is noticed, never once per missed day.
class UserNotificationCenter : public QObject
{
    Q_OBJECT

public:
    UserNotificationCenter(const QString& storeFolder, std::unique_ptr<WallClock> clock,
                           std::unique_ptr<NotificationServer> server, QObject* parent = nullptr);
    ~UserNotificationCenter() override;

    // The program's own center, with its store under UserDirectories::dataDirectory(), the
    // system clock and the session bus. Made on first use, on the GUI thread; the requests
    // pending from earlier runs are armed (or delivered, if they were missed) from then on.
    static UserNotificationCenter& current();

    // Calls `completion` later with whether a notification server answers.
    void requestAuthorization(std::function<void(bool granted)> completion);

    void add(const NotificationRequest& request);
    void removeAllPendingNotificationRequests();
    QList<NotificationRequest> pendingNotificationRequests() const;

    WallClock& clock() const { return *m_clock; }
    const PendingRequestStore& store() const { return m_store; }

signals:
    // A notification was handed to the server (whether or not one is listening).
    void delivered(const NotificationRequest& request);

private:
    void deliverDue();
    void rearm();
    void deliver(const NotificationRequest& request);
    void releaseExpiredHolds();

    PendingRequestStore m_store;
    std::unique_ptr<WallClock> m_clock;
    std::unique_ptr<NotificationServer> m_server;
    QTimer m_collectTimer;
    QTimer m_expiryTimer;
};
