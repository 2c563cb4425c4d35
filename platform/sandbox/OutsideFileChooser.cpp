#include "platform/sandbox/OutsideFileChooser.h"

#include "platform/base/Console.h"
#include "platform/sandbox/OutsideHelper.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kEnded = QStringLiteral("the file chooser has ended; no photo can be chosen");

// The chosen file, opened for reading only, if it is a regular file: a FIFO or device is
// never handed over (nor blocks the open).
int openRegular(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat info
    {
    };
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        return fd;
    if (fd < 0)
        Console::printError(QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
    else
        ::close(fd);
    return -1;
}

} // namespace

std::unique_ptr<OutsideFileChooser> OutsideFileChooser::start(Choose choose)
{
    auto helper = OutsideHelper::start([choose = std::move(choose)] {
        const std::optional<QString> path = choose();
        return OutsideHelper::Answer{{}, path ? openRegular(*path) : -1};
    });
    if (!helper)
        return nullptr;
    return std::unique_ptr<OutsideFileChooser>(new OutsideFileChooser(std::move(helper)));
}

OutsideFileChooser::OutsideFileChooser(std::unique_ptr<OutsideHelper> helper) : m_helper(std::move(helper)) {}

OutsideFileChooser::~OutsideFileChooser() = default;

void OutsideFileChooser::choose(std::function<void(int descriptor)> chosen)
{
    if (isChoosing())
        return;
    if (!m_helper->request()) {
        Console::printError(kEnded);
        return;
    }
    m_chosen = std::move(chosen);
    if (!m_answer) {
        m_answer = std::make_unique<QSocketNotifier>(m_helper->socket(), QSocketNotifier::Read);
        QObject::connect(m_answer.get(), &QSocketNotifier::activated, m_answer.get(), [this] { receiveAnswer(); });
    }
    m_answer->setEnabled(true);
}

void OutsideFileChooser::receiveAnswer()
{
    m_answer->setEnabled(false);
    const auto chosen = std::exchange(m_chosen, {});
    const auto answer = m_helper->receive();
    if (!answer)
        Console::printError(kEnded);
    else if (answer->descriptor >= 0)
        chosen(answer->descriptor);
}
