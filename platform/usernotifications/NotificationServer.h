#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// A notification as the desktop's notification server shows it.
struct DesktopNotification
{
    QString summary;
    QString body;      // plain text; escaped by the server connection where the server reads markup
    QString imagePath; // a local file, or empty
    bool playsSound = false;
};

// The desktop's notification server, as the UserNotificationCenter uses it. Every call
// returns at once; answers come later on the calling thread, and a missing or failing
// server is never an error to the caller: it simply gets no answer.
class NotificationServer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // `answered(true)` once a server has answered, `answered(false)` when none does.
    virtual void queryServer(std::function<void(bool answered)> answered) = 0;
    // `shown(id)` with the server's id once it has taken the notification, or with 0 once it
    // is clear that it did not. Every
    // notification offers the "default" action: a click on it.
    virtual void notify(const DesktopNotification& notification, std::function<void(quint32 id)> shown) = 0;
    // The server (its unique bus name) that answered the latest notification, which ids are
    // valid for.
    virtual QString answeringServer() const { return {}; }

signals:
    // A server has taken the bus name: what the last one did not take is worth trying again.
    void serverAppeared();
    // Notification `id` is gone from the desktop: closed, dismissed, or expired where the
    // server keeps no list of expired ones.
    void notificationClosed(quint32 id);
    // The user chose `action` of notification `id` of `server`; "default" is a click on it.
    void actionInvoked(const QString& server, quint32 id, const QString& action);
};

// org.freedesktop.Notifications on the session bus. A notification that does not get through
// is reported in one line on standard error, once until one gets through again.
class FreedesktopNotificationServer : public NotificationServer
{
    Q_OBJECT

public:
    explicit FreedesktopNotificationServer(QObject* parent = nullptr);

    void queryServer(std::function<void(bool answered)> answered) override;
    void notify(const DesktopNotification& notification, std::function<void(quint32 id)> shown) override;
    QString answeringServer() const override { return m_answeringServer; }

    // Escapes what a server that reads body markup would take for markup.
    static QString escapeMarkup(const QString& text);

private slots:
    void onNotificationClosed(quint32 id, quint32 reason);
    void onActionInvoked(quint32 id, const QString& action, const QDBusMessage& message);

private:
    void send(const DesktopNotification& notification, const QStringList& capabilities,
              std::function<void(quint32 id)> shown);
    void reportFailure(const QString& reason);
    QString m_answeringServer;
    QSet<quint32> m_listed; // shown by a server that keeps expired notifications in a list
    bool m_connected = false;
    bool m_failureReported = false;
};
