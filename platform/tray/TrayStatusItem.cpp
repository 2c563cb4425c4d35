#include "platform/tray/TrayStatusItem.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

TrayStatusItem::TrayStatusItem() : m_tray(std::make_unique<QSystemTrayIcon>())
{
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // StatusNotifierItem hosts report no icon geometry; the click point stands in for it.
        m_lastClick = QCursor::pos();
        if (reason == QSystemTrayIcon::Trigger)
            emit buttonClicked();
    });
}

TrayStatusItem::~TrayStatusItem() = default;

bool TrayStatusItem::hasButton() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayStatusItem::setImage(const QIcon& icon)
{
    m_tray->setIcon(icon);
    // Shown once it has a picture (Qt warns about an icon without one), and even without
    // a tray: Qt puts the icon in place as soon as a tray appears.
    if (!icon.isNull())
        m_tray->show();
}

QIcon TrayStatusItem::image() const
{
    return m_tray->icon();
}

void TrayStatusItem::setToolTip(const QString& text)
{
    m_tray->setToolTip(text);
}

QRect TrayStatusItem::buttonBounds() const
{
    const QRect geometry = m_tray->geometry();
    if (geometry.isValid() && !geometry.isEmpty())
        return geometry;
    return QRect(m_lastClick.isNull() ? QCursor::pos() : m_lastClick, QSize(1, 1));
}

void TrayStatusItem::setContextMenu(QMenu* menu)
{
    m_tray->setContextMenu(menu);
}

namespace {
class SystemStatusBar : public StatusBar
{
public:
    std::unique_ptr<StatusItem> makeStatusItem() override { return std::make_unique<TrayStatusItem>(); }
};
} // namespace

StatusBar& StatusBar::systemStatusBar()
{
    static SystemStatusBar bar;
    return bar;
}
