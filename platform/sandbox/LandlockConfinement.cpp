#include "platform/sandbox/LandlockConfinement.h"

#include <QFile>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// The rights of later ABI versions than the system's headers may know. The kernel's
// interface never changes a value once published.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)
#endif
#ifndef LANDLOCK_SCOPE_SIGNAL
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif

namespace LandlockConfinement {
namespace {

// struct landlock_ruleset_attr as ABI 6 defines it; the size handed to the kernel says how
// much of it an older kernel is given.
struct RulesetAttributes
{
    quint64 handledAccessFs = 0;
    quint64 handledAccessNet = 0;
    quint64 scoped = 0;
};

constexpr quint64 kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_TRUNCATE |
                                LANDLOCK_ACCESS_FS_IOCTL_DEV;
constexpr quint64 kRead = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
constexpr quint64 kReplace = kRead | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_TRUNCATE |
                             LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_REMOVE_FILE;

quint64 rightsOf(Access access)
{
    switch (access) {
    case Access::Read:
        return kRead;
    case Access::ReadExecute:
        return kRead | LANDLOCK_ACCESS_FS_EXECUTE;
    case Access::Device:
        return kRead | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_TRUNCATE | LANDLOCK_ACCESS_FS_IOCTL_DEV;
    case Access::ReadWrite:
        return kReplace | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_MAKE_SOCK |
               LANDLOCK_ACCESS_FS_REFER;
    case Access::ReplaceFiles:
        return kReplace;
    }
    return 0;
}

// Every file right that ABI `abi` knows: all of them are denied unless a rule allows them.
quint64 handledFileRights(int abi)
{
    quint64 rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1; // ABI 1: execute to make_sym
    if (abi >= 2)
        rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5)
        rights |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    return rights;
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// How many threads the process runs, or 0 when /proc cannot tell.
int threadCount()
{
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks)
        return 0;
    int count = 0;
    while (const dirent* entry = ::readdir(tasks))
        count += entry->d_name[0] != '.';
    ::closedir(tasks);
    return count;
}

struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

Support support()
{
    const long abi = ::syscall(__NR_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi > 0)
        return {int(abi), {}};
    if (errno == ENOSYS)
        return {0, QStringLiteral("this kernel has no Landlock (Linux 5.13 and later have it)")};
    if (errno == EOPNOTSUPP)
        return {0, QStringLiteral("Landlock is turned off in this kernel (it is not in the boot option lsm=)")};
    return {0, QStringLiteral("Landlock does not answer: %1").arg(systemError(errno))};
}

Outcome restrictSelf(const QList<Rule>& rules)
{
    Outcome outcome;
    const Support offered = support();
    if (offered.abi == 0) {
        outcome.problem = offered.problem;
        return outcome;
    }
    if (const int threads = threadCount(); threads > 1) {
        outcome.problem = QStringLiteral("%1 threads already run, which Landlock would leave free").arg(threads);
        return outcome;
    }

    RulesetAttributes attributes;
    attributes.handledAccessFs = handledFileRights(offered.abi);
    if (offered.abi >= 4)
        attributes.handledAccessNet = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
    // Signals only to processes inside the confinement. Abstract Unix sockets stay open: the
    // X server and older session buses listen on them.
    if (offered.abi >= 6)
        attributes.scoped = LANDLOCK_SCOPE_SIGNAL;
    const size_t size = offered.abi >= 6   ? sizeof attributes
                        : offered.abi >= 4 ? offsetof(RulesetAttributes, scoped)
                                           : offsetof(RulesetAttributes, handledAccessNet);
    const Descriptor ruleset{int(::syscall(__NR_landlock_create_ruleset, &attributes, size, 0))};
    if (ruleset.fd < 0) {
        outcome.problem = QStringLiteral("cannot create a Landlock ruleset: %1").arg(systemError(errno));
        return outcome;
    }

    for (const Rule& rule : rules) {
        const Descriptor target{::open(QFile::encodeName(rule.path).constData(), O_PATH | O_CLOEXEC)};
        struct stat info
        {
        };
        if (target.fd < 0 || ::fstat(target.fd, &info) != 0)
            continue;
        quint64 allowed = rightsOf(rule.access) & attributes.handledAccessFs;
        if (!S_ISDIR(info.st_mode))
            allowed &= kFileRights;
        landlock_path_beneath_attr beneath{allowed, target.fd};
        // A rule the kernel refuses is left out: the confinement is then only the tighter.
        if (allowed != 0)
            ::syscall(__NR_landlock_add_rule, ruleset.fd, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0);
    }

    // Required of a process without CAP_SYS_ADMIN; no program it starts gains privileges.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::syscall(__NR_landlock_restrict_self, ruleset.fd, 0) != 0) {
        outcome.problem = QStringLiteral("cannot enforce the Landlock rules: %1").arg(systemError(errno));
        return outcome;
    }
    outcome.confined = true;
    outcome.abi = offered.abi;
    outcome.tcpRestricted = attributes.handledAccessNet != 0;
    return outcome;
}

} // namespace LandlockConfinement
