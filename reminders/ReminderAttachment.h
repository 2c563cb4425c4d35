#pragma once

#include "platform/NotificationRequest.h"
#include "platform/UserDefaults.h"

#include <QImage>

#include <optional>

// The saved photo as the picture of a notification: the file "notifImage.png" in the
// private temporary folder, attached under the identifier "notifImage".
namespace Reminders {

inline const QString kAttachmentIdentifier = QStringLiteral("notifImage");
inline const QString kAttachmentFileName = QStringLiteral("notifImage.png");

// The photo stored under SavedImageData, decoded; none when absent or not an image.
std::optional<QImage> loadSavedPhoto(const UserDefaults& store = UserDefaults::standard());

// Writes `image` as PNG to the attachment file and attaches that file. A failure to write
// or attach prints "Could not save or attach image: " and the error, and gives none.
std::optional<NotificationAttachment> makeReminderAttachment(const QImage& image);

// loadSavedPhoto followed by makeReminderAttachment, as every notification does it, but
// without their cost where it buys nothing: stored bytes that already are a PNG are written
// as they stand, and a file that already holds the current photo is attached as it is.
std::optional<NotificationAttachment> attachSavedPhoto(const UserDefaults& store = UserDefaults::standard());

// The content every notification of the program carries: the title, the stored message,
// the default sound and, when it can be made, the saved photo.
NotificationContent makePhotoNotificationContent(const QString& title,
                                                 const UserDefaults& store = UserDefaults::standard());

} // namespace Reminders
