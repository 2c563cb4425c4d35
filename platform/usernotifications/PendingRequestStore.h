#pragma once

#include "platform/files/PrivateFile.h"
#include "platform/usernotifications/NotificationRequest.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class SqliteWriteQueue;
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
//
// Several processes use one store (both programs and their delivery runs): it is the only
// truth. What it hands out is read afresh whenever another process has committed since.
//
// Requests are put and removed in the file at once unless another program holds its lock; then
// they land from a thread of their own (see SqliteWriteQueue), so that the lock never holds up
// the caller, and until they land, the requests handed out include them. Other statements wait
// for a lock only a moment, and report whether they ran.
class PendingRequestStore
{
public:
    // Without `createMissing`, a folder without a store gives none (an in-memory store).
    explicit PendingRequestStore(const QString& folder, bool createMissing = true);
    ~PendingRequestStore();
    PendingRequestStore(const PendingRequestStore&) = delete;
    PendingRequestStore& operator=(const PendingRequestStore&) = delete;

    bool isPersistent() const { return m_persistent; }
    QString openError() const { return m_openError; }
    // Whether the file could not be opened only because another program held its lock.
    bool wasLocked() const { return m_openLocked; }

    // The database file's name in the store's folder, and its write-ahead log's.
    static QStringList fileNames();

    const QList<PendingRequest>& pending() const;
    // Reads the requests again if another process changed them; returns whether it did.
    bool refresh() const;
    // Counts the times the requests were read again.
    qint64 generation() const { return m_generation; }
    // Runs `work` in one transaction that no other process can interleave with, on the
    // requests of the file as they are at its start (without those that have not landed yet);
    // what `work` changes is written at once, in the transaction. False when another program
    // held the store's lock.
    bool exclusively(const std::function<void()>& work);
    void put(const PendingRequest& pending); // replaces a request of the same identifier
    void remove(const QString& identifier);
    void removeAll();
    // Only in exclusively().
    void setCoveredUntil(const QString& identifier, const QDateTime& instant);
    // Waits until what was put and removed has landed, by `deadline` at most, and names on
    // standard error what has not; later changes are not saved.
    void finishWrites(QDeadlineTimer deadline);

    // The store's copy of the regular file at `source`: the existing one while the file is the
    // version copied before, else a fresh copy; in memory, `source` itself. None when the file
    // cannot be read or copied.
    std::optional<QString> copyAttachment(const QString& source, PrivateFile::Error* error);
    // Keeps `copy` until `until`, or until the notification it was shown in has closed (see
    // setHeldServerId). Returns the hold.
    qint64 hold(const QString& copy, const QDateTime& until);
    void setHeldServerId(qint64 hold, quint32 serverId);
    void releaseHeld(quint32 serverId);
    // Notifications on screen, by the server (its bus name) that showed them and its id, so
    // that any process of the program recognises a click on them until `until`.
    void recordShown(const QString& server, quint32 id, const QDateTime& until);
    // Forgets the notification; true when this call did, so that one process acts on a click.
    bool takeShown(const QString& server, quint32 id);
    // Lets go of holds and shown notifications that have run out; returns when the next
    // hold does, if any.
    std::optional<QDateTime> releaseExpired(const QDateTime& now);
    // Deletes the copies that nothing refers to any more.
    void collectUnusedCopies();

private:
    // A change put or removed that may not have landed yet.
    struct HeldChange
    {
        quint64 number; // in the write queue
        std::optional<PendingRequest> put;
        QString removed; // an identifier, or empty for every request
    };

    bool open(const QString& folder, bool createMissing);
    void load(bool withHeld = true) const;
    void forgetLanded() const;
    void hold(const QString& key, const HeldChange& change, std::function<bool(sqlite3*)> write);
    qint64 dataVersion() const;
    bool exec(const char* sql);

    sqlite3* m_db = nullptr;
    QString m_copiesFolder;
    bool m_persistent = false;
    QString m_openError;
    bool m_openLocked = false;
    std::unique_ptr<SqliteWriteQueue> m_writes; // none in memory
    mutable QList<HeldChange> m_held;
    bool m_inTransaction = false;
    mutable QList<PendingRequest> m_pending;
    mutable qint64 m_dataVersion = -1;
    mutable qint64 m_generation = 0;
};
