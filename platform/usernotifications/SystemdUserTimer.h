#pragma once

#include "platform/usernotifications/DeliveryTimer.h"

#include <QTimer>

#include <memory>

class SystemdUserManager;

// A timer of the user's service manager that runs the program's delivery run: the files
// <base>.timer and <base>.service in $XDG_CONFIG_HOME/systemd/user, the timer enabled and
// started over D-Bus. Files and manager are touched only when what they should say
// changes, so rescheduling with the same fire time costs two small file reads.
//
// Every process of the program that changes the timer holds a lock on it meanwhile, so that
// what one reads from the store and writes into the timer is never undone by another that
// read an older store.
class SystemdUserTimer : public DeliveryTimer
{
    Q_OBJECT

public:
    // Who writes the service: the program writes it with its session's surroundings (the bus,
    // the display and its folders), so that the delivery run finds the same store and can
    // start the program on a click; the delivery run keeps the service as it finds it.
    enum class ServiceWriter
    {
        Program,
        DeliveryRun,
    };

    SystemdUserTimer(const QString& executable, const QString& description, ServiceWriter writer,
                     QObject* parent = nullptr);
    ~SystemdUserTimer() override;

    bool isAvailable() const override;
    QString problem() const override;
    void sync(std::function<std::optional<QDateTime>()> desired, std::function<void(bool ok)> done) override;

    QString timerName() const { return m_base + QStringLiteral(".timer"); }
    QString serviceName() const { return m_base + QStringLiteral(".service"); }
    QString unitDirectory() const { return m_unitDirectory; }
    SystemdUserManager& manager() const { return *m_manager; }

    // The service text that the program writes for `executable`, or none when the path
    // cannot be written into a unit file.
    static std::optional<QString> serviceText(const QString& executable, const QString& description);

private:
    void start();
    bool lock();
    void unlock();
    void apply(const std::optional<QDateTime>& instant);
    void runCalls(QList<std::pair<QString, QVariantList>> calls);
    void finish(bool ok);

    QString m_executable;
    QString m_description;
    ServiceWriter m_writer;
    QString m_base;
    QString m_unitDirectory;
    QString m_problem;
    std::unique_ptr<SystemdUserManager> m_manager;
    int m_lockFd = -1;
    QTimer m_lockRetry;
    bool m_busy = false;
    bool m_confirmed = false; // the manager took the files as they are, in this process
    std::function<std::optional<QDateTime>()> m_desired;
    QList<std::function<void(bool)>> m_waiting;
    QList<std::function<void(bool)>> m_serving;
};
