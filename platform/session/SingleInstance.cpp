#include "platform/session/SingleInstance.h"

#include "platform/session/ApplicationService.h"
#include "platform/session/InstanceSocket.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>

namespace {

// Long enough for a copy that is itself still starting on a busy machine.
constexpr int kForwardTimeoutMs = 20000;
// The owner may end between our failed claim and our call; then the name is claimed again.
constexpr int kClaimAttempts = 5;

// What a start passes on to the running copy, after the freedesktop application interface.
QVariantMap platformData()
{
    QVariantMap data;
    if (!qEnvironmentVariableIsEmpty("DESKTOP_STARTUP_ID"))
        data.insert(QStringLiteral("desktop-startup-id"), qEnvironmentVariable("DESKTOP_STARTUP_ID"));
    if (!qEnvironmentVariableIsEmpty("XDG_ACTIVATION_TOKEN"))
        data.insert(QStringLiteral("activation-token"), qEnvironmentVariable("XDG_ACTIVATION_TOKEN"));
    return data;
}

} // namespace

SingleInstance::SingleInstance(const QString& applicationId, const QString& name,
                               const ApplicationService::Actions& actions, QObject* parent)
    : QObject(parent), m_applicationId(applicationId), m_name(name), m_actions(actions)
{
}

SingleInstance::~SingleInstance()
{
    release();
}

SingleInstance::Outcome SingleInstance::start()
{
    Outcome outcome = Outcome::Unavailable;
    if (startOnBus(&outcome))
        return outcome;
    return startWithoutBus();
}

bool SingleInstance::startOnBus(Outcome* outcome)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QString path = ApplicationService::objectPath(m_applicationId);
    // Served before the name is claimed, so that a call that comes right after the claim
    // finds the object.
    m_service = new ApplicationService(m_actions, this);
    connect(m_service, &ApplicationService::activated, this,
            [this] { deliver([this] { emit activationRequested(); }); });
    connect(m_service, &ApplicationService::actionActivated, this, [this](const QString& name, const QVariant& value) {
        deliver([this, name, value] { emit actionRequested(name, value); });
    });
    if (!bus.registerObject(path, m_service, QDBusConnection::ExportAllSlots)) {
        m_problem = QStringLiteral("cannot serve %1 on the session bus").arg(path);
        return false;
    }

    for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claim =
            bus.interface()->registerService(m_applicationId, QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
        if (!claim.isValid()) {
            // A bus whose policy refuses the name: the lock and socket still work.
            m_problem =
                QStringLiteral("cannot own %1 on the session bus (%2)").arg(m_applicationId, claim.error().message());
            bus.unregisterObject(path);
            return false;
        }
        if (claim.value() == QDBusConnectionInterface::ServiceRegistered) {
            m_ownsName = true;
            *outcome = Outcome::Primary;
            return true;
        }

        QDBusMessage call = QDBusMessage::createMethodCall(m_applicationId, path, ApplicationService::interfaceName(),
                                                           QStringLiteral("Activate"));
        call << platformData();
        call.setAutoStartService(false); // an owner that just ended is replaced by this process, not by another start
        const QDeadlineTimer deadline(kForwardTimeoutMs);
        const QDBusMessage answer = bus.call(call, QDBus::Block, kForwardTimeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage) {
            bus.unregisterObject(path);
            *outcome = Outcome::ForwardedToPrimary;
            return true;
        }
        if (deadline.hasExpired()) {
            m_problem =
                QStringLiteral("another copy owns %1 on the session bus but does not answer").arg(m_applicationId);
            bus.unregisterObject(path);
            *outcome = Outcome::PrimaryNotAnswering;
            return true;
        }
        // The owner ended before it answered: claim the name again.
    }
    m_problem = QStringLiteral("the owner of %1 on the session bus keeps changing").arg(m_applicationId);
    bus.unregisterObject(path);
    *outcome = Outcome::PrimaryNotAnswering;
    return true;
}

SingleInstance::Outcome SingleInstance::startWithoutBus()
{
    m_socket = new InstanceSocket(m_name, this);
    connect(m_socket, &InstanceSocket::activationRequested, this,
            [this] { deliver([this] { emit activationRequested(); }); });
    const InstanceSocket::Outcome outcome = m_socket->start();
    if (!m_socket->problem().isEmpty())
        m_problem = m_problem.isEmpty() ? m_socket->problem() : m_problem + QStringLiteral("; ") + m_socket->problem();
    switch (outcome) {
    case InstanceSocket::Outcome::Primary:
        return Outcome::Primary;
    case InstanceSocket::Outcome::Forwarded:
        return Outcome::ForwardedToPrimary;
    case InstanceSocket::Outcome::NotAnswering:
        return Outcome::PrimaryNotAnswering;
    case InstanceSocket::Outcome::Unavailable:
        break;
    }
    return Outcome::Unavailable;
}

void SingleInstance::acceptRequests()
{
    m_accepting = true;
    const auto held = std::exchange(m_held, {});
    for (const auto& request : held)
        request();
}

void SingleInstance::deliver(std::function<void()> request)
{
    if (m_accepting)
        request();
    else
        m_held.append(std::move(request));
}

void SingleInstance::release()
{
    if (m_ownsName) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(m_applicationId);
        bus.unregisterObject(ApplicationService::objectPath(m_applicationId));
        m_ownsName = false;
    }
    if (m_socket)
        m_socket->release();
}
