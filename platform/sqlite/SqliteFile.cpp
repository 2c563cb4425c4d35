#include "platform/sqlite/SqliteFile.h"

#include "platform/base/ProcessMemory.h"
#include "platform/sqlite/SqliteStatement.h"

#include <mutex>

#include <sqlite3.h>

namespace SqliteFile {
namespace {

// SQLite's own allocator, whose large blocks are then asked for in huge pages: writing a photo
// builds its whole record in one block first, tens of megabytes that are new to the process.
sqlite3_mem_methods systemAllocator{};
constexpr int kLargeBlock = 1024 * 1024;

void* allocate(int size)
{
    void* block = systemAllocator.xMalloc(size);
    if (block && size >= kLargeBlock)
        ProcessMemory::adviseHugePages(block, size_t(size));
    return block;
}

void* reallocate(void* block, int size)
{
    void* moved = systemAllocator.xRealloc(block, size);
    if (moved && size >= kLargeBlock)
        ProcessMemory::adviseHugePages(moved, size_t(size));
    return moved;
}

// Before SQLite's first use in the process, which then initializes the library at once: its
// configuration is not safe beside another thread's use. Where something else used SQLite
// first, it keeps its allocator as it is.
void adviseLargeAllocations()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (sqlite3_config(SQLITE_CONFIG_GETMALLOC, &systemAllocator) == SQLITE_OK) {
            sqlite3_mem_methods advising = systemAllocator;
            advising.xMalloc = allocate;
            advising.xRealloc = reallocate;
            sqlite3_config(SQLITE_CONFIG_MALLOC, &advising);
        }
        sqlite3_initialize();
    });
}

int exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

Outcome failure(sqlite3* db, int code)
{
    return {code, QString::fromUtf8(sqlite3_errmsg(db))};
}

// Runs `statement`, which returns one row, and hands back its first column's text.
Outcome firstText(sqlite3* db, const char* statement, QString* text)
{
    SqliteStatement query(db, statement);
    const int rc = query ? sqlite3_step(query.handle()) : sqlite3_errcode(db);
    if (rc != SQLITE_ROW)
        return failure(db, rc == SQLITE_DONE ? SQLITE_CORRUPT : rc);
    *text = query.text(0);
    return {};
}

} // namespace

sqlite3* open(const QByteArray& nativePath, bool create, int busyTimeoutMs, Outcome* outcome)
{
    adviseLargeAllocations();
    sqlite3* db = nullptr;
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW | (create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(nativePath.constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        // A failed open still allocates a handle.
        *outcome = {rc, sqlite3_extended_errcode(db) == SQLITE_CANTOPEN_SYMLINK
                            ? QStringLiteral("it is a link, and links are not followed there")
                            : QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory")};
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    *outcome = {};
    return db;
}

sqlite3* openInMemory(const SqliteLayout& layout)
{
    adviseLargeAllocations();
    sqlite3* db = nullptr;
    sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    migrate(db, layout);
    return db;
}

Outcome setUp(sqlite3* db, const SqliteLayout& layout)
{
    // integrity_check, not quick_check: only it finds an index that disagrees with its table.
    QString verdict;
    if (const Outcome checked = firstText(db, "PRAGMA integrity_check(1)", &verdict); !checked.ok())
        return checked;
    if (verdict != QLatin1String("ok"))
        return {SQLITE_CORRUPT, QStringLiteral("integrity check failed: %1").arg(verdict)};
    // The check read every page; the cache keeps none of them for a connection that is idle
    // most of its life.
    sqlite3_db_release_memory(db);
    if (layout.newFilePragmas)
        exec(db, layout.newFilePragmas);
    if (const Outcome migrated = migrate(db, layout); !migrated.ok())
        return migrated;
    // Write-ahead logging: a long write never blocks a reader, and with normal syncing a
    // commit per keystroke costs no flush to disk while a crash loses at most the last
    // commits, never the file.
    QString mode;
    if (const Outcome logged = firstText(db, "PRAGMA journal_mode=WAL", &mode); !logged.ok())
        return logged;
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        return {SQLITE_CANTOPEN, QStringLiteral("the file cannot keep a write-ahead log here")};
    const int rc = exec(db, "PRAGMA synchronous=NORMAL");
    return rc == SQLITE_OK ? Outcome{} : failure(db, rc);
}

Outcome migrate(sqlite3* db, const SqliteLayout& layout)
{
    int rc = exec(db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return failure(db, rc);
    const auto rollBack = [db](Outcome outcome) {
        exec(db, "ROLLBACK");
        return outcome;
    };
    QString recorded;
    if (const Outcome read = firstText(db, "PRAGMA user_version", &recorded); !read.ok())
        return rollBack(read);
    const int version = recorded.toInt();
    if (version > layout.version() || version < 0)
        return rollBack({SQLITE_READONLY, QStringLiteral("the file has layout version %1, which a newer version of "
                                                         "the program wrote (this one knows up to %2); left as it is")
                                              .arg(recorded)
                                              .arg(layout.version())});
    for (int step = version; step < layout.version(); ++step) {
        rc = exec(db, layout.steps[step]);
        if (rc != SQLITE_OK)
            return rollBack({SQLITE_ERROR, QStringLiteral("cannot bring the layout from version %1 to %2: %3")
                                               .arg(step)
                                               .arg(step + 1)
                                               .arg(QString::fromUtf8(sqlite3_errmsg(db)))});
    }
    if (version != layout.version()) {
        const QByteArray set = "PRAGMA user_version=" + QByteArray::number(layout.version());
        if ((rc = exec(db, set.constData())) != SQLITE_OK)
            return rollBack(failure(db, rc));
    }
    for (const char* statement : layout.statements) {
        if (!SqliteStatement(db, statement))
            return rollBack({SQLITE_ERROR, QStringLiteral("the file holds tables of another layout")});
    }
    rc = exec(db, "COMMIT");
    return rc == SQLITE_OK ? Outcome{} : rollBack(failure(db, rc));
}

bool isLasting(int resultCode)
{
    switch (resultCode & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_ERROR: // a missing table or column: the file has been changed under us
    case SQLITE_MISMATCH:
    case SQLITE_CONSTRAINT:
    case SQLITE_FORMAT:
    case SQLITE_MISUSE:
    case SQLITE_CANTOPEN: // no write-ahead log possible where the file is
    case SQLITE_READONLY: // a file of a newer layout, or one made read-only
        return true;
    default:
        return false;
    }
}

} // namespace SqliteFile
