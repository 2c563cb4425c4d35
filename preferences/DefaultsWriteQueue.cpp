#include "preferences/DefaultsWriteQueue.h"

#include "platform/base/Console.h"

#include <algorithm>

namespace {

// A lock is waited for by the connection's own busy handler. Other failures (a full disk,
// an I/O error) are tried again after a pause that grows to a couple of seconds.
constexpr int kFirstRetryDelayMs = 100;
constexpr int kLongestRetryDelayMs = 2000;
// Between attempts to open a file that another program keeps locked.
constexpr int kReopenDelayMs = 250;
constexpr int kCheckpointRetryDelayMs = 50;

QString keyList(QStringList keys)
{
    keys.sort();
    return keys.join(QStringLiteral(", "));
}

} // namespace

DefaultsWriteQueue::~DefaultsWriteQueue()
{
    stop(QDeadlineTimer(0));
}

void DefaultsWriteQueue::start(QString path, std::unique_ptr<DefaultsDatabase> connection, Opener reopen,
                               OpenedHandler opened, LandedHandler landed)
{
    m_path = std::move(path);
    m_connection = std::move(connection);
    m_reopen = std::move(reopen);
    m_opened = std::move(opened);
    m_landedHandler = std::move(landed);
    {
        QMutexLocker lock(&m_mutex);
        m_running = true;
    }
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->setObjectName(QStringLiteral("DefaultsWriteQueue"));
    m_thread->start();
}

void DefaultsWriteQueue::put(const QString& key, const DefaultsDatabase::Value& value)
{
    QMutexLocker lock(&m_mutex);
    m_pending.insert(key, Pending{value, ++m_sequence});
    m_wake.wakeAll();
    // Only a writer that outlives the store gets here; its value must not vanish unnoticed.
    if (m_stopping && !m_openFailed)
        Console::printError(QStringLiteral("cannot save %1 in %2: the store is already closed").arg(key, m_path));
}

std::optional<DefaultsWriteQueue::Held> DefaultsWriteQueue::held(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_pending.constFind(key);
    if (found == m_pending.cend())
        return std::nullopt;
    return Held{found->value, kHeldRevisionBase + qint64(found->sequence)};
}

void DefaultsWriteQueue::requestCheckpoint()
{
    QMutexLocker lock(&m_mutex);
    m_checkpointRequested = true;
    m_wake.wakeAll();
}

bool DefaultsWriteQueue::waitUntilLanded(QDeadlineTimer deadline)
{
    QMutexLocker lock(&m_mutex);
    while (!m_pending.isEmpty()) {
        if (!m_running || m_unusable || !m_landed.wait(&m_mutex, deadline))
            return m_pending.isEmpty();
    }
    return true;
}

void DefaultsWriteQueue::stop(QDeadlineTimer deadline)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_thread || m_stopping)
            return;
        m_stopping = true;
        m_stopDeadline = deadline;
        m_wake.wakeAll();
    }
    m_thread->wait();
    QMutexLocker lock(&m_mutex);
    if (m_pending.isEmpty() || m_openFailed)
        return; // a file that never opened was reported when it failed
    const QString reason = m_lastFailure.error.isEmpty() ? QStringLiteral("no time was left") : m_lastFailure.error;
    Console::printError(QStringLiteral("could not save %1 in %2 before closing (%3); those changes are lost")
                            .arg(keyList(m_pending.keys()), m_path, reason));
}

void DefaultsWriteQueue::run()
{
    QMutexLocker lock(&m_mutex);
    int retryDelayMs = kFirstRetryDelayMs;
    for (;;) {
        const bool outOfTime = m_stopping && (m_pending.isEmpty() || m_unusable || m_stopDeadline.hasExpired());
        if (!m_connection) {
            if (outOfTime)
                break;
            openFile(lock);
            if (m_openFailed)
                break;
            if (!m_connection)
                m_wake.wait(&m_mutex, QDeadlineTimer(kReopenDelayMs));
            continue;
        }
        if (!m_pending.isEmpty() && !outOfTime) {
            if (landBatch(lock)) {
                retryDelayMs = kFirstRetryDelayMs;
            } else if (m_lastFailure.status != DefaultsDatabase::Status::Busy) {
                const QDeadlineTimer pause(retryDelayMs);
                m_wake.wait(&m_mutex, m_stopping ? std::min(pause, m_stopDeadline) : pause);
                retryDelayMs = std::min(2 * retryDelayMs, kLongestRetryDelayMs);
            }
            continue;
        }
        if (m_stopping)
            break;
        if (m_checkpointRequested) {
            m_checkpointRequested = false;
            lock.unlock();
            m_connection->checkpoint();
            lock.relock();
            continue;
        }
        m_wake.wait(&m_mutex);
    }
    lock.unlock();
    // Emptying the log leaves the file alone a complete copy of everything that landed,
    // even while the other edition still has the file open.
    // A reader of the other edition may hold the log for a moment.
    while (m_connection && m_connection->checkpoint().status == DefaultsDatabase::Status::Busy &&
           !m_stopDeadline.hasExpired())
        QThread::msleep(kCheckpointRetryDelayMs);
    m_connection.reset();
    lock.relock();
    m_running = false;
    m_landed.wakeAll();
}

void DefaultsWriteQueue::openFile(QMutexLocker<QMutex>& lock)
{
    lock.unlock();
    DefaultsDatabase::Outcome outcome;
    auto connection = m_reopen(&outcome);
    const bool settled = connection || outcome.status != DefaultsDatabase::Status::Busy;
    if (settled && !m_opened(connection ? QString() : outcome.error))
        connection.reset();
    lock.relock();
    m_connection = std::move(connection);
    if (!m_connection) {
        m_lastFailure = outcome;
        m_openFailed = settled;
        m_unusable = settled;
        m_landed.wakeAll();
    }
}

bool DefaultsWriteQueue::landBatch(QMutexLocker<QMutex>& lock)
{
    // The newest value of every key in one transaction: the order between keys does not
    // matter once they land together, and an older value of a key never lands after a newer.
    QList<DefaultsDatabase::Entry> batch;
    QHash<QString, quint64> sent;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        batch << DefaultsDatabase::Entry{it.key(), it->value};
        sent.insert(it.key(), it->sequence);
    }
    lock.unlock();
    const DefaultsDatabase::Outcome outcome = m_connection->write(batch);
    lock.relock();
    if (outcome.done()) {
        for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
            if (m_pending.value(it.key()).sequence == it.value())
                m_pending.remove(it.key());
        }
        m_lastFailure = {};
        m_unusable = false;
        m_failureShown = false;
        lock.unlock();
        m_landedHandler(sent.keys());
        lock.relock();
        m_landed.wakeAll();
        return true;
    }
    m_lastFailure = outcome;
    m_unusable = outcome.status == DefaultsDatabase::Status::Unusable;
    // A lock is someone else's ordinary work and passes; anything else is said once per
    // run of failures, not at every keystroke.
    if (outcome.status != DefaultsDatabase::Status::Busy && !m_failureShown) {
        m_failureShown = true;
        Console::printError(QStringLiteral("cannot save %1 in %2 yet (%3); trying again")
                                .arg(keyList(sent.keys()), m_path, outcome.error));
    }
    m_landed.wakeAll();
    return false;
}
