// The defaults database where ordinary life gets in its way: another program holding its
// lock, several first launches at once, and a user who copies the database file alone
// after the program has ended.
#include "app/AppDelegate.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/SavedPhotoWriter.h"
#include "preferences/UserDefaults.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "NoisePhotos.h"

#include <sqlite3.h>

#include <cstdio>

namespace {

using namespace PreferenceKeys;

constexpr int kLockSeconds = 10;
const QString kTitle = QStringLiteral("Grandma at the lake");

QString self()
{
    return QCoreApplication::applicationFilePath();
}

// What the file holds under `key`, read past the store (and past anything it holds).
QVariant inFile(const QString& database, const char* key)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, "SELECT value FROM defaults WHERE key = ?1", -1, &query, nullptr);
    sqlite3_bind_text(query, 1, key, -1, SQLITE_STATIC);
    QVariant value;
    if (sqlite3_step(query) == SQLITE_ROW)
        value = sqlite3_column_type(query, 0) == SQLITE_TEXT
                    ? QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(query, 0))))
                    : QVariant(sqlite3_column_int64(query, 0));
    sqlite3_finalize(query);
    sqlite3_close(db);
    return value;
}

// Child mode: hold the write lock for a while, as another program writing would.
int holdLock(const QString& database, int seconds)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 2;
    std::puts("locked");
    std::fflush(stdout);
    QThread::sleep(seconds);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
}

// Child mode: a first launch that starts at the same moment as its siblings.
int firstLaunch(const QString& database, qint64 startAt, int index)
{
    while (QDateTime::currentMSecsSinceEpoch() < startAt)
        QThread::usleep(100);
    UserDefaults store(database);
    if (!store.isPersistent()) {
        std::fprintf(stderr, "launch %d runs in memory: %s\n", index, qPrintable(store.openError()));
        return 1;
    }
    store.setInteger(QStringLiteral("launch-%1").arg(index), index);
    return store.waitUntilSaved() ? 0 : 3;
}

// Child mode: the program as a user leaves it: a new photo, a title and an hour, then Exit.
int changeAndExit(int argc, char** argv, const QString& photo)
{
    QApplication application(argc, argv);
    AppDelegate delegate(Edition::Perchlight);
    delegate.savePhoto(QImage(photo));
    Preferences::write(popoverTitle, kTitle);
    Preferences::write(notificationHour, 7);
    QTimer::singleShot(0, &application, &QCoreApplication::quit);
    return application.exec();
}

} // namespace

class TestDefaultsDurability : public QObject
{
    Q_OBJECT

private slots:
    void lockHeldByAnotherProgramNeitherStallsTheViewNorLosesWrites()
    {
        QTemporaryDir folder;
        const QList<QByteArray> pngs = NoisePhotos::make(folder.path(), 1);
        QCOMPARE(pngs.size(), 1);
        UserDefaults& store = UserDefaults::standard();
        const QString database = UserDefaults::standardPath();
        QVERIFY(store.isPersistent());
        SavedPhotoWriter photoWriter(store);
        const QImage photo(NoisePhotos::path(folder.path(), 0));
        SettingsView view(Edition::Perchlight);
        view.show();

        QProcess holder;
        holder.start(self(), {"--hold-lock", database, QString::number(kLockSeconds)});
        QVERIFY(holder.waitForReadyRead(30000));

        // The GUI thread ticks every 5 ms; the longest gap between ticks is the longest stall.
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        connect(&ticker, &QTimer::timeout, [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        sinceTick.start();
        ticker.start(5);

        // A keystroke every 200 ms, the photo after the third and the switch after the tenth:
        // all while the lock is held.
        QElapsedTimer lockHeld;
        lockHeld.start();
        view.titleField()->clear();
        for (int typed = 0; typed < kTitle.size(); ++typed) {
            QTest::keyClick(view.titleField(), kTitle.at(typed).toLatin1());
            if (typed == 2)
                photoWriter.write(photo);
            if (typed == 9)
                view.enableNotificationsSwitch()->click();
            QCOMPARE(Preferences::read(popoverTitle), kTitle.left(typed + 1));
            QTest::qWait(200);
        }
        std::printf("longest GUI stall under a held lock: %lld ms\n", longestStall);
        QVERIFY2(longestStall < 1000, qPrintable(QStringLiteral("%1 ms").arg(longestStall)));
        QVERIFY2(lockHeld.elapsed() < kLockSeconds * 1000, "typing outlasted the lock; the test proves nothing");
        QVERIFY(inFile(database, popoverTitle.key.data()).isNull()); // held, not yet in the file

        QVERIFY(holder.waitForFinished(30000));
        QVERIFY(photoWriter.waitForDone());
        QCOMPARE(inFile(database, popoverTitle.key.data()).toString(), kTitle);
        QCOMPARE(inFile(database, notificationsEnabled.key.data()).toLongLong(), 0);
        // Once the photo has landed the log is emptied: the file alone holds it.
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(database + "-wal").size(), 0, 10000);
        UserDefaults reopened(database);
        QCOMPARE(QImage::fromData(reopened.dataForKey(SavedImageData).value_or(QByteArray())).size(),
                 QSize(1000, 1000));
    }

    void firstLaunchesAtOnceAllUseTheFile()
    {
        // Another launch holding the write lock while it creates the file makes switching to
        // write-ahead logging fail at once instead of waiting: the lock must be waited out.
        {
            QTemporaryDir folder;
            const QString database = folder.filePath("portraitperch/defaults.sqlite3");
            QVERIFY(QDir().mkpath(QFileInfo(database).path()));
            QProcess creator;
            creator.start(self(), {"--hold-lock", database, "1"});
            QVERIFY(creator.waitForReadyRead(30000));
            UserDefaults store(database);
            QVERIFY2(store.isPersistent(), qPrintable(store.openError()));
            QVERIFY(creator.waitForFinished(30000));
        }
        // And launches that race for real, a few milliseconds apart.
        constexpr int kRounds = 8;
        constexpr int kLaunches = 4;
        for (int round = 0; round < kRounds; ++round) {
            QTemporaryDir folder;
            const QString database = folder.filePath("config/portraitperch/defaults.sqlite3");
            const qint64 startAt = QDateTime::currentMSecsSinceEpoch() + 500;
            std::vector<std::unique_ptr<QProcess>> launches;
            for (int i = 0; i < kLaunches; ++i) {
                launches.push_back(std::make_unique<QProcess>());
                launches.back()->start(
                    self(), {"--first-launch", database, QString::number(startAt + i * 7 % 20), QString::number(i)});
            }
            for (const auto& launch : launches) {
                QVERIFY(launch->waitForFinished(60000));
                QVERIFY2(launch->exitCode() == 0, launch->readAllStandardError().constData());
            }
            UserDefaults store(database);
            for (int i = 0; i < kLaunches; ++i)
                QCOMPARE(store.integerForKey(QStringLiteral("launch-%1").arg(i)), std::optional<qint64>(i));
        }
        std::printf("first launches raced: %d rounds of %d, and one against a held lock\n", kRounds, kLaunches);
    }

    void databaseFileAloneHoldsEverythingAfterExit()
    {
        QTemporaryDir folder;
        QCOMPARE(NoisePhotos::make(folder.path(), 1).size(), 1);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", folder.filePath("config"));
        program.setProcessEnvironment(environment);
        program.start(self(), {"--change-and-exit", NoisePhotos::path(folder.path(), 0)});
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!program.readAllStandardError().contains("could not save"));

        // What a backup of the database file alone, without its companions, would keep.
        const QString database = folder.filePath("config/portraitperch/defaults.sqlite3");
        const QString copy = folder.filePath("copy.sqlite3");
        QVERIFY(QFile::copy(database, copy));
        UserDefaults copied(copy);
        QVERIFY2(copied.isPersistent(), qPrintable(copied.openError()));
        QCOMPARE(Preferences::read(popoverTitle, copied), kTitle);
        QCOMPARE(Preferences::read(notificationHour, copied), 7);
        QCOMPARE(QImage::fromData(copied.dataForKey(SavedImageData).value_or(QByteArray())).size(), QSize(1000, 1000));
        std::printf("database file alone after Exit: %lld bytes, complete\n", QFileInfo(database).size());
    }
};

int main(int argc, char** argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--hold-lock") == 0)
        return holdLock(QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
    if (argc == 5 && qstrcmp(argv[1], "--first-launch") == 0)
        return firstLaunch(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong(), atoi(argv[4]));
    if (argc == 3 && qstrcmp(argv[1], "--change-and-exit") == 0)
        return changeAndExit(argc, argv, QString::fromLocal8Bit(argv[2]));
    QApplication app(argc, argv);
    TestDefaultsDurability test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestDefaultsDurability.moc"
