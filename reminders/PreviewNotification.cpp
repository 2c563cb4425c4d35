#include "reminders/PreviewNotification.h"

#include "preferences/PreferenceKeys.h"
#include "reminders/ReminderAttachment.h"

#include <QUuid>

namespace Reminders {

void sendPreviewNotification(UserNotificationCenter& center, const UserDefaults& store)
{
    NotificationContent content;
    content.title = QStringLiteral("Preview Notification");
    content.body = Preferences::read(PreferenceKeys::notificationMessage, store);
    content.playsDefaultSound = true;
    if (const auto attachment = attachSavedPhoto(store))
        content.attachments = {*attachment};

    const QString identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    center.add(NotificationRequest{identifier, content, std::nullopt});
}

} // namespace Reminders
