#pragma once

#include "ChildProcess.h"
#include <QCoreApplication>
#include <QFile>
#include <QImage>

#include <QRandomGenerator>
#include <QTest>

// The skeleton of the crash tests: the test program runs itself again as a child that writes
// until it is killed, kills it at random moments and checks the stores after every kill.
namespace CrashLoop {

// The crash test's main: "--child ARGUMENTS..." runs `child` with the arguments (it writes until
// killed, and calls ready() once its first round is stored), anything else runs the test.
template <typename Test, typename Child> int main(int argc, char** argv, Child child)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == QLatin1String("--child"))
        return child(app.arguments().mid(2));
    Test test;
    return QTest::qExec(&test, argc, argv);
}

inline void ready()
{
    static bool said = false;
    if (!std::exchange(said, true))
        std::puts("ready"), std::fflush(stdout);
}

// Starts this test program again as a child, under the emulator a cross build runs its tests
// in (PERCH_TEST_EMULATOR), since the child is a program of the other architecture.
inline std::unique_ptr<ChildProcess> startSelf(const QStringList& arguments)
{
    const QStringList self{QCoreApplication::applicationFilePath(), QStringLiteral("--child")};
    const QString emulator = qEnvironmentVariable("PERCH_TEST_EMULATOR");
    if (emulator.isEmpty())
        return std::make_unique<ChildProcess>(self.first(), self.mid(1) + arguments);
    return std::make_unique<ChildProcess>(emulator, self + arguments);
}

// Runs the child with `arguments` `kills` times, kills each run with SIGKILL at a random moment
// up to `maxDelayMs` after it is ready, and calls `check` after every kill, up to the first
// check that fails.
template <typename Check> void killRepeatedly(const QStringList& arguments, int kills, int maxDelayMs, Check check)
{
    for (int kill = 0; kill < kills && !QTest::currentTestFailed(); ++kill) {
        const auto child = startSelf(arguments);
        QVERIFY2(child->readLine(30000), "the child never stored its first round");
        QTest::qSleep(int(QRandomGenerator::global()->bounded(maxDelayMs)));
        child->kill();
        QCOMPARE(child->waitForExit(), -1);
        check();
    }
    std::printf("%s: %d kills\n", QTest::currentTestFunction(), kills);
}

// `count` noise photos of a few megabytes in `folder` (noise does not compress, so each write
// spans many database pages): made when `make`, else read back. Their PNG bytes.
inline QList<QByteArray> noisePhotos(const QString& folder, int count, bool make)
{
    QList<QByteArray> pngs;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/photo%2.png").arg(folder).arg(i);
        QImage noise(1000, 1000, QImage::Format_RGB32);
        for (int y = 0; make && y < noise.height(); ++y)
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
        QFile file(path);
        if ((make && !noise.save(path, "PNG")) || !file.open(QIODevice::ReadOnly))
            return {};
        pngs << file.readAll();
    }
    return pngs;
}

} // namespace CrashLoop
