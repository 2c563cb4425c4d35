#pragma once

#include "platform/tray/StatusItem.h"

#include <QPoint>
#include <QPointer>
#include <QString>

class DBusMenuExporter;
class QSystemTrayIcon;
class StatusNotifierItem;
class StatusNotifierRegistration;

// The status item in whichever tray the desktop has: a StatusNotifierItem of the program's
// own where a host draws such items (newer panels, waybar, GNOME's AppIndicator extension,
// Plasma), else QSystemTrayIcon in an XEmbed system tray (trayer, older panels). The item
// moves to a StatusNotifierItem host that starts later, and back when that host goes.
class TrayStatusItem : public StatusItem
{
    Q_OBJECT

public:
    TrayStatusItem();
    ~TrayStatusItem() override;

    bool hasButton() const override;
    void setImage(const QIcon& icon) override;
    QIcon image() const override;
    void setToolTip(const QString& text) override;
    QRect buttonBounds() const override;
    void setContextMenu(QMenu* menu) override;

    // A host's point, in the X server's pixels, in Qt's coordinates (which a scale factor
    // divides).
    static QPoint logicalPoint(const QPoint& hostPoint);

private:
    void followHost();
    void showInXEmbedTray();
    void clickedAt(const QPoint& hostPoint);
    // Makes the host's click (or a chosen menu entry) count as the user's latest action, so
    // that the window it brings up may take the focus.
    void takeClickAsUserAction();

    std::unique_ptr<StatusNotifierItem> m_item;
    std::unique_ptr<DBusMenuExporter> m_menuExporter;
    std::unique_ptr<StatusNotifierRegistration> m_registration;
    std::unique_ptr<QSystemTrayIcon> m_xembedIcon;
    QPointer<QMenu> m_menu;
    QString m_toolTip;
    QPoint m_lastClick;
};
