#pragma once

#include "platform/session/ApplicationService.h"
#include <QObject>
#include <QString>

#include <QStringList>
#include <QVariant>

#include <functional>

class InstanceSocket;

// Keeps one running copy per user and edition. Where there is a session bus, the copy that
// owns the application's well-known name is the one; it serves org.freedesktop.Application
// there, and a later start asks it to show itself through Activate and then ends. The bus
// gives the name to exactly one of any number of starts. Without a bus, a lock and a socket
// in the private temporary folder do the same (InstanceSocket).
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Primary,             // this process is the one running copy
        ForwardedToPrimary,  // another copy runs and was asked to show itself
        PrimaryNotAnswering, // another copy runs but did not answer (problem() says more)
        Unavailable,         // no way to tell; this process runs on its own (problem() says why)
    };

    // `applicationId`: the name on the session bus, which is also the desktop entry's.
    // `name`: the fallback's file names. `actions`: what ActivateAction accepts.
    SingleInstance(const QString& applicationId, const QString& name, const ApplicationService::Actions& actions,
                   QObject* parent = nullptr);
    ~SingleInstance() override;

    Outcome start();
    // Something the user should know even when this process runs as the one copy.
    QString problem() const { return m_problem; }

    // Requests are held until the program is ready for them (launching has finished), then
    // delivered in order; from then on they are delivered as they come.
    void acceptRequests();

    // Lets go of the name or the lock, so that a start from now on becomes the running copy
    // instead of waiting for this one, which is ending.
    void release();

signals:
    void activationRequested();
    void actionRequested(const QString& name, const QVariant& parameter);

private:
    bool startOnBus(Outcome* outcome);
    Outcome startWithoutBus();
    void deliver(std::function<void()> request);

    QString m_applicationId;
    QString m_name;
    ApplicationService::Actions m_actions;
    QString m_problem;
    ApplicationService* m_service = nullptr;
    bool m_ownsName = false;
    InstanceSocket* m_socket = nullptr;
    bool m_accepting = false;
    QList<std::function<void()>> m_held;
};
