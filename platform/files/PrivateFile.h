#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Files that the program keeps for itself in its private folders: written whole or not at
// all, readable only by the user, and never through a link planted at their path.
namespace PrivateFile {

// A failed file operation, with what a user needs to act on it.
struct Error
{
    QString domain; // "POSIX" for a system call (code = errno), else the program's own check
    int code = 0;
    QString path;
    QString message;

    // One line: the domain, the code, the system's message and the path.
    QString description() const;
};

// What tells one version of a file from another without reading it.
struct Identity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    bool operator==(const Identity&) const = default;
};

// The identity of the regular file at `path` itself (a link there is not followed), or none.
std::optional<Identity> identityOf(const QString& path);

// Replaces `folder`/`name` with `bytes`, mode 0600: the bytes go to a fresh file in the same
// folder which is then renamed over the name, so a reader sees the old file or the new one,
// and a link at the name is replaced, never followed. On success, the new file's identity.
std::optional<Identity> writeAtomically(const QString& folder, const QString& name, const QByteArray& bytes,
                                        Error* error);

// The bytes of the regular file at `path` (not through a link), or none.
std::optional<QByteArray> read(const QString& path, Identity* identity = nullptr);

} // namespace PrivateFile
