#include "reminders/ReminderScheduling.h"

#include "platform/base/Console.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/ReminderAttachment.h"

#include <QCoreApplication>

#include <algorithm>

namespace Reminders {

void requestNotificationAuthorization(UserNotificationCenter& center)
{
    center.requestAuthorization([](bool granted) {
        if (granted)
            Console::printLine(QStringLiteral("Notifications allowed"));
    });
}

void scheduleDailyReminder(UserNotificationCenter& center, const UserDefaults& store)
{
    // First, and on every call: switching reminders off must leave nothing pending.
    center.removeAllPendingNotificationRequests();
    if (!Preferences::read(PreferenceKeys::notificationsEnabled, store))
        return;

    //: Title of the daily reminder notification
    const QString title = QCoreApplication::translate("Reminders", "Reminder");
    const NotificationContent content = makePhotoNotificationContent(title, store);

    // Passed as stored: the center never fires a trigger whose components are out of range.
    const CalendarTrigger trigger{Preferences::read(PreferenceKeys::notificationHour, store),
                                  Preferences::read(PreferenceKeys::notificationMinute, store), true};
    center.add(NotificationRequest{kDailyReminderIdentifier, content, trigger});
}

void scheduleDailyReminderIfMissing(UserNotificationCenter& center, const UserDefaults& store)
{
    const auto pending = center.pendingNotificationRequests();
    const bool scheduled = std::any_of(pending.begin(), pending.end(), [](const NotificationRequest& request) {
        return request.identifier == kDailyReminderIdentifier;
    });
    if (scheduled != Preferences::read(PreferenceKeys::notificationsEnabled, store))
        scheduleDailyReminder(center, store);
}

} // namespace Reminders
