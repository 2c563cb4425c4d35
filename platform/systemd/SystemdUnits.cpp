#include "platform/systemd/SystemdUnits.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace SystemdUnits {
namespace {

bool holdsControlCharacters(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// One word between double quotes. Specifiers (%) are expanded in every setting, variables
// ($) in the arguments of command lines; both are doubled to stay literal.
std::optional<QString> quoted(const QString& word, bool expandsVariables)
{
    if (holdsControlCharacters(word))
        return std::nullopt;
    QString out = QStringLiteral("\"");
    for (const QChar c : word) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        else if (c == u'%' || (expandsVariables && c == u'$'))
            out += c;
        out += c;
    }
    return out + u'"';
}

QString plain(QString text)
{
    text.replace(u'%', QStringLiteral("%%"));
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return text;
}

// Once the program is removed, its units stay in the user's folder: they then start nothing
// and fail nothing (a condition that does not hold is no failure), and the timer no longer
// starts at login.
QString programCondition(const QString& executable)
{
    return QStringLiteral("ConditionFileIsExecutable=%1\n").arg(plain(executable));
}

} // namespace

QString baseName(const QString& executable)
{
    const QByteArray name = (QFileInfo(executable).fileName() + QStringLiteral("-reminder")).toUtf8();
    QString escaped;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                             c == ':' || c == '-' || (c == '.' && i > 0);
        escaped +=
            allowed ? QString(QLatin1Char(c)) : QStringLiteral("\\x%1").arg(uint(uchar(c)), 2, 16, QLatin1Char('0'));
    }
    return escaped;
}

std::optional<QString> service(const QString& description, const QStringList& command,
                               const QList<QPair<QString, QString>>& environment)
{
    // The manager refuses a program path with quotes or backslashes in it, and expands
    // variables in the arguments only.
    if (command.isEmpty() || command.first().contains(QRegularExpression(QStringLiteral("[\"'\\\\]"))))
        return std::nullopt;
    QStringList words;
    for (const QString& word : command) {
        const auto q = quoted(word, !words.isEmpty());
        if (!q)
            return std::nullopt;
        words << *q;
    }
    QString text = QStringLiteral("[Unit]\nDescription=%1\n%2\n[Service]\nType=oneshot\nExecStart=%3\n")
                       .arg(plain(description), programCondition(command.first()), words.join(u' '));
    for (const auto& [name, value] : environment) {
        const auto q = quoted(name + u'=' + value, false);
        if (!q)
            return std::nullopt;
        text += QStringLiteral("Environment=%1\n").arg(*q);
    }
    return text;
}

QString timer(const QString& description, const QDateTime& instant, const QString& serviceName,
              const QString& executable)
{
    // The manager measures it to the microsecond: the default accuracy of a minute would
    // place the reminder anywhere in the minute after its time.
    return QStringLiteral("[Unit]\nDescription=%1\n%2\n"
                          "[Timer]\nOnCalendar=%3 UTC\nAccuracySec=1us\nPersistent=true\n"
                          "OnClockChange=true\nOnTimezoneChange=true\nUnit=%4\n\n"
                          "[Install]\nWantedBy=timers.target\n")
        .arg(plain(description), programCondition(executable),
             instant.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), serviceName);
}

} // namespace SystemdUnits
