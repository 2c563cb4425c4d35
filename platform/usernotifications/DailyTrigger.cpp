#include "platform/usernotifications/DailyTrigger.h"

namespace DailyTrigger {
namespace {

constexpr qint64 kDay = 24 * 60 * 60;

int offsetAt(const QTimeZone& zone, qint64 utcSeconds)
{
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC));
}

} // namespace

bool isValid(qint64 hour, qint64 minute)
{
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

std::optional<QDateTime> fireTimeOn(QDate date, qint64 hour, qint64 minute, const QTimeZone& zone)
{
    if (!isValid(hour, minute) || !date.isValid())
        return std::nullopt;
    // The wall-clock reading as if it were UTC; an instant t shows it when t + offset(t) == wall.
    const qint64 wall = QDateTime(date, QTime(int(hour), int(minute)), Qt::UTC).toSecsSinceEpoch();
    const int before = offsetAt(zone, wall - kDay);
    const int after = offsetAt(zone, wall + kDay);
    std::optional<qint64> first;
    for (int offset : {before, offsetAt(zone, wall), after}) {
        const qint64 candidate = wall - offset;
        if (offsetAt(zone, candidate) == offset && (!first || candidate < *first))
            first = candidate;
    }
    if (!first) {
        // In a gap: the clock jumps from before the reading to after it at one instant,
        // the transition, which lies between the two candidates; find it to the second.
        qint64 low = wall - after;   // still on the old offset
        qint64 high = wall - before; // already on the new one
        while (high - low > 1) {
            const qint64 middle = low + (high - low) / 2;
            (offsetAt(zone, middle) == before ? low : high) = middle;
        }
        first = high;
    }
    return QDateTime::fromSecsSinceEpoch(*first, Qt::UTC);
}

std::optional<QDateTime> nextFireTime(qint64 hour, qint64 minute, const QDateTime& after, const QTimeZone& zone)
{
    if (!isValid(hour, minute))
        return std::nullopt;
    // The local date of `after` is close to the answer; starting a day before it and looking
    // a few days on covers every offset change a zone can make.
    const QDate start = after.toTimeZone(zone).date().addDays(-1);
    for (int day = 0; day < 4; ++day) {
        const auto fire = fireTimeOn(start.addDays(day), hour, minute, zone);
        if (fire && *fire > after)
            return fire;
    }
    return std::nullopt;
}

} // namespace DailyTrigger
