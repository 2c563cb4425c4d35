#include "platform/base/NotificationCenter.h"

NotificationCenter::NotificationCenter(QObject* parent) : QObject(parent) {}

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(QObject* context, const QString& name, Handler handler)
{
    m_observers.push_back({context, name, std::move(handler)});
    connect(
        context, &QObject::destroyed, this, [this, context] { removeObserver(context); }, Qt::DirectConnection);
}

void NotificationCenter::removeObserver(QObject* context)
{
    std::erase_if(m_observers, [context](const Observer& o) { return o.context == context; });
}

void NotificationCenter::post(const QString& name, QObject* object)
{
    // Copy first: a handler may add or remove observers while we iterate.
    const Notification notification{name, object};
    std::vector<Handler> handlers;
    for (const Observer& o : m_observers)
        if (o.name == name)
            handlers.push_back(o.handler);
    for (const Handler& handler : handlers)
        handler(notification);
}
