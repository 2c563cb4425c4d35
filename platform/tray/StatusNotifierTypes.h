#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>

class QIcon;

// One picture of a StatusNotifierItem's icon: ARGB32 pixels in network byte order, as the
// hosts read them.
struct StatusNotifierPixmap
{
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using StatusNotifierPixmaps = QList<StatusNotifierPixmap>;

struct StatusNotifierToolTip
{
    QString iconName;
    StatusNotifierPixmaps iconPixmaps;
    QString title;
    QString description;
};

namespace StatusNotifierTypes {
// Once, before any of the types goes over the bus.
void registerTypes();
// Every size the icon holds, each as the host reads it.
StatusNotifierPixmaps pixmapsOf(const QIcon& icon);
} // namespace StatusNotifierTypes

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierToolTip& toolTip);

Q_DECLARE_METATYPE(StatusNotifierPixmap)
Q_DECLARE_METATYPE(StatusNotifierToolTip)
