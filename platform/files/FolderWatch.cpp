#include "platform/files/FolderWatch.h"

#include <QFile>
#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

FolderWatch::FolderWatch(const QString& folder, const QStringList& names, QObject* parent)
    : QObject(parent), m_names(names)
{
    m_coalesce.setSingleShot(true);
    m_coalesce.setInterval(0);
    connect(&m_coalesce, &QTimer::timeout, this, &FolderWatch::changed);

    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return;
    // The folder, not the files: a file replaced by a rename (or a link swapped, as
    // /etc/localtime is) would leave a watch on the file with the old one.
    constexpr uint32_t mask = IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE | IN_DELETE | IN_ONLYDIR;
    if (::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), mask) < 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FolderWatch::onReadable);
}

FolderWatch::~FolderWatch()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void FolderWatch::onReadable()
{
    alignas(inotify_event) char buffer[4096];
    ssize_t got;
    while ((got = ::read(m_fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW || (event->len > 0 && m_names.contains(QFile::decodeName(event->name))))
                m_coalesce.start();
        }
    }
}
