#include "platform/sandbox/OutsideHelper.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The longest answer's bytes; answers are short facts, not contents.
constexpr size_t kLongestAnswer = 64;
// Every message carries at least this byte, so that an empty answer is not an end of file.
constexpr char kMessage = '.';

void send(int socket, const OutsideHelper::Answer& answer)
{
    const QByteArray bytes = kMessage + answer.data.left(kLongestAnswer);
    iovec data{const_cast<char*>(bytes.constData()), size_t(bytes.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    if (answer.descriptor >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(rights), &answer.descriptor, sizeof(int));
    }
    while (::sendmsg(socket, &message, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void serve(int socket, const OutsideHelper::Serve& serveOne)
{
    for (;;) {
        char request = 0;
        const ssize_t n = ::recv(socket, &request, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the program has ended, or needs the helper no longer
        const OutsideHelper::Answer answer = serveOne();
        send(socket, answer);
        if (answer.descriptor >= 0)
            ::close(answer.descriptor);
    }
    // The program's exit handlers and objects are the program's: not run here.
    ::_exit(0);
}

} // namespace

std::unique_ptr<OutsideHelper> OutsideHelper::start(Serve serveOne)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return nullptr;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pair[0]);
        // Ends with the program, even while it is busy.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(0);
        serve(pair[1], serveOne);
    }
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        return nullptr;
    }
    return std::unique_ptr<OutsideHelper>(new OutsideHelper(pid, pair[0]));
}

OutsideHelper::~OutsideHelper()
{
    ::close(m_socket);
    if (m_waiting == 0)
        ::waitpid(m_pid, nullptr, 0);
}

bool OutsideHelper::request()
{
    const char request = kMessage;
    if (::send(m_socket, &request, 1, MSG_NOSIGNAL) != 1)
        return false;
    ++m_waiting;
    return true;
}

std::optional<OutsideHelper::Answer> OutsideHelper::receive()
{
    char bytes[1 + kLongestAnswer];
    iovec data{bytes, sizeof bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    while ((n = ::recvmsg(m_socket, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    Answer answer;
    for (cmsghdr* part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
        if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_RIGHTS)
            std::memcpy(&answer.descriptor, CMSG_DATA(part), sizeof(int));
    }
    if (n <= 0) {
        if (answer.descriptor >= 0)
            ::close(answer.descriptor);
        return std::nullopt;
    }
    m_waiting = std::max(0, m_waiting - 1);
    answer.data = QByteArray(bytes + 1, n - 1);
    return answer;
}
