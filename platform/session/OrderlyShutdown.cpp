#include "platform/session/OrderlyShutdown.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A signal handler may only write to a descriptor; the event loop reads it.
int g_signalWriteFd = -1;
// The exit paths below are plain functions; they reach the process's one object through this.
OrderlyShutdown* g_active = nullptr;
QtMessageHandler g_previousMessageHandler = nullptr;

void writeSignalByte(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalWriteFd, &byte, 1);
    errno = savedErrno;
}

// Qt reports a broken display connection and then ends the process on the spot (exit(),
// _exit() or abort(), by platform plugin and version); the report is the last moment at
// which the program is intact.
void watchMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (g_previousMessageHandler)
        g_previousMessageHandler(type, context, message);
    if (g_active && type != QtDebugMsg && type != QtInfoMsg && OrderlyShutdown::reportsDisplayLoss(message))
        g_active->finish();
}

// For an exit() from inside Qt whose report was not recognised.
void finishAtExit()
{
    if (g_active)
        g_active->finish();
}

} // namespace

OrderlyShutdown::OrderlyShutdown(QObject* parent) : QObject(parent)
{
    Q_ASSERT(!g_active);
    g_active = this;
    static const bool exitHandlerInstalled = std::atexit(finishAtExit) == 0;
    Q_UNUSED(exitHandlerInstalled);
    g_previousMessageHandler = qInstallMessageHandler(watchMessages);

    if (::pipe2(m_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_signalWriteFd = m_signalPipe[1];
        m_notifier = new QSocketNotifier(m_signalPipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &OrderlyShutdown::quitOnSignal);
        struct sigaction action = {};
        action.sa_handler = writeSignalByte;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &action, &m_previous[i]);
    }

    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(application, &QGuiApplication::commitDataRequest, this, &OrderlyShutdown::commitData,
                Qt::DirectConnection);
        connect(
            application, &QGuiApplication::saveStateRequest, this,
            [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); },
            Qt::DirectConnection);
    }
}

OrderlyShutdown::~OrderlyShutdown()
{
    if (m_notifier) {
        for (size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
        g_signalWriteFd = -1;
        ::close(m_signalPipe[0]);
        ::close(m_signalPipe[1]);
    }
    qInstallMessageHandler(g_previousMessageHandler);
    g_active = nullptr;
}

void OrderlyShutdown::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    emit finishing();
}

bool OrderlyShutdown::reportsDisplayLoss(const QString& message)
{
    // The reports of Qt's xcb and Wayland platform plugins.
    return message.startsWith(QLatin1String("The X11 connection broke")) ||
           message.startsWith(QLatin1String("The Wayland connection broke")) ||
           message.startsWith(QLatin1String("The Wayland connection experienced a fatal error"));
}

void OrderlyShutdown::quitOnSignal()
{
    char bytes[16];
    while (::read(m_signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
}

void OrderlyShutdown::commitData(QSessionManager& manager)
{
    // Login starts the program through its autostart entry; a restart by the session as well
    // would start it twice.
    manager.setRestartHint(QSessionManager::RestartNever);
    emit saveRequested();
}
