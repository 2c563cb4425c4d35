#include "Fakes.h"
#include "PhotoFixtures.h"
#include "PrivateBus.h"
#include "TimeFactor.h"

#include "app/AppDelegate.h"
#include "app/DesktopActivation.h"
#include "app/TrayActions.h"
#include "platform/files/UserDirectories.h"
#include "platform/session/ApplicationService.h"
#include "platform/session/AutostartEntry.h"
#include "platform/session/InstanceSocket.h"
#include "platform/session/SingleInstance.h"

#include <QLocalSocket>
#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kId = QStringLiteral("io.github.perchlight.Perchlight");
} // namespace

// One running copy: the session bus name and the org.freedesktop.Application interface that
// desktops and later starts reach, the bounded socket used without a bus, and the private
// temporary folder that a folder planted by another user gives way to.
class TestSingleInstance : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;

    // A call from another connection, as a desktop or a later start makes it.
    static QDBusMessage call(const QString& method, const QVariantList& arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kId, ApplicationService::objectPath(kId),
                                                              ApplicationService::interfaceName(), method);
        message.setArguments(arguments);
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("desktop"))
            .call(message, QDBus::BlockWithGui);
    }
    static QDBusMessage action(const QString& name, const QVariantList& parameter = {})
    {
        return call(QStringLiteral("ActivateAction"), {name, parameter, QVariantMap()});
    }

private slots:
    void initTestCase() { QVERIFY2(m_bus.start(), "dbus-daemon is needed (package dbus)"); }

    void busRequestsWaitForLaunchThenOpenThePopoverAndRunTrayActions()
    {
        SingleInstance instance(kId, QStringLiteral("perchlight"), TrayActions::all());
        QCOMPARE(instance.start(), SingleInstance::Outcome::Primary);
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        QCOMPARE(bus->serviceOwner(kId).value(), QDBusConnection::sessionBus().baseService());

        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        DesktopActivation activation(instance, delegate);
        // Answered at once, carried out when launching has finished.
        QCOMPARE(call(QStringLiteral("Activate"), {QVariantMap()}).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(action(QStringLiteral("no-such-action")).errorName(),
                 QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
        QVERIFY(!delegate.popover().isShown());
        delegate.applicationDidFinishLaunching();
        instance.acceptRequests();
        QVERIFY(delegate.popover().isShown());

        QCOMPARE(action(TrayActions::Settings).type(), QDBusMessage::ReplyMessage);
        QVERIFY(delegate.settingsPopover().isShown());
        QVERIFY(!delegate.popover().isShown());
        QCOMPARE(action(TrayActions::OpenPhoto).type(), QDBusMessage::ReplyMessage);
        QVERIFY(delegate.popover().isShown());

        // Start at Login: a boolean sets it, no parameter toggles it.
        const AutostartEntry entry(QStringLiteral("perchlight"));
        const QVariantList on{QVariant::fromValue(QDBusVariant(true))};
        for (const auto& [parameter, enabled] : {std::pair{on, true}, {on, true}, {QVariantList(), false}}) {
            QCOMPARE(action(TrayActions::StartAtLogin, parameter).type(), QDBusMessage::ReplyMessage);
            QCOMPARE(entry.isEnabled(), enabled);
            QCOMPARE(delegate.contextMenu()->findChild<QAction*>(TrayActions::StartAtLogin)->isChecked(), enabled);
        }
        // A parameter of a type the action does not take is refused and changes nothing.
        const QVariantList text{QVariant::fromValue(QDBusVariant(QStringLiteral("true")))};
        for (const auto& [name, parameter] : {std::pair{TrayActions::StartAtLogin, text}, {TrayActions::Exit, on}})
            QCOMPARE(action(name, parameter).errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
        QVERIFY(!entry.isEnabled());
        QVERIFY(delegate.contextMenu()->findChild<QAction*>(TrayActions::Exit));

        // An ending copy lets go of the name at once, for the next start to take.
        instance.release();
        QVERIFY(!bus->isServiceRegistered(kId).value());
    }

    void socketServesFewPeersWithShortLinesOnly()
    {
        InstanceSocket primary(QStringLiteral("bounded"));
        QCOMPARE(primary.start(), InstanceSocket::Outcome::Primary);
        // A lock left empty, garbled or made on another machine names no copy that could ever
        // answer: it is taken over, with a line, instead of stopping every start.
        const QString leftover = UserDirectories::temporaryDirectory() + QStringLiteral("/leftover.lock");
        for (const char* content : {"", "\x01\xff garbled", "4242\nperchlight\nelsewhere.example\n"}) {
            QVERIFY(PhotoFixtures::writeFile(leftover, content));
            InstanceSocket start(QStringLiteral("leftover"));
            QCOMPARE(start.start(), InstanceSocket::Outcome::Primary);
            QVERIFY2(start.problem().startsWith(QLatin1String("took over")), qPrintable(start.problem()));
        }
        QSignalSpy activations(&primary, &InstanceSocket::activationRequested);
        const QString path = UserDirectories::temporaryDirectory() + QStringLiteral("/bounded.socket");
        const auto connected = [&path] {
            auto socket = std::make_unique<QLocalSocket>();
            socket->connectToServer(path);
            return socket->waitForConnected(scaledMs(1000)) ? std::move(socket) : nullptr;
        };

        // A runaway client: many idle connections, and one endless line, dropped as it comes
        // (before the last idle one, which came first, times out).
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < 3 * InstanceSocket::kMaxPeers; ++i) {
            idle.push_back(connected());
            QVERIFY(idle.back());
        }
        const auto closed = [&idle] {
            return std::count_if(idle.begin(), idle.end(),
                                 [](const auto& s) { return s->state() == QLocalSocket::UnconnectedState; });
        };
        QTRY_VERIFY(closed() >= 2 * InstanceSocket::kMaxPeers);
        const auto flood = connected();
        QVERIFY(flood);
        flood->write(QByteArray(1 << 20, 'a'));
        QTRY_COMPARE(flood->state(), QLocalSocket::UnconnectedState);
        QCOMPARE(idle.back()->state(), QLocalSocket::ConnectedState);

        // A well-behaved start is still answered, and an idle peer is let go in time.
        const auto start = connected();
        QVERIFY(start);
        start->write("activate\n");
        QTRY_VERIFY(start->canReadLine());
        QCOMPARE(start->readLine(), QByteArray("ok\n"));
        QCOMPARE(activations.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(closed(), qsizetype(idle.size()),
                                  scaledMs(2 * InstanceSocket::kPeerTimeoutMs + 1000));
    }

    void plantedTemporaryFolderGivesWayToAPrivateOneFoundAgain()
    {
        QTemporaryDir tmp, elsewhere;
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const QString planted = tmp.path() + QStringLiteral("/portraitperch-%1").arg(::getuid());
        QVERIFY(QFile::link(elsewhere.path(), planted)); // another user's folder is refused the same way

        const QString used = UserDirectories::temporaryDirectory();
        QVERIFY2(used.startsWith(planted + QLatin1Char('-')), qPrintable(used));
        struct stat st = {};
        QVERIFY(::lstat(QFile::encodeName(used).constData(), &st) == 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 0777, 0700u);
        QCOMPARE(UserDirectories::temporaryDirectory(), used);
        const QString notice = UserDirectories::temporaryDirectoryNotice().value_or(QString());
        QVERIFY2(notice.contains(planted) && notice.endsWith(QStringLiteral("using %1 instead").arg(used)),
                 qPrintable(notice));

        // Gone after a reboot: a new one is made and found again. A record edited to point
        // anywhere else is not followed.
        QVERIFY(QDir(used).removeRecursively());
        const QString again = UserDirectories::temporaryDirectory();
        QVERIFY(again != used);
        QVERIFY(again.startsWith(planted + QLatin1Char('-')));
        QCOMPARE(UserDirectories::temporaryDirectory(), again);
        QFile record(UserDirectories::configDirectory() + QStringLiteral("/temporary-folder"));
        QVERIFY(record.open(QIODevice::WriteOnly));
        record.write(QFile::encodeName(elsewhere.path()));
        record.close();
        QVERIFY(UserDirectories::temporaryDirectory().startsWith(planted + QLatin1Char('-')));

        qunsetenv("TMPDIR");
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
};

QTEST_MAIN(TestSingleInstance)
#include "TestSingleInstance.moc"
