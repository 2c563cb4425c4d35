#include "platform/files/UserDirectories.h"

#include "platform/files/PrivateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMutex>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace UserDirectories {
namespace {

const QString kFolderName = QStringLiteral("portraitperch");

QString xdgDirectory(const char* variable, const QString& fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    // The XDG rules say relative paths are invalid and must be ignored.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1Char('/') + fallbackBelowHome;
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Where the config folder keeps the name of the folder that stands in for <tmp>/portraitperch-<uid>.
const QString kReplacementRecord = QStringLiteral("temporary-folder");

QString sharedTemporaryDirectory()
{
    return QDir::tempPath() + QStringLiteral("/%1-%2").arg(kFolderName).arg(::getuid());
}

// A folder that this user made with mkdtemp to stand in for the shared one: named after it,
// directly under <tmp>, a real folder of this user that nobody else can enter. Anything else
// in the record (an edited record, a folder since replaced by someone else's) is not used.
bool isOwnReplacement(const QString& path)
{
    const QString prefix = sharedTemporaryDirectory() + QLatin1Char('-');
    if (!path.startsWith(prefix) || path.size() == prefix.size() || path.indexOf(QLatin1Char('/'), prefix.size()) >= 0)
        return false;
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

std::optional<QString> recordedReplacement()
{
    const auto bytes = PrivateFile::read(configDirectory() + QLatin1Char('/') + kReplacementRecord);
    if (!bytes)
        return std::nullopt;
    const QString path = QString::fromUtf8(bytes->trimmed());
    return isOwnReplacement(path) ? std::optional(path) : std::nullopt;
}

// The folder that stands in for the shared one, made and recorded the first time it is needed.
// A lock in the config folder makes starts at the same moment agree on one folder. When the
// record cannot be kept (a read-only home), the folder made is kept for this process only, so
// that it is not made anew at every use.
std::optional<QString> replacementDirectory(QString* error)
{
    static QMutex unrecordedMutex;
    static QString unrecorded;
    {
        QMutexLocker locker(&unrecordedMutex);
        if (!unrecorded.isEmpty() && isOwnReplacement(unrecorded))
            return unrecorded;
    }
    if (const auto recorded = recordedReplacement())
        return recorded;

    QString recordError;
    std::unique_ptr<QLockFile> lock;
    if (makePrivateDirectory(configDirectory(), &recordError)) {
        lock = std::make_unique<QLockFile>(configDirectory() + QLatin1Char('/') + kReplacementRecord +
                                           QStringLiteral(".lock"));
        if (lock->lock()) {
            if (const auto recorded = recordedReplacement())
                return recorded; // made by a start that held the lock before us
        } else {
            recordError = QStringLiteral("cannot lock %1").arg(lock->fileName());
            lock.reset();
        }
    }

    QByteArray name = QFile::encodeName(sharedTemporaryDirectory() + QStringLiteral("-XXXXXX"));
    if (::mkdtemp(name.data()) == nullptr) {
        *error = QStringLiteral("cannot create a private temporary folder in %1: %2")
                     .arg(QDir::tempPath(), systemError(errno));
        return std::nullopt;
    }
    const QString made = QFile::decodeName(name);
    PrivateFile::Error writeError;
    if (lock && PrivateFile::writeAtomically(configDirectory(), kReplacementRecord, name + '\n', &writeError))
        return made;
    *error = QStringLiteral("cannot remember %1 in %2 (%3)")
                 .arg(made, configDirectory(), lock ? writeError.description() : recordError);
    QMutexLocker locker(&unrecordedMutex);
    unrecorded = made;
    return made;
}

struct TemporaryFolder
{
    QString path;
    QStringList reasons; // why the usual folder is not used
    bool usable = true;  // false when no folder could be found for this user
};

TemporaryFolder resolveTemporaryDirectory()
{
    TemporaryFolder folder;
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        if (const auto problem = runtimeDirectoryProblem())
            folder.reasons << *problem;
        else
            return {qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + kFolderName, {}};
    }
    // Made here rather than by the first user, so that a folder planted between this check and
    // its use is met by that use's own check, not taken for ours.
    folder.path = sharedTemporaryDirectory();
    QString refusal;
    if (makePrivateDirectory(folder.path, &refusal))
        return folder;
    folder.reasons << refusal;
    QString error;
    const auto replacement = replacementDirectory(&error);
    if (replacement)
        folder.path = *replacement;
    folder.usable = replacement.has_value();
    if (!error.isEmpty())
        folder.reasons << error;
    return folder;
}

} // namespace

QString configDirectory()
{
    return xdgDirectory("XDG_CONFIG_HOME", QStringLiteral(".config")) + QLatin1Char('/') + kFolderName;
}

QString dataDirectory()
{
    return xdgDirectory("XDG_DATA_HOME", QStringLiteral(".local/share")) + QLatin1Char('/') + kFolderName;
}

QString autostartDirectory()
{
    return xdgDirectory("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/autostart");
}

QString userUnitDirectory()
{
    return xdgDirectory("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/systemd/user");
}

std::optional<QString> runtimeDirectoryProblem()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return std::nullopt;
    if (!QDir::isAbsolutePath(runtime))
        return QStringLiteral("XDG_RUNTIME_DIR (%1) is not an absolute path").arg(runtime);
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(runtime).constData(), &st) != 0)
        return QStringLiteral("XDG_RUNTIME_DIR (%1): %2").arg(runtime, systemError(errno));
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
        return QStringLiteral("XDG_RUNTIME_DIR (%1) is not a folder but a link or a file").arg(runtime);
    if (st.st_uid != ::getuid())
        return QStringLiteral("XDG_RUNTIME_DIR (%1) belongs to another user").arg(runtime);
    return std::nullopt;
}

QString temporaryDirectory()
{
    return resolveTemporaryDirectory().path;
}

std::optional<QString> temporaryDirectoryNotice()
{
    const TemporaryFolder folder = resolveTemporaryDirectory();
    if (folder.reasons.isEmpty())
        return std::nullopt;
    return folder.reasons.join(QStringLiteral("; ")) + (folder.usable
                                                            ? QStringLiteral("; using %1 instead").arg(folder.path)
                                                            : QStringLiteral("; there is no private temporary folder"));
}

bool makePrivateDirectory(const QString& path, QString* error)
{
    const QByteArray native = QFile::encodeName(path);
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !QDir(parent).exists() && !QDir().mkpath(parent)) {
        *error = QStringLiteral("cannot create %1").arg(parent);
        return false;
    }
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot create %1: %2").arg(path, systemError(errno));
        return false;
    }
    struct stat st
    {
    };
    if (::lstat(native.constData(), &st) != 0) {
        *error = QStringLiteral("cannot inspect %1: %2").arg(path, systemError(errno));
        return false;
    }
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
        *error = QStringLiteral("%1 is not a folder (a link or another kind of file)").arg(path);
        return false;
    }
    if (st.st_uid != ::getuid()) {
        *error = QStringLiteral("%1 belongs to another user").arg(path);
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0) {
        *error = QStringLiteral("cannot make %1 private: %2").arg(path, systemError(errno));
        return false;
    }
    return true;
}

std::optional<QString> followOwnLink(const QString& path, QString* error)
{
    struct stat link
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &link) != 0 || !S_ISLNK(link.st_mode))
        return path;
    const QString target = QFileInfo(path).canonicalFilePath();
    struct stat folder
    {
    };
    if (target.isEmpty() || ::stat(QFile::encodeName(target).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        *error = QStringLiteral("%1 is a link that leads to no folder").arg(path);
        return std::nullopt;
    }
    if (link.st_uid != ::getuid() || folder.st_uid != ::getuid()) {
        *error = QStringLiteral("%1 is a link of or to another user, which is not followed").arg(path);
        return std::nullopt;
    }
    return target;
}

} // namespace UserDirectories
