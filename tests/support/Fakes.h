#pragma once

// Stand-ins for the desktop behind the platform interfaces. A test that uses one links the
// platform library whose interface it implements: the one that test exercises.
#include "platform/tray/StatusItem.h"
#include "platform/usernotifications/UserNotificationCenter.h"

#include <QTemporaryDir>

#include <optional>

// A tray icon that tests can click, with a fixed place on screen, made by the fake status bar.
class FakeStatusItem : public StatusItem
{
public:
    bool available = true;
    QIcon icon;
    QMenu* menu = nullptr;
    QString toolTip;

    bool hasButton() const override { return available; }
    void setImage(const QIcon& newIcon) override { icon = newIcon; }
    QIcon image() const override { return icon; }
    void setToolTip(const QString& text) override { toolTip = text; }
    QRect buttonBounds() const override { return {600, 2, 22, 22}; }
    void setContextMenu(QMenu* contextMenu) override { menu = contextMenu; }
    void click() { emit buttonClicked(); }
    QImage pixels(int side = 22) const { return icon.pixmap(side).toImage().convertToFormat(QImage::Format_RGB32); }
};

struct FakeStatusBar : StatusBar
{
    FakeStatusItem* last = nullptr;
    bool available = true;

    std::unique_ptr<StatusItem> makeStatusItem() override
    {
        auto item = std::make_unique<FakeStatusItem>();
        item->available = available;
        last = item.get();
        return item;
    }
};

// A wall clock that tests move by hand, with the alarm semantics of the real one: a running
// machine wakes at the armed instant, a sleeping one at resume, and setting the clock cancels
// the alarm and says so.
class FakeWallClock : public WallClock
{
public:
    FakeWallClock(const QDateTime& now, const QTimeZone& zone) : m_now(now.toUTC()), m_zone(zone) {}

    QDateTime now() const override { return m_now; }
    QTimeZone timeZone() const override { return m_zone; }
    void armAt(const QDateTime& when) override { m_armed = when.toUTC(); }
    void disarm() override { m_armed.reset(); }
    std::optional<QDateTime> armed() const { return m_armed; }

    // Time passes while the machine runs: every alarm on the way goes off at its instant.
    void runUntil(const QDateTime& until)
    {
        while (m_armed && *m_armed <= until) {
            m_now = std::max(m_now, *std::exchange(m_armed, std::nullopt));
            emit alarm();
        }
        m_now = until.toUTC();
    }
    // The machine sleeps until `until`; an alarm that passed meanwhile goes off at resume.
    void sleepUntil(const QDateTime& until)
    {
        m_now = until.toUTC();
        if (m_armed && *m_armed <= m_now) {
            m_armed.reset();
            emit alarm();
        }
    }
    // As timedatectl changes it.
    void setTimeZone(const QTimeZone& zone)
    {
        m_zone = zone;
        emit timeZoneChanged();
    }
    void setClock(const QDateTime& to)
    {
        m_now = to.toUTC();
        if (std::exchange(m_armed, std::nullopt))
            emit clockChanged();
    }

private:
    QDateTime m_now;
    QTimeZone m_zone;
    std::optional<QDateTime> m_armed;
};

// Records what the center hands to the desktop, and answers at once.
struct FakeNotificationServer : NotificationServer
{
    bool serverRuns = true;
    QList<DesktopNotification> shown; // the server's id of each is its index + 1

    void queryServer(std::function<void(bool)> answered) override { answered(serverRuns); }
    void notify(const DesktopNotification& notification, std::function<void(quint32)> onShown) override
    {
        if (!serverRuns)
            return onShown(0);
        shown.append(notification);
        onShown(quint32(shown.size()));
    }
    void close(quint32 id) { emit notificationClosed(id); }
};

// A deliverer outside the process that records the instants it is asked for; refuses when told.
struct FakeDeliveryTimer : DeliveryTimer
{
    bool works = true;
    QList<std::optional<QDateTime>> synced;

    bool isAvailable() const override { return true; }
    QString problem() const override { return QStringLiteral("refused for the test"); }
    void sync(std::function<std::optional<QDateTime>()> desired, std::function<void(bool)> done) override
    {
        synced.append(desired());
        done(works);
    }
};

// A notification center on a fake clock (Berlin time unless told) and a fake server, with its
// store in a folder of its own unless given one (several rigs on one store are several
// processes of the program), and a fake timer if asked; `restart` ends the program and starts
// it again on that store.
struct CenterRig
{
    QTemporaryDir folder;
    QString storeFolder = folder.filePath(QStringLiteral("service"));
    bool withTimer = false;
    FakeWallClock* clock = nullptr;
    FakeNotificationServer* server = nullptr;
    FakeDeliveryTimer* timer = nullptr;
    std::unique_ptr<UserNotificationCenter> center;
    QList<QDateTime> deliveries; // when the center handed each notification over, after it started
    QStringList delivered;       // and the identifier of each

    CenterRig() = default; // started by restart()
    explicit CenterRig(const QDateTime& start, const QTimeZone& zone = QTimeZone("Europe/Berlin"),
                       const QString& store = {}, bool timed = false)
        : storeFolder(store.isEmpty() ? folder.filePath(QStringLiteral("service")) : store), withTimer(timed)
    {
        restart(start, zone);
    }
    void restart(const QDateTime& at, const QTimeZone& zone = QTimeZone("Europe/Berlin"))
    {
        center.reset();
        auto fakeClock = std::make_unique<FakeWallClock>(at, zone);
        auto fakeServer = std::make_unique<FakeNotificationServer>();
        auto fakeTimer = withTimer ? std::make_unique<FakeDeliveryTimer>() : nullptr;
        clock = fakeClock.get();
        server = fakeServer.get();
        timer = fakeTimer.get();
        center = std::make_unique<UserNotificationCenter>(storeFolder, std::move(fakeClock), std::move(fakeServer),
                                                          std::move(fakeTimer));
        QObject::connect(center.get(), &UserNotificationCenter::delivered, [this](const NotificationRequest& r) {
            deliveries << clock->now();
            delivered << r.identifier;
        });
    }
    void restartAfter(qint64 seconds) { restart(clock->now().addSecs(seconds), clock->timeZone()); }
    qsizetype shown() const { return server->shown.size(); }
};
