#pragma once

#include "platform/usernotifications/NotificationRequest.h"
#include "preferences/UserDefaults.h"

#include <QImage>

#include <optional>

// The saved photo as the picture of a notification: the file "notifImage.png" in the
// private temporary folder, attached under the identifier "notifImage".
namespace Reminders {

inline const QString kAttachmentIdentifier = QStringLiteral("notifImage");
inline const QString kAttachmentFileName = QStringLiteral("notifImage.png");

// The saved photo, decoded, with its stored bytes when those are a PNG file already (they
// can then be attached as they stand).
struct SavedPhoto
{
    QImage image;
    QByteArray png;
};

// The photo stored under SavedImageData, decoded; none when absent or not an image.
std::optional<SavedPhoto> loadSavedPhoto(const UserDefaults& store = UserDefaults::standard());

// Writes the photo as PNG to the attachment file and attaches that file. A failure to write
// or attach prints "Could not save or attach image: " and the error, and gives none.
std::optional<NotificationAttachment> makeReminderAttachment(const SavedPhoto& photo);

// loadSavedPhoto followed by makeReminderAttachment, as every notification does it, but only
// once per stored photo: while the attachment file still holds the current revision of
// SavedImageData it is attached as it is, without reading the store's bytes.
std::optional<NotificationAttachment> attachSavedPhoto(const UserDefaults& store = UserDefaults::standard());

// The content every notification of the program carries: the title, the stored message,
// the default sound and, when it can be made, the saved photo.
NotificationContent makePhotoNotificationContent(const QString& title,
                                                 const UserDefaults& store = UserDefaults::standard());

} // namespace Reminders
