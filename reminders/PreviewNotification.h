#pragma once

#include "platform/usernotifications/UserNotificationCenter.h"
#include "preferences/UserDefaults.h"

namespace Reminders {

// Shows, at once, a notification like the daily reminder but titled "Preview Notification",
// under a fresh identifier. The pending daily reminder is left as it is.
void sendPreviewNotification(UserNotificationCenter& center = UserNotificationCenter::current(),
                             const UserDefaults& store = UserDefaults::standard());

} // namespace Reminders
