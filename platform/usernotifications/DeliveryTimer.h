#pragma once

#include <QDateTime>
#include <QObject>

#include <functional>
#include <optional>

// A deliverer outside the process: something that starts the program's delivery run at an
// instant whether or not the program runs. The UserNotificationCenter keeps it at the next
// fire time of its store.
class DeliveryTimer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The long option that starts the program's delivery run: the deliverer runs
    // "<executable> --deliver-pending".
    static inline const QString kRunOption = QStringLiteral("deliver-pending");

    // Whether the deliverer can be used at all; problem() says why not.
    virtual bool isAvailable() const = 0;
    virtual QString problem() const = 0;

    // Arms the deliverer at the instant that `desired` gives, or withdraws it when that gives
    // none. `desired` is asked only once no other process of the program is changing the same
    // deliverer, so that it reads the store after their changes. `done` comes later on this
    // thread, telling whether the deliverer now stands as asked. Requests made while one is
    // under way are served together, after it, with the latest `desired`.
    virtual void sync(std::function<std::optional<QDateTime>()> desired, std::function<void(bool ok)> done) = 0;
};
