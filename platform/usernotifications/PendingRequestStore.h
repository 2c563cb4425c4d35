#pragma once

#include "platform/usernotifications/NotificationRequest.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

struct sqlite3;

// A request waiting for its trigger, as the UserNotificationCenter keeps it.
struct PendingRequest
{
    NotificationRequest request; // its attachment, if any, is the store's own copy
    // Fire times up to this instant are accounted for: delivered, or before the request came.
    QDateTime coveredUntil;
};

// The UserNotificationCenter's own store, in one folder: the pending requests in a small
// database, and a private copy of each attachment, so that both outlive the program and a
// later rewrite or loss of the file that was attached. Copies are shared by requests that
// attached the same file version, and removed once no pending request and no notification
// still on screen needs them.
class PendingRequestStore
{
public:
    explicit PendingRequestStore(const QString& folder);
    ~PendingRequestStore();
    PendingRequestStore(const PendingRequestStore&) = delete;
    PendingRequestStore& operator=(const PendingRequestStore&) = delete;

    bool isPersistent() const { return m_persistent; }
    QString openError() const { return m_openError; }

    const QList<PendingRequest>& pending() const { return m_pending; }
    void put(const PendingRequest& pending); // replaces a request of the same identifier
    void remove(const QString& identifier);
    void removeAll();
    void setCoveredUntil(const QString& identifier, const QDateTime& instant);

    // The store's copy of the regular file at `source`: the existing one while the file is the
    // version copied before, else a fresh copy. None when the file cannot be read or copied.
    std::optional<QString> copyAttachment(const QString& source);
    // Keeps `copy` until `until`, or until the notification it was shown in has closed (see
    // setHeldServerId). Returns the hold.
    qint64 hold(const QString& copy, const QDateTime& until);
    void setHeldServerId(qint64 hold, quint32 serverId);
    void releaseHeld(quint32 serverId);
    // Lets go of holds that have run out; returns when the next one does, if any.
    std::optional<QDateTime> releaseExpired(const QDateTime& now);
    // Deletes the copies that nothing refers to any more.
    void collectUnusedCopies();

private:
    bool open(const QString& folder);
    void load();
    bool exec(const char* sql);

    sqlite3* m_db = nullptr;
    QString m_copiesFolder;
    bool m_persistent = false;
    QString m_openError;
    QList<PendingRequest> m_pending;
};
