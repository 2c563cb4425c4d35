// PortraitPerch's confinement, tried in a child that confines itself as the program does; the
// two ways a photo from elsewhere reaches it: the chooser outside the confinement, which hands
// over the one file chosen, and the desktop portal's file chooser; and the program started
// from outside it.
#include "ChildProcess.h"
#include "PhotoFixtures.h"
#include "PrivateBus.h"
#include "app/Confinement.h"
#include "platform/files/UserDirectories.h"
#include "platform/sandbox/OutsideFileChooser.h"
#include "platform/sandbox/OutsideLauncher.h"
#include "platform/session/AutostartEntry.h"
#include "platform/session/FileChooserPortal.h"
#include "preferences/UserDefaults.h"
#include "views/ConfinedPhotoAccess.h"
#include "views/PopoverView.h"

#include <QLocalServer>
#include <QtDBus>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

using PhotoFixtures::writeFile;

namespace {

// The child: a chooser that chooses `outside` and a launcher started first; then
// PortraitPerch's confinement, and a line of attempts: each one's name and the errno it met
// (0: it worked).
int confinedChild(int argc, char** argv)
{
    const QString picture = QString::fromLocal8Bit(argv[2]), outside = QString::fromLocal8Bit(argv[3]);
    auto chooser = OutsideFileChooser::start([outside] { return std::optional(outside); });
    auto launcher = OutsideLauncher::start({"--launched", outside}, false);
    if (!chooser || !launcher || !Confinement().apply(QStringLiteral("TestConfinement")))
        return 2;
    // The program that the launcher starts (writing to the same output) begins unconfined.
    const auto launched = launcher->launch();
    while (launched && QFileInfo::exists(QStringLiteral("/proc/%1").arg(*launched)))
        QThread::msleep(10);
    QCoreApplication application(argc, argv);
    const auto report = [](const char* what, bool worked) { std::printf("%s=%d;", what, worked ? 0 : errno); };
    report("read-pictures", ::open(argv[2], O_RDONLY) >= 0);
    report("read-outside", ::open(argv[3], O_RDONLY) >= 0);
    report("create-in-home", ::open(qPrintable(QDir::homePath() + "/planted"), O_WRONLY | O_CREAT, 0600) >= 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(quint16(std::atoi(argv[4])));
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    report("connect-tcp", ::connect(::socket(AF_INET, SOCK_STREAM, 0), (sockaddr*)&local, sizeof local) == 0);
    UserDefaults::standard().setString("popoverTitle", QStringLiteral("Confined"));
    report("store", UserDefaults::standard().waitUntilSaved());
    QString problem;
    report("autostart", AutostartEntry("portraitperch").enable({"PortraitPerch", "", "", "portraitperch"}, &problem));
    report("instance-socket", QLocalServer().listen(UserDirectories::temporaryDirectory() + "/instance.socket"));

    QEventLoop loop;
    QTimer::singleShot(scaledMs(20000), &loop, &QEventLoop::quit);
    chooser->choose([&](int descriptor) {
        QFile chosen;
        chosen.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        std::printf("chosen=%s,%d;", chosen.readAll().toHex().constData(), chosen.isWritable() ? 1 : 0);
        loop.quit();
    });
    loop.exec();
    std::printf("\n");
    return 0;
}

// The desktop portal's file chooser, answering every request with `response` and `chosen`.
class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.FileChooser")
    Q_PROPERTY(uint version READ version)

public:
    uint version() const { return 4; }
    uint response = 0;
    QString chosen;
    QString title;

public slots:
    QDBusObjectPath OpenFile(const QString&, const QString& title, const QVariantMap& options)
    {
        this->title = title;
        const QString sender = message().service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        const QDBusObjectPath handle(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                         .arg(sender, options.value(QStringLiteral("handle_token")).toString()));
        QDBusMessage answer = QDBusMessage::createSignal(handle.path(), "org.freedesktop.portal.Request", "Response");
        answer << response << QVariantMap{{"uris", QStringList{QUrl::fromLocalFile(chosen).toString()}}};
        QTimer::singleShot(0, this, [bus = connection(), answer] { bus.send(answer); });
        return handle;
    }
};

} // namespace

class TestConfinement : public QObject
{
    Q_OBJECT

private:
    PrivateBus m_bus;

private slots:
    void initTestCase() { QVERIFY(m_bus.start()); }

    void confinedProgramReachesOnlyItsOwnAndTheChosenFile()
    {
        if (LandlockConfinement::support().abi == 0)
            QSKIP("this kernel has no Landlock");
        const QString home = QDir::homePath();
        const QString picture = home + "/Pictures/photo.png", outside = home + "/.ssh/id_ed25519";
        QVERIFY(QDir().mkpath(home + "/Pictures"));
        QVERIFY(QDir().mkpath(home + "/.ssh"));
        QVERIFY(writeFile(picture, "png"));
        QVERIFY(writeFile(outside, "secret"));
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        QCOMPARE(::bind(listener, (sockaddr*)&address, size), 0);
        QCOMPARE(::listen(listener, 1), 0);
        QCOMPARE(::getsockname(listener, (sockaddr*)&address, &size), 0);

        ChildProcess child(QCoreApplication::applicationFilePath(),
                           {"--confined-child", picture, outside, QString::number(ntohs(address.sin_port))});
        QCOMPARE(child.waitForExit(), 0);
        QMap<QString, QString> met;
        for (const QString& attempt : QString::fromUtf8(child.readLine(0).value_or("")).split(';', Qt::SkipEmptyParts))
            met.insert(attempt.section('=', 0, 0), attempt.section('=', 1));
        QCOMPARE(met.value("read-pictures"), "0");
        QCOMPARE(met.value("read-outside"), QString::number(EACCES));
        QCOMPARE(met.value("launched"), "0");
        QCOMPARE(met.value("create-in-home"), QString::number(EACCES));
        QVERIFY2(!QFile::exists(home + "/planted"), "a file was made in the home");
        if (LandlockConfinement::support().abi >= 4)
            QCOMPARE(met.value("connect-tcp"), QString::number(EACCES));
        QCOMPARE(met.value("store"), "0");
        QCOMPARE(met.value("autostart"), "0");
        QCOMPARE(met.value("instance-socket"), "0");
        QCOMPARE(UserDefaults(UserDefaults::standardPath()).stringForKey("popoverTitle"), "Confined");
        // The chosen file, whole, through a descriptor that reads and does not write.
        QCOMPARE(met.value("chosen"), QString::fromLatin1(QByteArray("secret").toHex()) + ",0");
        ::close(listener);

        // Drops: only from inside the readable folders, a link out of them followed.
        const ConfinedPhotoAccess access(nullptr, {home + "/Pictures"});
        QVERIFY(QFile::link(outside, home + "/Pictures/link.png"));
        QVERIFY(QDir().mkpath(home + "/Pictures-2"));
        QVERIFY(writeFile(home + "/Pictures-2/photo.png", "png"));
        QVERIFY2(access.readsByItself(picture), "a photo in Pictures");
        QVERIFY2(!access.readsByItself(home + "/Pictures/link.png"), "a link out of Pictures");
        QVERIFY2(!access.readsByItself(home + "/Pictures-2/photo.png"), "a folder named like Pictures");
        // A user without a Pictures folder has it set to the home: the home is not granted.
        QVERIFY(writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME\"\n"));
        QVERIFY2(!Confinement().photoFolders().contains(home), qPrintable(Confinement().photoFolders().join(' ')));
    }

    void portalHandsBackTheChosenFile()
    {
        using Result = FileChooserPortal::Choice::Result;
        const auto ask = [] {
            return FileChooserPortal::openFile(QDBusConnection::sessionBus(), "Select a new photo", "Photos",
                                               {"image/png"}, QDir::homePath());
        };
        QCOMPARE(int(ask().result), int(Result::Unavailable));

        FakePortal portal;
        portal.chosen = QDir::homePath() + "/Documents/chosen.png";
        QDBusConnection bus = QDBusConnection::connectToBus(m_bus.address(), "portal");
        QVERIFY(bus.registerObject("/org/freedesktop/portal/desktop", &portal,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(bus.registerService("org.freedesktop.portal.Desktop"));
        const auto choice = ask();
        QCOMPARE(int(choice.result), int(Result::Chosen));
        QCOMPARE(choice.path, portal.chosen);
        QCOMPARE(portal.title, "Select a new photo");
        // Either edition's Change Photo takes the portal's choice where a portal runs.
        QCOMPARE(PopoverView::askForPhoto(), QUrl::fromLocalFile(portal.chosen));
        portal.response = 1;
        QCOMPARE(int(ask().result), int(Result::Cancelled));
        QCOMPARE(PopoverView::askForPhoto(), std::nullopt);
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--launched") == 0)
        return std::printf("launched=%d;", ::open(argv[2], O_RDONLY) >= 0 ? 0 : errno) < 0;
    if (argc == 5 && qstrcmp(argv[1], "--confined-child") == 0)
        return confinedChild(argc, argv);
    QCoreApplication application(argc, argv);
    TestConfinement test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestConfinement.moc"
