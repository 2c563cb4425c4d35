#include "platform/sandbox/OutsideLauncher.h"

#include "platform/sandbox/OutsideHelper.h"

#include <QFile>

#include <csignal>
#include <vector>

#include <spawn.h>
#include <unistd.h>

std::unique_ptr<OutsideLauncher> OutsideLauncher::start(const QStringList& arguments)
{
    char executable[4096];
    const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length <= 0)
        return nullptr;
    std::vector<QByteArray> words{QByteArray(executable, length)};
    for (const QString& argument : arguments)
        words.push_back(QFile::encodeName(argument));
    auto helper = OutsideHelper::start([words] {
        // The programs started are reaped by the kernel, not left as zombies of the helper.
        std::signal(SIGCHLD, SIG_IGN);
        std::vector<char*> argv;
        for (const QByteArray& word : words)
            argv.push_back(const_cast<char*>(word.constData()));
        argv.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGCHLD);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        pid_t pid = 0;
        const bool started = posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), environ) == 0;
        posix_spawnattr_destroy(&attributes);
        return OutsideHelper::Answer{started ? QByteArray::number(pid) : QByteArray(), -1};
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
