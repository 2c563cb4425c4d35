#pragma once

#include "platform/sqlite/SqliteWriteQueue.h"
#include "preferences/DefaultsDatabase.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Holds the values set in this process until they have landed in the defaults file, which
// a SqliteWriteQueue lands in order on a thread of its own. A lock held by another program,
// a full disk or a file that is still locked when the program starts only delays them: they
// are tried again until they land, the newest value of each key winning. Readers see a held
// value at once. Without a file (start() never called) the values are only held.
class DefaultsWriteQueue
{
public:
    // Revisions of held values lie above every revision the file gives out, so that a
    // value that has not landed never looks like one that has.
    static constexpr qint64 kHeldRevisionBase = qint64(1) << 62;

    struct Held
    {
        DefaultsDatabase::Value value;
        qint64 revision;
    };

    // Called on the queue's thread once a file that was locked at the start has opened (with
    // an empty error), or failed to for good; whether the queue may use the file.
    using OpenedHandler = std::function<bool(const QString& error)>;
    // Called on the queue's thread right after values have landed: each key's new revision.
    using LandedHandler = std::function<void(const QHash<QString, qint64>& revisions)>;

    DefaultsWriteQueue() = default;
    ~DefaultsWriteQueue();
    DefaultsWriteQueue(const DefaultsWriteQueue&) = delete;
    DefaultsWriteQueue& operator=(const DefaultsWriteQueue&) = delete;

    // Starts landing values through `writer` (see DefaultsDatabase::openWriter), or, while
    // that is null, keeps opening `nativePath` until the file opens.
    void start(const QString& path, const QByteArray& nativePath, sqlite3* writer, OpenedHandler opened,
               LandedHandler landed);

    void put(const QString& key, const DefaultsDatabase::Value& value);
    std::optional<Held> held(const QString& key) const;
    // The revision that readers saw for the value that landed as `fileRevision`: its held
    // revision, so that a value's revision does not change when it lands.
    qint64 revisionSeenAs(const QString& key, qint64 fileRevision) const;
    quint64 landingGeneration() const { return m_writes ? m_writes->landingGeneration() : 0; }

    // Empties the file's write-ahead log once the values held now have landed.
    void requestCheckpoint();
    // Whether every value held has landed by `deadline`; false at once when nothing
    // can land (no file, or a file that refuses writes for good).
    bool waitUntilLanded(QDeadlineTimer deadline);
    // Lands what it can by `deadline`, empties the log, closes the connection and says
    // on standard error which values were not saved. Values put later are only held.
    void stop(QDeadlineTimer deadline);

private:
    struct Pending
    {
        DefaultsDatabase::Value value;
        quint64 number; // in the write queue
    };

    void takeLanded(const QList<SqliteWriteQueue::Landed>& writes);

    LandedHandler m_landedHandler;
    std::unique_ptr<SqliteWriteQueue> m_writes;

    mutable QMutex m_mutex; // guards everything below
    QHash<QString, Pending> m_pending;
    QHash<QString, qint64> m_given;                       // key: the file's revision, while its batch lands
    QHash<QString, std::pair<qint64, qint64>> m_landedAs; // key: the file's revision, the held one
    quint64 m_unqueued = 0;                               // numbers of values held without a file
};
