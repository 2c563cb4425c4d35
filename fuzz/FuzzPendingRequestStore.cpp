// Starts a notification center on a store whose database holds arbitrary bytes, as a start
// after damage would: it lists, arms and delivers what it finds, then adds and withdraws a
// reminder with a picture. It must use the file or fall back to memory, and never crash,
// hang or leak.
#include "Fakes.h"
#include "platform/usernotifications/UserNotificationCenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "FuzzPendingRequestStore";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv); // the center's timers need an event loop
    static QTemporaryDir folder;
    static const QString picture = [] {
        const QString path = folder.filePath(QStringLiteral("picture.png"));
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        image.save(path, "PNG");
        return path;
    }();

    const QString storeFolder = folder.filePath(QStringLiteral("store"));
    QDir(storeFolder).removeRecursively();
    if (!QDir().mkpath(storeFolder) || !writeFile(storeFolder + QStringLiteral("/notifications.sqlite3"),
                                                  QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))))
        return 0;

    const QDateTime start(QDate(2025, 3, 1), QTime(7, 0), Qt::UTC);
    auto clock = std::make_unique<FakeWallClock>(start, QTimeZone("Europe/Berlin"));
    FakeWallClock* time = clock.get();
    UserNotificationCenter center(storeFolder, std::move(clock), std::make_unique<FakeNotificationServer>());
    (void)center.pendingNotificationRequests();
    time->runUntil(start.addDays(3));
    time->setClock(start.addDays(-30));
    time->sleepUntil(start.addDays(2));
    QCoreApplication::processEvents();

    NotificationContent content{QStringLiteral("Reminder"),
                                QStringLiteral("fuzz"),
                                true,
                                {NotificationAttachment{QStringLiteral("notifImage"), QUrl::fromLocalFile(picture)}}};
    center.add(NotificationRequest{QStringLiteral("dailyNotification"), content, CalendarTrigger{9, 0, true}});
    const auto pending = center.pendingNotificationRequests();
    // With a store of its own the center attaches its copy, without one the file itself.
    const bool added = std::any_of(pending.begin(), pending.end(), [&](const NotificationRequest& request) {
        return request.identifier == QLatin1String("dailyNotification") && request.content.attachments.size() == 1;
    });
    center.removeAllPendingNotificationRequests();
    QCoreApplication::processEvents();
    if (!added || !center.pendingNotificationRequests().isEmpty())
        __builtin_trap(); // the center must do what it is asked whatever it found
    return 0;
}
