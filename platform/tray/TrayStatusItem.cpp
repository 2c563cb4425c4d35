#include "platform/tray/TrayStatusItem.h"

#include "platform/desktop/DesktopSession.h"

#include "platform/tray/DBusMenuExporter.h"
#include "platform/tray/StatusNotifierItem.h"
#include "platform/tray/StatusNotifierRegistration.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <qpa/qplatformnativeinterface.h>

namespace {
// Only an X11 program can dock into an XEmbed tray.
bool canUseXEmbed()
{
    return DesktopSession::current().speaksX11();
}

// A click in the tray host is no X11 event of the program's, so Qt's idea of the time of the
// user's last action stays at the start, and a window shown for the click would carry that
// time: mutter then refuses it the focus, so that it gets no keys. The X server's present
// time becomes that of the click.
void takeX11TimeAsUserAction(QPlatformNativeInterface& native, QScreen& screen)
{
    const auto now = quint32(reinterpret_cast<quintptr>(native.nativeResourceForScreen("gettimestamp", &screen)));
    using SetTime = void (*)(QScreen*, quint32);
    for (const QByteArray& setter : {QByteArrayLiteral("setapptime"), QByteArrayLiteral("setappusertime")}) {
        // Qt hands the setters out under a general function type.
        if (auto function = native.nativeResourceFunctionForScreen(setter))
            reinterpret_cast<SetTime>(reinterpret_cast<void (*)()>(function))(&screen, now);
    }
}

// On Wayland the host's activation token lets the window that the click brings up take the
// focus: Qt hands XDG_ACTIVATION_TOKEN to the compositor when the window asks to be activated.
// (Under X11 the server time above does that; Qt sets a startup id only on new windows.)
void handOnActivationToken(const QString& token)
{
    if (!token.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
}
} // namespace

TrayStatusItem::TrayStatusItem()
    : m_item(std::make_unique<StatusNotifierItem>(QGuiApplication::desktopFileName(),
                                                  QGuiApplication::applicationDisplayName(),
                                                  QDBusObjectPath(DBusMenuExporter::kObjectPath))),
      m_menuExporter(std::make_unique<DBusMenuExporter>())
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The item goes by the connection's own name, not one of the org.kde.StatusNotifierItem-*
    // names that KDE's items take. For those, GNOME's AppIndicator extension also watches the
    // name, and when word of its owner came in while it first read the item's properties, it
    // dropped the item for good: an icon lost now and then when the extension starts after the
    // program, as at login.
    const QString service = bus.baseService();
    bus.registerObject(StatusNotifierItem::kObjectPath, m_item.get(), QDBusConnection::ExportAdaptors);
    bus.registerObject(DBusMenuExporter::kObjectPath, m_menuExporter.get(), QDBusConnection::ExportAdaptors);
    connect(m_item.get(), &StatusNotifierItem::activated, this, &TrayStatusItem::clickedAt);
    connect(m_menuExporter.get(), &DBusMenuExporter::entryClicked, this, &TrayStatusItem::takeClickAsUserAction);
    connect(m_item.get(), &StatusNotifierItem::contextMenuRequested, this, [this](const QPoint& hostPoint) {
        // A host that draws no menu of its own asks for the program's, at the click.
        m_lastClick = hostPoint;
        takeClickAsUserAction();
        if (m_menu)
            m_menu->popup(hostPoint.isNull() ? QCursor::pos() : logicalPoint(hostPoint));
    });
    m_registration = std::make_unique<StatusNotifierRegistration>(bus, service);
    connect(m_registration.get(), &StatusNotifierRegistration::hostAvailableChanged, this, &TrayStatusItem::followHost);
}

TrayStatusItem::~TrayStatusItem()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(StatusNotifierItem::kObjectPath);
    bus.unregisterObject(DBusMenuExporter::kObjectPath);
}

bool TrayStatusItem::hasButton() const
{
    return m_registration->hostAvailable() || (canUseXEmbed() && QSystemTrayIcon::isSystemTrayAvailable());
}

void TrayStatusItem::setImage(const QIcon& icon)
{
    m_item->setIcon(icon);
    followHost();
}

QIcon TrayStatusItem::image() const
{
    return m_item->icon();
}

void TrayStatusItem::setToolTip(const QString& text)
{
    m_toolTip = text;
    m_item->setToolTip(text);
    if (m_xembedIcon)
        m_xembedIcon->setToolTip(text);
}

QRect TrayStatusItem::buttonBounds() const
{
    if (m_xembedIcon && m_xembedIcon->isVisible()) {
        const QRect geometry = m_xembedIcon->geometry();
        if (geometry.isValid() && !geometry.isEmpty())
            return geometry;
    }
    // A StatusNotifierItem host tells where it was clicked, not where the icon is: the
    // point stands in for the icon. Without it, the pointer's place does, except on Wayland and
    // under Xwayland, which tell a program the pointer only while it is over one of its windows:
    // there nothing is known.
    if (!m_lastClick.isNull())
        return QRect(logicalPoint(m_lastClick), QSize(1, 1));
    if (const auto display = DesktopSession::current().display();
        display == DesktopSession::Display::Xwayland || display == DesktopSession::Display::Wayland)
        return {};
    return QRect(QCursor::pos(), QSize(1, 1));
}

void TrayStatusItem::setContextMenu(QMenu* menu)
{
    m_menu = menu;
    m_menuExporter->setMenu(menu);
    if (m_xembedIcon)
        m_xembedIcon->setContextMenu(menu);
}

QPoint TrayStatusItem::logicalPoint(const QPoint& hostPoint)
{
    for (const QScreen* screen : QGuiApplication::screens()) {
        // A screen's origin is the same in both; only its extent is scaled.
        const QRect logical = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        const QRect native(logical.topLeft(), logical.size() * ratio);
        if (native.contains(hostPoint))
            return logical.topLeft() + (hostPoint - logical.topLeft()) / ratio;
    }
    return hostPoint;
}

void TrayStatusItem::takeClickAsUserAction()
{
    const DesktopSession session = DesktopSession::current();
    const QString token = m_item->takeActivationToken();
    if (session.display() == DesktopSession::Display::Wayland)
        handOnActivationToken(token);
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (QScreen* screen = QGuiApplication::primaryScreen(); native && screen && session.speaksX11())
        takeX11TimeAsUserAction(*native, *screen);
}

void TrayStatusItem::clickedAt(const QPoint& hostPoint)
{
    m_lastClick = hostPoint;
    takeClickAsUserAction();
    emit buttonClicked();
}

void TrayStatusItem::followHost()
{
    if (m_item->icon().isNull())
        return; // nothing to show yet (Qt warns about a tray icon without a picture)
    if (m_registration->hostAvailable()) {
        if (m_xembedIcon)
            m_xembedIcon->hide();
        return;
    }
    if (canUseXEmbed())
        showInXEmbedTray();
}

void TrayStatusItem::showInXEmbedTray()
{
    // Made only while no StatusNotifierItem host runs: Qt decides once, for the whole
    // process, which protocol its tray icons speak, and it must pick XEmbed here.
    if (!m_xembedIcon) {
        m_xembedIcon = std::make_unique<QSystemTrayIcon>();
        m_xembedIcon->setToolTip(m_toolTip);
        m_xembedIcon->setContextMenu(m_menu);
        connect(m_xembedIcon.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    m_lastClick = {};
                    if (reason == QSystemTrayIcon::Trigger)
                        emit buttonClicked();
                });
    }
    m_xembedIcon->setIcon(m_item->icon());
    // Shown even without a tray: Qt puts the icon in place as soon as one appears.
    m_xembedIcon->show();
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
