#pragma once

#include <QObject>

#include <csignal>

class QSessionManager;
class QSocketNotifier;

// Ends the program one orderly way, whatever ends it. SIGTERM, SIGINT and SIGHUP (what a
// logout, a shutdown or a closed terminal sends) end the event loop as Exit does. The session
// manager's request to save at logout asks for everything pending to be stored at once, and
// tells it not to restart the program (the autostart entry starts it). When the display
// connection breaks, Qt's platform plugin ends the process from inside the event loop; the
// pending work still runs then, when Qt reports the broken connection, or else from an exit
// handler. One object per process, made when the program's pending work can be finished.
class OrderlyShutdown : public QObject
{
    Q_OBJECT

public:
    explicit OrderlyShutdown(QObject* parent = nullptr);
    // Puts the previous signal handlers back.
    ~OrderlyShutdown() override;

    // The program is ending: emits finishing() once. Called after the event loop has ended,
    // and by the display-loss path.
    void finish();

    // Whether `message` is the one with which Qt's platform plugin reports that the display
    // connection broke, right before it ends the process.
    static bool reportsDisplayLoss(const QString& message);

signals:
    // The session is ending and asks for everything to be stored now; the program may still
    // go on running (the user can cancel a logout). Slots finish their work before returning.
    void saveRequested();
    // Emitted once, last, however the program ends; slots finish their work before returning.
    void finishing();

private:
    void quitOnSignal();
    void commitData(QSessionManager& manager);

    int m_signalPipe[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_previous[3] = {};
    bool m_finished = false;
};
