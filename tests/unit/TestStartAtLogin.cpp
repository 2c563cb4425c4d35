#include "FakeStatusItem.h"

#include "app/AppDelegate.h"
#include "app/StartAtLogin.h"
#include "platform/files/UserDirectories.h"
#include "platform/session/AutostartEntry.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestStartAtLogin : public QObject
{
    Q_OBJECT

    const QString m_autostartFile = UserDirectories::autostartDirectory() + QStringLiteral("/perchlight.desktop");
    QTemporaryDir m_scratch;
    QString m_program; // stands in for the running program: an executable file not on PATH

    static QString read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    static void write(const QString& path, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    static void makeExecutable(const QString& path)
    {
        write(path, "#!/bin/sh\n");
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // desktop-file-validate is what distributions check entries with; the tests install it.
    static void validate(const QString& path)
    {
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (scripts/bootstrap.sh --tests)");
        QProcess process;
        process.start(validator, {path});
        QVERIFY(process.waitForFinished());
        QVERIFY2(process.exitCode() == 0, qPrintable(process.readAll() + QLatin1Char('\n') + read(path)));
    }

    static void openMenu(QMenu& menu) { emit menu.aboutToShow(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_scratch.isValid());
        m_program = m_scratch.filePath(QStringLiteral("bin/perchlight"));
        makeExecutable(m_program);
    }

    void init() { QFile::remove(m_autostartFile); }

    void choosingTheEntryWritesAndRemovesTheAutostartFile()
    {
        // An entry switched off by hand is replaced, not left hidden.
        write(m_autostartFile, "[Desktop Entry]\nType=Application\nName=Old\nExec=elsewhere\nHidden=true\n");
        QMenu menu;
        StartAtLogin startAtLogin(Edition::Perchlight, m_program, &menu);
        QAction* action = startAtLogin.action();
        QVERIFY(action->isCheckable());
        QVERIFY(menu.actions().contains(action));
        QVERIFY(!action->isChecked());

        action->trigger();
        QVERIFY(action->isChecked());
        const QString entry = read(m_autostartFile);
        QVERIFY2(entry.startsWith(QLatin1String("[Desktop Entry]\n")), qPrintable(entry));
        QVERIFY(entry.contains(QLatin1String("\nName=Perchlight\n")));
        QVERIFY(entry.contains(QLatin1String("\nIcon=perchlight\n")));
        // Not on PATH, so the session must be told where the program is.
        QVERIFY2(entry.contains(QStringLiteral("\nExec=%1\n").arg(m_program)), qPrintable(entry));
        QVERIFY(entry.contains(QLatin1String("\nX-GNOME-Autostart-Delay=5\n")));
        QVERIFY(!entry.contains(QLatin1String("Hidden")));
        validate(m_autostartFile);

        action->trigger();
        QVERIFY(!action->isChecked());
        QVERIFY(!QFileInfo::exists(m_autostartFile));
    }

    void theCheckMarkFollowsTheFileWhenTheMenuOpens_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("enabled");
        const QByteArray head = "[Desktop Entry]\nType=Application\nName=Perchlight\nExec=perchlight\n";
        QTest::newRow("written by hand") << head << true;
        QTest::newRow("Hidden=true") << head + "Hidden=true\n" << false;
        QTest::newRow("Hidden = true, spaced") << head + "Hidden = true\n" << false;
        QTest::newRow("Hidden=false") << head + "Hidden=false\n" << true;
        QTest::newRow("GNOME switch off") << head + "X-GNOME-Autostart-enabled=false\n" << false;
        QTest::newRow("Hidden in another group") << head + "[Desktop Action quit]\nHidden=true\n" << true;
        QTest::newRow("no main group") << QByteArray("Exec=perchlight\n") << false;
    }

    void theCheckMarkFollowsTheFileWhenTheMenuOpens()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, enabled);
        QMenu menu;
        StartAtLogin startAtLogin(Edition::Perchlight, m_program, &menu);
        write(m_autostartFile, content);
        openMenu(menu);
        QCOMPARE(startAtLogin.action()->isChecked(), enabled);

        QVERIFY(QFile::remove(m_autostartFile));
        openMenu(menu);
        QVERIFY(!startAtLogin.action()->isChecked());
    }

    void aFailedWriteLeavesTheEntryOff()
    {
        // A folder where the file belongs cannot be replaced by the entry.
        QVERIFY(QDir().mkpath(m_autostartFile));
        QMenu menu;
        StartAtLogin startAtLogin(Edition::Perchlight, m_program, &menu);
        startAtLogin.action()->trigger();
        QVERIFY(!startAtLogin.action()->isChecked());
        QVERIFY(QDir(m_autostartFile).removeRecursively());
    }

    void theEditionsHaveEntriesOfTheirOwn()
    {
        QMenu menu;
        StartAtLogin perchlight(Edition::Perchlight, m_program, &menu);
        StartAtLogin portraitPerch(Edition::PortraitPerch, m_program, &menu);
        portraitPerch.action()->trigger();
        openMenu(menu);
        QVERIFY(portraitPerch.action()->isChecked());
        QVERIFY(!perchlight.action()->isChecked());
        const QString other = UserDirectories::autostartDirectory() + QStringLiteral("/portraitperch.desktop");
        QVERIFY(read(other).contains(QLatin1String("\nName=PortraitPerch\n")));
        QVERIFY(QFile::remove(other));
    }

    void anInstalledProgramIsStartedByName()
    {
        const QString folder = QFileInfo(m_program).absolutePath();
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", folder.toLocal8Bit() + ':' + savedPath);
        QCOMPARE(StartAtLogin::launchCommand(QStringLiteral("perchlight"), m_program), QStringLiteral("perchlight"));
        // A link on PATH to the running file counts as that file.
        const QString link = m_scratch.filePath(QStringLiteral("link/perchlight"));
        QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
        QVERIFY(QFile::link(m_program, link));
        qputenv("PATH", QFileInfo(link).absolutePath().toLocal8Bit() + ':' + savedPath);
        QCOMPARE(StartAtLogin::launchCommand(QStringLiteral("perchlight"), m_program), QStringLiteral("perchlight"));
        // Another program of that name on PATH is not the one that runs.
        const QString other = m_scratch.filePath(QStringLiteral("other/perchlight"));
        makeExecutable(other);
        qputenv("PATH", QFileInfo(other).absolutePath().toLocal8Bit() + ':' + savedPath);
        QCOMPARE(StartAtLogin::launchCommand(QStringLiteral("perchlight"), m_program), m_program);
        qputenv("PATH", savedPath);
    }

    void execQuotesAndEscapesAwkwardPaths_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("space") << "/home/a b/perchlight"
                               << "\"/home/a b/perchlight\"";
        QTest::newRow("percent") << "/opt/100%/perchlight"
                                 << "/opt/100%%/perchlight";
        // Quoting escapes first, then the string escapes double every backslash.
        QTest::newRow("dollar") << "/opt/$HOME/perchlight"
                                << "\"/opt/\\\\$HOME/perchlight\"";
        QTest::newRow("backslash") << "/opt/a\\b/p"
                                   << "\"/opt/a\\\\\\\\b/p\"";
    }

    void execQuotesAndEscapesAwkwardPaths()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(AutostartEntry::execValue(program), exec);
    }

    void anEntryForAnAwkwardPathIsValid()
    {
        const AutostartEntry entry(QStringLiteral("perchlight"));
        QString error;
        QVERIFY2(entry.enable({QStringLiteral("Perchlight"), QStringLiteral("A\nphoto"), QStringLiteral("perchlight"),
                               QStringLiteral("/home/it's \"me\"/100% $x\\y/perchlight")},
                              &error),
                 qPrintable(error));
        validate(entry.filePath());
    }

    void theTrayMenuOffersStartAtLogin()
    {
        FakeStatusBar bar;
        AppDelegate delegate(Edition::Perchlight, bar);
        delegate.applicationDidFinishLaunching();
        QAction* found = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* menu = qobject_cast<QMenu*>(widget))
                for (QAction* action : menu->actions())
                    if (action->text() == QLatin1String("Start at Login"))
                        found = action;
        QVERIFY(found);
        QVERIFY(found->isCheckable());
        found->trigger();
        QVERIFY(AutostartEntry(QStringLiteral("perchlight")).isEnabled());
        found->trigger();
        QVERIFY(!QFileInfo::exists(m_autostartFile));
    }
};

QTEST_MAIN(TestStartAtLogin)
#include "TestStartAtLogin.moc"
