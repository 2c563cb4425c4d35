#include "reminders/PreviewNotification.h"

#include "preferences/PreferenceKeys.h"
#include "reminders/ReminderAttachment.h"

#include <QCoreApplication>
#include <QUuid>

namespace Reminders {

void sendPreviewNotification(UserNotificationCenter& center, const UserDefaults& store)
{
    //: Title of the notification that the settings send at once, to show how the reminder looks
    const QString title = QCoreApplication::translate("Reminders", "Preview Notification");
    const NotificationContent content = makePhotoNotificationContent(title, store);

    const QString identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    center.add(NotificationRequest{identifier, content, std::nullopt});
}

} // namespace Reminders
