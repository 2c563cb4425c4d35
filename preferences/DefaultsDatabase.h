#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

struct sqlite3;

// One connection to the file that keeps the defaults: a table of keys, each with the kind
// of its value, the value and a revision. Every operation either completes, meets a lock
// that another connection holds (worth trying again), or fails.
class DefaultsDatabase
{
public:
    enum class Kind
    {
        Boolean = 1,
        Integer = 2,
        String = 3,
        Data = 4
    };
    // Booleans and integers are held as qint64, strings as QString, data as QByteArray.
    struct Value
    {
        Kind kind;
        QVariant value;
    };
    struct Entry
    {
        QString key;
        Value value;
    };

    enum class Status
    {
        Done,
        Busy,     // another connection holds a lock; the same call may succeed later
        Failed,   // failed this time (a full disk, an I/O error); may succeed later
        Unusable, // the file is damaged or not ours; trying again will not help
    };
    struct Outcome
    {
        Status status = Status::Done;
        QString error;
        bool done() const { return status == Status::Done; }
    };

    // The path to hand to open() and connect(): the folder of `path` is created private
    // and resolved, so that a link among the user's own folders (a linked ~/.config, say)
    // is followed while a link at the file itself is not. Empty on failure.
    static QByteArray nativePath(const QString& path, QString* error);

    // Opens the connection that writes the file, creating the file private if it is missing,
    // checks it before anything is written (so that a damaged or foreign file stays exactly
    // as it was), adds the table and switches to write-ahead logging. A link at the file is
    // refused. The caller closes it with sqlite3_close_v2().
    static sqlite3* openWriter(const QByteArray& nativePath, Outcome* outcome);
    // A connection that reads a file that openWriter() has set up.
    static std::unique_ptr<DefaultsDatabase> connect(const QByteArray& nativePath, int busyTimeoutMs, Outcome* outcome);
    ~DefaultsDatabase();
    DefaultsDatabase(const DefaultsDatabase&) = delete;
    DefaultsDatabase& operator=(const DefaultsDatabase&) = delete;

    // The value under `key`; none when it is absent or its row is damaged.
    std::optional<Value> read(const QString& key, Outcome* outcome = nullptr) const;
    // The key's revision, 0 while it is absent; none when it could not be read.
    std::optional<qint64> revision(const QString& key) const;
    QStringList keys() const;

    // Stores `entry` through the writer's connection `db`, inside the caller's transaction,
    // with a new revision; false when a statement failed (the connection says why).
    static bool upsert(sqlite3* db, const Entry& entry, qint64* revision);

private:
    explicit DefaultsDatabase(sqlite3* db);
    static Status statusOf(int resultCode);
    Outcome outcomeOf(int resultCode) const;

    sqlite3* m_db;
};
