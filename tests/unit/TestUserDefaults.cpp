#include "preferences/PreferenceKeys.h"
#include "preferences/UserDefaults.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/stat.h>

class TestUserDefaults : public QObject
{
    Q_OBJECT

private slots:
    void valuesKeepTheirKind()
    {
        QTemporaryDir dir;
        UserDefaults store(dir.filePath("defaults.sqlite3"));
        QVERIFY(store.isPersistent());

        store.setBool(u"flag", false);
        store.setInteger(u"hour", 0);
        store.setString(u"title", QString());
        store.setData(u"photo", QByteArray("\x89PNG\0\1", 6));
        QVERIFY(store.waitUntilSaved()); // read back from the file, not from what is held

        QCOMPARE(store.boolForKey(u"flag"), std::optional<bool>(false));
        QCOMPARE(store.integerForKey(u"hour"), std::optional<qint64>(0));
        QCOMPARE(store.stringForKey(u"title"), std::optional<QString>(QString()));
        QCOMPARE(store.dataForKey(u"photo"), std::optional<QByteArray>(QByteArray("\x89PNG\0\1", 6)));

        // A value of another kind reads as missing, never as false, zero or empty.
        QCOMPARE(store.integerForKey(u"flag"), std::nullopt);
        QCOMPARE(store.stringForKey(u"hour"), std::nullopt);
        QCOMPARE(store.dataForKey(u"title"), std::nullopt);
        QCOMPARE(store.boolForKey(u"absent"), std::nullopt);
    }

    void absentKeysGiveTheDeclaredDefaults()
    {
        UserDefaults store{QString()};
        QCOMPARE(Preferences::read(PreferenceKeys::popoverTitle, store), QStringLiteral("Your MenuBar Photo"));
        QCOMPARE(Preferences::read(PreferenceKeys::notificationsEnabled, store), true);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationHour, store), 9);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationMinute, store), 0);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationMessage, store),
                 QString::fromUtf8("Here\xE2\x80\x99s a daily note from your PortraitPerch."));

        // A stored value of the wrong kind falls back to the default too.
        store.setString(PreferenceKeys::notificationHour.key, QStringLiteral("7"));
        QCOMPARE(Preferences::read(PreferenceKeys::notificationHour, store), 9);
        Preferences::write(PreferenceKeys::notificationsEnabled, false, store);
        QCOMPARE(Preferences::read(PreferenceKeys::notificationsEnabled, store), false);
    }

    void valuesSurviveReopeningAndFilesArePrivate()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("nested/portraitperch/defaults.sqlite3");
        {
            UserDefaults store(path);
            QVERIFY(store.isPersistent());
            store.setString(u"popoverTitle", QStringLiteral("Grandma"));
        }
        UserDefaults reopened(path);
        QCOMPARE(reopened.stringForKey(u"popoverTitle"), std::optional<QString>(QStringLiteral("Grandma")));
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(::stat(QFile::encodeName(dir.filePath("nested/portraitperch")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }

    void revisionChangesWithEveryWrite()
    {
        UserDefaults store{QString()};
        QCOMPARE(store.revisionForKey(u"photo"), 0);
        store.setData(u"photo", "a");
        const qint64 first = store.revisionForKey(u"photo");
        store.setString(u"other", "x");
        store.setData(u"photo", "a");
        QVERIFY(first > 0);
        QVERIFY(store.revisionForKey(u"photo") > first);
    }

    void changeSignalNamesTheKey()
    {
        UserDefaults store{QString()};
        QSignalSpy spy(&store, &UserDefaults::valueChanged);
        store.setString(u"popoverTitle", "A");
        store.setInteger(u"notificationHour", 7);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("popoverTitle"));
        QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("notificationHour"));
    }

    void damagedFileIsLeftAloneAndDefaultsServe()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("defaults.sqlite3");
        const QByteArray garbage(8192, 'x');
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(garbage);
        }
        UserDefaults store(path);
        QVERIFY(!store.isPersistent());
        QVERIFY(!store.openError().isEmpty());
        store.setString(u"popoverTitle", "kept in memory");
        QCOMPARE(store.stringForKey(u"popoverTitle"), std::optional<QString>(QStringLiteral("kept in memory")));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), garbage);
        QVERIFY(!QFile::exists(path + "-wal"));
    }

    void foreignTableLayoutIsRefusedAndLeftAlone()
    {
        // Found by fuzzing: a "defaults" table of another layout opened, then lost every write.
        QTemporaryDir dir;
        const QString path = dir.filePath("defaults.sqlite3");
        QProcess sqlite;
        sqlite.start("sqlite3", {path, "CREATE TABLE defaults (name TEXT, payload BLOB)"});
        QVERIFY(sqlite.waitForFinished() && sqlite.exitCode() == 0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        UserDefaults store(path);
        QVERIFY(!store.isPersistent());
        store.setString(u"popoverTitle", "kept in memory");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    void indexThatDisagreesWithItsTableIsRefused()
    {
        // Found by fuzzing: a damaged index passed the quick check, and writes then read
        // back the old value.
        QTemporaryDir dir;
        const QString path = dir.filePath("defaults.sqlite3");
        QVERIFY(QFile::copy(QFINDTESTDATA("../../fuzz/corpus/defaults/regression-index-mismatch.bin"), path));
        UserDefaults store(path);
        QVERIFY(!store.isPersistent());
        QVERIFY(store.openError().contains("integrity check failed"));
    }

    void folderInPlaceOfTheFileFallsBackToMemory()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("defaults.sqlite3")));
        UserDefaults store(dir.filePath("defaults.sqlite3"));
        QVERIFY(!store.isPersistent());
        store.setBool(u"notificationsEnabled", false);
    }

    void twoThreadsWriteAtOnce()
    {
        QTemporaryDir dir;
        UserDefaults store(dir.filePath("defaults.sqlite3"));
        const QByteArray photo(3 * 1024 * 1024, 'p');
        std::unique_ptr<QThread> writer(QThread::create([&] {
            for (int i = 0; i < 10; ++i)
                store.setData(u"SavedImageData", photo + QByteArray::number(i));
        }));
        writer->start();
        for (int i = 0; i < 300; ++i) {
            store.setString(u"notificationMessage", QString::number(i));
            QCOMPARE(store.stringForKey(u"notificationMessage"), std::optional<QString>(QString::number(i)));
        }
        QVERIFY(writer->wait(60000));
        QVERIFY(store.waitUntilSaved());
        QCOMPARE(UserDefaults(store.path()).dataForKey(u"SavedImageData"), std::optional<QByteArray>(photo + "9"));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestUserDefaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestUserDefaults.moc"
