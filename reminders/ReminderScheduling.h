#pragma once

#include "platform/usernotifications/UserNotificationCenter.h"
#include "preferences/UserDefaults.h"

// The daily reminder: one repeating notification "dailyNotification", titled "Reminder",
// with the stored message and the saved photo, every day at the stored hour and minute.
namespace Reminders {

inline const QString kDailyReminderIdentifier = QStringLiteral("dailyNotification");

// Asks whether notifications can be shown; prints "Notifications allowed" once a
// notification server answers. Returns at once.
void requestNotificationAuthorization(UserNotificationCenter& center = UserNotificationCenter::current());

// Withdraws every pending request and, while reminders are on, registers the daily reminder
// anew from the stored settings. Called whenever the time, the message or the switch changes.
void scheduleDailyReminder(UserNotificationCenter& center = UserNotificationCenter::current(),
                           const UserDefaults& store = UserDefaults::standard());

// At launch: schedules the daily reminder when the settings say that reminders are on but
// none is pending (a fresh installation has them on before anything was scheduled), and
// withdraws one that is pending while they are off (a switch that never reached the store).
void scheduleDailyReminderIfMissing(UserNotificationCenter& center = UserNotificationCenter::current(),
                                    const UserDefaults& store = UserDefaults::standard());

} // namespace Reminders
