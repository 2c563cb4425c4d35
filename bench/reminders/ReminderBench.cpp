// Prints "name value unit" lines for the cost of rescheduling the daily reminder while the
// user types, with a 4000 × 4000 photo saved. Never fails on speed. With the argument
// "timer", run where the user's service manager runs: the cost of a time change until the
// timer stands, and the delay from a fire instant to the Notify of the timer's delivery run.
#include "app/DeliveryRun.h"
#include "platform/files/PrivateFile.h"
#include "platform/files/UserDirectories.h"
#include "platform/usernotifications/UserNotificationCenter.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/PreviewNotification.h"
#include "reminders/ReminderScheduling.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

void report(const char* name, double value, const char* unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

// Smooth colour fields with grain: compresses like a photo, unlike flat colour or pure noise.
QImage photoLike(int side, quint32 seed)
{
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < side; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const int grain = int(random.bounded(9)) - 4;
            row[x] = qRgb(std::clamp((x * 255 / side) + grain, 0, 255), std::clamp((y * 255 / side) + grain, 0, 255),
                          std::clamp(((x + y) * 127 / side) + grain, 0, 255));
        }
    }
    return image;
}

QByteArray qtPng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return png;
}

// The receiving end of the notifications, timing when each Notify arrives.
class TimingServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QElapsedTimer clock;
    qint64 arrivedNs = -1;
    qint64 arrivedAtMs = -1; // wall clock
    QDBusConnection* bus = nullptr;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("body-markup")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& spec)
    {
        vendor = version = spec = QStringLiteral("bench");
        return QStringLiteral("bench");
    }
    uint Notify(const QString&, uint, const QString&, const QString&, const QString&, const QStringList&,
                const QVariantMap&, int)
    {
        arrivedNs = clock.nsecsElapsed();
        arrivedAtMs = QDateTime::currentMSecsSinceEpoch();
        // Closed at once, so that a delivery run waiting for its notification ends.
        QMetaObject::invokeMethod(
            this,
            [this] {
                QDBusMessage closed = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                                 QStringLiteral("org.freedesktop.Notifications"),
                                                                 QStringLiteral("NotificationClosed"));
                closed << 1u << 1u;
                bus->send(closed);
            },
            Qt::QueuedConnection);
        return 1;
    }
};

void waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition() && waited.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

double syncedMs(UserNotificationCenter& center, QElapsedTimer& timer)
{
    bool done = false;
    center.syncTimer([&](bool) { done = true; });
    waitUntil([&] { return done; }, 30000);
    return ms(timer.nsecsElapsed());
}

int timerBench(UserDefaults& store, UserNotificationCenter& center, TimingServer& server)
{
    if (center.usesAlarm()) {
        std::fprintf(stderr, "no user service manager: the timer figures are left out\n");
        return 1;
    }
    // Each change of the time moves the fire instant: files, reload, restart.
    std::vector<double> changes;
    for (int i = 0; i < 7; ++i) {
        const QTime time = QTime::currentTime().addSecs(3 * 3600 + i * 60);
        Preferences::write(PreferenceKeys::notificationHour, time.hour(), store);
        Preferences::write(PreferenceKeys::notificationMinute, time.minute(), store);
        QElapsedTimer timer;
        timer.start();
        Reminders::scheduleDailyReminder();
        changes.push_back(syncedMs(center, timer));
    }
    report("reminders.timer_first_install", changes.front(), "ms");
    std::sort(changes.begin() + 1, changes.end());
    report("reminders.timer_time_change_median", changes[changes.size() / 2 + 1], "ms");

    // The next whole minute that leaves time to arm, as a timer run delivers it.
    QDateTime fire = QDateTime::currentDateTime().addSecs(75);
    fire.setTime(QTime(fire.time().hour(), fire.time().minute()));
    Preferences::write(PreferenceKeys::notificationHour, fire.time().hour(), store);
    Preferences::write(PreferenceKeys::notificationMinute, fire.time().minute(), store);
    Reminders::scheduleDailyReminder();
    QElapsedTimer timer;
    timer.start();
    syncedMs(center, timer);
    server.arrivedAtMs = -1;
    waitUntil([&] { return server.arrivedAtMs >= 0; }, int(QDateTime::currentDateTime().msecsTo(fire)) + 60000);
    if (server.arrivedAtMs < 0) {
        std::fprintf(stderr, "the timer's delivery run never reached the server\n");
        return 1;
    }
    report("reminders.timer_fire_to_notify", double(server.arrivedAtMs - fire.toMSecsSinceEpoch()), "ms");
    Preferences::write(PreferenceKeys::notificationsEnabled, false, store);
    Reminders::scheduleDailyReminder();
    center.settle();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The timer's service runs this executable too.
    if (DeliveryRun::isRequested(argc, argv))
        return DeliveryRun::main(argc, argv, QStringLiteral("perchlight"), QStringLiteral("Perchlight"),
                                 QStringLiteral("io.github.perchlight.Perchlight"), {});
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Perchlight"));
    UserDefaults& store = UserDefaults::standard();
    UserNotificationCenter& center = UserNotificationCenter::current();

    TimingServer server;
    QDBusConnection serverBus =
        QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("bench-server"));
    server.bus = &serverBus;
    const bool haveBus = serverBus.isConnected() &&
                         serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                                  QDBusConnection::ExportAllSlots) &&
                         serverBus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    if (argc > 1 && qstrcmp(argv[1], "timer") == 0)
        return haveBus ? timerBench(store, center, server) : 1;

    const QImage photo = photoLike(4000, 1);
    store.setData(PreferenceKeys::SavedImageData, qtPng(photo));
    report("reminders.photo_png_size", double(store.dataForKey(PreferenceKeys::SavedImageData)->size()) / 1e6, "MB");
    // Due in twelve hours: armed for the whole run, never delivered by it.
    Preferences::write(PreferenceKeys::notificationHour, (QTime::currentTime().hour() + 12) % 24, store);

    QElapsedTimer timer;
    timer.start();
    Reminders::scheduleDailyReminder();
    report("reminders.schedule_first_after_photo_change", ms(timer.nsecsElapsed()), "ms");

    std::vector<double> keystrokes;
    QString message;
    for (int i = 0; i < 200; ++i) {
        message += QChar(u'a' + i % 26);
        Preferences::write(PreferenceKeys::notificationMessage, message, store);
        timer.restart();
        Reminders::scheduleDailyReminder();
        keystrokes.push_back(ms(timer.nsecsElapsed()));
        QCoreApplication::processEvents(); // the settings view returns to the event loop between keys
    }
    std::sort(keystrokes.begin(), keystrokes.end());
    report("reminders.schedule_per_keystroke_median", keystrokes[keystrokes.size() / 2], "ms");
    report("reminders.schedule_per_keystroke_p99", keystrokes[keystrokes.size() * 99 / 100], "ms");
    report("reminders.schedule_per_keystroke_max", keystrokes.back(), "ms");

    // A new photo that is not a PNG, as another decoder could have stored it: converted once.
    store.setData(PreferenceKeys::SavedImageData, [&] {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "jpeg").write(photoLike(4000, 2));
        return jpeg;
    }());
    timer.restart();
    Reminders::scheduleDailyReminder();
    report("reminders.schedule_first_after_jpeg_photo", ms(timer.nsecsElapsed()), "ms");
    store.setData(PreferenceKeys::SavedImageData, qtPng(photo));
    Reminders::scheduleDailyReminder();

    if (haveBus) {
        server.clock.start();
        Reminders::sendPreviewNotification();
        const qint64 returned = server.clock.nsecsElapsed();
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (server.arrivedNs >= 0 || server.clock.elapsed() > 10000)
                loop.quit();
        });
        poll.start(1);
        loop.exec();
        report("reminders.preview_call_returns", ms(returned), "ms");
        report("reminders.preview_to_notify", ms(server.arrivedNs), "ms");
    } else {
        std::fprintf(stderr, "no session bus: the preview figure is left out\n");
    }

    // What the literal steps cost per keystroke: decode the stored PNG, encode it again, write it.
    timer.restart();
    const QImage decoded = QImage::fromData(*store.dataForKey(PreferenceKeys::SavedImageData));
    const qint64 decodeNs = timer.nsecsElapsed();
    timer.restart();
    const QByteArray reencoded = qtPng(decoded);
    const qint64 encodeNs = timer.nsecsElapsed();
    timer.restart();
    PrivateFile::Error error;
    PrivateFile::writeAtomically(UserDirectories::temporaryDirectory(), QStringLiteral("reference.png"), reencoded,
                                 &error);
    const qint64 writeNs = timer.nsecsElapsed();
    report("reminders.reference_decode", ms(decodeNs), "ms");
    report("reminders.reference_encode", ms(encodeNs), "ms");
    report("reminders.reference_write", ms(writeNs), "ms");
    report("reminders.reference_per_keystroke", ms(decodeNs + encodeNs + writeNs), "ms");
    QFile::remove(UserDirectories::temporaryDirectory() + QStringLiteral("/reference.png"));
    return center.pendingNotificationRequests().size() == 1 ? 0 : 1;
}

#include "ReminderBench.moc"
