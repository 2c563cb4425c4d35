#include "ChildProcess.h"
#include "PhotoFixtures.h"
#include "preferences/PreferenceKeys.h"

#include <QtTest>

#include <sys/stat.h>

using namespace PreferenceKeys;

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
            QVERIFY(store.setString(u"popoverTitle", QString()) &&
                    store.setString(u"notificationMessage", QStringLiteral("Hi")));
            QVERIFY(store.setBool(u"notificationHour", true) && store.setInteger(u"notificationsEnabled", 0));
            QVERIFY(store.setData(u"SavedImageData", QByteArray("\x89PNG\0", 5)));
        }
        UserDefaults store(path);
        QVERIFY(store.isPersistent());
        QCOMPARE(Preferences::read(popoverTitle, store) + '|' + Preferences::read(notificationMessage, store),
                 QStringLiteral("|Hi"));
        QCOMPARE(store.dataForKey(SavedImageData), std::optional(QByteArray("\x89PNG\0", 5)));
        QVERIFY(Preferences::read(notificationHour, store) == 9 &&
                Preferences::read(notificationsEnabled, store)); // as missing
        QVERIFY(mode(path) == 0600 && mode(dir.filePath(QStringLiteral("portraitperch"))) == 0700);
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
        QVERIFY(store.setString(u"popoverTitle", QStringLiteral("kept in memory")));
        QCOMPARE(store.stringForKey(u"popoverTitle"), std::optional(QStringLiteral("kept in memory")));
        QVERIFY(PhotoFixtures::readFile(path) == before && !QFile::exists(path + QStringLiteral("-wal")));
    }

    void twoThreadsWriteAtOnce()
    {
        QTemporaryDir dir;
        UserDefaults store(dir.filePath(QStringLiteral("defaults.sqlite3")));
        const QByteArray photo(3 << 20, 'p');
        std::atomic<int> photoWrites = 0;
        std::unique_ptr<QThread> writer(QThread::create([&] {
            for (int i = 0; i < 10; ++i)
                photoWrites += store.setData(SavedImageData, photo + QByteArray::number(i));
        }));
        writer->start();
        for (int i = 0; i < 300; ++i) {
            QVERIFY(store.setString(u"notificationMessage", QString::number(i)));
            QCOMPARE(store.stringForKey(u"notificationMessage"), std::optional(QString::number(i)));
        }
        QVERIFY(writer->wait(60000) && photoWrites == 10);
        QCOMPARE(store.dataForKey(SavedImageData), std::optional(photo + "9"));
    }
};

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "TestUserDefaults.moc"
