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

} // namespace

SqliteWriteQueue::SqliteWriteQueue(QByteArray nativePath, QString what)
    : m_path(std::move(nativePath)), m_what(std::move(what))
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
    if (m_stopping && !m_thread->isRunning()) {
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

bool SqliteWriteQueue::waitUntilLanded(QDeadlineTimer deadline)
{
    QMutexLocker lock(&m_mutex);
    while (!m_waiting.isEmpty()) {
        if (!m_thread->isRunning() || !m_landed.wait(&m_mutex, deadline))
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
    if (m_waiting.isEmpty())
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
    SqliteFile::Outcome opened;
    sqlite3* db = SqliteFile::open(m_path, false, kBusySliceMs, &opened);
    QMutexLocker lock(&m_mutex);
    if (!db)
        m_lastFailure = opened.error;
    int retryDelayMs = kFirstRetryDelayMs;
    while (db) {
        if (m_waiting.isEmpty()) {
            if (m_stopping)
                break;
            m_wake.wait(&m_mutex);
            continue;
        }
        if (m_stopping && m_stopDeadline.hasExpired())
            break;
        if (landBatch(lock, db)) {
            retryDelayMs = kFirstRetryDelayMs;
        } else if (!m_lastFailure.isEmpty()) {
            const QDeadlineTimer pause(retryDelayMs);
            m_wake.wait(&m_mutex, m_stopping ? std::min(pause, m_stopDeadline) : pause);
            retryDelayMs = std::min(2 * retryDelayMs, kLongestRetryDelayMs);
        }
    }
    lock.unlock();
    sqlite3_close_v2(db);
    m_landed.wakeAll();
}

bool SqliteWriteQueue::landBatch(QMutexLocker<QMutex>& lock, sqlite3* db)
{
    const QList<Queued> batch = m_waiting;
    lock.unlock();
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (qsizetype i = 0; i < batch.size() && rc == SQLITE_OK; ++i)
        rc = batch[i].write(db) ? SQLITE_OK : std::max(sqlite3_errcode(db), SQLITE_ERROR);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    const QString error = QString::fromUtf8(sqlite3_errmsg(db));
    if (rc != SQLITE_OK)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    lock.relock();
    if (rc == SQLITE_OK) {
        // Writes queued meanwhile stay; those of the batch have landed, or were replaced since.
        QSet<quint64> landed;
        for (const Queued& queued : batch)
            landed.insert(queued.number);
        m_waiting.removeIf([&](const Queued& queued) { return landed.contains(queued.number); });
        m_landedUpTo = m_waiting.isEmpty() ? m_issued : m_waiting.first().number - 1;
        m_lastFailure.clear();
        m_failureShown = false;
        m_landed.wakeAll();
        return true;
    }
    const bool busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
    // A lock is someone else's ordinary work and passes; anything else is said once per run
    // of failures, not at every attempt.
    m_lastFailure = busy ? QString() : error;
    if (busy && m_stopping)
        m_lastFailure = error;
    if (!busy && !m_failureShown) {
        m_failureShown = true;
        Console::printError(
            QStringLiteral("cannot save %1 in %2 yet (%3); trying again").arg(waitingKeys(), m_what, error));
    }
    m_landed.wakeAll();
    return false;
}
