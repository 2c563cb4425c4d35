#include "app/Confinement.h"

#include "platform/files/UserDirectories.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

using LandlockConfinement::Access;

namespace {

// Whether granting `folder` would grant the home: the home itself, or a folder above it.
bool holdsHome(const QString& folder)
{
    const QString home = QDir::cleanPath(QDir::homePath());
    const QString clean = QDir::cleanPath(folder);
    return home == clean || home.startsWith(clean == QLatin1String("/") ? clean : clean + QLatin1Char('/'));
}

} // namespace

Confinement::Confinement()
{
    for (const auto location : {QStandardPaths::PicturesLocation, QStandardPaths::DownloadLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty() && !holdsHome(folder) && !m_photoFolders.contains(folder))
            m_photoFolders << folder;
    }
    m_xauthority = qEnvironmentVariable("XAUTHORITY", QDir::homePath() + QStringLiteral("/.Xauthority"));
}

QList<LandlockConfinement::Rule> Confinement::rules() const
{
    QList<LandlockConfinement::Rule> rules{
        // Programs, libraries and Qt's plugins, and the data they read: fonts, icons, MIME
        // types, locales, time zones. /bin and /lib are folders of their own on systems that
        // have not merged them into /usr.
        {QStringLiteral("/usr"), Access::ReadExecute},
        {QStringLiteral("/bin"), Access::ReadExecute},
        {QStringLiteral("/lib"), Access::ReadExecute},
        {QStringLiteral("/lib64"), Access::ReadExecute},
        {QStringLiteral("/etc"), Access::Read},
        {QStringLiteral("/var/cache/fontconfig"), Access::Read},
        {QStringLiteral("/var/lib/dbus"), Access::Read},
        // Other processes' private entries stay closed all the same: Landlock lets a confined
        // process inspect only processes inside its own confinement.
        {QStringLiteral("/proc"), Access::Read},
        {QStringLiteral("/sys"), Access::Read},
        {QStringLiteral("/dev/null"), Access::Device},
        {QStringLiteral("/dev/zero"), Access::Device},
        {QStringLiteral("/dev/full"), Access::Device},
        {QStringLiteral("/dev/random"), Access::Device},
        {QStringLiteral("/dev/urandom"), Access::Device},
        {QStringLiteral("/dev/dri"), Access::Device},
        // The X server's key, which Qt reads as it connects to the display.
        {m_xauthority, Access::Read},
        {UserDirectories::configDirectory(), Access::ReadWrite},
        {UserDirectories::dataDirectory(), Access::ReadWrite},
        {UserDirectories::temporaryDirectory(), Access::ReadWrite},
        // Landlock tells files apart by folder, not by name: in these two the program may
        // create, replace and remove regular files, as its own entry and units need.
        {UserDirectories::autostartDirectory(), Access::ReplaceFiles},
        {UserDirectories::userUnitDirectory(), Access::ReplaceFiles},
    };
    for (const QString& folder : m_photoFolders)
        rules.append({folder, Access::Read});
    return rules;
}

bool Confinement::apply(const QString& program)
{
    // Each is refused here as it would be at its use (a link, another user's); its rule then
    // names nothing, and the feature says what is wrong when it comes to it.
    QString ignored;
    const QString temporary = UserDirectories::temporaryDirectory();
    for (const QString& own : {UserDirectories::configDirectory(), UserDirectories::dataDirectory(), temporary})
        UserDirectories::makePrivateDirectory(own, &ignored);
    QDir().mkpath(UserDirectories::autostartDirectory());
    QDir().mkpath(UserDirectories::userUnitDirectory());
    // SQLite's scratch files go where the program may write, not to /var/tmp or /tmp.
    if (QFileInfo(temporary).isDir())
        qputenv("SQLITE_TMPDIR", QFile::encodeName(temporary));

    const LandlockConfinement::Outcome outcome = LandlockConfinement::restrictSelf(rules());
    if (!outcome.confined)
        std::fprintf(stderr, "%s: runs unconfined, with every right of the user: %s\n", qPrintable(program),
                     qPrintable(outcome.problem));
    return outcome.confined;
}

QString Confinement::kernelSupport()
{
    const LandlockConfinement::Support support = LandlockConfinement::support();
    if (support.abi >= 4)
        return QCoreApplication::translate("Confinement", "Confinement: Landlock ABI %1, for files and TCP.")
            .arg(support.abi);
    if (support.abi > 0)
        return QCoreApplication::translate("Confinement",
                                           "Confinement: Landlock ABI %1, for files only (this kernel cannot "
                                           "restrict TCP).")
            .arg(support.abi);
    return QCoreApplication::translate("Confinement", "Confinement: none, %1.").arg(support.problem);
}
