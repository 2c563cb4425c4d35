#include "preferences/UserDefaults.h"

#include "platform/base/Console.h"
#include "platform/files/UserDirectories.h"
#include "platform/sqlite/SqliteStatement.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QVariant>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct UserDefaults::Row
{
    QVariant value;
};

namespace {

constexpr int kBusyTimeoutMs = 5000;

QString lastError(sqlite3* db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
}

bool exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Runs a single-row query and returns its first column as text.
std::optional<QString> queryText(sqlite3* db, const char* sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return std::nullopt;
    std::optional<QString> result;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return result;
}

const char* kSelect = "SELECT kind, value FROM defaults WHERE key = ?1";
const char* kUpsert = "INSERT INTO defaults (key, kind, value, revision)"
                      " VALUES (?1, ?2, ?3, (SELECT coalesce(max(revision), 0) + 1 FROM defaults))"
                      " ON CONFLICT (key) DO UPDATE SET kind = excluded.kind, value = excluded.value,"
                      " revision = excluded.revision";

const char* kSchema = "CREATE TABLE IF NOT EXISTS defaults ("
                      " key TEXT PRIMARY KEY NOT NULL,"
                      " kind INTEGER NOT NULL,"
                      " value,"
                      " revision INTEGER NOT NULL)";

} // namespace

UserDefaults::UserDefaults(const QString& path, QObject* parent) : QObject(parent), m_path(path)
{
    if (!path.isEmpty() && openFile()) {
        m_persistent = true;
        return;
    }
    openMemory();
}

UserDefaults::~UserDefaults()
{
    sqlite3_close_v2(m_otherConnection);
    sqlite3_close_v2(m_ownerConnection);
}

QString UserDefaults::standardPath()
{
    return UserDirectories::configDirectory() + QStringLiteral("/defaults.sqlite3");
}

UserDefaults& UserDefaults::standard()
{
    static UserDefaults* instance = [] {
        auto* defaults = new UserDefaults(standardPath());
        if (!defaults->isPersistent())
            Console::printError(QStringLiteral("cannot open the settings store %1 (%2); running on defaults, "
                                               "changes will not be kept")
                                    .arg(defaults->path(), defaults->openError()));
        return defaults;
    }();
    return *instance;
}

bool UserDefaults::openFile()
{
    const QFileInfo info(m_path);
    QString dirError;
    if (!UserDirectories::makePrivateDirectory(info.absolutePath(), &dirError)) {
        m_openError = dirError;
        return false;
    }
    // Create the file ourselves so that it is private from the first byte; sqlite gives its
    // -wal and -shm companions the same mode.
    const QByteArray nativePath = QFile::encodeName(m_path);
    const int fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0)
        ::close(fd);
    else if (errno != EEXIST) {
        m_openError = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }

    auto openOne = [&](sqlite3** db) -> bool {
        const int rc =
            sqlite3_open_v2(nativePath.constData(), db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            m_openError = lastError(*db);
            // A failed open still allocates a handle that must be closed.
            sqlite3_close_v2(*db);
            *db = nullptr;
            return false;
        }
        sqlite3_busy_timeout(*db, kBusyTimeoutMs);
        return true;
    };
    if (!openOne(&m_ownerConnection))
        return false;

    // Check before anything is written: a damaged file must stay exactly as it is.
    // integrity_check, not quick_check: only it finds an index that disagrees with its table.
    const auto check = queryText(m_ownerConnection, "PRAGMA integrity_check(1)");
    if (!check || *check != QLatin1String("ok")) {
        m_openError = check ? QStringLiteral("integrity check failed: %1").arg(*check) : lastError(m_ownerConnection);
        sqlite3_close_v2(m_ownerConnection);
        m_ownerConnection = nullptr;
        return false;
    }
    const auto tables = queryText(m_ownerConnection, "SELECT count(*) FROM sqlite_schema WHERE name = 'defaults'");
    if (tables && tables->toInt() > 0 && !SqliteStatement::allCompile(m_ownerConnection, {kSelect, kUpsert})) {
        m_openError = QStringLiteral("the file holds a table of another layout");
        sqlite3_close_v2(m_ownerConnection);
        m_ownerConnection = nullptr;
        return false;
    }
    const auto mode = queryText(m_ownerConnection, "PRAGMA journal_mode=WAL");
    if (!mode || mode->compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0 ||
        !exec(m_ownerConnection, "PRAGMA synchronous=NORMAL") || !exec(m_ownerConnection, kSchema) ||
        !openOne(&m_otherConnection) || !exec(m_otherConnection, "PRAGMA synchronous=NORMAL")) {
        if (m_openError.isEmpty())
            m_openError = lastError(m_ownerConnection);
        sqlite3_close_v2(m_otherConnection);
        sqlite3_close_v2(m_ownerConnection);
        m_otherConnection = m_ownerConnection = nullptr;
        return false;
    }
    return true;
}

void UserDefaults::openMemory()
{
    sqlite3_open_v2(":memory:", &m_ownerConnection, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    exec(m_ownerConnection, kSchema);
}

sqlite3* UserDefaults::connection() const
{
    if (!m_persistent || QThread::currentThread() == thread())
        return m_ownerConnection;
    return m_otherConnection;
}

std::optional<UserDefaults::Row> UserDefaults::read(QAnyStringView key, Kind kind) const
{
    QMutexLocker lock(m_persistent ? nullptr : &m_memoryMutex);
    SqliteStatement query(connection(), kSelect);
    if (!query)
        return std::nullopt;
    query.bind(1, key.toString());
    if (!query.step() || query.integer(0) != int(kind))
        return std::nullopt;
    const int type = query.type(1);
    switch (kind) {
    case Kind::Boolean:
    case Kind::Integer:
        if (type != SQLITE_INTEGER)
            return std::nullopt;
        return Row{QVariant(query.integer(1))};
    case Kind::String:
        if (type != SQLITE_TEXT)
            return std::nullopt;
        return Row{QVariant(query.text(1))};
    case Kind::Data: {
        if (type != SQLITE_BLOB && type != SQLITE_NULL)
            return std::nullopt;
        const void* bytes = sqlite3_column_blob(query.handle(), 1);
        return Row{QVariant(QByteArray(static_cast<const char*>(bytes), sqlite3_column_bytes(query.handle(), 1)))};
    }
    }
    return std::nullopt;
}

bool UserDefaults::write(QAnyStringView key, Kind kind, const QVariant& value)
{
    {
        QMutexLocker lock(m_persistent ? nullptr : &m_memoryMutex);
        SqliteStatement upsert(connection(), kUpsert);
        if (!upsert)
            return false;
        upsert.bind(1, key.toString());
        upsert.bind(2, qint64(kind));
        QByteArray bytes; // bound without a copy; outlives the step
        switch (kind) {
        case Kind::Boolean:
        case Kind::Integer:
            sqlite3_bind_int64(upsert.handle(), 3, value.toLongLong());
            break;
        case Kind::String:
            bytes = value.toString().toUtf8();
            sqlite3_bind_text64(upsert.handle(), 3, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_STATIC,
                                SQLITE_UTF8);
            break;
        case Kind::Data:
            bytes = value.toByteArray();
            sqlite3_bind_blob64(upsert.handle(), 3, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_STATIC);
            break;
        }
        if (!upsert.run()) {
            reportWriteFailure(key.toString(), lastError(connection()));
            return false;
        }
    }
    {
        QMutexLocker lock(&m_failureMutex);
        m_failingKeys.remove(key.toString());
    }
    emit valueChanged(key.toString());
    return true;
}

void UserDefaults::reportWriteFailure(const QString& key, const QString& reason)
{
    // Once per key while its writes keep failing: a full disk must not flood the terminal
    // at every keystroke.
    QMutexLocker lock(&m_failureMutex);
    if (m_failingKeys.contains(key))
        return;
    m_failingKeys.insert(key);
    Console::printError(QStringLiteral("cannot save %1 in %2 (%3); the previous value is kept")
                            .arg(key, m_persistent ? m_path : QStringLiteral("memory"), reason));
}

qint64 UserDefaults::revisionForKey(QAnyStringView key) const
{
    QMutexLocker lock(m_persistent ? nullptr : &m_memoryMutex);
    SqliteStatement query(connection(), "SELECT revision FROM defaults WHERE key = ?1");
    if (!query)
        return 0;
    query.bind(1, key.toString());
    return query.step() ? query.integer(0) : 0;
}

std::optional<bool> UserDefaults::boolForKey(QAnyStringView key) const
{
    const auto row = read(key, Kind::Boolean);
    return row ? std::optional<bool>(row->value.toLongLong() != 0) : std::nullopt;
}

std::optional<qint64> UserDefaults::integerForKey(QAnyStringView key) const
{
    const auto row = read(key, Kind::Integer);
    return row ? std::optional<qint64>(row->value.toLongLong()) : std::nullopt;
}

std::optional<QString> UserDefaults::stringForKey(QAnyStringView key) const
{
    const auto row = read(key, Kind::String);
    return row ? std::optional<QString>(row->value.toString()) : std::nullopt;
}

std::optional<QByteArray> UserDefaults::dataForKey(QAnyStringView key) const
{
    const auto row = read(key, Kind::Data);
    return row ? std::optional<QByteArray>(row->value.toByteArray()) : std::nullopt;
}

bool UserDefaults::setBool(QAnyStringView key, bool value)
{
    return write(key, Kind::Boolean, QVariant(qint64(value ? 1 : 0)));
}

bool UserDefaults::setInteger(QAnyStringView key, qint64 value)
{
    return write(key, Kind::Integer, QVariant(value));
}

bool UserDefaults::setString(QAnyStringView key, const QString& value)
{
    return write(key, Kind::String, QVariant(value));
}

bool UserDefaults::setData(QAnyStringView key, const QByteArray& value)
{
    return write(key, Kind::Data, QVariant(value));
}
