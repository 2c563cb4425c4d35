// Opens the defaults database from arbitrary file bytes: the store must either open it
// and read every key, or fall back to memory, and never crash, hang or leak.
#include "preferences/PreferenceKeys.h"
#include "preferences/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("defaults.sqlite3"));
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }

    UserDefaults store(path);
    const bool persistent = store.isPersistent();
    (void)Preferences::read(PreferenceKeys::popoverTitle, store);
    (void)Preferences::read(PreferenceKeys::notificationsEnabled, store);
    (void)Preferences::read(PreferenceKeys::notificationHour, store);
    (void)Preferences::read(PreferenceKeys::notificationMinute, store);
    (void)Preferences::read(PreferenceKeys::notificationMessage, store);
    (void)store.dataForKey(PreferenceKeys::SavedImageData);
    (void)store.revisionForKey(PreferenceKeys::SavedImageData);
    store.setString(PreferenceKeys::popoverTitle.key, QStringLiteral("fuzz"));
    if (store.stringForKey(PreferenceKeys::popoverTitle.key) != QStringLiteral("fuzz"))
        __builtin_trap(); // a value set must read back at once
    if (persistent && store.waitUntilSaved(std::chrono::seconds(1))) {
        store.close();
        if (UserDefaults(path).stringForKey(PreferenceKeys::popoverTitle.key) != QStringLiteral("fuzz"))
            __builtin_trap(); // and once it has landed, it is in the file
    }
    return 0;
}
