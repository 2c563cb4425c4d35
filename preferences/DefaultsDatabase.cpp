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

// A blob is not loaded as a column, which would copy a photo of megabytes once more on its way
// out: it is read straight into its own buffer (readBlob), at the row given last.
const char* kSelect = "SELECT kind, CASE WHEN typeof(value) = 'blob' THEN NULL ELSE value END,"
                      " typeof(value) = 'blob', rowid FROM defaults WHERE key = ?1";
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

const SqliteLayout kLayout{
    {kSchema},
    {kSelect, kSelectRevision, kUpsert},
    // Large pages for a new file (an existing one keeps its own): the photo spans an eighth
    // as many, and storing it over the previous one, whose freed pages Debian's SQLite
    // overwrites with zeros, takes about half the time.
    "PRAGMA page_size=32768",
};

// The blob of the value at `rowid`, read within the transaction of the statement that found it.
int readBlob(sqlite3* db, qint64 rowid, QByteArray* bytes)
{
    sqlite3_blob* blob = nullptr;
    int rc = sqlite3_blob_open(db, "main", "defaults", "value", rowid, 0, &blob);
    if (rc == SQLITE_OK) {
        bytes->resize(sqlite3_blob_bytes(blob));
        rc = sqlite3_blob_read(blob, bytes->data(), int(bytes->size()), 0);
    }
    sqlite3_blob_close(blob);
    sqlite3_db_release_memory(db);
    return rc;
}

bool releaseValue(sqlite3* db, const QString& key)
{
    SqliteStatement release(db, "UPDATE defaults SET value = NULL WHERE key = ?1");
    return release && sqlite3_step(release.bind(1, key).handle()) == SQLITE_DONE;
}

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

sqlite3* DefaultsDatabase::openWriter(const QByteArray& nativePath, Outcome* outcome)
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
    const SqliteFile::Outcome setUp = SqliteFile::setUp(db, kLayout);
    *outcome = {statusOf(setUp.code), setUp.error};
    if (outcome->done()) {
        // A replaced photo must not linger in the file: every page freed is overwritten with
        // zeros, in the cache, before the new photo takes it (upsert() frees the old one first).
        // SQLite never writes the rest of a value's last page, so a page reused without this
        // kept the end of what it last held.
        sqlite3_exec(db, "PRAGMA secure_delete=ON", nullptr, nullptr, nullptr);
        return db;
    }
    sqlite3_close_v2(db);
    return nullptr;
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
    default: // a full disk or an I/O error may pass
        return SqliteFile::isLasting(resultCode) ? Status::Unusable : Status::Failed;
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
        if (type != SQLITE_NULL)
            return std::nullopt;
        QByteArray bytes;
        if (query.integer(2)) {
            const int read = readBlob(m_db, query.integer(3), &bytes);
            if (outcome)
                *outcome = outcomeOf(read);
            if (read != SQLITE_OK)
                return std::nullopt;
        }
        return Value{Kind::Data, QVariant(bytes)};
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

bool DefaultsDatabase::upsert(sqlite3* db, const Entry& entry, qint64* revision)
{
    SqliteStatement upsert(db, kUpsert);
    if (!upsert)
        return false;
    upsert.bind(1, entry.key);
    upsert.bind(2, qint64(entry.value.kind));
    QByteArray bytes; // bound without a copy; outlives the step
    switch (entry.value.kind) {
    case Kind::Boolean:
    case Kind::Integer:
        sqlite3_bind_int64(upsert.handle(), 3, entry.value.value.toLongLong());
        break;
    case Kind::String:
        bytes = entry.value.value.toString().toUtf8();
        sqlite3_bind_text64(upsert.handle(), 3, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_STATIC,
                            SQLITE_UTF8);
        break;
    case Kind::Data:
        // The old value's pages are freed first, so that the new value takes them, rather than
        // new pages at the end of the file while the old ones are freed (and zeroed) after.
        if (!releaseValue(db, entry.key))
            return false;
        bytes = entry.value.value.toByteArray();
        sqlite3_bind_blob64(upsert.handle(), 3, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_STATIC);
        break;
    }
    if (sqlite3_step(upsert.handle()) != SQLITE_ROW)
        return false;
    *revision = sqlite3_column_int64(upsert.handle(), 0);
    return sqlite3_step(upsert.handle()) == SQLITE_DONE;
}
