#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QStringList>

#include "TimeFactor.h"

#include <optional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// A process the tests start, with its standard output and error read here. It is started
// with posix_spawn rather than QProcess: QProcess forks with clone flags (a pidfd with
// CLONE_VFORK) that user-mode emulators refuse, and the arm64 build runs its tests in one.
class ChildProcess
{
public:
    // Starts `program`, found on PATH, with `arguments`.
    ChildProcess(const QString& program, const QStringList& arguments)
    {
        int pipes[2][2];
        if (pipe2(pipes[0], O_CLOEXEC) != 0 || pipe2(pipes[1], O_CLOEXEC) != 0)
            return;
        std::vector<QByteArray> words{program.toLocal8Bit()};
        for (const QString& argument : arguments)
            words.push_back(argument.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int i = 0; i < 2; ++i)
            posix_spawn_file_actions_adddup2(&actions, pipes[i][1], STDOUT_FILENO + i);
        if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 2; ++i)
            ::close(pipes[i][1]), m_fds[i] = pipes[i][0];
    }
    ~ChildProcess()
    {
        if (m_pid > 0 && !m_status)
            kill(), waitForExit(-1);
        for (int fd : m_fds)
            if (fd >= 0)
                ::close(fd);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void kill() { ::kill(m_pid, SIGKILL); }
    QByteArray errors() const { return m_read[1]; }

    // Reads until standard output holds a whole line or `ms` (times the time factor) have
    // passed; the first line.
    std::optional<QByteArray> readLine(int ms)
    {
        const QDeadlineTimer deadline(scaledMs(ms));
        while (!m_read[0].contains('\n') && readSome(deadline)) {
        }
        if (!m_read[0].contains('\n'))
            return std::nullopt;
        return m_read[0].left(m_read[0].indexOf('\n'));
    }

    // Reads both outputs to their end and waits for the exit, for `ms` times the time factor
    // at most (-1: for ever); the exit code, or -1 for a process ended by a signal or still running.
    int waitForExit(int ms = 60000)
    {
        const QDeadlineTimer deadline = ms < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(scaledMs(ms));
        while (readSome(deadline)) {
        }
        int status = 0;
        if (m_pid > 0 && m_fds[0] < 0 && m_fds[1] < 0 && !m_status && waitpid(m_pid, &status, 0) == m_pid)
            m_status = status;
        return m_status && WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : -1;
    }

private:
    // Waits for either output until the deadline; false once both have ended or time is up.
    bool readSome(const QDeadlineTimer& deadline)
    {
        pollfd polled[2] = {{m_fds[0], POLLIN, 0}, {m_fds[1], POLLIN, 0}};
        const qint64 left = deadline.remainingTime();
        if ((m_fds[0] < 0 && m_fds[1] < 0) || ::poll(polled, 2, left < 0 ? -1 : int(left)) <= 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            char buffer[4096];
            const ssize_t n = polled[i].revents ? ::read(m_fds[i], buffer, sizeof buffer) : 0;
            if (n > 0)
                m_read[i].append(buffer, n);
            else if (polled[i].revents)
                ::close(std::exchange(m_fds[i], -1));
        }
        return true;
    }

    pid_t m_pid = 0;
    int m_fds[2] = {-1, -1};
    QByteArray m_read[2];
    std::optional<int> m_status;
};

// Runs `program` to its end; its exit code, or -1.
inline int runToEnd(const QString& program, const QStringList& arguments)
{
    return ChildProcess(program, arguments).waitForExit();
}
