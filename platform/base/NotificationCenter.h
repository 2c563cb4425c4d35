#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

// An in-process board of named notifications: anyone may post a name, and every
// observer of that name is called synchronously, on the posting thread, in the order
// in which the observers were added.
class NotificationCenter : public QObject
{
    Q_OBJECT

public:
    struct Notification
    {
        QString name;
        QObject* object = nullptr;
    };
    using Handler = std::function<void(const Notification&)>;

    explicit NotificationCenter(QObject* parent = nullptr);

    static NotificationCenter& defaultCenter();

    // The observation ends when `context` is destroyed.
    void addObserver(QObject* context, const QString& name, Handler handler);
    void removeObserver(QObject* context);
    void post(const QString& name, QObject* object = nullptr);

private:
    struct Observer
    {
        QObject* context;
        QString name;
        Handler handler;
    };
    std::vector<Observer> m_observers;
};
