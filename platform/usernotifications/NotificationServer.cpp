#include "platform/usernotifications/NotificationServer.h"

#include "platform/base/Console.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

QDBusConnection bus()
{
    return QDBusConnection::sessionBus();
}

// Calls `method` asynchronously and hands the reply (or the error) to `done` on this thread.
void callAsync(QObject* context, const QString& method, const QVariantList& arguments,
               std::function<void(const QDBusMessage&)> done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus().asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(watcher->reply());
    });
}

} // namespace

FreedesktopNotificationServer::FreedesktopNotificationServer(QObject* parent) : NotificationServer(parent)
{
    m_connected = bus().isConnected();
    if (m_connected) {
        bus().connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                      SLOT(onNotificationClosed(quint32, quint32)));
        bus().connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                      SLOT(onActionInvoked(quint32, QString, QDBusMessage)));
        auto* watcher = new QDBusServiceWatcher(kService, bus(), QDBusServiceWatcher::WatchForRegistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &NotificationServer::serverAppeared);
    }
}

void FreedesktopNotificationServer::queryServer(std::function<void(bool answered)> answered)
{
    if (!m_connected) {
        QTimer::singleShot(0, this, [answered = std::move(answered)] { answered(false); });
        return;
    }
    callAsync(this, QStringLiteral("GetServerInformation"), {}, [answered = std::move(answered)](const auto& reply) {
        answered(reply.type() == QDBusMessage::ReplyMessage);
    });
}

void FreedesktopNotificationServer::notify(const DesktopNotification& notification,
                                           std::function<void(quint32 id)> shown)
{
    if (!m_connected) {
        reportFailure(QStringLiteral("no session bus"));
        if (shown)
            QTimer::singleShot(0, this, [shown = std::move(shown)] { shown(0); });
        return;
    }
    // Asked each time, since the server may have been replaced since the last notification.
    callAsync(this, QStringLiteral("GetCapabilities"), {},
              [this, notification, shown = std::move(shown)](const QDBusMessage& reply) mutable {
                  const QStringList capabilities =
                      reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                          ? reply.arguments().constFirst().toStringList()
                          : QStringList();
                  send(notification, capabilities, std::move(shown));
              });
}

void FreedesktopNotificationServer::send(const DesktopNotification& notification, const QStringList& capabilities,
                                         std::function<void(quint32 id)> shown)
{
    const bool markup = capabilities.contains(u"body-markup");
    const bool listed = capabilities.contains(u"persistence");
    QVariantMap hints;
    if (!notification.imagePath.isEmpty())
        hints.insert(QStringLiteral("image-path"), QUrl::fromLocalFile(notification.imagePath).toString());
    if (notification.playsSound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    if (!QGuiApplication::desktopFileName().isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    QString appName = QGuiApplication::applicationDisplayName();
    if (appName.isEmpty())
        appName = QCoreApplication::applicationName();
    // The program's icon by its name in the icon theme, which is its desktop entry's name.
    const QVariantList arguments{appName,
                                 quint32(0),
                                 QGuiApplication::desktopFileName(),
                                 notification.summary,
                                 markup ? escapeMarkup(notification.body) : notification.body,
                                 QStringList{QStringLiteral("default"), tr("Open Photo")},
                                 hints,
                                 qint32(-1)};
    callAsync(this, QStringLiteral("Notify"), arguments,
              [this, listed, shown = std::move(shown)](const QDBusMessage& reply) {
                  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                      // The server is gone, died while it had the call, or kept it past the timeout.
                      reportFailure(reply.type() == QDBusMessage::ErrorMessage
                                        ? QStringLiteral("%1: %2").arg(reply.errorName(), reply.errorMessage())
                                        : QStringLiteral("an empty answer"));
                      if (shown)
                          shown(0);
                      return;
                  }
                  m_failureReported = false;
                  m_answeringServer = reply.service();
                  const quint32 id = reply.arguments().constFirst().toUInt();
                  if (listed)
                      m_listed.insert(id);
                  if (shown)
                      shown(id);
              });
}

QString FreedesktopNotificationServer::escapeMarkup(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            escaped += QStringLiteral("&amp;");
        else if (c == u'<')
            escaped += QStringLiteral("&lt;");
        else if (c == u'>')
            escaped += QStringLiteral("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

void FreedesktopNotificationServer::reportFailure(const QString& reason)
{
    // Once until a notification gets through again, not once per reminder or preview.
    if (m_failureReported)
        return;
    m_failureReported = true;
    QString line = QStringLiteral("the desktop's notification server did not show a notification (%1)").arg(reason);
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    Console::printError(line);
}

void FreedesktopNotificationServer::onNotificationClosed(quint32 id, quint32 reason)
{
    // A server with persistence keeps an expired notification in its list (Plasma's history,
    // GNOME's message list), where a click on it still asks for the photo.
    constexpr quint32 kExpired = 1;
    if (reason == kExpired && m_listed.contains(id))
        return;
    m_listed.remove(id);
    emit notificationClosed(id);
}

void FreedesktopNotificationServer::onActionInvoked(quint32 id, const QString& action, const QDBusMessage& message)
{
    emit actionInvoked(message.service(), id, action);
}
