#include "preferences/UserDefaults.h"

#include "platform/base/Console.h"
#include "platform/files/UserDirectories.h"
#include "preferences/DefaultsDatabase.h"
#include "preferences/DefaultsWriteQueue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QVariant>

#include <sqlite3.h>

namespace {

using Kind = DefaultsDatabase::Kind;

// A lock met while opening is mostly the other edition creating or checking the file at
// the same moment, and passes within milliseconds. Only a longer one is left to the
// store's thread, so that start-up does not hang on it.
constexpr int kOpenWaitMs = 2000;
constexpr int kOpenRetryDelayMs = 20;
// Reads in write-ahead-log mode meet a lock only while a crashed file is recovered or a
// program holds the file exclusively; the GUI thread gives up quickly then.
constexpr int kOwnerReadBusyTimeoutMs = 10;
constexpr int kOtherReadBusyTimeoutMs = 5000;

QString unusableMessage(const QString& path, const QString& error)
{
    return QStringLiteral("cannot open the settings store %1 (%2); running on defaults, changes will not be kept")
        .arg(path, error);
}

} // namespace

UserDefaults::UserDefaults(const QString& path, QObject* parent)
    : QObject(parent), m_path(path), m_queue(std::make_unique<DefaultsWriteQueue>())
{
    if (!path.isEmpty())
        openFile();
}

UserDefaults::~UserDefaults()
{
    close();
}

QString UserDefaults::standardPath()
{
    return UserDirectories::configDirectory() + QStringLiteral("/defaults.sqlite3");
}

UserDefaults& UserDefaults::standard()
{
    static const std::unique_ptr<UserDefaults> instance = [] {
        auto defaults = std::make_unique<UserDefaults>(standardPath());
        if (defaults->isWaitingForFile())
            Console::printError(QStringLiteral("the settings store %1 is locked by another program (%2); changes "
                                               "are kept and saved once it is free")
                                    .arg(defaults->path(), defaults->openError()));
        else if (!defaults->isPersistent())
            Console::printError(unusableMessage(defaults->path(), defaults->openError()));
        // The application object goes after the delegate and its photo writer, so every
        // write has been handed over by then; the destructor covers a program without one.
        if (QCoreApplication::instance())
            qAddPostRoutine([] { standard().close(); });
        return defaults;
    }();
    return *instance;
}

void UserDefaults::openFile()
{
    QString error;
    m_nativePath = DefaultsDatabase::nativePath(m_path, &error);
    if (m_nativePath.isEmpty()) {
        m_openError = error;
        return;
    }
    DefaultsDatabase::Outcome outcome;
    sqlite3* writer = nullptr;
    const QDeadlineTimer deadline(kOpenWaitMs);
    for (;;) {
        writer = DefaultsDatabase::openWriter(m_nativePath, &outcome);
        if (writer || outcome.status != DefaultsDatabase::Status::Busy || deadline.hasExpired())
            break;
        QThread::msleep(kOpenRetryDelayMs);
    }
    if (writer && !connectReaders(&error)) {
        sqlite3_close_v2(writer);
        m_openError = error;
        return;
    }
    if (!writer && outcome.status != DefaultsDatabase::Status::Busy) {
        m_openError = outcome.error;
        return;
    }
    m_state = writer ? State::File : State::WaitingForFile;
    m_openError = writer ? QString() : outcome.error;
    m_queue->start(
        m_path, m_nativePath, writer, [this](const QString& error) { return fileOpenedLate(error); },
        [this](const QHash<QString, qint64>& revisions) {
            for (auto it = revisions.cbegin(); it != revisions.cend(); ++it)
                emit landed(it.key(), it.value());
        });
}

bool UserDefaults::connectReaders(QString* error)
{
    DefaultsDatabase::Outcome outcome;
    std::shared_ptr<DefaultsDatabase> owner =
        DefaultsDatabase::connect(m_nativePath, kOwnerReadBusyTimeoutMs, &outcome);
    std::shared_ptr<DefaultsDatabase> other =
        owner ? DefaultsDatabase::connect(m_nativePath, kOtherReadBusyTimeoutMs, &outcome) : nullptr;
    if (!other) {
        *error = outcome.error;
        return false;
    }
    QMutexLocker lock(&m_stateMutex);
    m_ownerReader = std::move(owner);
    m_otherReader = std::move(other);
    return true;
}

// On the queue's thread, once the file that was locked at the start has opened or failed.
bool UserDefaults::fileOpenedLate(const QString& openError)
{
    QString error = openError;
    const bool opened = error.isEmpty() && connectReaders(&error);
    {
        QMutexLocker lock(&m_stateMutex);
        m_state = opened ? State::File : State::Memory;
        m_openError = error;
    }
    if (!opened) {
        Console::printError(unusableMessage(m_path, error));
        return false;
    }
    // Readers have shown defaults so far; what the file holds now reaches them.
    for (const QString& key : reader()->keys())
        emit valueChanged(key);
    return true;
}

bool UserDefaults::isPersistent() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_state == State::File;
}

bool UserDefaults::isWaitingForFile() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_state == State::WaitingForFile;
}

QString UserDefaults::openError() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_openError;
}

std::shared_ptr<DefaultsDatabase> UserDefaults::reader() const
{
    QMutexLocker lock(&m_stateMutex);
    return QThread::currentThread() == thread() ? m_ownerReader : m_otherReader;
}

std::optional<QVariant> UserDefaults::value(QAnyStringView key, int kind) const
{
    const QString name = key.toString();
    std::optional<DefaultsDatabase::Value> found;
    if (const auto held = m_queue->held(name))
        found = held->value;
    else if (const auto connection = reader())
        found = connection->read(name);
    if (!found || int(found->kind) != kind)
        return std::nullopt;
    return found->value;
}

qint64 UserDefaults::revisionForKey(QAnyStringView key) const
{
    const QString name = key.toString();
    if (const auto held = m_queue->held(name))
        return held->revision;
    const auto connection = reader();
    const qint64 revision = connection ? connection->revision(name).value_or(0) : 0;
    return revision ? m_queue->revisionSeenAs(name, revision) : 0;
}

quint64 UserDefaults::landingGeneration() const
{
    return m_queue->landingGeneration();
}

std::optional<bool> UserDefaults::boolForKey(QAnyStringView key) const
{
    const auto found = value(key, int(Kind::Boolean));
    return found ? std::optional<bool>(found->toLongLong() != 0) : std::nullopt;
}

std::optional<qint64> UserDefaults::integerForKey(QAnyStringView key) const
{
    const auto found = value(key, int(Kind::Integer));
    return found ? std::optional<qint64>(found->toLongLong()) : std::nullopt;
}

std::optional<QString> UserDefaults::stringForKey(QAnyStringView key) const
{
    const auto found = value(key, int(Kind::String));
    return found ? std::optional<QString>(found->toString()) : std::nullopt;
}

std::optional<QByteArray> UserDefaults::dataForKey(QAnyStringView key) const
{
    const auto found = value(key, int(Kind::Data));
    return found ? std::optional<QByteArray>(found->toByteArray()) : std::nullopt;
}

void UserDefaults::set(QAnyStringView key, int kind, const QVariant& value)
{
    const QString name = key.toString();
    m_queue->put(name, DefaultsDatabase::Value{Kind(kind), value});
    emit valueChanged(name);
}

void UserDefaults::setBool(QAnyStringView key, bool value)
{
    set(key, int(Kind::Boolean), QVariant(qint64(value ? 1 : 0)));
}

void UserDefaults::setInteger(QAnyStringView key, qint64 value)
{
    set(key, int(Kind::Integer), QVariant(value));
}

void UserDefaults::setString(QAnyStringView key, const QString& value)
{
    set(key, int(Kind::String), QVariant(value));
}

void UserDefaults::setData(QAnyStringView key, const QByteArray& value)
{
    set(key, int(Kind::Data), QVariant(value));
}

bool UserDefaults::waitUntilSaved(std::chrono::milliseconds timeout)
{
    return m_queue->waitUntilLanded(QDeadlineTimer(timeout.count()));
}

void UserDefaults::checkpoint()
{
    m_queue->requestCheckpoint();
}

void UserDefaults::close()
{
    m_queue->stop(QDeadlineTimer(kCloseTimeout.count()));
    QMutexLocker lock(&m_stateMutex);
    // The last connection to go removes the emptied log and its index.
    m_ownerReader.reset();
    m_otherReader.reset();
}
