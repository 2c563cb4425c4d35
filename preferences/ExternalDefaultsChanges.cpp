#include "preferences/ExternalDefaultsChanges.h"

#include "platform/files/FolderWatch.h"
#include "platform/sqlite/SqliteStatement.h"

#include <QFile>
#include <QFileInfo>

namespace {
constexpr int kBusyTimeoutMs = 5000;
} // namespace

ExternalDefaultsChanges::ExternalDefaultsChanges(UserDefaults& store, QObject* parent) : QObject(parent), m_store(store)
{
    if (!store.isPersistent())
        return;
    // A connection of its own: the store's are busy with its writes, on any thread.
    if (sqlite3_open_v2(QFile::encodeName(store.path()).constData(), &m_db,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    SqliteStatement latest(m_db, "SELECT coalesce(max(revision), 0) FROM defaults");
    m_seen = latest.step() ? latest.integer(0) : 0;

    const QFileInfo file(store.path());
    auto* watch =
        new FolderWatch(file.absolutePath(), {file.fileName(), file.fileName() + QStringLiteral("-wal")}, this);
    connect(watch, &FolderWatch::changed, this, &ExternalDefaultsChanges::reportOthers);
    // Direct: the store says it on its writing thread, right after the commit.
    connect(&store, &UserDefaults::landed, this, &ExternalDefaultsChanges::noteOwnWrite, Qt::DirectConnection);
}

ExternalDefaultsChanges::~ExternalDefaultsChanges()
{
    sqlite3_close_v2(m_db);
}

void ExternalDefaultsChanges::noteOwnWrite(const QString& key)
{
    if (!m_db)
        return;
    SqliteStatement query(m_db, "SELECT revision FROM defaults WHERE key = ?1");
    query.bind(1, key);
    if (!query.step())
        return;
    QMutexLocker lock(&m_mutex);
    // At or below what was seen: a change already reported.
    if (query.integer(0) > m_seen)
        m_own.insert(query.integer(0));
}

void ExternalDefaultsChanges::reportOthers()
{
    QStringList changed;
    {
        QMutexLocker lock(&m_mutex);
        SqliteStatement query(m_db, "SELECT key, revision FROM defaults WHERE revision > ?1 ORDER BY revision");
        query.bind(1, m_seen);
        while (query.step()) {
            const qint64 revision = query.integer(1);
            m_seen = std::max(m_seen, revision);
            if (!m_own.remove(revision) && !changed.contains(query.text(0)))
                changed << query.text(0);
        }
        m_own.removeIf([this](qint64 revision) { return revision <= m_seen; });
    }
    for (const QString& key : changed)
        emit m_store.valueChanged(key);
}
