#pragma once

#include "preferences/DefaultsDatabase.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <functional>
#include <memory>
#include <optional>

// Holds the values set in this process until they have landed in the defaults file, and
// lands them there in order on a thread of its own. A lock held by another program, a
// full disk or a file that is still locked when the program starts only delays them: they
// are tried again until they land, the newest value of each key winning. Readers see a
// held value at once. Without a file (start() never called) the values are only held.
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

    // Makes a connection that has set the file up, or says why it could not.
    using Opener = std::function<std::unique_ptr<DefaultsDatabase>(DefaultsDatabase::Outcome*)>;
    // Called on the queue's thread once the file has opened there (with an empty error), or
    // failed to for good; whether the queue may use the file.
    using OpenedHandler = std::function<bool(const QString& error)>;
    // Called on the queue's thread right after values have landed, with their keys.
    using LandedHandler = std::function<void(const QStringList& keys)>;

    DefaultsWriteQueue() = default;
    ~DefaultsWriteQueue();
    DefaultsWriteQueue(const DefaultsWriteQueue&) = delete;
    DefaultsWriteQueue& operator=(const DefaultsWriteQueue&) = delete;

    // Starts landing values through `connection`, or, while that is null, keeps calling
    // `reopen` until the file opens.
    void start(QString path, std::unique_ptr<DefaultsDatabase> connection, Opener reopen, OpenedHandler opened,
               LandedHandler landed);

    void put(const QString& key, const DefaultsDatabase::Value& value);
    std::optional<Held> held(const QString& key) const;

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
        quint64 sequence;
    };

    void run();
    void openFile(QMutexLocker<QMutex>& lock);
    bool landBatch(QMutexLocker<QMutex>& lock);

    QString m_path;
    Opener m_reopen;
    OpenedHandler m_opened;
    LandedHandler m_landedHandler;
    std::unique_ptr<DefaultsDatabase> m_connection; // used on m_thread only
    std::unique_ptr<QThread> m_thread;

    mutable QMutex m_mutex; // guards everything below
    QWaitCondition m_wake;
    QWaitCondition m_landed;
    QHash<QString, Pending> m_pending;
    quint64 m_sequence = 0;
    bool m_running = false;
    bool m_checkpointRequested = false;
    bool m_stopping = false;
    QDeadlineTimer m_stopDeadline;
    bool m_unusable = false;     // the file refuses writes, and trying again is unlikely to help
    bool m_openFailed = false;   // the file never opened: the values were only ever held
    bool m_failureShown = false; // one line per run of failures, not one per attempt
    DefaultsDatabase::Outcome m_lastFailure;
};
