#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimeZone>

// The wall clock and its alarm: the time now, the local time zone, and one alarm at an
// absolute instant that also goes off when someone sets the clock. The UserNotificationCenter
// sees time only through this, so tests can drive it across days, suspends and clock changes.
class WallClock : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual QDateTime now() const = 0;
    virtual QTimeZone timeZone() const = 0;

    // Replaces any earlier alarm. An instant already past goes off at once.
    virtual void armAt(const QDateTime& when) = 0;
    virtual void disarm() = 0;

signals:
    // The armed instant has come (perhaps late: the machine slept through it).
    void alarm();
    // The clock was set while an alarm was armed; the alarm is off until armed again.
    void clockChanged();
    // The local time zone is another one now: the same wall-clock reading names another instant.
    void timeZoneChanged();
};

// The system's clock: CLOCK_REALTIME with a timerfd that wakes the program only when the
// alarm is due or the clock is set, never to poll. The time zone is the system's, watched
// where timedatectl changes it: /etc/localtime, and timedated on the system bus.
class SystemWallClock : public WallClock
{
    Q_OBJECT

public:
    explicit SystemWallClock(QObject* parent = nullptr);
    ~SystemWallClock() override;

    QDateTime now() const override;
    QTimeZone timeZone() const override;
    void armAt(const QDateTime& when) override;
    void disarm() override;

private slots:
    void checkTimeZone();

private:
    void onReadable();

    int m_fd = -1;
    class QSocketNotifier* m_notifier = nullptr;
    QByteArray m_zone;
};
