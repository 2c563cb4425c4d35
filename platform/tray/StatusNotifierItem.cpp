#include "platform/tray/StatusNotifierItem.h"

#include "statusnotifieritemadaptor.h"

StatusNotifierItem::StatusNotifierItem(const QString& id, const QString& title, const QDBusObjectPath& menuPath,
                                       QObject* parent)
    : QObject(parent), m_id(id), m_title(title), m_menuPath(menuPath)
{
    StatusNotifierTypes::registerTypes();
    new StatusNotifierItemAdaptor(this); // owned by the item
}

StatusNotifierToolTip StatusNotifierItem::toolTip() const
{
    // Hosts show the title in bold and the description below it: the first line heads.
    const qsizetype newline = m_toolTip.indexOf(QLatin1Char('\n'));
    if (newline < 0)
        return {{}, {}, m_toolTip, {}};
    return {{}, {}, m_toolTip.left(newline), m_toolTip.mid(newline + 1)};
}

void StatusNotifierItem::setIcon(const QIcon& icon)
{
    m_icon = icon;
    m_pixmaps = StatusNotifierTypes::pixmapsOf(icon);
    emit NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& text)
{
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    emit NewToolTip();
}

void StatusNotifierItem::ContextMenu(int x, int y)
{
    emit contextMenuRequested(QPoint(x, y));
}

void StatusNotifierItem::Activate(int x, int y)
{
    emit activated(QPoint(x, y));
}

void StatusNotifierItem::ProvideXdgActivationToken(const QString& token)
{
    m_activationToken = token;
}

void StatusNotifierItem::SecondaryActivate(int x, int y)
{
    // A middle click: the photo, as a left click gives it.
    emit activated(QPoint(x, y));
}

void StatusNotifierItem::Scroll(int, const QString&) {}
