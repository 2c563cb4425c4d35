#pragma once

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

// A process forked before the program confines itself, which stays outside the confinement
// and does one fixed thing for the program on each request. A request carries nothing, so
// the confined side cannot steer what the helper does; an answer carries a few bytes and at
// most one open descriptor.
class OutsideHelper
{
public:
    struct Answer
    {
        QByteArray data;
        // Handed over to the program, and closed in the helper; -1 for none.
        int descriptor = -1;
    };
    // Runs in the helper for each request.
    using Serve = std::function<Answer()>;

    // Forks the helper. Call it while the process runs one thread: the helper runs `serve` in
    // a copy of the process as it is now. Null when no process can be started.
    static std::unique_ptr<OutsideHelper> start(Serve serve);
    // An idle helper ends with the closed socket; a busy one with the program.
    ~OutsideHelper();
    OutsideHelper(const OutsideHelper&) = delete;
    OutsideHelper& operator=(const OutsideHelper&) = delete;

    // Sends a request; false when the helper is gone.
    bool request();
    // Reads an answer (the descriptor, if any, is the caller's); nothing when the helper has
    // ended. Blocks until one is there: wait for socket() to be readable first.
    std::optional<Answer> receive();
    int socket() const { return m_socket; }

private:
    OutsideHelper(pid_t pid, int socket) : m_pid(pid), m_socket(socket) {}

    pid_t m_pid;
    int m_socket;
    int m_waiting = 0; // requests not answered yet
};
