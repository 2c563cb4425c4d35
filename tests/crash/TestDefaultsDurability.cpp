// The defaults database where ordinary life gets in its way: another program holding its
// lock, and a user who copies the database file alone after the program has ended.
#include "app/AppDelegate.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/SavedPhotoWriter.h"
#include "preferences/UserDefaults.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QCheckBox>
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

// Child mode: hold the write lock for a while, as another program writing would.
int holdLock(const QString& database, int seconds)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 2;
    std::puts("locked");
    std::fflush(stdout);
    QThread::sleep(seconds);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
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
        QCOMPARE(NoisePhotos::make(folder.path(), 1).size(), 1);
        UserDefaults& store = UserDefaults::standard();
        const QString database = UserDefaults::standardPath();
        QVERIFY(store.isPersistent());
        SavedPhotoWriter photoWriter(store);
        const QImage photo(NoisePhotos::path(folder.path(), 0));
        SettingsView view(Edition::Perchlight);
        view.show();

        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(), {"--hold-lock", database, QString::number(kLockSeconds)});
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
        // Still held, so the lock did keep the writes out all along.
        QVERIFY(lockHeld.elapsed() < kLockSeconds * 1000 && !store.waitUntilSaved(std::chrono::milliseconds(0)));

        QVERIFY(holder.waitForFinished(30000));
        QVERIFY(photoWriter.waitForDone());
        // Once the photo has landed the log is emptied: the file alone holds it all.
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(database + "-wal").size(), 0, 10000);
        UserDefaults reopened(database);
        QCOMPARE(Preferences::read(popoverTitle, reopened), kTitle);
        QCOMPARE(Preferences::read(notificationsEnabled, reopened), false);
        QCOMPARE(QImage::fromData(reopened.dataForKey(SavedImageData).value_or(QByteArray())).size(),
                 QSize(1000, 1000));
    }

    void databaseFileAloneHoldsEverythingAfterExit()
    {
        QTemporaryDir folder;
        QCOMPARE(NoisePhotos::make(folder.path(), 1).size(), 1);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", folder.filePath("config"));
        program.setProcessEnvironment(environment);
        program.start(QCoreApplication::applicationFilePath(),
                      {"--change-and-exit", NoisePhotos::path(folder.path(), 0)});
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
    if (argc == 3 && qstrcmp(argv[1], "--change-and-exit") == 0)
        return changeAndExit(argc, argv, QString::fromLocal8Bit(argv[2]));
    QApplication app(argc, argv);
    TestDefaultsDurability test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestDefaultsDurability.moc"
