#include "ChildProcess.h"
#include "PhotoFixtures.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/SavedPhotoWriter.h"

#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>

using namespace PreferenceKeys;

namespace {

// Another connection to the database, as another program would hold it.
class Locker
{
public:
    explicit Locker(const QString& path) { sqlite3_open(QFile::encodeName(path).constData(), &m_db); }
    ~Locker() { sqlite3_close(m_db); }
    // Its commit waits out a moment's lock of ours, as another program's would: the commit
    // of the transaction that creates the file needs the file to itself.
    bool lock()
    {
        return !sqlite3_busy_timeout(m_db, 10000) && !sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    }
    void unlock() { sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr); }

private:
    sqlite3* m_db = nullptr;
};

} // namespace

class TestUserDefaults : public QObject
{
    Q_OBJECT

    static int mode(const QString& path)
    {
        struct stat st
        {
        };
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    }

private slots:
    void valuesKeepTheirKeyAndKindAcrossReopening()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("portraitperch/defaults.sqlite3"));
        {
            UserDefaults store(path);
            // The key names that stores of earlier versions hold, and values of another kind.
            store.setString(u"popoverTitle", QString());
            store.setString(u"notificationMessage", QStringLiteral("Hi"));
            store.setBool(u"notificationHour", true);
            store.setInteger(u"notificationsEnabled", 0);
            // A photo long enough for the log to pass SQLite's threshold; replaced by a smaller one.
            store.setData(u"SavedImageData", QByteArray(33 << 20, 'Q'));
            QVERIFY(store.waitUntilSaved());
            QTRY_VERIFY2(QFileInfo(path).size() > 33 << 20, "the log is never copied into the file");
            store.setData(u"SavedImageData", QByteArray("\x89PNG\0", 5));
        }
        QVERIFY2(!PhotoFixtures::readFile(path).contains(QByteArray(1000, 'Q')),
                 "the replaced photo lingers in the file");
        UserDefaults store(path);
        QVERIFY(store.isPersistent());
        QCOMPARE(Preferences::read(popoverTitle, store) + '|' + Preferences::read(notificationMessage, store),
                 QStringLiteral("|Hi"));
        QCOMPARE(store.dataForKey(SavedImageData), std::optional(QByteArray("\x89PNG\0", 5)));
        QCOMPARE(Preferences::read(notificationHour, store), qint64(9)); // as missing
        QVERIFY(Preferences::read(notificationsEnabled, store));
        QVERIFY(mode(path) == 0600);
        QVERIFY(mode(dir.filePath(QStringLiteral("portraitperch"))) == 0700);
    }

    // A file that is not a store of ours is left exactly as it is; the values live in memory.
    void unusableFilesAreLeftAlone_data()
    {
        QTest::addColumn<QString>("make"); // SQL, a file to copy, "folder", or nothing for garbage
        QTest::newRow("garbage") << QString();
        QTest::newRow("another layout") << "CREATE TABLE defaults (name TEXT, payload BLOB)";
        // Found by fuzzing: it passed SQLite's quick check, and writes then read back old values.
        QTest::newRow("index that disagrees with its table")
            << QFINDTESTDATA("../../fuzz/corpus/defaults/regression-index-mismatch.bin");
        QTest::newRow("a folder") << "folder";
    }
    void unusableFilesAreLeftAlone()
    {
        QFETCH(QString, make);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("defaults.sqlite3"));
        if (make.endsWith(QLatin1String(".bin")))
            QVERIFY(QFile::copy(make, path));
        else if (make == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        else
            QVERIFY(make.isEmpty() ? PhotoFixtures::writeFile(path, QByteArray(8192, 'x'))
                                   : runToEnd(QStringLiteral("sqlite3"), {path, make}) == 0);
        const QByteArray before = PhotoFixtures::readFile(path);
        UserDefaults store(path);
        QVERIFY2(!store.isPersistent() && !store.openError().isEmpty(), qPrintable(store.openError()));
        store.setString(u"popoverTitle", QStringLiteral("kept in memory"));
        QCOMPARE(store.stringForKey(u"popoverTitle"), std::optional(QStringLiteral("kept in memory")));
        QVERIFY(PhotoFixtures::readFile(path) == before);
        QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
    }

    // Another program holding the write lock only delays the writes: they are seen at once,
    // never wait for the lock, and land in order once it is gone; after the photo and after
    // closing, the file alone (as a backup would copy it) holds everything.
    void aLockDelaysWritesWithoutLosingThem()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("defaults.sqlite3"));
        {
            UserDefaults store(path);
            SavedPhotoWriter photoWriter(store);
            Locker other(path);
            QVERIFY(other.lock());
            QElapsedTimer typing;
            typing.start();
            // While the photo is stored from the writer's thread, each value reads back at once.
            photoWriter.write(PhotoFixtures::gradient(300, 200));
            for (int typed = 1; typed <= 20; ++typed) {
                Preferences::write(popoverTitle, QStringLiteral("Grandma").repeated(typed), store);
                QCOMPARE(Preferences::read(popoverTitle, store), QStringLiteral("Grandma").repeated(typed));
            }
            Preferences::write(notificationHour, 7, store);
            // Each write used to wait out the lock and then be dropped.
            QVERIFY(typing.elapsed() < 5000);
            QVERIFY(!store.waitUntilSaved(std::chrono::milliseconds(300)));
            const qint64 revision = store.revisionForKey(popoverTitle.key);
            other.unlock();
            QVERIFY(photoWriter.waitForDone());
            QCOMPARE(store.revisionForKey(popoverTitle.key), revision); // a value does not change by landing
            QTRY_COMPARE(QFileInfo(path + QStringLiteral("-wal")).size(), 0);
            Preferences::write(notificationMinute, 30, store);
        }
        const QString copy = dir.filePath(QStringLiteral("copy.sqlite3"));
        QVERIFY(QFile::copy(path, copy));
        UserDefaults copied(copy);
        QVERIFY(Preferences::read(popoverTitle, copied) == QStringLiteral("Grandma").repeated(20));
        QVERIFY(Preferences::read(notificationHour, copied) == 7);
        QVERIFY(Preferences::read(notificationMinute, copied) == 30);
        QCOMPARE(QImage::fromData(copied.dataForKey(SavedImageData).value_or(QByteArray())).size(), QSize(300, 200));
    }

    // Both editions starting for the first time: one creates the file and holds it locked
    // a moment; the other waits for it instead of running on memory alone. A link planted at
    // the file's name is refused; a linked config folder on the way is an ordinary set-up.
    void aLockAtCreationIsWaitedOutAndLinksAreRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("defaults.sqlite3"));
        Locker creator(path);
        QVERIFY(creator.lock());
        UserDefaults store(path);
        QVERIFY(store.isPersistent() || store.isWaitingForFile());
        store.setString(u"popoverTitle", QStringLiteral("first"));
        creator.unlock();
        QVERIFY(store.waitUntilSaved());
        QVERIFY(store.isPersistent());
        QCOMPARE(UserDefaults(path).stringForKey(u"popoverTitle"), std::optional(QStringLiteral("first")));

        QVERIFY(QFile::link(path, dir.filePath(QStringLiteral("link.sqlite3"))));
        QVERIFY(QFile::link(dir.path(), dir.filePath(QStringLiteral("home"))));
        const QByteArray before = PhotoFixtures::readFile(path);
        UserDefaults linked(dir.filePath(QStringLiteral("link.sqlite3")));
        QVERIFY2(!linked.isPersistent() && linked.openError().contains(QLatin1String("link")),
                 qPrintable(linked.openError()));
        QCOMPARE(PhotoFixtures::readFile(path), before);
        QVERIFY(UserDefaults(dir.filePath(QStringLiteral("home/portraitperch/defaults.sqlite3"))).isPersistent());
    }
};

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "TestUserDefaults.moc"
