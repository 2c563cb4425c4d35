#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <optional>

// The user's own service manager (systemd --user), reached over D-Bus: through its private
// socket in $XDG_RUNTIME_DIR, as systemctl reaches it, else through its name on the session
// bus. Calls return at once; their answers come later on the calling thread.
class SystemdUserManager : public QObject
{
    Q_OBJECT

public:
    // Error text of a call, empty when it succeeded.
    using Done = std::function<void(const QString& error)>;

    explicit SystemdUserManager(QObject* parent = nullptr);

    bool isAvailable() const { return m_problem.isEmpty(); }
    QString problem() const { return m_problem; }
    // The folders from which the manager loads units.
    QStringList unitPath() const { return m_unitPath; }

    // A method of org.freedesktop.systemd1.Manager.
    void call(const QString& method, const QVariantList& arguments, Done done);
    // Puts the process `pid` in a scope unit of its own, so that it lives on when the unit
    // it was started from ends. Done once the process is in the scope (or has ended).
    void adopt(qint64 pid, const QString& scopeName, Done done);

private:
    void waitUntilInScope(qint64 pid, const QString& scopeName, Done done);

    std::optional<QDBusConnection> m_bus;
    QString m_problem;
    QStringList m_unitPath;
};
