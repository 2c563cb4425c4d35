#pragma once

#include "platform/usernotifications/NotificationServer.h"

#include <QList>

// Records what the center hands to the desktop; answers at once.
class FakeNotificationServer : public NotificationServer
{
    Q_OBJECT

public:
    struct Shown
    {
        quint32 id;
        DesktopNotification notification;
    };

    bool serverRuns = true;
    QList<Shown> shown;

    void queryServer(std::function<void(bool)> answered) override { answered(serverRuns); }
    void notify(const DesktopNotification& notification, std::function<void(quint32)> onShown) override
    {
        const quint32 id = quint32(shown.size() + 1);
        shown.append({id, notification});
        if (onShown)
            onShown(id);
    }
    void close(quint32 id) { emit notificationClosed(id); }
};
