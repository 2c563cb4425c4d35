#pragma once

#include <QAnyStringView>
#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

struct sqlite3;

// The per-user key-value store that keeps the program's preferences between runs.
// Values keep their kind: a key written as a boolean reads back only as a boolean,
// and a value of another kind reads as missing, so the reader's default applies.
// Safe to use from several threads at once; every write is committed immediately.
class UserDefaults : public QObject
{
    Q_OBJECT

public:
    enum class Kind
    {
        Boolean = 1,
        Integer = 2,
        String = 3,
        Data = 4
    };

    // Opens the store at `path`. An empty path, or a file that cannot be opened or
    // fails its integrity check, gives a store kept in memory only; the file on disk
    // is then left exactly as it was and `openError()` says why.
    explicit UserDefaults(const QString& path, QObject* parent = nullptr);
    ~UserDefaults() override;

    // The user's own store: $XDG_CONFIG_HOME/portraitperch/defaults.sqlite3.
    static UserDefaults& standard();
    static QString standardPath();

    QString path() const { return m_path; }
    bool isPersistent() const { return m_persistent; }
    QString openError() const { return m_openError; }

    std::optional<bool> boolForKey(QAnyStringView key) const;
    std::optional<qint64> integerForKey(QAnyStringView key) const;
    std::optional<QString> stringForKey(QAnyStringView key) const;
    std::optional<QByteArray> dataForKey(QAnyStringView key) const;

    // A number that changes with every write of the key (0 while it is absent), so that
    // callers can tell whether a large value changed without reading it.
    qint64 revisionForKey(QAnyStringView key) const;

    bool setBool(QAnyStringView key, bool value);
    bool setInteger(QAnyStringView key, qint64 value);
    bool setString(QAnyStringView key, const QString& value);
    bool setData(QAnyStringView key, const QByteArray& value);

signals:
    // Emitted on the writing thread after a write has been committed.
    void valueChanged(const QString& key);

private:
    struct Row;
    std::optional<Row> read(QAnyStringView key, Kind kind) const;
    bool write(QAnyStringView key, Kind kind, const QVariant& value);
    sqlite3* connection() const;
    void reportWriteFailure(const QString& key, const QString& reason);
    bool openFile();
    void openMemory();

    QString m_path;
    bool m_persistent = false;
    QString m_openError;
    // One connection for the thread that owns the store and one for every other thread:
    // in WAL mode a long photo write from the worker never blocks a read on the GUI thread.
    sqlite3* m_ownerConnection = nullptr;
    sqlite3* m_otherConnection = nullptr;
    mutable QMutex m_memoryMutex; // an in-memory store has a single connection
    QMutex m_failureMutex;
    QSet<QString> m_failingKeys;
};
