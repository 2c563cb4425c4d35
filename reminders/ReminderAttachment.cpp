#include "reminders/ReminderAttachment.h"

#include "platform/Console.h"
#include "platform/ImageDecoder.h"
#include "platform/PngEncoder.h"
#include "platform/PrivateFile.h"
#include "platform/UserDirectories.h"
#include "preferences/PreferenceKeys.h"

#include <QBuffer>
#include <QImageReader>

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

QString attachmentPath()
{
    return UserDirectories::temporaryDirectory() + QLatin1Char('/') + kAttachmentFileName;
}

// A complete-looking PNG whose header a decoder accepts: usable as the attachment as it is.
bool isReadablePng(const QByteArray& data)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!data.startsWith(signature))
        return false;
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    return reader.canRead() && reader.size().isValid() && !reader.size().isEmpty();
}

void reportFailure(const PrivateFile::Error& error)
{
    Console::printLine(QStringLiteral("Could not save or attach image: ") + error.description());
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

std::optional<QImage> loadSavedPhoto(const UserDefaults& store)
{
    const auto data = store.dataForKey(PreferenceKeys::SavedImageData);
    if (!data)
        return std::nullopt;
    QImage image = ImageDecoder::decode(*data);
    if (image.isNull())
        return std::nullopt;
    return image;
}

std::optional<NotificationAttachment> makeReminderAttachment(const QImage& image)
{
    const QByteArray png = PngEncoder::encode(image);
    if (png.isEmpty())
        return std::nullopt;
    if (!writeAttachmentFile(png))
        return std::nullopt;
    lastWritten().reset(); // the file no longer holds a stored revision
    return attachmentFor(attachmentPath());
}

std::optional<NotificationAttachment> attachSavedPhoto(const UserDefaults& store)
{
    const qint64 revision = store.revisionForKey(PreferenceKeys::SavedImageData);
    if (revision == 0)
        return std::nullopt;
    const QString path = attachmentPath();
    if (lastWritten() && lastWritten()->matches(store, revision, path))
        return attachmentFor(path);

    const auto data = store.dataForKey(PreferenceKeys::SavedImageData);
    if (!data)
        return std::nullopt;
    QByteArray png;
    if (isReadablePng(*data)) {
        png = *data;
    } else {
        const auto photo = loadSavedPhoto(store);
        if (!photo)
            return std::nullopt;
        png = PngEncoder::encode(*photo);
        if (png.isEmpty())
            return std::nullopt;
    }
    const auto written = writeAttachmentFile(png);
    if (!written) {
        lastWritten().reset();
        return std::nullopt;
    }
    lastWritten() = WrittenFile{store.path(), revision, path, *written};
    return attachmentFor(path);
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
