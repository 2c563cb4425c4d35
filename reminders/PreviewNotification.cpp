#include "reminders/PreviewNotification.h"

#include "preferences/PreferenceKeys.h"
#include "reminders/ReminderAttachment.h"

#include <QUuid>

namespace Reminders {

void sendPreviewNotification(UserNotificationCenter& center, const UserDefaults& store)
{
    const NotificationContent content = makePhotoNotificationContent(QStringLiteral("Preview Notification"), store);

    const QString identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    center.add(NotificationRequest{identifier, content, std::nullopt});
}

} // namespace Reminders
