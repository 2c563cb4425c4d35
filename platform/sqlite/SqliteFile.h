#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct sqlite3;

// The tables of one store through its versions, as the file records them in its
// `user_version`. Version 0 is a new file, or one written before versions were recorded.
struct SqliteLayout
{
    // steps[i] brings a file of version i to version i + 1, so the current version is the
    // number of steps. A step that adds a column is a new step; existing steps never change.
    QList<const char*> steps;
    // Every statement the store runs: all must compile against the current version, else
    // the file holds tables of the same names but of another layout, and is not ours.
    QList<const char*> statements;
    // Run before the first write; settings that only a new file takes (its page size).
    const char* newFilePragmas = nullptr;

    int version() const { return int(steps.size()); }
};

// How a store opens its SQLite file, one way for every store: a link at the file is refused,
// the file is checked before anything is written (so that a damaged, foreign or newer file
// stays exactly as it was), its layout is brought to the current version in one transaction
// (so that two processes opening it at once migrate it once), and it keeps a write-ahead log.
namespace SqliteFile {

struct Outcome
{
    int code = 0;  // SQLITE_OK, else the SQLite result code that explains the failure
    QString error; // for people
    bool ok() const { return code == 0; }
};

// A connection that refuses a link at the file and waits `busyTimeoutMs` for another
// connection's lock; null (with the reason) when it cannot be opened. `create` makes a
// missing file.
sqlite3* open(const QByteArray& nativePath, bool create, int busyTimeoutMs, Outcome* outcome);
// A store that lives in memory, at the current version.
sqlite3* openInMemory(const SqliteLayout& layout);

// Checks the file of `db` and brings it to the layout's current version, in write-ahead
// logging with normal syncing.
Outcome setUp(sqlite3* db, const SqliteLayout& layout);
// The layout steps alone, in one transaction.
Outcome migrate(sqlite3* db, const SqliteLayout& layout);
// Whether a failure with this result code lasts: the file is damaged, not ours, of a newer
// layout or read-only, where waiting or trying again will not help (unlike a lock, a full
// disk or an I/O error).
bool isLasting(int resultCode);

} // namespace SqliteFile
