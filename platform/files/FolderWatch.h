#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class QSocketNotifier;

// Reports when files of given names in one folder are created, replaced, written or removed,
// by any process, through inotify: the program sleeps until something happens. A burst of
// changes gives one signal, from the event loop.
class FolderWatch : public QObject
{
    Q_OBJECT

public:
    FolderWatch(const QString& folder, const QStringList& names, QObject* parent = nullptr);
    ~FolderWatch() override;

    bool isWatching() const { return m_fd >= 0; }

signals:
    void changed();

private:
    void onReadable();

    int m_fd = -1;
    QStringList m_names;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_coalesce;
};
