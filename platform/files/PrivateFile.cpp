#include "platform/files/PrivateFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFile {
namespace {

Error posixError(int code, const QString& path)
{
    return Error{QStringLiteral("POSIX"), code, path, QString::fromLocal8Bit(std::strerror(code))};
}

Identity identityFrom(const struct stat& st)
{
    return Identity{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                    qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Closes a descriptor on every way out.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

QString Error::description() const
{
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\" Path=%4").arg(domain).arg(code).arg(message, path);
}

std::optional<Identity> identityOf(const QString& path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return identityFrom(st);
}

std::optional<Identity> writeAtomically(const QString& folder, const QString& name, const QByteArray& bytes,
                                        Error* error)
{
    const QString target = folder + QLatin1Char('/') + name;
    Descriptor dir{::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (dir.fd < 0) {
        *error = posixError(errno, folder);
        return std::nullopt;
    }
    // O_TMPFILE would need a link step that cannot replace an existing name; a unique
    // hidden name created with O_EXCL is as safe and works on every file system.
    QByteArray scratch;
    Descriptor file;
    for (int attempt = 0; attempt < 100 && file.fd < 0; ++attempt) {
        scratch = QFile::encodeName(QStringLiteral(".%1.%2-%3").arg(name).arg(::getpid()).arg(::random()));
        file.fd = ::openat(dir.fd, scratch.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file.fd < 0 && errno != EEXIST)
            break;
    }
    if (file.fd < 0) {
        *error = posixError(errno, folder + QLatin1Char('/') + QFile::decodeName(scratch));
        return std::nullopt;
    }
    struct stat st
    {
    };
    if (!writeAll(file.fd, bytes) || ::fstat(file.fd, &st) != 0) {
        *error = posixError(errno, target);
        ::unlinkat(dir.fd, scratch.constData(), 0);
        return std::nullopt;
    }
    if (::renameat(dir.fd, scratch.constData(), dir.fd, QFile::encodeName(name).constData()) != 0) {
        *error = posixError(errno, target);
        ::unlinkat(dir.fd, scratch.constData(), 0);
        return std::nullopt;
    }
    return identityFrom(st);
}

std::optional<QByteArray> read(const QString& path, Identity* identity)
{
    Descriptor file{::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
    struct stat st
    {
    };
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.fd, bytes.data() + done, size_t(bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        done += got;
    }
    if (identity)
        *identity = identityFrom(st);
    return bytes;
}

} // namespace PrivateFile
