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

    // What an attempt to open the queue's connection gave. A lock (`busy`) is tried again a
    // moment later; after any other failure the writes are only kept, and stop() names them
    // unless the opener has already told the user (`said`).
    struct Opened
    {
        sqlite3* db = nullptr;
        bool busy = false;
        QString error;
        bool said = false;
    };
    using Opener = std::function<Opened()>;
    struct Landed
    {
        quint64 number;
        QString key;
    };
    // Called on the queue's thread right after a batch has landed, before the landing ends
    // (see landingGeneration()).
    using LandedHandler = std::function<void(const QList<Landed>& writes)>;

    // `nativePath` is a file that its store has set up; `what` names the store in messages.
    SqliteWriteQueue(QByteArray nativePath, QString what);
    // Starts with `connection` (which it then owns; it may be null) and, while it has none,
    // calls `open` on its thread. This queue also empties the write-ahead log when it stops,
    // so that the file alone holds everything that landed while other processes keep it open.
    SqliteWriteQueue(QString what, sqlite3* connection, Opener open, LandedHandler landed);
    // Stops at once; see stop().
    ~SqliteWriteQueue();
    SqliteWriteQueue(const SqliteWriteQueue&) = delete;
    SqliteWriteQueue& operator=(const SqliteWriteQueue&) = delete;

    // Queues `write` under `key` (a person's name for it, in messages too); returns its number
    // in the queue's order.
    quint64 enqueue(const QString& key, Write write, bool replacesEverything = false);
    // Every write numbered up to this has landed, or was replaced by one that has.
    quint64 landedUpTo() const { return m_landedUpTo.load(); }
    // Odd while a batch is landing; it changes at every start and end of one, so that a
    // reader of the file can tell whether one of this queue's commits overlapped its read.
    quint64 landingGeneration() const { return m_landingGeneration.load(); }
    // Empties the file's write-ahead log once the writes queued now have landed.
    void requestCheckpoint();
    // Whether every write queued so far has landed by `deadline`; false at once when nothing
    // can land (the file never opened, or refuses writes in a way that waiting will not mend).
    bool waitUntilLanded(QDeadlineTimer deadline);
    // Lands what it can by `deadline`, then says on standard error which writes did not land.
    // Writes queued later are said at once and dropped.
    void stop(QDeadlineTimer deadline);

private:
    SqliteWriteQueue(QString what, sqlite3* connection, Opener open, LandedHandler landed, bool emptiesLogAtStop);

    struct Queued
    {
        quint64 number;
        QString key;
        Write write;
    };

    void run();
    void openConnection(QMutexLocker<QMutex>& lock);
    bool landBatch(QMutexLocker<QMutex>& lock);
    void emptyLog(QDeadlineTimer deadline);
    void watchLog();
    QString waitingKeys() const;

    QString m_what;
    Opener m_open;
    LandedHandler m_landedHandler;
    bool m_emptiesLogAtStop;
    sqlite3* m_db = nullptr; // used on m_thread only
    int m_logPages = 0;      // on m_thread: the log's length at the last commit
    std::unique_ptr<QThread> m_thread;
    std::atomic<quint64> m_landedUpTo{0};
    std::atomic<quint64> m_landingGeneration{0};

    mutable QMutex m_mutex; // guards everything below
    QWaitCondition m_wake;
    QWaitCondition m_landed;
    QList<Queued> m_waiting;
    quint64 m_issued = 0;
    bool m_running = true;
    bool m_stopping = false;
    QDeadlineTimer m_stopDeadline;
    bool m_checkpointRequested = false;
    bool m_unusable = false;        // the file refuses writes, and waiting is unlikely to help
    bool m_openFailed = false;      // the file never opened: the writes are only kept
    bool m_openFailureSaid = false; // and the opener has told the user so
    bool m_failureShown = false;    // one line per run of failures, not one per attempt
    QString m_lastFailure;
};
