#include "platform/sqlite/SqliteWriteQueue.h"

#include "platform/base/Console.h"
#include "platform/sqlite/SqliteFile.h"

#include <QSet>

#include <sqlite3.h>

#include <algorithm>

namespace {

// A lock is waited for by the connection's own busy handler, in slices short enough to see a
// stop request; other failures are tried again after a pause that grows to a couple of seconds.
constexpr int kBusySliceMs = 100;
constexpr int kFirstRetryDelayMs = 100;
constexpr int kLongestRetryDelayMs = 2000;
// Between attempts to open a file that another program keeps locked.
constexpr int kReopenDelayMs = 250;
// A reader of another process may hold the log for a moment as the queue empties it.
constexpr int kCheckpointRetryDelayMs = 50;
// SQLite's own threshold for copying the write-ahead log into the file.
constexpr int kLogPagesBeforeCheckpoint = 1000;

bool isLock(int resultCode)
{
    return (resultCode & 0xff) == SQLITE_BUSY || (resultCode & 0xff) == SQLITE_LOCKED;
}

// A store that has just set its file up leaves only an unusual failure to say at stop.
SqliteWriteQueue::Opener openerOf(QByteArray nativePath)
{
    return [path = std::move(nativePath)] {
        SqliteFile::Outcome outcome;
        sqlite3* db = SqliteFile::open(path, false, kBusySliceMs, &outcome);
        return SqliteWriteQueue::Opened{db, db == nullptr && isLock(outcome.code), outcome.error, false};
    };
}

} // namespace

SqliteWriteQueue::SqliteWriteQueue(QByteArray nativePath, QString what)
    : SqliteWriteQueue(std::move(what), nullptr, openerOf(std::move(nativePath)), {}, false)
{
}

SqliteWriteQueue::SqliteWriteQueue(QString what, sqlite3* connection, Opener open, LandedHandler landed)
    : SqliteWriteQueue(std::move(what), connection, std::move(open), std::move(landed), true)
{
}

SqliteWriteQueue::SqliteWriteQueue(QString what, sqlite3* connection, Opener open, LandedHandler landed,
                                   bool emptiesLogAtStop)
    : m_what(std::move(what)), m_open(std::move(open)), m_landedHandler(std::move(landed)),
      m_emptiesLogAtStop(emptiesLogAtStop), m_db(connection)
{
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->setObjectName(QStringLiteral("SqliteWriteQueue"));
    m_thread->start();
}

SqliteWriteQueue::~SqliteWriteQueue()
{
    stop(QDeadlineTimer(0));
}

quint64 SqliteWriteQueue::enqueue(const QString& key, Write write, bool replacesEverything)
{
    QMutexLocker lock(&m_mutex);
    if (m_stopping && !m_running) {
        if (!m_openFailureSaid)
            Console::printError(QStringLiteral("cannot save %1 in %2: the store is already closed").arg(key, m_what));
        return m_issued;
    }
    if (replacesEverything)
        m_waiting.clear();
    else
        m_waiting.removeIf([&](const Queued& queued) { return queued.key == key; });
    m_waiting.append(Queued{++m_issued, key, std::move(write)});
    m_wake.wakeAll();
    return m_issued;
}

void SqliteWriteQueue::requestCheckpoint()
{
    QMutexLocker lock(&m_mutex);
    m_checkpointRequested = true;
    m_wake.wakeAll();
}

bool SqliteWriteQueue::waitUntilLanded(QDeadlineTimer deadline)
{
    QMutexLocker lock(&m_mutex);
    while (!m_waiting.isEmpty()) {
        if (!m_running || m_unusable || !m_landed.wait(&m_mutex, deadline))
            return m_waiting.isEmpty();
    }
    return true;
}

void SqliteWriteQueue::stop(QDeadlineTimer deadline)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
        m_stopDeadline = deadline;
        m_wake.wakeAll();
    }
    m_thread->wait();
    QMutexLocker lock(&m_mutex);
    if (m_waiting.isEmpty() || m_openFailureSaid)
        return;
    const QString reason = m_lastFailure.isEmpty() ? QStringLiteral("no time was left") : m_lastFailure;
    Console::printError(QStringLiteral("could not save %1 in %2 before closing (%3); those changes are lost")
                            .arg(waitingKeys(), m_what, reason));
}

QString SqliteWriteQueue::waitingKeys() const
{
    QStringList keys;
    for (const Queued& queued : m_waiting) {
        if (!keys.contains(queued.key))
            keys << queued.key;
    }
    return keys.join(QStringLiteral(", "));
}

void SqliteWriteQueue::run()
{
    QMutexLocker lock(&m_mutex);
    watchLog();
    int retryDelayMs = kFirstRetryDelayMs;
    for (;;) {
        const bool outOfTime = m_stopping && (m_waiting.isEmpty() || m_unusable || m_stopDeadline.hasExpired());
        if (!m_db) {
            if (outOfTime || m_openFailed)
                break;
            openConnection(lock);
            if (!m_db && !m_openFailed) {
                const QDeadlineTimer pause(kReopenDelayMs);
                m_wake.wait(&m_mutex, m_stopping ? std::min(pause, m_stopDeadline) : pause);
            }
            continue;
        }
        if (!m_waiting.isEmpty() && !outOfTime) {
            if (landBatch(lock)) {
                retryDelayMs = kFirstRetryDelayMs;
            } else if (!m_lastFailure.isEmpty()) {
                const QDeadlineTimer pause(retryDelayMs);
                m_wake.wait(&m_mutex, m_stopping ? std::min(pause, m_stopDeadline) : pause);
                retryDelayMs = std::min(2 * retryDelayMs, kLongestRetryDelayMs);
            }
            continue;
        }
        if (m_stopping)
            break;
        if (m_checkpointRequested || m_logPages >= kLogPagesBeforeCheckpoint) {
            const int mode = m_checkpointRequested ? SQLITE_CHECKPOINT_TRUNCATE : SQLITE_CHECKPOINT_PASSIVE;
            m_checkpointRequested = false;
            m_logPages = 0;
            lock.unlock();
            sqlite3_wal_checkpoint_v2(m_db, nullptr, mode, nullptr, nullptr);
            lock.relock();
            continue;
        }
        m_wake.wait(&m_mutex);
    }
    const QDeadlineTimer deadline = m_stopDeadline;
    lock.unlock();
    if (m_db && m_emptiesLogAtStop)
        emptyLog(deadline);
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    lock.relock();
    m_running = false;
    m_landed.wakeAll();
}

void SqliteWriteQueue::emptyLog(QDeadlineTimer deadline)
{
    while (isLock(sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr)) &&
           !deadline.hasExpired())
        QThread::msleep(kCheckpointRetryDelayMs);
}

// SQLite copies the log into the file inside the commit that grows it past its threshold,
// which kept a photo's writer waiting as long again as its write. The queue makes that copy
// once the commit has landed and been reported, before it waits for more writes.
void SqliteWriteQueue::watchLog()
{
    if (m_db) {
        sqlite3_wal_hook(
            m_db,
            [](void* logPages, sqlite3*, const char*, int pages) {
                *static_cast<int*>(logPages) = pages;
                return SQLITE_OK;
            },
            &m_logPages);
    }
}

void SqliteWriteQueue::openConnection(QMutexLocker<QMutex>& lock)
{
    lock.unlock();
    const Opened opened = m_open();
    lock.relock();
    m_db = opened.db;
    watchLog();
    if (m_db)
        return;
    m_lastFailure = opened.error;
    m_openFailed = !opened.busy;
    m_openFailureSaid = m_openFailed && opened.said;
    m_unusable = m_openFailed;
    m_landed.wakeAll();
}

bool SqliteWriteQueue::landBatch(QMutexLocker<QMutex>& lock)
{
    const QList<Queued> batch = m_waiting;
    ++m_landingGeneration;
    lock.unlock();
    int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (qsizetype i = 0; i < batch.size() && rc == SQLITE_OK; ++i)
        rc = batch[i].write(m_db) ? SQLITE_OK : std::max(sqlite3_errcode(m_db), SQLITE_ERROR);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    const QString error = QString::fromUtf8(sqlite3_errmsg(m_db));
    if (rc != SQLITE_OK)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK && m_landedHandler) {
        QList<Landed> landed;
        for (const Queued& queued : batch)
            landed << Landed{queued.number, queued.key};
        m_landedHandler(landed);
    }
    lock.relock();
    // The landing ends once the handler has told readers what landed.
    ++m_landingGeneration;
    if (rc == SQLITE_OK) {
        // Writes queued meanwhile stay; those of the batch have landed, or were replaced since.
        QSet<quint64> landed;
        for (const Queued& queued : batch)
            landed.insert(queued.number);
        m_waiting.removeIf([&](const Queued& queued) { return landed.contains(queued.number); });
        m_landedUpTo = m_waiting.isEmpty() ? m_issued : m_waiting.first().number - 1;
        m_lastFailure.clear();
        m_unusable = false;
        m_failureShown = false;
        m_landed.wakeAll();
        return true;
    }
    const bool busy = isLock(rc);
    // A lock is someone else's ordinary work and passes; anything else is said once per run
    // of failures, not at every attempt.
    m_lastFailure = busy ? QString() : error;
    if (busy && m_stopping)
        m_lastFailure = error;
    m_unusable = SqliteFile::isLasting(rc);
    if (!busy && !m_failureShown) {
        m_failureShown = true;
        Console::printError(
            QStringLiteral("cannot save %1 in %2 yet (%3); trying again").arg(waitingKeys(), m_what, error));
    }
    m_landed.wakeAll();
    return false;
}
