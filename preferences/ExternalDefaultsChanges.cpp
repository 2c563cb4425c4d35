#include "preferences/ExternalDefaultsChanges.h"

#include "platform/files/FolderWatch.h"
#include "platform/sqlite/SqliteStatement.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {
constexpr int kBusyTimeoutMs = 5000;
constexpr int kRereadDelayMs = 20;
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

void ExternalDefaultsChanges::noteOwnWrite(const QString&, qint64 revision)
{
    QMutexLocker lock(&m_mutex);
    // At or below what was seen: a change already reported.
    if (revision > m_seen)
        m_own.insert(revision);
}

void ExternalDefaultsChanges::reportOthers()
{
    QStringList changed;
    {
        QMutexLocker lock(&m_mutex);
        // A commit of this process is known as its own only once the store has announced it:
        // a read that overlapped one is done again a moment later.
        const quint64 generation = m_store.landingGeneration();
        qint64 seen = m_seen;
        QSet<qint64> own = m_own;
        SqliteStatement query(m_db, "SELECT key, revision FROM defaults WHERE revision > ?1 ORDER BY revision");
        query.bind(1, seen);
        while (query.step()) {
            const qint64 revision = query.integer(1);
            seen = std::max(seen, revision);
            if (!own.remove(revision) && !changed.contains(query.text(0)))
                changed << query.text(0);
        }
        if (generation % 2 || m_store.landingGeneration() != generation) {
            QTimer::singleShot(kRereadDelayMs, this, &ExternalDefaultsChanges::reportOthers);
            return;
        }
        own.removeIf([seen](qint64 revision) { return revision <= seen; });
        m_seen = seen;
        m_own = own;
    }
    for (const QString& key : changed)
        emit m_store.valueChanged(key);
}
