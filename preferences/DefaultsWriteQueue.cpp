#include "preferences/DefaultsWriteQueue.h"

#include <sqlite3.h>

DefaultsWriteQueue::~DefaultsWriteQueue()
{
    stop(QDeadlineTimer(0));
}

void DefaultsWriteQueue::start(const QString& path, const QByteArray& nativePath, sqlite3* writer, OpenedHandler opened,
                               LandedHandler landed)
{
    m_landedHandler = std::move(landed);
    auto reopen = [nativePath, opened = std::move(opened)] {
        DefaultsDatabase::Outcome outcome;
        sqlite3* db = DefaultsDatabase::openWriter(nativePath, &outcome);
        if (!db && outcome.status == DefaultsDatabase::Status::Busy)
            return SqliteWriteQueue::Opened{nullptr, true, outcome.error, false};
        if (opened(db ? QString() : outcome.error))
            return SqliteWriteQueue::Opened{db, false, {}, false};
        sqlite3_close_v2(db);
        return SqliteWriteQueue::Opened{nullptr, false, outcome.error, true};
    };
    m_writes = std::make_unique<SqliteWriteQueue>(path, writer, std::move(reopen),
                                                  [this](const auto& writes) { takeLanded(writes); });
}

void DefaultsWriteQueue::put(const QString& key, const DefaultsDatabase::Value& value)
{
    QMutexLocker lock(&m_mutex);
    if (!m_writes) {
        m_pending.insert(key, Pending{value, ++m_unqueued});
        return;
    }
    // Held before the write can land: the queue's thread takes the landing under this lock.
    const DefaultsDatabase::Entry entry{key, value};
    const quint64 number = m_writes->enqueue(key, [this, entry](sqlite3* db) {
        qint64 revision = 0;
        if (!DefaultsDatabase::upsert(db, entry, &revision))
            return false;
        QMutexLocker given(&m_mutex);
        m_given.insert(entry.key, revision);
        return true;
    });
    m_pending.insert(key, Pending{value, number});
}

void DefaultsWriteQueue::takeLanded(const QList<SqliteWriteQueue::Landed>& writes)
{
    QHash<QString, qint64> revisions;
    {
        QMutexLocker lock(&m_mutex);
        for (const SqliteWriteQueue::Landed& write : writes) {
            const qint64 revision = m_given.take(write.key);
            revisions.insert(write.key, revision);
            m_landedAs.insert(write.key, {revision, kHeldRevisionBase + qint64(write.number)});
            if (m_pending.value(write.key).number == write.number)
                m_pending.remove(write.key);
        }
    }
    m_landedHandler(revisions);
}

std::optional<DefaultsWriteQueue::Held> DefaultsWriteQueue::held(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_pending.constFind(key);
    if (found == m_pending.cend())
        return std::nullopt;
    return Held{found->value, kHeldRevisionBase + qint64(found->number)};
}

qint64 DefaultsWriteQueue::revisionSeenAs(const QString& key, qint64 fileRevision) const
{
    QMutexLocker lock(&m_mutex);
    const auto landed = m_landedAs.constFind(key);
    return landed != m_landedAs.cend() && landed->first == fileRevision ? landed->second : fileRevision;
}

void DefaultsWriteQueue::requestCheckpoint()
{
    if (m_writes)
        m_writes->requestCheckpoint();
}

bool DefaultsWriteQueue::waitUntilLanded(QDeadlineTimer deadline)
{
    if (m_writes)
        return m_writes->waitUntilLanded(deadline);
    QMutexLocker lock(&m_mutex);
    return m_pending.isEmpty();
}

void DefaultsWriteQueue::stop(QDeadlineTimer deadline)
{
    if (m_writes)
        m_writes->stop(deadline);
}
