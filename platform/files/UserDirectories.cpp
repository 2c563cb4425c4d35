#include "platform/files/UserDirectories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
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
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && !runtimeDirectoryProblem())
        return runtime + QLatin1Char('/') + kFolderName;
    return QDir::tempPath() + QStringLiteral("/%1-%2").arg(kFolderName).arg(::getuid());
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

} // namespace UserDirectories
