#include "platform/usernotifications/WallClock.h"

#include "platform/base/Console.h"
#include "platform/files/FolderWatch.h"

#include <QDBusConnection>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/timerfd.h>
#include <unistd.h>

SystemWallClock::SystemWallClock(QObject* parent) : WallClock(parent)
{
    m_fd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0) {
        Console::printError(QStringLiteral("cannot create the reminder timer: %1").arg(std::strerror(errno)));
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SystemWallClock::onReadable);

    m_zone = QTimeZone::systemTimeZoneId();
    auto* zoneFiles =
        new FolderWatch(QStringLiteral("/etc"), {QStringLiteral("localtime"), QStringLiteral("timezone")}, this);
    connect(zoneFiles, &FolderWatch::changed, this, &SystemWallClock::checkTimeZone);
    QDBusConnection::systemBus().connect(QStringLiteral("org.freedesktop.timedate1"),
                                         QStringLiteral("/org/freedesktop/timedate1"),
                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                         QStringLiteral("PropertiesChanged"), this, SLOT(checkTimeZone()));
}

SystemWallClock::~SystemWallClock()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

QDateTime SystemWallClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

QTimeZone SystemWallClock::timeZone() const
{
    return QTimeZone::systemTimeZone();
}

void SystemWallClock::armAt(const QDateTime& when)
{
    if (m_fd < 0)
        return;
    const qint64 ms = when.toMSecsSinceEpoch();
    itimerspec spec{};
    spec.it_value.tv_sec = ms / 1000;
    spec.it_value.tv_nsec = (ms % 1000) * 1000000;
    if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0)
        spec.it_value.tv_nsec = 1; // zero would disarm
    // Absolute on the real-time clock: a suspend does not delay it, and setting the clock
    // cancels it, which the read below reports so that the next fire time is worked out anew.
    ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr);
}

void SystemWallClock::disarm()
{
    if (m_fd < 0)
        return;
    itimerspec spec{};
    ::timerfd_settime(m_fd, 0, &spec, nullptr);
}

void SystemWallClock::checkTimeZone()
{
    const QByteArray zone = QTimeZone::systemTimeZoneId();
    if (zone == m_zone)
        return;
    m_zone = zone;
    emit timeZoneChanged();
}

void SystemWallClock::onReadable()
{
    std::uint64_t expirations = 0;
    const ssize_t got = ::read(m_fd, &expirations, sizeof expirations);
    if (got == sizeof expirations)
        emit alarm();
    else if (got < 0 && errno == ECANCELED)
        emit clockChanged();
}
