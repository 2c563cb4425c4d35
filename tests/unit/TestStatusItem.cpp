#include "PrivateBus.h"
#include "TimeFactor.h"

#include "platform/tray/DBusMenuExporter.h"
#include "platform/tray/StatusNotifierTypes.h"
#include "platform/tray/TrayStatusItem.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

namespace {
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
} // namespace

// A desktop's StatusNotifierWatcher.
class FakeWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered MEMBER hostRegistered)

public:
    bool hostRegistered = false;
    QStringList registered;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { registered.append(service); }

public:
    void announceHost()
    {
        hostRegistered = true;
        emit StatusNotifierHostRegistered();
    }

signals:
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();
};

// The program's status item as a StatusNotifierItem host sees it over the bus: registered
// with a watcher that comes later and again with a restarted one, the icon, tooltip and
// menu as the host reads them, and the host's clicks with their place.
class TestStatusItem : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;

    static QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                             const QString& method, const QVariantList& arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("host"))
            .call(message, QDBus::BlockWithGui);
    }
    static QVariant property(const QString& service, const QString& name)
    {
        const QDBusMessage reply =
            call(service, QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
                 QStringLiteral("Get"), {kItemInterface, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    static QDBusMessage menuCall(const QString& service, const QString& method, const QVariantList& arguments)
    {
        return call(service, QStringLiteral("/MenuBar"), kMenuInterface, method, arguments);
    }
    // The root's entries as the host reads them.
    static QList<DBusMenuLayoutItem> entries(const QString& service)
    {
        const QDBusMessage reply = menuCall(service, QStringLiteral("GetLayout"), {0, -1, QStringList()});
        DBusMenuLayoutItem root;
        reply.arguments().value(1).value<QDBusArgument>() >> root;
        return root.children;
    }

private slots:
    void initTestCase() { QVERIFY2(m_bus.start(), "dbus-daemon is needed (package dbus)"); }

    void aHostComingLaterSeesTheItemAndItsMenuAndClicks()
    {
        auto disconnect = qScopeGuard([] {
            QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
            QDBusConnection::disconnectFromBus(QStringLiteral("host"));
        });
        TrayStatusItem item;
        QSignalSpy clicks(&item, &StatusItem::buttonClicked);
        QImage picture(22, 22, QImage::Format_ARGB32);
        picture.fill(qRgba(0x10, 0x20, 0x30, 0x80));
        item.setImage(QIcon(QPixmap::fromImage(picture)));
        item.setToolTip(QStringLiteral("Perchlight\nYour_Photo"));
        QMenu menu;
        menu.addAction(QStringLiteral("&Open Photo"));
        QAction* startAtLogin = menu.addAction(QStringLiteral("Start at Login"));
        startAtLogin->setCheckable(true);
        connect(&menu, &QMenu::aboutToShow, startAtLogin, [startAtLogin] { startAtLogin->setChecked(true); });
        menu.addSeparator();
        QAction* exit = menu.addAction(QStringLiteral("Exit"));
        QSignalSpy exits(exit, &QAction::triggered);
        item.setContextMenu(&menu);
        QVERIFY2(!item.hasButton(), "no host runs yet, nor an XEmbed tray offscreen");

        // A watcher starts after the program: the item registers with it, and has a button
        // once a host says it draws items.
        FakeWatcher watcher;
        QDBusConnection watcherSide = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("watcher"));
        QVERIFY(watcherSide.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                           QDBusConnection::ExportAllContents));
        QVERIFY(watcherSide.registerService(kWatcher));
        const QString service = QDBusConnection::sessionBus().baseService();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.registered, QStringList{service}, scaledMs(5000));
        QVERIFY2(!item.hasButton(), "the watcher has no host yet");
        watcher.announceHost();
        QTRY_VERIFY_WITH_TIMEOUT(item.hasButton(), scaledMs(5000));

        QCOMPARE(property(service, QStringLiteral("Title")).toString(), QStringLiteral("TestStatusItem"));
        QCOMPARE(property(service, QStringLiteral("Menu")).value<QDBusObjectPath>().path(), QStringLiteral("/MenuBar"));
        StatusNotifierToolTip toolTip;
        property(service, QStringLiteral("ToolTip")).value<QDBusArgument>() >> toolTip;
        QCOMPARE(QStringList({toolTip.title, toolTip.description}), QStringList({"Perchlight", "Your_Photo"}));
        StatusNotifierPixmaps pixmaps;
        property(service, QStringLiteral("IconPixmap")).value<QDBusArgument>() >> pixmaps;
        QCOMPARE(pixmaps.size(), 1);
        QCOMPARE(QSize(pixmaps[0].width, pixmaps[0].height), QSize(22, 22));
        QCOMPARE(pixmaps[0].argb.left(4).toHex(), QByteArray("80102030")); // alpha first, in network order

        // The host's click, with its place, is the button's click and bounds. GNOME's and
        // Plasma's hosts hand over an activation token first, for the window it brings up.
        QCOMPARE(call(service, QStringLiteral("/StatusNotifierItem"), kItemInterface,
                      QStringLiteral("ProvideXdgActivationToken"), {QStringLiteral("token")})
                     .type(),
                 QDBusMessage::ReplyMessage);
        call(service, QStringLiteral("/StatusNotifierItem"), kItemInterface, QStringLiteral("Activate"), {700, 11});
        QTRY_COMPARE_WITH_TIMEOUT(clicks.size(), 1, scaledMs(5000));
        QCOMPARE(item.buttonBounds(), QRect(700, 11, 1, 1));

        // The menu as the host draws it: mnemonics, the check mark brought up to date before
        // showing, the separator; a click on an entry runs its action; an unknown entry is refused.
        QCOMPARE(menuCall(service, QStringLiteral("AboutToShow"), {0}).arguments().value(0), QVariant(true));
        const auto shown = entries(service);
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown[0].properties.value(QStringLiteral("label")), QVariant(QStringLiteral("_Open Photo")));
        QCOMPARE(shown[1].properties.value(QStringLiteral("toggle-type")), QVariant(QStringLiteral("checkmark")));
        QCOMPARE(shown[1].properties.value(QStringLiteral("toggle-state")), QVariant(1));
        QCOMPARE(shown[2].properties.value(QStringLiteral("type")), QVariant(QStringLiteral("separator")));
        menuCall(service, QStringLiteral("Event"),
                 {shown[3].id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
        QTRY_COMPARE_WITH_TIMEOUT(exits.size(), 1, scaledMs(5000));
        QCOMPARE(menuCall(service, QStringLiteral("GetLayout"), {99, -1, QStringList()}).type(),
                 QDBusMessage::ErrorMessage);

        // A restarted watcher knows nothing of the item until it registers again.
        QVERIFY(watcherSide.unregisterService(kWatcher));
        QTRY_VERIFY_WITH_TIMEOUT(!item.hasButton(), scaledMs(5000));
        QVERIFY(watcherSide.registerService(kWatcher));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.registered.size(), 2, scaledMs(5000));
        QTRY_VERIFY_WITH_TIMEOUT(item.hasButton(), scaledMs(5000));
    }
};

QTEST_MAIN(TestStatusItem)
#include "TestStatusItem.moc"
