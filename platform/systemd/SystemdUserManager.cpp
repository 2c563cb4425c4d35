#include "platform/systemd/SystemdUserManager.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

// The (sv) and (sa(sv)) structures of StartTransientUnit.
struct SystemdUnitProperty
{
    QString name;
    QDBusVariant value;
};
struct SystemdAuxiliaryUnit
{
    QString name;
    QList<SystemdUnitProperty> properties;
};
Q_DECLARE_METATYPE(SystemdUnitProperty)
Q_DECLARE_METATYPE(SystemdAuxiliaryUnit)

static QDBusArgument& operator<<(QDBusArgument& out, const SystemdUnitProperty& property)
{
    out.beginStructure();
    out << property.name << property.value;
    out.endStructure();
    return out;
}
static const QDBusArgument& operator>>(const QDBusArgument& in, SystemdUnitProperty& property)
{
    in.beginStructure();
    in >> property.name >> property.value;
    in.endStructure();
    return in;
}
static QDBusArgument& operator<<(QDBusArgument& out, const SystemdAuxiliaryUnit& unit)
{
    out.beginStructure();
    out << unit.name << unit.properties;
    out.endStructure();
    return out;
}
static const QDBusArgument& operator>>(const QDBusArgument& in, SystemdAuxiliaryUnit& unit)
{
    in.beginStructure();
    in >> unit.name >> unit.properties;
    in.endStructure();
    return in;
}

namespace {

const QString kService = QStringLiteral("org.freedesktop.systemd1");
const QString kPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManager = QStringLiteral("org.freedesktop.systemd1.Manager");
constexpr int kAnswerTimeoutMs = 5000;

QString errorOf(const QDBusMessage& reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {};
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorName() + QStringLiteral(": ") + reply.errorMessage()
                                                      : QStringLiteral("no answer");
}

} // namespace

SystemdUserManager::SystemdUserManager(QObject* parent) : QObject(parent)
{
    qDBusRegisterMetaType<SystemdUnitProperty>();
    qDBusRegisterMetaType<QList<SystemdUnitProperty>>();
    qDBusRegisterMetaType<SystemdAuxiliaryUnit>();
    qDBusRegisterMetaType<QList<SystemdAuxiliaryUnit>>();

    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString socket = runtime + QStringLiteral("/systemd/private");
    if (!runtime.isEmpty() && QFileInfo(socket).exists()) {
        QDBusConnection peer =
            QDBusConnection::connectToPeer(QStringLiteral("unix:path=") + socket, QStringLiteral("perch-systemd-user"));
        if (peer.isConnected())
            m_bus = peer;
    }
    if (!m_bus) {
        QDBusConnection session = QDBusConnection::sessionBus();
        if (!session.isConnected()) {
            m_problem = QStringLiteral("no session bus and no private socket in $XDG_RUNTIME_DIR/systemd");
            return;
        }
        m_bus = session;
    }
    // Asked once, at once: whether a manager answers decides how reminders are delivered.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kManager << QStringLiteral("UnitPath");
    const QDBusMessage reply = m_bus->call(get, QDBus::Block, kAnswerTimeoutMs);
    m_problem = errorOf(reply);
    if (m_problem.isEmpty() && !reply.arguments().isEmpty())
        m_unitPath = reply.arguments().constFirst().value<QDBusVariant>().variant().toStringList();
}

void SystemdUserManager::call(const QString& method, const QVariantList& arguments, Done done)
{
    if (!m_bus) {
        QMetaObject::invokeMethod(
            this, [this, done = std::move(done)] { done(m_problem); }, Qt::QueuedConnection);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kManager, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(message, kAnswerTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(errorOf(watcher->reply()));
    });
}

void SystemdUserManager::adopt(qint64 pid, const QString& scopeName, Done done)
{
    const QList<SystemdUnitProperty> properties{
        {QStringLiteral("PIDs"), QDBusVariant(QVariant::fromValue(QList<uint>{uint(pid)}))}};
    call(QStringLiteral("StartTransientUnit"),
         {scopeName, QStringLiteral("fail"), QVariant::fromValue(properties),
          QVariant::fromValue(QList<SystemdAuxiliaryUnit>())},
         [this, pid, scopeName, done = std::move(done)](const QString& error) mutable {
             if (!error.isEmpty())
                 done(error);
             else
                 waitUntilInScope(pid, scopeName, std::move(done));
         });
}

void SystemdUserManager::waitUntilInScope(qint64 pid, const QString& scopeName, Done done)
{
    // The answer only says that the scope's start is queued, and the manager runs its queue
    // when it is idle: a unit that ends before then takes the process along.
    auto* poll = new QTimer(this);
    poll->setInterval(20);
    connect(poll, &QTimer::timeout, this,
            [poll, pid, scopeName, deadline = QDeadlineTimer(kAnswerTimeoutMs), done = std::move(done)] {
                QFile cgroup(QStringLiteral("/proc/%1/cgroup").arg(pid));
                const bool ended = !cgroup.open(QIODevice::ReadOnly);
                const bool moved = !ended && cgroup.readAll().contains(('/' + scopeName + '\n').toUtf8());
                if (!ended && !moved && !deadline.hasExpired())
                    return;
                poll->stop();
                poll->deleteLater();
                done(ended || moved ? QString() : QStringLiteral("%1 did not take the process").arg(scopeName));
            });
    poll->start();
}
