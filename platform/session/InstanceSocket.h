#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// The single instance where there is no session bus: a lock file and a local socket in the
// private temporary folder. The copy that takes the lock listens; a later start that finds
// the lock taken asks the holder, over the socket, to show itself. A start that comes while
// the holder has the lock but does not listen yet keeps asking for a while instead of giving
// up, so that starts at the same moment leave one copy. A lock whose process is gone is taken
// over. The socket serves a few connections at a time, each with one short line to send
// within a short time, so that a runaway client can neither stop it nor make it grow.
class InstanceSocket : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Primary,      // this process holds the lock and listens
        Forwarded,    // the holder was asked to show itself
        NotAnswering, // the holder runs but did not answer in time
        Unavailable,  // no lock could be made (problem() says why)
    };

    // `name` tells the editions apart: "<name>.lock" and "<name>.socket".
    explicit InstanceSocket(const QString& name, QObject* parent = nullptr);
    ~InstanceSocket() override;

    Outcome start();
    QString problem() const { return m_problem; }
    // Stops listening and lets go of the lock: a start from now on becomes the running copy.
    void release();

    // Limits of the listening side.
    static constexpr int kMaxPeers = 8;
    static constexpr int kMaxMessageBytes = 64;
    static constexpr int kPeerTimeoutMs = 2000;

signals:
    // Another start asked this copy to show itself.
    void activationRequested();

private:
    bool listen(const QString& socketPath);
    void acceptPeers();
    void readRequest(QLocalSocket* peer);
    void dropPeer(QLocalSocket* peer);
    enum class Answer
    {
        Acknowledged,
        NotListening,
        NoAnswer
    };
    Answer askPrimary(const QString& socketPath, int timeoutMs);

    QString m_name;
    QString m_problem;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    QList<QLocalSocket*> m_peers; // oldest first
};
