#pragma once

#include "platform/tray/StatusItem.h"

#include <QPoint>

class QSystemTrayIcon;

// A status item shown by QSystemTrayIcon, which speaks both tray protocols: the
// StatusNotifierItem of newer panels and the XEmbed system tray of older ones.
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

private:
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QPoint m_lastClick;
};
