#include "platform/session/InstanceSocket.h"

#include "platform/files/UserDirectories.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

namespace {
const QByteArray kActivate = "activate\n";
const QByteArray kAcknowledge = "ok\n";
// How long a start waits for the lock's holder to listen and answer: it may itself be
// starting, on a machine busy with many starts at once.
constexpr int kWaitForPrimaryMs = 20000;
constexpr int kRetryMs = 25;
// How long a lock that names no process of this machine is left to its maker, who may be
// writing it this moment.
constexpr int kUnprovenHolderMs = 1000;

// Whether the lock names a process of this machine: Qt's tryLock has already found it
// running. An empty or garbled lock, or one made on another machine, names none that could
// ever answer on this machine's socket.
bool namesALocalProcess(const QLockFile& lock)
{
    qint64 pid = 0;
    QString host;
    QString application;
    return lock.getLockInfo(&pid, &host, &application) && (host.isEmpty() || host == QSysInfo::machineHostName());
}
} // namespace

InstanceSocket::InstanceSocket(const QString& name, QObject* parent) : QObject(parent), m_name(name) {}

InstanceSocket::~InstanceSocket()
{
    release();
}

InstanceSocket::Outcome InstanceSocket::start()
{
    const QString folder = UserDirectories::temporaryDirectory();
    if (!UserDirectories::makePrivateDirectory(folder, &m_problem))
        return Outcome::Unavailable;

    const QString base = folder + QLatin1Char('/') + m_name;
    const QString socketPath = base + QStringLiteral(".socket");
    m_lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // stale only when its process is gone
    const QDeadlineTimer deadline(kWaitForPrimaryMs);
    QElapsedTimer unproven;
    for (;;) {
        if (m_lock->tryLock(0)) {
            listen(socketPath);
            return Outcome::Primary;
        }
        if (m_lock->error() != QLockFile::LockFailedError) {
            m_problem = QStringLiteral("cannot take the instance lock %1").arg(base + QStringLiteral(".lock"));
            m_lock.reset();
            return Outcome::Unavailable;
        }
        // The holder takes the lock a moment before it listens: ask until it does.
        const Answer answer = askPrimary(socketPath, int(deadline.remainingTime()));
        if (answer == Answer::Acknowledged) {
            m_lock.reset();
            return Outcome::Forwarded;
        }
        if (answer == Answer::NotListening && !namesALocalProcess(*m_lock)) {
            if (!unproven.isValid())
                unproven.start();
            // A real copy holds a lock of the system's on the file as well: such a file is
            // never removed here, so that two copies never run at once.
            if (unproven.hasExpired(kUnprovenHolderMs) && m_lock->removeStaleLockFile()) {
                m_problem =
                    QStringLiteral("took over %1, which named no process of this machine").arg(m_lock->fileName());
                continue;
            }
        } else {
            unproven.invalidate();
        }
        if (answer == Answer::NoAnswer || deadline.hasExpired()) {
            m_problem = QStringLiteral("another copy holds %1 but does not answer").arg(m_lock->fileName());
            m_lock.reset();
            return Outcome::NotAnswering;
        }
        QThread::msleep(kRetryMs);
    }
}

void InstanceSocket::release()
{
    // The socket goes before the lock, so that it never removes the socket of a copy that
    // took the lock after this one.
    delete m_server; // closes it, removes its file and its peers
    m_server = nullptr;
    m_peers.clear();
    m_lock.reset();
}

bool InstanceSocket::listen(const QString& socketPath)
{
    QLocalServer::removeServer(socketPath); // left behind by a copy that crashed
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath)) {
        m_problem = QStringLiteral("cannot listen on %1: %2").arg(socketPath, m_server->errorString());
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &InstanceSocket::acceptPeers);
    return true;
}

void InstanceSocket::acceptPeers()
{
    // Every pending connection is taken at once, so that the server never stops accepting;
    // beyond the limit the oldest peer makes room.
    while (QLocalSocket* peer = m_server->nextPendingConnection()) {
        if (m_peers.size() >= kMaxPeers)
            dropPeer(m_peers.constFirst());
        m_peers.append(peer);
        peer->setReadBufferSize(kMaxMessageBytes);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] { readRequest(peer); });
        connect(peer, &QLocalSocket::disconnected, this, [this, peer] { dropPeer(peer); });
        QTimer::singleShot(kPeerTimeoutMs, peer, [this, peer] { dropPeer(peer); });
        readRequest(peer);
    }
}

void InstanceSocket::readRequest(QLocalSocket* peer)
{
    if (!peer->canReadLine()) {
        if (peer->bytesAvailable() >= kMaxMessageBytes)
            dropPeer(peer);
        return;
    }
    const QByteArray line = peer->readLine(kMaxMessageBytes + 1);
    if (line == kActivate) {
        peer->write(kAcknowledge);
        emit activationRequested();
    }
    peer->disconnectFromServer();
}

void InstanceSocket::dropPeer(QLocalSocket* peer)
{
    if (!m_peers.removeOne(peer))
        return;
    peer->abort();
    peer->deleteLater();
}

InstanceSocket::Answer InstanceSocket::askPrimary(const QString& socketPath, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return Answer::NotListening;
    socket.write(kActivate);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return Answer::NoAnswer;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            // Closed unanswered: a copy that is ending, or one that made room for others.
            return socket.state() == QLocalSocket::UnconnectedState && !deadline.hasExpired() ? Answer::NotListening
                                                                                              : Answer::NoAnswer;
    }
    return socket.readLine() == kAcknowledge ? Answer::Acknowledged : Answer::NoAnswer;
}
