#pragma once

#include <QDateTime>
#include <QTimeZone>

#include <optional>

// The one place that turns a wall-clock hour and minute into instants.
namespace DailyTrigger {

bool isValid(qint64 hour, qint64 minute);

// When the wall clock of `zone` shows `hour`:`minute` on `date`. A time that the clock skips
// that day (spring forward) gives the first instant after the gap; a time that it shows twice
// (fall back) gives the first of the two. None when the components are out of range.
std::optional<QDateTime> fireTimeOn(QDate date, qint64 hour, qint64 minute, const QTimeZone& zone);

// The first fire time strictly after `after`, or none when the components are out of range.
std::optional<QDateTime> nextFireTime(qint64 hour, qint64 minute, const QDateTime& after, const QTimeZone& zone);

} // namespace DailyTrigger
