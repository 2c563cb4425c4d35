#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

#include <memory>

class OrgKdeStatusNotifierWatcherInterface;

// Keeps the program's StatusNotifierItem registered with the desktop's watcher: now, and
// again whenever a watcher appears later (a panel started after the program, or restarted),
// since a new watcher knows nothing of the items registered with the old one.
class StatusNotifierRegistration : public QObject
{
    Q_OBJECT

public:
    static inline const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

    StatusNotifierRegistration(const QDBusConnection& bus, const QString& itemService, QObject* parent = nullptr);
    ~StatusNotifierRegistration() override;

    // A watcher runs and a host (a tray that draws items) has told it so.
    bool hostAvailable() const { return m_hostAvailable; }

signals:
    void hostAvailableChanged(bool available);

private:
    enum class Answer
    {
        Now,
        Later
    };
    void connectToWatcher(Answer answer);
    void askHostAvailable();
    void setHostAvailable(bool available);

    QDBusConnection m_bus;
    const QString m_itemService;
    QDBusServiceWatcher m_serviceWatcher;
    std::unique_ptr<OrgKdeStatusNotifierWatcherInterface> m_watcher;
    bool m_hostAvailable = false;
};
