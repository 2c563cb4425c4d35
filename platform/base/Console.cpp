#include "platform/base/Console.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace Console {

void printLine(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void printError(const QString& message)
{
    // The command's own name, as a shell user typed it.
    QString program = QCoreApplication::instance() ? QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                                                   : QCoreApplication::applicationName();
    if (program.isEmpty())
        program = QStringLiteral("portraitperch");
    const QByteArray bytes = (program + QStringLiteral(": ") + message).toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace Console
