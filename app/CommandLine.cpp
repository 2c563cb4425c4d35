#include "app/CommandLine.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

struct Option
{
    QStringList names;
    const char* description;
    const char* valueName = nullptr;
};

// The program's own options, in the order --help lists them.
const Option kOptions[] = {
    {{QStringLiteral("h"), QStringLiteral("help")}, QT_TRANSLATE_NOOP("CommandLine", "Show this help and exit.")},
    {{QStringLiteral("v"), QStringLiteral("version")}, QT_TRANSLATE_NOOP("CommandLine", "Show the version and exit.")},
    {{CommandLine::OpenPopover}, QT_TRANSLATE_NOOP("CommandLine", "Open the photo as soon as the program runs.")},
    {{CommandLine::DeliverPending},
     QT_TRANSLATE_NOOP("CommandLine", "Deliver the reminders that are due and exit (what the reminder timer runs).")},
};

// What Qt's application object takes from the command line itself (QGuiApplication,
// QApplication and the X11 platform), with a value or without.
const char* const kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry", "geometry", "qwindowtitle",
    "title",    "qwindowicon",        "icon",          "session", "display",         "name",     "visual",
    "style",    "stylesheet"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

void write(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

CommandLine::CommandLine(const QString& program, const QString& note) : m_program(program), m_note(note)
{
    m_parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "Keeps a personal photo in the system tray and turns it into a daily reminder.\n"
                       "A second start shows the photo of the copy that is running."));
    // Qt's options are single-dash words ("-platform"), so such words are long options here.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Option& option : kOptions) {
        QCommandLineOption parsed(option.names, QCoreApplication::translate("CommandLine", option.description));
        if (option.valueName)
            parsed.setValueName(QString::fromLatin1(option.valueName));
        m_parser.addOption(parsed);
    }
    for (const char* name : kQtOptionsWithValue) {
        QCommandLineOption qt(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(qt);
    }
    for (const char* name : kQtFlags) {
        QCommandLineOption qt(QString::fromLatin1(name));
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(qt);
    }
}

QStringList CommandLine::arguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

QString CommandLine::helpText() const
{
    // Read before Qt's application object exists, the parser does not know the program's name.
    QString text = m_parser.helpText();
    text.replace(QStringLiteral("<executable_name>"), m_program);
    return m_note.isEmpty() ? text : text + QLatin1Char('\n') + m_note + QLatin1Char('\n');
}

bool CommandLine::wouldAnswer(const QStringList& arguments)
{
    return !m_parser.parse(arguments) || !m_parser.positionalArguments().isEmpty() ||
           m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("version"));
}

std::optional<int> CommandLine::answer(const QStringList& arguments)
{
    QString error;
    if (!m_parser.parse(arguments))
        error = m_parser.errorText();
    else if (!m_parser.positionalArguments().isEmpty())
        error = QCoreApplication::translate("CommandLine", "Unexpected argument '%1'.")
                    .arg(m_parser.positionalArguments().constFirst());
    if (!error.isEmpty()) {
        write(stderr, m_program + QStringLiteral(": ") + error + QLatin1Char('\n') + helpText());
        return 2;
    }
    if (m_parser.isSet(QStringLiteral("help"))) {
        write(stdout, helpText());
        return 0;
    }
    if (m_parser.isSet(QStringLiteral("version"))) {
        write(stdout, m_program + QLatin1Char(' ') + QStringLiteral(PERCH_VERSION) + QLatin1Char('\n') +
                          (m_note.isEmpty() ? QString() : m_note + QLatin1Char('\n')));
        return 0;
    }
    return std::nullopt;
}
