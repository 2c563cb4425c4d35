// Kills a process that writes photos and settings at random moments, and checks after every
// kill that the defaults store opens and every key holds a whole value, from before the
// interrupted write or after it.
#include "CrashLoop.h"
#include "preferences/PreferenceKeys.h"

#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

using namespace PreferenceKeys;

namespace {

// Long enough to span several database pages.
QString messageFor(qint64 round)
{
    return QStringLiteral("message %1;").arg(round).repeated(400);
}

int child(const QStringList& arguments)
{
    UserDefaults store(arguments.value(1));
    if (arguments.first() == QLatin1String("full-disk")) {
        // A small photo, then a large one while the file-size limit leaves no room, then room.
        store.setData(SavedImageData, QByteArray(50000, 'a'));
        if (!store.waitUntilSaved())
            return 3;
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit must fail, not kill the process
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t roomy = std::exchange(limit.rlim_cur, 4 << 20);
        setrlimit(RLIMIT_FSIZE, &limit);
        store.setData(SavedImageData, QByteArray(6 << 20, 'b'));
        if (store.waitUntilSaved(std::chrono::seconds(1)))
            return 4;
        limit.rlim_cur = roomy;
        setrlimit(RLIMIT_FSIZE, &limit);
        return store.waitUntilSaved() ? 0 : 5;
    }
    const QList<QByteArray> pngs = CrashLoop::noisePhotos(arguments.value(2), 3, false);
    for (qint64 round = 0; !pngs.isEmpty() && store.isPersistent(); ++round) {
        store.setData(SavedImageData, pngs[round % 3]);
        store.setString(popoverTitle.key, QStringLiteral("title-%1").arg(round));
        store.setInteger(notificationHour.key, round % 24);
        store.setString(notificationMessage.key, messageFor(round));
        if (round == 0 && store.waitUntilSaved())
            CrashLoop::ready();
    }
    return 2;
}

} // namespace

class TestCrashConsistency : public QObject
{
    Q_OBJECT

private slots:
    void storeHoldsWholeValuesAfterEveryKill()
    {
        QTemporaryDir folder;
        const QList<QByteArray> pngs = CrashLoop::noisePhotos(folder.path(), 3, true);
        const QString database = folder.filePath(QStringLiteral("defaults.sqlite3"));
        CrashLoop::killRepeatedly({QStringLiteral("write"), database, folder.path()}, 200, 40, [&] {
            UserDefaults store(database);
            QVERIFY2(store.isPersistent(), qPrintable(store.openError()));
            QVERIFY(pngs.contains(store.dataForKey(SavedImageData).value_or(QByteArray())));
            QVERIFY(store.stringForKey(popoverTitle.key).value_or(QString()).startsWith(QLatin1String("title-")));
            QVERIFY(store.integerForKey(notificationHour.key).value_or(-1) >= 0);
            const QString message = store.stringForKey(notificationMessage.key).value_or(QString());
            QCOMPARE(message,
                     messageFor(message.section(QLatin1Char(' '), 1, 1).section(QLatin1Char(';'), 0, 0).toInt()));
        });
    }

    void aFullDiskDelaysThePhotoUntilThereIsRoomAndSaysSoOnce()
    {
        QTemporaryDir folder;
        const QString database = folder.filePath(QStringLiteral("defaults.sqlite3"));
        const auto child = CrashLoop::startSelf({QStringLiteral("full-disk"), database});
        QCOMPARE(child->waitForExit(), 0);
        const QStringList errors = QString::fromUtf8(child->errors()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(QStringLiteral("cannot save SavedImageData")), qPrintable(errors.first()));
        QCOMPARE(UserDefaults(database).dataForKey(SavedImageData).value_or(QByteArray()), QByteArray(6 << 20, 'b'));
    }
};

int main(int argc, char** argv)
{
    return CrashLoop::main<TestCrashConsistency>(argc, argv, child);
}

#include "TestCrashConsistency.moc"
