#pragma once

#include <QAnyStringView>
#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class DefaultsDatabase;
class DefaultsWriteQueue;

// The per-user key-value store that keeps the program's preferences between runs.
// Values keep their kind: a key written as a boolean reads back only as a boolean,
// and a value of another kind reads as missing, so the reader's default applies.
//
// Safe to use from several threads at once, and no call waits for the file: a value set
// is seen by every reader in this process at once and lands in the file shortly after, on
// a thread of the store's own. A lock held by another program or a full disk only delays
// it; values that still have not landed when the store closes are named on standard error.
class UserDefaults : public QObject
{
    Q_OBJECT

public:
    // How long closing waits for values that have not landed yet.
    static constexpr std::chrono::milliseconds kCloseTimeout{5000};

    // Opens the store at `path`. A lock held on the file is waited for, briefly here and
    // then on the store's thread for as long as it takes (isWaitingForFile()). An empty
    // path, or a file that cannot be opened, fails its integrity check or is a link, gives
    // a store kept in memory only; the file on disk is then left exactly as it was and
    // `openError()` says why.
    explicit UserDefaults(const QString& path, QObject* parent = nullptr);
    // Closes the store.
    ~UserDefaults() override;

    // The user's own store: $XDG_CONFIG_HOME/portraitperch/defaults.sqlite3. It is closed
    // when the application object goes, after everything that writes to it.
    static UserDefaults& standard();
    static QString standardPath();

    QString path() const { return m_path; }
    bool isPersistent() const;
    bool isWaitingForFile() const;
    QString openError() const;

    std::optional<bool> boolForKey(QAnyStringView key) const;
    std::optional<qint64> integerForKey(QAnyStringView key) const;
    std::optional<QString> stringForKey(QAnyStringView key) const;
    std::optional<QByteArray> dataForKey(QAnyStringView key) const;

    // A number that changes with every write of the key (0 while it is absent), so that
    // callers can tell whether a large value changed without reading it.
    qint64 revisionForKey(QAnyStringView key) const;

    void setBool(QAnyStringView key, bool value);
    void setInteger(QAnyStringView key, qint64 value);
    void setString(QAnyStringView key, const QString& value);
    void setData(QAnyStringView key, const QByteArray& value);

    // Whether every value set so far has landed in the file within `timeout`.
    bool waitUntilSaved(std::chrono::milliseconds timeout = kCloseTimeout);
    // Empties the file's write-ahead log once the values set so far have landed, so that
    // the file alone holds them: worth it after a large value.
    void checkpoint();
    // Lands what it can within kCloseTimeout, empties the log, closes the file and names on
    // standard error what could not be saved. Values set later are kept in memory only, and
    // readers see only those.
    void close();

signals:
    // Emitted on the setting thread as soon as a value is set, before it lands; and, for
    // every stored key, once a file that was locked at the start has opened.
    void valueChanged(const QString& key);
    // Emitted on the store's own thread right after the key's newest value landed in the file.
    void landed(const QString& key);

private:
    enum class State
    {
        Memory,
        WaitingForFile,
        File
    };

    std::optional<QVariant> value(QAnyStringView key, int kind) const;
    std::shared_ptr<DefaultsDatabase> reader() const;
    void set(QAnyStringView key, int kind, const QVariant& value);
    void openFile();
    bool connectReaders(QString* error);
    bool fileOpenedLate(const QString& error);

    QString m_path;
    QByteArray m_nativePath;
    std::unique_ptr<DefaultsWriteQueue> m_queue;
    mutable QMutex m_stateMutex; // guards the state, the error and the readers
    State m_state = State::Memory;
    QString m_openError;
    // One connection for the thread that owns the store and one for every other thread,
    // so that a photo read on a worker never holds up a read on the GUI thread.
    std::shared_ptr<DefaultsDatabase> m_ownerReader;
    std::shared_ptr<DefaultsDatabase> m_otherReader;
};
