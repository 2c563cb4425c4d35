#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

struct sqlite3;

// Lands writes into one SQLite file on a thread of its own, so that no caller ever waits for
// another program's lock on it. Writes land in the order they were queued, all that wait in
// one transaction, and are tried again until they land: a lock only delays them, a full disk
// or an I/O error is said once and tried again after a pause. A write queued under the key of
// one that has not landed yet replaces it; one that replaces everything drops every write
// still waiting. What has not landed when the queue stops is named on standard error.
class SqliteWriteQueue
{
public:
    // Runs one write's statements on the queue's connection, inside the batch's transaction;
    // false when a statement failed (the connection's error code says why).
    using Write = std::function<bool(sqlite3* db)>;

    // `nativePath` is a file that its store has set up; `what` names the store in messages.
    SqliteWriteQueue(QByteArray nativePath, QString what);
    // Stops at once; see stop().
    ~SqliteWriteQueue();
    SqliteWriteQueue(const SqliteWriteQueue&) = delete;
    SqliteWriteQueue& operator=(const SqliteWriteQueue&) = delete;

    // Queues `write` under `key` (a person's name for it, in messages too); returns its number
    // in the queue's order.
    quint64 enqueue(const QString& key, Write write, bool replacesEverything = false);
    // Every write numbered up to this has landed, or was replaced by one that has.
    quint64 landedUpTo() const { return m_landedUpTo.load(); }
    // Whether every write queued so far has landed by `deadline`.
    bool waitUntilLanded(QDeadlineTimer deadline);
    // Lands what it can by `deadline`, then says on standard error which writes did not land.
    // Writes queued later are said at once and dropped.
    void stop(QDeadlineTimer deadline);

private:
    struct Queued
    {
        quint64 number;
        QString key;
        Write write;
    };

    void run();
    bool landBatch(QMutexLocker<QMutex>& lock, sqlite3* db);
    QString waitingKeys() const;

    QByteArray m_path;
    QString m_what;
    std::unique_ptr<QThread> m_thread;
    std::atomic<quint64> m_landedUpTo{0};

    mutable QMutex m_mutex; // guards everything below
    QWaitCondition m_wake;
    QWaitCondition m_landed;
    QList<Queued> m_waiting;
    quint64 m_issued = 0;
    bool m_stopping = false;
    QDeadlineTimer m_stopDeadline;
    bool m_failureShown = false;
    QString m_lastFailure;
};
