#pragma once

#include "platform/usernotifications/WallClock.h"

#include <optional>

// A wall clock that tests move by hand, with the alarm semantics of the real one: a running
// machine wakes at the armed instant, a sleeping one at resume, and setting the clock
// cancels the alarm and says so.
class FakeWallClock : public WallClock
{
    Q_OBJECT

public:
    FakeWallClock(const QDateTime& now, const QTimeZone& zone) : m_now(now.toUTC()), m_zone(zone) {}

    QDateTime now() const override { return m_now; }
    QTimeZone timeZone() const override { return m_zone; }
    void armAt(const QDateTime& when) override { m_armed = when.toUTC(); }
    void disarm() override { m_armed.reset(); }

    std::optional<QDateTime> armed() const { return m_armed; }

    // Time passes while the machine runs: every alarm on the way goes off at its instant.
    void runUntil(const QDateTime& until)
    {
        while (m_armed && *m_armed <= until) {
            m_now = std::max(m_now, *m_armed);
            m_armed.reset();
            emit alarm();
        }
        m_now = until.toUTC();
    }

    // The machine sleeps until `until`; an alarm that passed meanwhile goes off at resume.
    void sleepUntil(const QDateTime& until)
    {
        m_now = until.toUTC();
        if (m_armed && *m_armed <= m_now) {
            m_armed.reset();
            emit alarm();
        }
    }

    // As timedatectl changes it.
    void setTimeZone(const QTimeZone& zone)
    {
        m_zone = zone;
        emit timeZoneChanged();
    }

    void setClock(const QDateTime& to)
    {
        m_now = to.toUTC();
        if (m_armed) {
            m_armed.reset();
            emit clockChanged();
        }
    }

private:
    QDateTime m_now;
    QTimeZone m_zone;
    std::optional<QDateTime> m_armed;
};
