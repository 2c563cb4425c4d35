#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// The values handed to the UserNotificationCenter: what a notification shows, when it
// comes, and under which identifier it is pending.

struct NotificationAttachment
{
    QString identifier;
    QUrl url; // a local file
};

struct NotificationContent
{
    QString title;
    QString body;
    bool playsDefaultSound = false;
    QList<NotificationAttachment> attachments;
};

// Fires when the local wall clock shows `hour`:`minute`; every day when `repeats`.
// The components are kept as given: a value out of range makes a trigger that never fires.
struct CalendarTrigger
{
    qint64 hour = 0;
    qint64 minute = 0;
    bool repeats = false;
};

// The line that a picture which cannot be saved or attached leaves on standard output.
inline QString attachmentFailureLine(const QString& error)
{
    return QStringLiteral("Could not save or attach image: ") + error;
}

struct NotificationRequest
{
    QString identifier;
    NotificationContent content;
    std::optional<CalendarTrigger> trigger; // none: delivered at once
};
