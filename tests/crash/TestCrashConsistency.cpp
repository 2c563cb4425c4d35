// Kills a process that is writing photos and settings at random moments, hundreds of
// times, and checks after every kill that the store opens and every key holds a whole
// value: the one from before the interrupted write or the one after it.
#include "preferences/PreferenceKeys.h"
#include "preferences/UserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "NoisePhotos.h"

#include <csignal>
#include <sys/resource.h>

namespace {

constexpr int kKills = 200;
constexpr int kPhotoCount = 3;

// The message written in round `i`: long enough to span several database pages.
QString messageFor(int i)
{
    return QStringLiteral("message %1;").arg(i).repeated(400);
}

// Child mode: write until killed.
int writeForever(const QString& database, const QString& photos)
{
    QList<QByteArray> pngs;
    for (int i = 0; i < kPhotoCount; ++i) {
        QFile file(NoisePhotos::path(photos, i));
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        pngs << file.readAll();
    }
    UserDefaults store(database);
    if (!store.isPersistent())
        return 3;
    for (int i = 0;; ++i) {
        store.setData(PreferenceKeys::SavedImageData, pngs[i % kPhotoCount]);
        store.setString(PreferenceKeys::popoverTitle.key, QStringLiteral("title-%1").arg(i));
        store.setInteger(PreferenceKeys::notificationHour.key, i % 24);
        store.setString(PreferenceKeys::notificationMessage.key, messageFor(i));
        if (i == 0 && store.waitUntilSaved()) {
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}

// Child mode: store a small photo, then replace it with a large one while the file-size
// limit leaves no room, as on a full disk, and make room again.
int writeOnFullDisk(const QString& database)
{
    UserDefaults store(database);
    store.setData(PreferenceKeys::SavedImageData, QByteArray(50000, 'a'));
    if (!store.isPersistent() || !store.waitUntilSaved())
        return 3;
    std::signal(SIGXFSZ, SIG_IGN); // a write past the limit must fail, not kill the process
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t roomy = limit.rlim_cur;
    limit.rlim_cur = 4 * 1024 * 1024;
    setrlimit(RLIMIT_FSIZE, &limit);
    store.setData(PreferenceKeys::SavedImageData, QByteArray(6 * 1024 * 1024, 'b'));
    if (store.waitUntilSaved(std::chrono::seconds(1)))
        return 4;
    limit.rlim_cur = roomy;
    setrlimit(RLIMIT_FSIZE, &limit);
    return store.waitUntilSaved() ? 0 : 5;
}

} // namespace

class TestCrashConsistency : public QObject
{
    Q_OBJECT

private slots:
    void storeSurvivesKillsMidWrite()
    {
        QTemporaryDir folder;
        const QList<QByteArray> pngs = NoisePhotos::make(folder.path(), kPhotoCount);
        QCOMPARE(pngs.size(), kPhotoCount);
        const QString database = folder.filePath(QStringLiteral("defaults.sqlite3"));
        const QRegularExpression titlePattern(QStringLiteral("^title-(\\d+)$"));

        for (int kill = 0; kill < kKills; ++kill) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {"--write", database, folder.path()});
            QVERIFY(child.waitForStarted());
            QVERIFY2(child.waitForReadyRead(30000), "the writer never committed its first round");
            // The kill lands at a random moment of the write loop.
            QTest::qSleep(int(QRandomGenerator::global()->bounded(40)));
            child.kill();
            QVERIFY(child.waitForFinished());

            UserDefaults store(database);
            QVERIFY2(store.isPersistent(), qPrintable(store.openError()));
            const auto photo = store.dataForKey(PreferenceKeys::SavedImageData);
            QVERIFY(photo);
            QVERIFY2(pngs.contains(*photo), "the stored photo is not one of the photos written");
            QVERIFY(!QImage::fromData(*photo, "PNG").isNull());

            const auto title = store.stringForKey(PreferenceKeys::popoverTitle.key);
            QVERIFY(title);
            const auto match = titlePattern.match(*title);
            QVERIFY2(match.hasMatch(), qPrintable(*title));
            const auto message = store.stringForKey(PreferenceKeys::notificationMessage.key);
            QVERIFY(message);
            // A message is whole: it is exactly what one round wrote.
            const int round = message->section(QLatin1Char(' '), 1, 1).section(QLatin1Char(';'), 0, 0).toInt();
            QCOMPARE(*message, messageFor(round));
            const auto hour = store.integerForKey(PreferenceKeys::notificationHour.key);
            QVERIFY(hour && *hour >= 0 && *hour < 24);
        }
        std::printf("crash-consistency kills %d\n", kKills);
    }

    void fullDiskDelaysThePhotoUntilThereIsRoomAndSaysSoOnce()
    {
        QTemporaryDir folder;
        const QString database = folder.filePath(QStringLiteral("defaults.sqlite3"));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--full-disk", database});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
        const QStringList errors = QString::fromUtf8(child.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(QStringLiteral("cannot save SavedImageData")), qPrintable(errors.first()));

        UserDefaults store(database);
        QVERIFY(store.isPersistent());
        QCOMPARE(store.dataForKey(PreferenceKeys::SavedImageData),
                 std::optional<QByteArray>(QByteArray(6 * 1024 * 1024, 'b')));
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--full-disk") == 0)
        return writeOnFullDisk(QString::fromLocal8Bit(argv[2]));
    if (argc == 4 && qstrcmp(argv[1], "--write") == 0)
        return writeForever(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    QCoreApplication app(argc, argv);
    TestCrashConsistency test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestCrashConsistency.moc"
