#include "platform/session/DesktopAppearance.h"
#include "views/NotificationMessageEditor.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorScheme = QStringLiteral("color-scheme");

const char* kBusConfig = "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                         "<policy context='default'><allow send_destination='*' eavesdrop='true'/>"
                         "<allow eavesdrop='true'/><allow own='*'/></policy></busconfig>";

} // namespace

// The portal's Settings interface as far as the program uses it. An invalid value is a
// setting the portal does not publish; without ReadOne it is a portal before version 2.
class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    QVariant colorScheme;
    bool hasReadOne = true;

    void change(const QString& nameSpace, const QString& key, uint value)
    {
        emit SettingChanged(nameSpace, key, QDBusVariant(value));
    }

public slots:
    QDBusVariant ReadOne(const QString& nameSpace, const QString& key)
    {
        if (!hasReadOne)
            sendErrorReply(QDBusError::UnknownMethod, QStringLiteral("no such method"));
        return lookUp(nameSpace, key);
    }
    // Version 1 wraps the value in a second variant.
    QDBusVariant Read(const QString& nameSpace, const QString& key)
    {
        return QDBusVariant(QVariant::fromValue(lookUp(nameSpace, key)));
    }

signals:
    void SettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    QDBusVariant lookUp(const QString& nameSpace, const QString& key)
    {
        if (nameSpace != kAppearance || key != kColorScheme || !colorScheme.isValid())
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QStringLiteral("not found"));
        return QDBusVariant(colorScheme.isValid() ? colorScheme : QVariant(0u));
    }
};

class TestDarkSetting : public QObject
{
    Q_OBJECT

    QTemporaryDir m_busDir;
    QProcess m_bus;
    std::optional<QDBusConnection> m_portalConnection;
    FakePortal m_portal;
    QPalette m_light;

    void publishPortal(bool present)
    {
        if (present)
            QVERIFY(m_portalConnection->registerService(kPortal));
        else
            m_portalConnection->unregisterService(kPortal);
    }

    // Every call made before this one has been answered and its answer handled.
    static void settle()
    {
        const QDBusMessage ping = QDBusMessage::createMethodCall(
            kPortal, kPath, QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(ping));
        QTRY_VERIFY(watcher.isFinished());
        QCoreApplication::processEvents();
    }

    static QColor window() { return QApplication::palette().color(QPalette::Window); }

private slots:
    void initTestCase()
    {
        QFile config(m_busDir.filePath(QStringLiteral("bus.conf")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QString::fromLatin1(kBusConfig).arg(m_busDir.path()).toUtf8());
        config.close();
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config.fileName(),
                                                    QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is needed (package dbus)");
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        m_portalConnection = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("portal"));
        QVERIFY(m_portalConnection->registerObject(
            kPath, &m_portal, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        m_light = QApplication::palette();
        QVERIFY(window().lightness() > 128);
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void init()
    {
        QApplication::setPalette(m_light);
        m_portal.colorScheme = QVariant();
        m_portal.hasReadOne = true;
        qunsetenv("GTK_THEME");
        publishPortal(true);
    }

    void portalValues_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<ColorSchemePortal::Scheme>("scheme");
        QTest::newRow("1") << QVariant(1u) << ColorSchemePortal::Scheme::PreferDark;
        QTest::newRow("2") << QVariant(2u) << ColorSchemePortal::Scheme::PreferLight;
        QTest::newRow("0") << QVariant(0u) << ColorSchemePortal::Scheme::NoPreference;
        QTest::newRow("unknown number") << QVariant(7u) << ColorSchemePortal::Scheme::NoPreference;
        QTest::newRow("text") << QVariant(QStringLiteral("1")) << ColorSchemePortal::Scheme::NoPreference;
        QTest::newRow("wrapped twice") << QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(1u))))
                                       << ColorSchemePortal::Scheme::PreferDark;
    }

    void portalValues()
    {
        QFETCH(QVariant, value);
        QFETCH(ColorSchemePortal::Scheme, scheme);
        QCOMPARE(ColorSchemePortal::fromValue(value), scheme);
    }

    // What the portal says against GTK_THEME, once the portal's answer is in.
    void portalBeforeGtkTheme_data()
    {
        QTest::addColumn<bool>("portal");
        QTest::addColumn<QVariant>("colorScheme");
        QTest::addColumn<QString>("gtkTheme");
        QTest::addColumn<bool>("dark");
        QTest::newRow("dark, light theme") << true << QVariant(1u) << "Adwaita" << true;
        QTest::newRow("light, dark theme") << true << QVariant(2u) << "Adwaita:dark" << false;
        QTest::newRow("no preference, dark theme") << true << QVariant(0u) << "Adwaita:dark" << true;
        QTest::newRow("not published, dark theme") << true << QVariant() << "Adwaita:dark" << true;
        QTest::newRow("no portal, dark theme") << false << QVariant() << "Adwaita-dark" << true;
        QTest::newRow("no portal, no theme") << false << QVariant() << "" << false;
    }

    void portalBeforeGtkTheme()
    {
        QFETCH(bool, portal);
        QFETCH(QVariant, colorScheme);
        QFETCH(QString, gtkTheme);
        QFETCH(bool, dark);
        publishPortal(portal);
        m_portal.colorScheme = colorScheme;
        qputenv("GTK_THEME", gtkTheme.toUtf8());
        DesktopAppearance appearance(QDBusConnection::sessionBus());
        appearance.start();
        settle();
        QCOMPARE(appearance.isDark(), dark);
        QCOMPARE(window(),
                 dark ? DesktopAppearance::darkPalette().color(QPalette::Window) : m_light.color(QPalette::Window));
    }

    void olderPortalAnswersThroughRead()
    {
        m_portal.hasReadOne = false;
        m_portal.colorScheme = 1u;
        DesktopAppearance appearance(QDBusConnection::sessionBus());
        appearance.start();
        QTRY_VERIFY(appearance.isDark());
    }

    // The user flips the desktop's switch while the program runs.
    void followsTheSwitchLiveAndTheEditorWithIt()
    {
        m_portal.colorScheme = 2u;
        DesktopAppearance appearance(QDBusConnection::sessionBus());
        appearance.start();
        settle();
        NotificationMessageEditor editor;
        editor.resize(280, NotificationMessageEditor::kHeight);
        editor.setText(QStringLiteral("Stretch"));
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        const auto marginLightness = [&] {
            const QImage shot = editor.grab().toImage();
            return shot.pixelColor(shot.width() / 2, shot.height() - 4).lightness(); // inside the 8-pixel margin
        };
        QVERIFY(marginLightness() > 200);

        m_portal.change(kAppearance, kColorScheme, 1);
        QTRY_VERIFY(appearance.isDark());
        QCOMPARE(window(), DesktopAppearance::darkPalette().color(QPalette::Window));
        QVERIFY(marginLightness() < 60);
        QCOMPARE(editor.textArea()->palette().color(QPalette::Text),
                 DesktopAppearance::darkPalette().color(QPalette::Text));

        // Another setting of the same value changes nothing.
        m_portal.change(QStringLiteral("org.gnome.desktop.interface"), kColorScheme, 2);
        m_portal.change(kAppearance, QStringLiteral("accent-color"), 2);
        settle();
        QVERIFY(appearance.isDark());

        m_portal.change(kAppearance, kColorScheme, 2);
        QTRY_VERIFY(!appearance.isDark());
        QCOMPARE(window(), m_light.color(QPalette::Window));
        QVERIFY(marginLightness() > 200);
    }
};

QTEST_MAIN(TestDarkSetting)
#include "TestDarkSetting.moc"
