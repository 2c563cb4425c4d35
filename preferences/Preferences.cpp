#include "preferences/PreferenceKeys.h"

namespace Preferences {

bool read(const Preference<bool>& preference, const UserDefaults& store)
{
    return store.boolForKey(preference.key).value_or(preference.defaultValue);
}

qint64 read(const Preference<qint64>& preference, const UserDefaults& store)
{
    return store.integerForKey(preference.key).value_or(preference.defaultValue);
}

QString read(const Preference<QString>& preference, const UserDefaults& store)
{
    return store.stringForKey(preference.key).value_or(preference.defaultValue);
}

void write(const Preference<bool>& preference, bool value, UserDefaults& store)
{
    store.setBool(preference.key, value);
}

void write(const Preference<qint64>& preference, qint64 value, UserDefaults& store)
{
    store.setInteger(preference.key, value);
}

void write(const Preference<QString>& preference, const QString& value, UserDefaults& store)
{
    store.setString(preference.key, value);
}

} // namespace Preferences
