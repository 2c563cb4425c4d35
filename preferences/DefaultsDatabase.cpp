#include "preferences/DefaultsDatabase.h"

#include "platform/files/UserDirectories.h"
#include "platform/sqlite/SqliteFile.h"
#include "platform/sqlite/SqliteStatement.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// How long one statement of open() waits for a lock; the caller decides whether to try again.
constexpr int kOpenBusyTimeoutMs = 100;

const char* kSelect = "SELECT kind, value FROM defaults WHERE key = ?1";
const char* kSelectRevision = "SELECT revision FROM defaults WHERE key = ?1";
const char* kUpsert = "INSERT INTO defaults (key, kind, value, revision)"
                      " VALUES (?1, ?2, ?3, (SELECT coalesce(max(revision), 0) + 1 FROM defaults))"
                      " ON CONFLICT (key) DO UPDATE SET kind = excluded.kind, value = excluded.value,"
                      " revision = excluded.revision RETURNING revision";
const char* kSchema = "CREATE TABLE IF NOT EXISTS defaults ("
                      " key TEXT PRIMARY KEY NOT NULL,"
                      " kind INTEGER NOT NULL,"
                      " value,"
                      " revision INTEGER NOT NULL)";

int exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

const SqliteLayout kLayout{
    {kSchema},
    {kSelect, kSelectRevision, kUpsert},
    // Large pages for a new file (an existing one keeps its own): the photo spans an eighth
    // as many, and storing it over the previous one, whose freed pages Debian's SQLite
    // overwrites with zeros, takes about half the time.
    "PRAGMA page_size=32768",
};

} // namespace

DefaultsDatabase::DefaultsDatabase(sqlite3* db) : m_db(db) {}

DefaultsDatabase::~DefaultsDatabase()
{
    sqlite3_close_v2(m_db);
}

QByteArray DefaultsDatabase::nativePath(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (!UserDirectories::makePrivateDirectory(info.absolutePath(), error))
        return {};
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty()) {
        *error = QStringLiteral("cannot resolve the folder %1").arg(info.absolutePath());
        return {};
    }
    return QFile::encodeName(folder + QLatin1Char('/') + info.fileName());
}

std::unique_ptr<DefaultsDatabase> DefaultsDatabase::open(const QByteArray& nativePath, Outcome* outcome)
{
    // Created here so that it is private from the first byte; sqlite gives its -wal and
    // -shm companions the same mode. O_EXCL never follows a link at the name.
    const int fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno != EEXIST) {
        *outcome = {Status::Unusable, QString::fromLocal8Bit(std::strerror(errno))};
        return nullptr;
    }
    SqliteFile::Outcome opened;
    sqlite3* db = SqliteFile::open(nativePath, false, kOpenBusyTimeoutMs, &opened);
    if (!db) {
        *outcome = {Status::Unusable, opened.error};
        return nullptr;
    }
    std::unique_ptr<DefaultsDatabase> database(new DefaultsDatabase(db));
    const SqliteFile::Outcome setUp = SqliteFile::setUp(db, kLayout);
    *outcome = {statusOf(setUp.code), setUp.error};
    if (!outcome->done())
        return nullptr;
    return database;
}

std::unique_ptr<DefaultsDatabase> DefaultsDatabase::connect(const QByteArray& nativePath, int busyTimeoutMs,
                                                            Outcome* outcome)
{
    SqliteFile::Outcome opened;
    sqlite3* db = SqliteFile::open(nativePath, false, busyTimeoutMs, &opened);
    if (!db) {
        *outcome = {Status::Unusable, opened.error};
        return nullptr;
    }
    *outcome = {};
    return std::unique_ptr<DefaultsDatabase>(new DefaultsDatabase(db));
}

DefaultsDatabase::Status DefaultsDatabase::statusOf(int resultCode)
{
    switch (resultCode & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return Status::Done;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Status::Busy;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_ERROR: // a missing table or column: the file has been changed under us
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT:
    case SQLITE_FORMAT:
    case SQLITE_MISUSE:
    case SQLITE_CANTOPEN: // no write-ahead log possible where the file is
    case SQLITE_READONLY: // a file of a newer layout, or one made read-only: waiting will not help
        return Status::Unusable;
    default: // a full disk, an I/O error: both may pass
        return Status::Failed;
    }
}

DefaultsDatabase::Outcome DefaultsDatabase::outcomeOf(int resultCode) const
{
    const Status status = statusOf(resultCode);
    return {status, status == Status::Done ? QString() : QString::fromUtf8(sqlite3_errmsg(m_db))};
}

std::optional<DefaultsDatabase::Value> DefaultsDatabase::read(const QString& key, Outcome* outcome) const
{
    SqliteStatement query(m_db, kSelect);
    const int rc = query ? sqlite3_step(query.bind(1, key).handle()) : sqlite3_errcode(m_db);
    if (outcome)
        *outcome = outcomeOf(rc);
    if (rc != SQLITE_ROW)
        return std::nullopt;
    const int type = query.type(1);
    switch (Kind(query.integer(0))) {
    case Kind::Boolean:
    case Kind::Integer:
        if (type != SQLITE_INTEGER)
            return std::nullopt;
        return Value{Kind(query.integer(0)), QVariant(query.integer(1))};
    case Kind::String:
        if (type != SQLITE_TEXT)
            return std::nullopt;
        return Value{Kind::String, QVariant(query.text(1))};
    case Kind::Data: {
        if (type != SQLITE_BLOB && type != SQLITE_NULL)
            return std::nullopt;
        const void* bytes = sqlite3_column_blob(query.handle(), 1);
        return Value{Kind::Data,
                     QVariant(QByteArray(static_cast<const char*>(bytes), sqlite3_column_bytes(query.handle(), 1)))};
    }
    }
    return std::nullopt;
}

std::optional<qint64> DefaultsDatabase::revision(const QString& key) const
{
    SqliteStatement query(m_db, kSelectRevision);
    const int rc = query ? sqlite3_step(query.bind(1, key).handle()) : SQLITE_ERROR;
    if (rc == SQLITE_ROW)
        return query.integer(0);
    return rc == SQLITE_DONE ? std::optional<qint64>(0) : std::nullopt;
}

QStringList DefaultsDatabase::keys() const
{
    QStringList keys;
    SqliteStatement query(m_db, "SELECT key FROM defaults");
    while (query.step())
        keys << query.text(0);
    return keys;
}

DefaultsDatabase::Outcome DefaultsDatabase::write(const QList<Entry>& entries, QList<qint64>* revisions)
{
    QList<qint64> given;
    int rc = exec(m_db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return outcomeOf(rc);
    {
        SqliteStatement upsert(m_db, kUpsert);
        rc = upsert ? SQLITE_DONE : sqlite3_errcode(m_db);
        for (qsizetype i = 0; i < entries.size() && rc == SQLITE_DONE; ++i) {
            const Value& value = entries[i].value;
            sqlite3_reset(upsert.handle());
            upsert.bind(1, entries[i].key);
            upsert.bind(2, qint64(value.kind));
            QByteArray bytes; // bound without a copy; outlives the step
            switch (value.kind) {
            case Kind::Boolean:
            case Kind::Integer:
                sqlite3_bind_int64(upsert.handle(), 3, value.value.toLongLong());
                break;
            case Kind::String:
                bytes = value.value.toString().toUtf8();
                sqlite3_bind_text64(upsert.handle(), 3, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_STATIC,
                                    SQLITE_UTF8);
                break;
            case Kind::Data:
                bytes = value.value.toByteArray();
                sqlite3_bind_blob64(upsert.handle(), 3, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_STATIC);
                break;
            }
            rc = sqlite3_step(upsert.handle());
            if (rc == SQLITE_ROW) {
                given << sqlite3_column_int64(upsert.handle(), 0);
                rc = sqlite3_step(upsert.handle());
            }
        }
    } // finalized before the commit
    if (rc == SQLITE_DONE)
        rc = exec(m_db, "COMMIT");
    if (rc == SQLITE_OK) {
        if (revisions)
            *revisions = given;
        return {};
    }
    const Outcome failed = outcomeOf(rc);
    exec(m_db, "ROLLBACK");
    return failed;
}

DefaultsDatabase::Outcome DefaultsDatabase::checkpoint()
{
    return outcomeOf(sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr));
}
