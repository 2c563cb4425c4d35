#include "platform/session/DesktopAppearance.h"
#include "views/NotificationMessageEditor.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QProcess>
#include <QTest>

namespace {
const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
} // namespace

// The portal's Settings interface as the program uses it. An invalid value is a setting
// the portal does not publish; without ReadOne it is a portal before version 2, whose Read
// wraps the value in a second variant.
class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    QVariant colorScheme;
    bool hasReadOne = true;

public slots:
    QDBusVariant ReadOne(const QString& nameSpace, const QString& key)
    {
        if (!hasReadOne) {
            sendErrorReply(QDBusError::UnknownMethod, QString());
            return {};
        }
        return Read(nameSpace, key).variant().value<QDBusVariant>();
    }
    QDBusVariant Read(const QString& nameSpace, const QString& key)
    {
        if (nameSpace != kAppearance || key != QLatin1String("color-scheme") || !colorScheme.isValid())
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QString());
        return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme.isValid() ? colorScheme : QVariant(0u))));
    }

signals:
    void SettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);
};

class TestDarkSetting : public QObject
{
    Q_OBJECT

    QProcess m_bus; // a bus of the test's own that starts no services: the fake is the only portal
    std::optional<QDBusConnection> m_portalSide;
    FakePortal m_portal;
    QPalette m_light;

    // Every call made before this one has been answered and its answer handled.
    static void settle()
    {
        QDBusPendingCallWatcher ping(QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
            kPortal, kPath, QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"))));
        QTRY_VERIFY(ping.isFinished());
        QCoreApplication::processEvents();
    }
    static QColor window() { return QApplication::palette().color(QPalette::Window); }
    static QColor darkWindow() { return DesktopAppearance::darkPalette().color(QPalette::Window); }

private slots:
    void initTestCase()
    {
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=" PERCH_TEST_BUS_CONFIG),
                                                    QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
        m_portalSide = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
        QVERIFY(m_portalSide->registerObject(kPath, &m_portal, QDBusConnection::ExportAllContents));
        m_light = QApplication::palette();
    }
    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void init()
    {
        QApplication::setPalette(m_light);
        m_portal.hasReadOne = true;
        m_portalSide->registerService(kPortal);
    }

    // The portal's stated preference first; GTK_THEME where it states none.
    void portalBeforeGtkTheme_data()
    {
        QTest::addColumn<bool>("portal");
        QTest::addColumn<QVariant>("colorScheme");
        QTest::addColumn<QString>("gtkTheme");
        QTest::addColumn<bool>("dark");
        QTest::newRow("dark, light theme") << true << QVariant(1u) << "Adwaita" << true;
        QTest::newRow("light, dark theme") << true << QVariant(2u) << "Adwaita:dark" << false;
        QTest::newRow("none, dark theme") << true << QVariant(0u) << " Arc-Dark " << true;
        QTest::newRow("unknown value") << true << QVariant(7u) << "Adwaita:light" << false;
        QTest::newRow("unpublished, dark theme") << true << QVariant() << "Adwaita-dark" << true;
        QTest::newRow("no portal, dark theme") << false << QVariant() << "Adwaita:dark" << true;
        QTest::newRow("no portal, dark in a name") << false << QVariant() << "Darkroom" << false;
    }
    void portalBeforeGtkTheme()
    {
        QFETCH(bool, portal);
        QFETCH(QVariant, colorScheme);
        QFETCH(QString, gtkTheme);
        QFETCH(bool, dark);
        m_portal.colorScheme = colorScheme;
        if (!portal)
            m_portalSide->unregisterService(kPortal);
        qputenv("GTK_THEME", gtkTheme.toUtf8());
        DesktopAppearance appearance(QDBusConnection::sessionBus());
        appearance.start();
        settle();
        QCOMPARE(window(), dark ? darkWindow() : m_light.color(QPalette::Window));
    }

    void olderPortalAnswersThroughRead()
    {
        m_portal.hasReadOne = false;
        m_portal.colorScheme = 1u;
        DesktopAppearance appearance(QDBusConnection::sessionBus());
        appearance.start();
        QTRY_COMPARE(window(), darkWindow());
    }

    // The user flips the desktop's switch while the program runs; the editor's fill follows.
    void followsTheSwitchLive()
    {
        m_portal.colorScheme = 2u;
        qunsetenv("GTK_THEME");
        DesktopAppearance appearance(QDBusConnection::sessionBus());
        appearance.start();
        NotificationMessageEditor editor;
        editor.resize(280, NotificationMessageEditor::kHeight);
        editor.show();
        const auto fill = [&] {
            return editor.grab().toImage().pixelColor(140, NotificationMessageEditor::kHeight - 4);
        };
        for (const uint scheme : {1u, 2u}) {
            emit m_portal.SettingChanged(kAppearance, QStringLiteral("color-scheme"), QDBusVariant(scheme));
            // Another setting with the same name changes nothing.
            emit m_portal.SettingChanged(QStringLiteral("org.gnome.desktop"), QStringLiteral("color-scheme"),
                                         QDBusVariant(3u - scheme));
            QTRY_COMPARE(appearance.isDark(), scheme == 1);
            settle();
            QCOMPARE(window(), scheme == 1 ? darkWindow() : m_light.color(QPalette::Window));
            QCOMPARE(fill().lightness() < 60, scheme == 1);
        }
    }
};

QTEST_MAIN(TestDarkSetting)
#include "TestDarkSetting.moc"
