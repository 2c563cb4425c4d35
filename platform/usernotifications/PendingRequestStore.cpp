#include "platform/usernotifications/PendingRequestStore.h"

#include "platform/files/PrivateFile.h"
#include "platform/files/UserDirectories.h"
#include "platform/sqlite/SqliteFile.h"
#include "platform/sqlite/SqliteStatement.h"
#include "platform/sqlite/SqliteWriteQueue.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <cstring>

namespace {

const char* kSchema = "CREATE TABLE IF NOT EXISTS requests ("
                      " identifier TEXT PRIMARY KEY NOT NULL, title TEXT, body TEXT, sound INTEGER,"
                      " attachment_id TEXT, attachment TEXT,"
                      " has_trigger INTEGER, hour INTEGER, minute INTEGER, repeats INTEGER,"
                      " covered_until INTEGER);"
                      "CREATE TABLE IF NOT EXISTS copies (path TEXT PRIMARY KEY NOT NULL, source TEXT NOT NULL);"
                      "CREATE TABLE IF NOT EXISTS held (path TEXT NOT NULL, server_id INTEGER, until INTEGER);"
                      "CREATE TABLE IF NOT EXISTS shown (server TEXT NOT NULL, id INTEGER NOT NULL, until INTEGER);";

const char* kSelectRequests = "SELECT identifier, title, body, sound, attachment_id, attachment, has_trigger, hour,"
                              " minute, repeats, covered_until FROM requests ORDER BY rowid";
const char* kInsertRequest = "INSERT INTO requests (identifier, title, body, sound, attachment_id, attachment,"
                             " has_trigger, hour, minute, repeats, covered_until)"
                             " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
const char* kDeleteRequest = "DELETE FROM requests WHERE identifier = ?1";
const char* kUpdateCovered = "UPDATE requests SET covered_until = ?1 WHERE identifier = ?2";
const char* kRequestAttachments = "SELECT attachment FROM requests";
const char* kFindCopy = "SELECT path FROM copies WHERE source = ?1";
const char* kInsertCopy = "INSERT OR REPLACE INTO copies (path, source) VALUES (?1, ?2)";
const char* kDeleteCopy = "DELETE FROM copies WHERE path = ?1";
const char* kInsertHold = "INSERT INTO held (path, server_id, until) VALUES (?1, 0, ?2)";
const char* kSetHoldServer = "UPDATE held SET server_id = ?1 WHERE rowid = ?2";
const char* kReleaseHeld = "DELETE FROM held WHERE server_id = ?1";
const char* kReleaseExpired = "DELETE FROM held WHERE until <= ?1";
const char* kNextExpiry = "SELECT min(until) FROM held";
const char* kHeldPaths = "SELECT path FROM held";
const char* kInsertShown = "INSERT INTO shown (server, id, until) VALUES (?1, ?2, ?3)";
const char* kTakeShown = "DELETE FROM shown WHERE server = ?1 AND id = ?2";
const char* kExpireShown = "DELETE FROM shown WHERE until <= ?1";
const QString kDatabaseName = QStringLiteral("notifications.sqlite3");
// Opening waits this long for another process's lock; later statements of the caller's
// thread only a moment (writes that must land go through the write queue).
constexpr int kOpenBusyTimeoutMs = 5000;
constexpr int kBusyTimeoutMs = 20;
// How long closing the store waits for changes that have not landed yet.
constexpr int kCloseTimeoutMs = 3000;

const SqliteLayout kLayout{
    {kSchema},
    {kSelectRequests, kInsertRequest, kDeleteRequest, kUpdateCovered, kRequestAttachments, kFindCopy, kInsertCopy,
     kDeleteCopy, kInsertHold, kSetHoldServer, kReleaseHeld, kReleaseExpired, kNextExpiry, kHeldPaths, kInsertShown,
     kTakeShown, kExpireShown},
};

QString sourceKey(const PrivateFile::Identity& id)
{
    return QStringLiteral("%1:%2:%3:%4").arg(id.device).arg(id.inode).arg(id.size).arg(id.modifiedNs);
}

bool deleteRequest(sqlite3* db, const QString& identifier)
{
    return SqliteStatement(db, kDeleteRequest).bind(1, identifier).run();
}

bool insertRequest(sqlite3* db, const PendingRequest& pending)
{
    const NotificationRequest& request = pending.request;
    const auto& attachments = request.content.attachments;
    const CalendarTrigger trigger = request.trigger.value_or(CalendarTrigger{});
    return deleteRequest(db, request.identifier) &&
           SqliteStatement(db, kInsertRequest)
               .bind(1, request.identifier)
               .bind(2, request.content.title)
               .bind(3, request.content.body)
               .bind(4, qint64(request.content.playsDefaultSound))
               .bind(5, attachments.isEmpty() ? QString() : attachments.first().identifier)
               .bind(6, attachments.isEmpty() ? QString() : attachments.first().url.toLocalFile())
               .bind(7, qint64(request.trigger.has_value()))
               .bind(8, trigger.hour)
               .bind(9, trigger.minute)
               .bind(10, qint64(trigger.repeats))
               .bind(11, pending.coveredUntil.toMSecsSinceEpoch())
               .run();
}

bool deleteAllRequests(sqlite3* db)
{
    return sqlite3_exec(db, "DELETE FROM requests", nullptr, nullptr, nullptr) == SQLITE_OK;
}

// What a change does to the requests as read.
void apply(QList<PendingRequest>& requests, const std::optional<PendingRequest>& put, const QString& removed)
{
    const QString identifier = put ? put->request.identifier : removed;
    requests.removeIf(
        [&](const PendingRequest& p) { return identifier.isEmpty() || p.request.identifier == identifier; });
    if (put)
        requests.append(*put);
}

} // namespace

PendingRequestStore::PendingRequestStore(const QString& folder, bool createMissing)
{
    m_persistent = open(folder, createMissing);
    if (!m_persistent) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        m_copiesFolder.clear();
        m_db = SqliteFile::openInMemory(kLayout);
    }
    refresh();
}

PendingRequestStore::~PendingRequestStore()
{
    finishWrites(QDeadlineTimer(kCloseTimeoutMs));
    sqlite3_close_v2(m_db);
}

void PendingRequestStore::finishWrites(QDeadlineTimer deadline)
{
    if (m_writes)
        m_writes->stop(deadline);
}

bool PendingRequestStore::open(const QString& folder, bool createMissing)
{
    QString error;
    const QString copies = folder + QStringLiteral("/attachments");
    if (!UserDirectories::makePrivateDirectory(folder, &error) ||
        !UserDirectories::makePrivateDirectory(copies, &error)) {
        m_openError = error;
        return false;
    }
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + kDatabaseName);
    SqliteFile::Outcome outcome;
    m_db = SqliteFile::open(path, createMissing, kOpenBusyTimeoutMs, &outcome);
    if (m_db)
        outcome = SqliteFile::setUp(m_db, kLayout);
    if (!outcome.ok()) {
        m_openError = outcome.error;
        m_openLocked = (outcome.code & 0xff) == SQLITE_BUSY || (outcome.code & 0xff) == SQLITE_LOCKED;
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    m_writes = std::make_unique<SqliteWriteQueue>(path, QStringLiteral("the reminder store %1").arg(folder));
    m_copiesFolder = copies;
    return true;
}

bool PendingRequestStore::exec(const char* sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

QStringList PendingRequestStore::fileNames()
{
    return {kDatabaseName, kDatabaseName + QStringLiteral("-wal")};
}

qint64 PendingRequestStore::dataVersion() const
{
    SqliteStatement query(m_db, "PRAGMA data_version");
    return query.step() ? query.integer(0) : -1;
}

const QList<PendingRequest>& PendingRequestStore::pending() const
{
    refresh();
    return m_pending;
}

bool PendingRequestStore::refresh() const
{
    // Changes only with commits of other connections: a few microseconds when nothing changed.
    const qint64 version = dataVersion();
    if (version == m_dataVersion)
        return false;
    load();
    m_dataVersion = version;
    return true;
}

bool PendingRequestStore::exclusively(const std::function<void()>& work)
{
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    // What another process committed just before the lock was taken; a change of this one
    // that has not landed is no claim of the file's yet.
    load(false);
    m_dataVersion = dataVersion(); // no other process commits while the lock is held
    m_inTransaction = true;
    work();
    m_inTransaction = false;
    const bool committed = exec("COMMIT");
    if (!committed)
        exec("ROLLBACK");
    load();
    return committed;
}

void PendingRequestStore::load(bool withHeld) const
{
    ++m_generation;
    m_pending.clear();
    // Changes that landed before the read are in the file; one that lands while it reads is
    // applied twice, which changes nothing.
    forgetLanded();
    SqliteStatement query(m_db, kSelectRequests);
    while (query.step()) {
        // Only requests with a trigger wait; a row without one is damage, and nothing to arm.
        if (query.integer(6) == 0)
            continue;
        PendingRequest pending;
        NotificationRequest& request = pending.request;
        request.identifier = query.text(0);
        request.content.title = query.text(1);
        request.content.body = query.text(2);
        request.content.playsDefaultSound = query.integer(3) != 0;
        if (!query.text(5).isEmpty())
            request.content.attachments = {NotificationAttachment{query.text(4), QUrl::fromLocalFile(query.text(5))}};
        request.trigger = CalendarTrigger{query.integer(7), query.integer(8), query.integer(9) != 0};
        pending.coveredUntil = QDateTime::fromMSecsSinceEpoch(query.integer(10), Qt::UTC);
        m_pending.append(pending);
    }
    if (withHeld) {
        for (const HeldChange& change : m_held)
            apply(m_pending, change.put, change.removed);
    }
}

void PendingRequestStore::forgetLanded() const
{
    if (m_writes) {
        const quint64 landed = m_writes->landedUpTo();
        m_held.removeIf([&](const HeldChange& change) { return change.number <= landed; });
    }
}

void PendingRequestStore::hold(const QString& key, const HeldChange& change, std::function<bool(sqlite3*)> write)
{
    refresh();
    apply(m_pending, change.put, change.removed);
    if (m_inTransaction || !m_writes) {
        write(m_db);
        return;
    }
    // Straight into the file while nothing of ours waits before it and no lock is in the way
    // (a moment's wait at most); else behind what waits, from the queue's thread.
    forgetLanded();
    if (m_held.isEmpty()) {
        if (exec("BEGIN IMMEDIATE")) {
            if (write(m_db) && exec("COMMIT"))
                return;
            exec("ROLLBACK");
        }
    }
    HeldChange held = change;
    held.number = m_writes->enqueue(key, std::move(write), !change.put && change.removed.isEmpty());
    m_held.append(held);
}

void PendingRequestStore::put(const PendingRequest& pending)
{
    hold(QStringLiteral("the reminder %1").arg(pending.request.identifier), HeldChange{0, pending, {}},
         [pending](sqlite3* db) { return insertRequest(db, pending); });
}

void PendingRequestStore::remove(const QString& identifier)
{
    hold(QStringLiteral("the reminder %1").arg(identifier), HeldChange{0, std::nullopt, identifier},
         [identifier](sqlite3* db) { return deleteRequest(db, identifier); });
}

void PendingRequestStore::removeAll()
{
    hold(QStringLiteral("the removal of every reminder"), HeldChange{0, std::nullopt, {}}, deleteAllRequests);
}

void PendingRequestStore::setCoveredUntil(const QString& identifier, const QDateTime& instant)
{
    SqliteStatement(m_db, kUpdateCovered).bind(1, instant.toMSecsSinceEpoch()).bind(2, identifier).run();
    for (PendingRequest& pending : m_pending) {
        if (pending.request.identifier == identifier)
            pending.coveredUntil = instant;
    }
}

std::optional<QString> PendingRequestStore::copyAttachment(const QString& source, PrivateFile::Error* error)
{
    const auto identity = PrivateFile::identityOf(source);
    if (!identity) {
        *error = PrivateFile::Error{QStringLiteral("POSIX"), ENOENT, source, QString::fromLocal8Bit(strerror(ENOENT))};
        return std::nullopt;
    }
    // A store in memory has no folder for copies: the file itself is the best picture left.
    if (m_copiesFolder.isEmpty())
        return source;
    const QString key = sourceKey(*identity);
    SqliteStatement known(m_db, kFindCopy);
    known.bind(1, key);
    while (known.step()) {
        const QString copy = known.text(0);
        if (PrivateFile::identityOf(copy))
            return copy;
    }
    PrivateFile::Identity readIdentity;
    const auto bytes = PrivateFile::read(source, &readIdentity);
    if (!bytes) {
        *error = PrivateFile::Error{QStringLiteral("POSIX"), EIO, source, QStringLiteral("cannot be read")};
        return std::nullopt;
    }
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".png");
    if (!PrivateFile::writeAtomically(m_copiesFolder, name, *bytes, error))
        return std::nullopt;
    const QString copy = m_copiesFolder + QLatin1Char('/') + name;
    SqliteStatement(m_db, kInsertCopy).bind(1, copy).bind(2, sourceKey(readIdentity)).run();
    return copy;
}

qint64 PendingRequestStore::hold(const QString& copy, const QDateTime& until)
{
    SqliteStatement(m_db, kInsertHold).bind(1, copy).bind(2, until.toMSecsSinceEpoch()).run();
    return sqlite3_last_insert_rowid(m_db);
}

void PendingRequestStore::setHeldServerId(qint64 hold, quint32 serverId)
{
    SqliteStatement(m_db, kSetHoldServer).bind(1, qint64(serverId)).bind(2, hold).run();
}

void PendingRequestStore::releaseHeld(quint32 serverId)
{
    if (serverId != 0)
        SqliteStatement(m_db, kReleaseHeld).bind(1, qint64(serverId)).run();
}

void PendingRequestStore::recordShown(const QString& server, quint32 id, const QDateTime& until)
{
    SqliteStatement(m_db, kInsertShown).bind(1, server).bind(2, qint64(id)).bind(3, until.toMSecsSinceEpoch()).run();
}

bool PendingRequestStore::takeShown(const QString& server, quint32 id)
{
    return SqliteStatement(m_db, kTakeShown).bind(1, server).bind(2, qint64(id)).run() && sqlite3_changes(m_db) > 0;
}

std::optional<QDateTime> PendingRequestStore::releaseExpired(const QDateTime& now)
{
    SqliteStatement(m_db, kReleaseExpired).bind(1, now.toMSecsSinceEpoch()).run();
    SqliteStatement(m_db, kExpireShown).bind(1, now.toMSecsSinceEpoch()).run();
    SqliteStatement next(m_db, kNextExpiry);
    if (next.step() && !next.isNull(0))
        return QDateTime::fromMSecsSinceEpoch(next.integer(0), Qt::UTC);
    return std::nullopt;
}

void PendingRequestStore::collectUnusedCopies()
{
    if (m_copiesFolder.isEmpty())
        return;
    QSet<QString> used;
    for (const PendingRequest& pending : m_pending) {
        for (const auto& attachment : pending.request.content.attachments)
            used.insert(attachment.url.toLocalFile());
    }
    // What the file names counts too: should a removal have failed to reach it, the request
    // comes back at the next start and needs its copy.
    SqliteStatement named(m_db, kRequestAttachments);
    while (named.step())
        used.insert(named.text(0));
    SqliteStatement held(m_db, kHeldPaths);
    while (held.step())
        used.insert(held.text(0));
    const QDir folder(m_copiesFolder);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString path = folder.filePath(name);
        if (!used.contains(path)) {
            QFile::remove(path);
            SqliteStatement(m_db, kDeleteCopy).bind(1, path).run();
        }
    }
}
