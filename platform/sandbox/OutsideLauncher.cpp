#include "platform/sandbox/OutsideLauncher.h"

#include "platform/sandbox/OutsideHelper.h"

#include <QFile>

#include <csignal>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kLongestWaitMs = 5000;
constexpr int kPollMs = 10;

QByteArray controlGroup()
{
    char text[1024];
    const int fd = ::open("/proc/self/cgroup", O_RDONLY | O_CLOEXEC);
    const ssize_t length = fd >= 0 ? ::read(fd, text, sizeof text) : -1;
    if (fd >= 0)
        ::close(fd);
    return length > 0 ? QByteArray(text, length) : QByteArray();
}

} // namespace

std::unique_ptr<OutsideLauncher> OutsideLauncher::start(const QStringList& arguments, bool waitUntilMoved)
{
    char executable[4096];
    const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length <= 0)
        return nullptr;
    std::vector<QByteArray> words{QByteArray(executable, length)};
    for (const QString& argument : arguments)
        words.push_back(QFile::encodeName(argument));
    auto helper = OutsideHelper::start([words, waitUntilMoved] {
        // The programs started are reaped by the kernel, not left as zombies of the helper.
        std::signal(SIGCHLD, SIG_IGN);
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::signal(SIGCHLD, SIG_DFL);
            std::vector<char*> argv;
            for (const QByteArray& word : words)
                argv.push_back(const_cast<char*>(word.constData()));
            argv.push_back(nullptr);
            // The reminder run's unit ends with the run and takes along what is still in it:
            // the program waits to be moved, so that the chooser it starts first is not.
            const QByteArray unit = controlGroup();
            for (int waited = 0; waitUntilMoved && waited < kLongestWaitMs && controlGroup() == unit; waited += kPollMs)
                ::usleep(kPollMs * 1000);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        return OutsideHelper::Answer{pid > 0 ? QByteArray::number(pid) : QByteArray(), -1};
    });
    if (!helper)
        return nullptr;
    return std::unique_ptr<OutsideLauncher>(new OutsideLauncher(std::move(helper)));
}

OutsideLauncher::OutsideLauncher(std::unique_ptr<OutsideHelper> helper) : m_helper(std::move(helper)) {}

OutsideLauncher::~OutsideLauncher() = default;

std::optional<qint64> OutsideLauncher::launch()
{
    if (!m_helper->request())
        return std::nullopt;
    const auto answer = m_helper->receive();
    bool ok = false;
    const qint64 pid = answer ? answer->data.toLongLong(&ok) : 0;
    return ok && pid > 0 ? std::optional(pid) : std::nullopt;
}
