#pragma once

#include "platform/usernotifications/DeliveryTimer.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

// The program's command line, read before anything else starts. The options are the rows of
// one table in CommandLine.cpp: adding one is a row there and a paragraph in the manual pages,
// and callers ask isSet() by its long name. Qt's own options (-platform, -display, -session,
// ...) are accepted and left for Qt's application object.
class CommandLine
{
public:
    // Opens the photo popover once the program runs: how a click on a reminder starts it.
    static inline const QString OpenPopover = QStringLiteral("open-popover");
    // Delivers the reminders that are due and ends: what the reminder timer runs.
    static inline const QString DeliverPending = DeliveryTimer::kRunOption;

    // `note`, where not empty, is a last line of --help and --version.
    explicit CommandLine(const QString& program, const QString& note = {});

    // Reads `arguments` (the program's name first). Answers --help and --version on standard
    // output, and a wrong command line with a line on standard error and the usage; returns
    // the exit status when it answered, and nothing when the program is to run.
    std::optional<int> answer(const QStringList& arguments);
    // Whether answer() would answer `arguments` instead of letting the program run.
    bool wouldAnswer(const QStringList& arguments);

    bool isSet(const QString& longName) const { return m_parser.isSet(longName); }

    // The usage and the options, as --help prints them.
    QString helpText() const;

    static QStringList arguments(int argc, char** argv);

private:
    QString m_program;
    QString m_note;
    QCommandLineParser m_parser;
};
