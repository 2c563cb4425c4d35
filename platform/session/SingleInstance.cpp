#include "platform/session/SingleInstance.h"

#include "platform/files/UserDirectories.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace {
const QByteArray kActivate = "activate\n";
const QByteArray kAcknowledge = "ok\n";
constexpr int kForwardTimeoutMs = 3000;
} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent), m_name(name) {}

SingleInstance::~SingleInstance() = default;

SingleInstance::Outcome SingleInstance::start()
{
    const QString folder = UserDirectories::temporaryDirectory();
    if (!UserDirectories::makePrivateDirectory(folder, &m_problem))
        return Outcome::Unavailable;

    const QString base = folder + QLatin1Char('/') + m_name;
    m_lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // stale only when its process is gone
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError && forwardToPrimary())
            return Outcome::ForwardedToPrimary;
        if (m_problem.isEmpty())
            m_problem = QStringLiteral("cannot take the instance lock %1").arg(base + QStringLiteral(".lock"));
        m_lock.reset();
        return Outcome::Unavailable;
    }

    const QString socketPath = base + QStringLiteral(".socket");
    QLocalServer::removeServer(socketPath); // left behind by a crashed instance
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath)) {
        m_problem = QStringLiteral("cannot listen on %1: %2").arg(socketPath, m_server->errorString());
        return Outcome::Primary;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = m_server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (!peer->canReadLine())
                    return;
                if (peer->readLine() == kActivate) {
                    peer->write(kAcknowledge);
                    emit activationRequested();
                }
                peer->disconnectFromServer();
            });
        }
    });
    return Outcome::Primary;
}

bool SingleInstance::forwardToPrimary()
{
    QLocalSocket socket;
    socket.connectToServer(UserDirectories::temporaryDirectory() + QLatin1Char('/') + m_name +
                           QStringLiteral(".socket"));
    if (!socket.waitForConnected(kForwardTimeoutMs)) {
        m_problem = QStringLiteral("another instance holds the lock but does not answer");
        return false;
    }
    socket.write(kActivate);
    if (!socket.waitForBytesWritten(kForwardTimeoutMs)) {
        m_problem = QStringLiteral("another instance does not answer");
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kForwardTimeoutMs)) {
            m_problem = QStringLiteral("another instance does not answer");
            return false;
        }
    }
    return socket.readLine() == kAcknowledge;
}
