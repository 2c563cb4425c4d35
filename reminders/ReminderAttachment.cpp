#include "reminders/ReminderAttachment.h"

#include "platform/base/Console.h"
#include "platform/files/PrivateFile.h"
#include "platform/files/UserDirectories.h"
#include "platform/image/ImageDecoder.h"
#include "platform/image/PngEncoder.h"
#include "preferences/PreferenceKeys.h"

#include <utility>

namespace Reminders {
namespace {

// Which photo the attachment file holds, as last written by this process. Trusted only
// while the file is still the one written (same identity), so a file replaced or removed
// behind our back is written again.
struct WrittenFile
{
    QString storePath;
    qint64 revision = 0;
    QString path;
    PrivateFile::Identity identity;
    bool matches(const UserDefaults& store, qint64 currentRevision, const QString& currentPath) const
    {
        return storePath == store.path() && revision == currentRevision && path == currentPath &&
               PrivateFile::identityOf(path) == identity;
    }
};

std::optional<WrittenFile>& lastWritten()
{
    static std::optional<WrittenFile> file;
    return file;
}

// The stored photo last found to be no usable image, so that it is not decoded again at
// every keystroke of the message.
std::optional<std::pair<QString, qint64>>& lastUnusable()
{
    static std::optional<std::pair<QString, qint64>> revision;
    return revision;
}

QString attachmentPath()
{
    return UserDirectories::temporaryDirectory() + QLatin1Char('/') + kAttachmentFileName;
}

const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);

void reportFailure(const PrivateFile::Error& error)
{
    Console::printLine(attachmentFailureLine(error.description()));
}

// Writes the attachment file and attaches it; the identity of the written file, or none.
std::optional<PrivateFile::Identity> writeAttachmentFile(const QByteArray& png)
{
    const QString folder = UserDirectories::temporaryDirectory();
    QString refusal;
    if (!UserDirectories::makePrivateDirectory(folder, &refusal)) {
        reportFailure({QStringLiteral("PrivateFolder"), 1, folder, refusal});
        return std::nullopt;
    }
    PrivateFile::Error error;
    const auto written = PrivateFile::writeAtomically(folder, kAttachmentFileName, png, &error);
    if (!written) {
        reportFailure(error);
        return std::nullopt;
    }
    return written;
}

NotificationAttachment attachmentFor(const QString& path)
{
    return NotificationAttachment{kAttachmentIdentifier, QUrl::fromLocalFile(path)};
}

} // namespace

std::optional<SavedPhoto> loadSavedPhoto(const UserDefaults& store)
{
    const auto data = store.dataForKey(PreferenceKeys::SavedImageData);
    if (!data)
        return std::nullopt;
    SavedPhoto photo{ImageDecoder::decode(*data), QByteArray()};
    if (photo.image.isNull())
        return std::nullopt;
    if (data->startsWith(kPngSignature))
        photo.png = *data;
    return photo;
}

std::optional<NotificationAttachment> makeReminderAttachment(const SavedPhoto& photo)
{
    lastWritten().reset(); // whatever the file held, it is about to change
    const QByteArray png = photo.png.isEmpty() ? PngEncoder::encode(photo.image) : photo.png;
    if (png.isEmpty())
        return std::nullopt;
    const auto written = writeAttachmentFile(png);
    if (!written)
        return std::nullopt;
    lastWritten() = WrittenFile{QString(), 0, attachmentPath(), *written};
    return attachmentFor(attachmentPath());
}

std::optional<NotificationAttachment> attachSavedPhoto(const UserDefaults& store)
{
    const qint64 revision = store.revisionForKey(PreferenceKeys::SavedImageData);
    const QString path = attachmentPath();
    if (revision == 0 || lastUnusable() == std::pair(store.path(), revision))
        return std::nullopt;
    if (lastWritten() && lastWritten()->matches(store, revision, path))
        return attachmentFor(path);
    const auto photo = loadSavedPhoto(store);
    if (!photo) {
        lastUnusable() = std::pair(store.path(), revision);
        return std::nullopt;
    }
    const auto attachment = makeReminderAttachment(*photo);
    if (attachment) {
        lastWritten()->storePath = store.path();
        lastWritten()->revision = revision;
    }
    return attachment;
}

NotificationContent makePhotoNotificationContent(const QString& title, const UserDefaults& store)
{
    NotificationContent content;
    content.title = title;
    content.body = Preferences::read(PreferenceKeys::notificationMessage, store);
    content.playsDefaultSound = true;
    if (const auto attachment = attachSavedPhoto(store))
        content.attachments = {*attachment};
    return content;
}

} // namespace Reminders
