#include "platform/tray/StatusNotifierRegistration.h"

#include "statusnotifierwatcherinterface.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

StatusNotifierRegistration::StatusNotifierRegistration(const QDBusConnection& bus, const QString& itemService,
                                                       QObject* parent)
    : QObject(parent), m_bus(bus), m_itemService(itemService),
      m_serviceWatcher(kWatcherService, bus, QDBusServiceWatcher::WatchForOwnerChange)
{
    connect(&m_serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (newOwner.isEmpty()) {
                    m_watcher.reset();
                    setHostAvailable(false);
                } else {
                    connectToWatcher(Answer::Later);
                }
            });
    // At start the program must know at once whether the icon will show, or it opens its
    // window instead; later, nothing waits on a watcher that may be slow to answer.
    if (m_bus.isConnected() && m_bus.interface()->isServiceRegistered(kWatcherService))
        connectToWatcher(Answer::Now);
}

StatusNotifierRegistration::~StatusNotifierRegistration() = default;

void StatusNotifierRegistration::connectToWatcher(Answer answer)
{
    m_watcher = std::make_unique<OrgKdeStatusNotifierWatcherInterface>(kWatcherService, kWatcherPath, m_bus);
    connect(m_watcher.get(), &OrgKdeStatusNotifierWatcherInterface::StatusNotifierHostRegistered, this,
            [this] { setHostAvailable(true); });
    connect(m_watcher.get(), &OrgKdeStatusNotifierWatcherInterface::StatusNotifierHostUnregistered, this,
            &StatusNotifierRegistration::askHostAvailable);
    m_watcher->RegisterStatusNotifierItem(m_itemService);
    if (answer == Answer::Now)
        setHostAvailable(m_watcher->isStatusNotifierHostRegistered());
    else
        askHostAvailable();
}

void StatusNotifierRegistration::askHostAvailable()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({m_watcher->interface(), QStringLiteral("IsStatusNotifierHostRegistered")});
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call] {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        setHostAvailable(m_watcher && reply.isValid() && reply.value().variant().toBool());
    });
}

void StatusNotifierRegistration::setHostAvailable(bool available)
{
    if (available == m_hostAvailable)
        return;
    m_hostAvailable = available;
    emit hostAvailableChanged(available);
}
