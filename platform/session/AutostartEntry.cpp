#include "platform/session/AutostartEntry.h"

#include "platform/files/PrivateFile.h"
#include "platform/files/UserDirectories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// The general escapes of a desktop entry string value.
QString escapeValue(const QString& value)
{
    QString escaped;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            escaped += QStringLiteral("\\\\");
            break;
        case '\n':
            escaped += QStringLiteral("\\n");
            break;
        case '\t':
            escaped += QStringLiteral("\\t");
            break;
        case '\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

bool isTrue(const QString& value)
{
    return value == QLatin1String("true") || value == QLatin1String("1");
}

bool isFalse(const QString& value)
{
    return value == QLatin1String("false") || value == QLatin1String("0");
}

} // namespace

AutostartEntry::AutostartEntry(const QString& desktopId)
    : m_filePath(UserDirectories::autostartDirectory() + QLatin1Char('/') + desktopId + QStringLiteral(".desktop"))
{
}

bool AutostartEntry::isEnabled() const
{
    QFile file(m_filePath);
    if (!QFileInfo(m_filePath).isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    bool sawMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            sawMainGroup = sawMainGroup || inMainGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Hidden") && isTrue(value))
            return false;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && isFalse(value))
            return false;
    }
    // Sessions ignore a file without the main group.
    return sawMainGroup;
}

bool AutostartEntry::enable(const Launcher& launcher, QString* error) const
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    // No delay in Exec (a "sleep" wrapper): the tray icon appears by itself whenever a tray
    // starts. The keys below only spare sessions that honour them a moment without tray.
    const QStringList lines = {
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=") + escapeValue(launcher.name),
        QStringLiteral("Comment=") + escapeValue(launcher.comment),
        QStringLiteral("Icon=") + escapeValue(launcher.icon),
        QStringLiteral("Exec=") + execValue(launcher.program),
        // A session skips the entry once the program is gone, instead of failing at every login.
        QStringLiteral("TryExec=") + escapeValue(launcher.program),
        QStringLiteral("Terminal=false"),
        QStringLiteral("StartupNotify=false"),
        QStringLiteral("X-GNOME-Autostart-enabled=true"),
        QStringLiteral("X-GNOME-Autostart-Delay=5"),
        QStringLiteral("X-MATE-Autostart-Delay=5"),
        QStringLiteral("X-LXQt-Need-Tray=true"),
    };
    // A link at the entry's name is replaced, never written through; the folder itself may be
    // a link (a dotfiles set-up), which sessions follow as well.
    PrivateFile::Error failure;
    if (!PrivateFile::writeAtomically(QFileInfo(folder).canonicalFilePath(), QFileInfo(m_filePath).fileName(),
                                      lines.join(QLatin1Char('\n')).toUtf8() + '\n', &failure)) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_filePath, failure.message);
        return false;
    }
    return true;
}

bool AutostartEntry::disable(QString* error) const
{
    QFile file(m_filePath);
    if (!QFileInfo(m_filePath).exists() && !QFileInfo(m_filePath).isSymLink())
        return true;
    if (!file.remove()) {
        *error = QStringLiteral("cannot remove %1: %2").arg(m_filePath, file.errorString());
        return false;
    }
    return true;
}

QString AutostartEntry::execValue(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool needsQuotes = std::any_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); });
    QString argument;
    for (const QChar c : program) {
        if (c == QLatin1Char('%'))
            argument += QStringLiteral("%%"); // not a field code
        else if (needsQuotes && QStringLiteral("\"`$\\").contains(c))
            argument += QLatin1Char('\\') + c;
        else
            argument += c;
    }
    if (needsQuotes)
        argument = QLatin1Char('"') + argument + QLatin1Char('"');
    // The quoting rule applies to the value after its general escapes are undone.
    return escapeValue(argument);
}
