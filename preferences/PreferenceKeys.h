#pragma once

#include "preferences/UserDefaults.h"

#include <QLatin1StringView>
#include <QString>

// A persisted value: its key in the defaults database and the value that readers use
// while the key is absent. Each key is declared once, here, with its default beside it.
template <typename T> struct Preference
{
    QLatin1StringView key;
    T defaultValue;
};

namespace PreferenceKeys {

// The photo, as PNG bytes. No default: absent until the user picks a photo.
inline constexpr QLatin1StringView SavedImageData{"SavedImageData"};

inline const Preference<QString> popoverTitle{QLatin1StringView("popoverTitle"), QStringLiteral("Your MenuBar Photo")};
inline constexpr Preference<bool> notificationsEnabled{QLatin1StringView("notificationsEnabled"), true};
inline constexpr Preference<qint64> notificationHour{QLatin1StringView("notificationHour"), 9};
inline constexpr Preference<qint64> notificationMinute{QLatin1StringView("notificationMinute"), 0};
inline const Preference<QString> notificationMessage{
    QLatin1StringView("notificationMessage"), QStringLiteral("Here\u2019s a daily note from your PortraitPerch.")};

} // namespace PreferenceKeys

// Reads a preference afresh from the store; an absent key (or a value of another kind)
// gives the declared default. A write is seen by every reader at once and lands in the
// store's file shortly after.
namespace Preferences {

bool read(const Preference<bool>& preference, const UserDefaults& store = UserDefaults::standard());
qint64 read(const Preference<qint64>& preference, const UserDefaults& store = UserDefaults::standard());
QString read(const Preference<QString>& preference, const UserDefaults& store = UserDefaults::standard());

void write(const Preference<bool>& preference, bool value, UserDefaults& store = UserDefaults::standard());
void write(const Preference<qint64>& preference, qint64 value, UserDefaults& store = UserDefaults::standard());
void write(const Preference<QString>& preference, const QString& value, UserDefaults& store = UserDefaults::standard());

} // namespace Preferences
