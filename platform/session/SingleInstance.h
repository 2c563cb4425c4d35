#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

// Keeps one running instance per user and edition. The first instance holds a lock
// file and listens on a local socket in the private temporary folder; a later start
// asks it to show itself and then ends. A lock left by a crashed instance is stale
// (its process is gone) and is taken over.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Primary,            // this process is the one instance
        ForwardedToPrimary, // another instance runs and was asked to show itself
        Unavailable,        // no lock could be made; this process runs on its own
    };

    explicit SingleInstance(const QString& name, QObject* parent = nullptr);
    ~SingleInstance() override;

    Outcome start();
    QString problem() const { return m_problem; }

signals:
    // Another start of the same edition asked this instance to show itself.
    void activationRequested();

private:
    bool forwardToPrimary();

    QString m_name;
    QString m_problem;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
