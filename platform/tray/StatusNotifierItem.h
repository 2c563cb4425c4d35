#pragma once

#include "platform/tray/StatusNotifierTypes.h"

#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <QPoint>

#include <utility>

// The program's StatusNotifierItem, the object that a tray host reads on the session bus
// (at /StatusNotifierItem, through the adaptor generated from its interface). The host's
// clicks arrive with the point they were made at.
class StatusNotifierItem : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString Category READ category CONSTANT)
    Q_PROPERTY(QString Id READ id CONSTANT)
    Q_PROPERTY(QString Title READ title CONSTANT)
    Q_PROPERTY(QString Status READ status CONSTANT)
    Q_PROPERTY(int WindowId READ windowId CONSTANT)
    Q_PROPERTY(QString IconThemePath READ noName CONSTANT)
    Q_PROPERTY(QDBusObjectPath Menu READ menu CONSTANT)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu CONSTANT)
    Q_PROPERTY(QString IconName READ noName CONSTANT)
    Q_PROPERTY(StatusNotifierPixmaps IconPixmap READ iconPixmap NOTIFY NewIcon)
    Q_PROPERTY(QString OverlayIconName READ noName CONSTANT)
    Q_PROPERTY(StatusNotifierPixmaps OverlayIconPixmap READ noPixmaps CONSTANT)
    Q_PROPERTY(QString AttentionIconName READ noName CONSTANT)
    Q_PROPERTY(StatusNotifierPixmaps AttentionIconPixmap READ noPixmaps CONSTANT)
    Q_PROPERTY(QString AttentionMovieName READ noName CONSTANT)
    Q_PROPERTY(StatusNotifierToolTip ToolTip READ toolTip NOTIFY NewToolTip)

public:
    static inline const QString kObjectPath = QStringLiteral("/StatusNotifierItem");

    // `menuPath`: where the item's menu is exported (com.canonical.dbusmenu).
    StatusNotifierItem(const QString& id, const QString& title, const QDBusObjectPath& menuPath,
                       QObject* parent = nullptr);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return m_id; }
    QString title() const { return m_title; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QDBusObjectPath menu() const { return m_menuPath; }
    bool itemIsMenu() const { return false; }
    QString noName() const { return {}; }
    StatusNotifierPixmaps noPixmaps() const { return {}; }
    StatusNotifierPixmaps iconPixmap() const { return m_pixmaps; }
    StatusNotifierToolTip toolTip() const;

    void setIcon(const QIcon& icon);
    QIcon icon() const { return m_icon; }
    void setToolTip(const QString& text);

public slots: // called by the host, through the adaptor
    void ContextMenu(int x, int y);
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void Scroll(int delta, const QString& orientation);
    // Before a click, the host may hand over the desktop's permission for the window the click
    // brings up to take the focus.
    void ProvideXdgActivationToken(const QString& token);

public:
    // The token the host gave for the latest click, once; empty where it gave none.
    QString takeActivationToken() { return std::exchange(m_activationToken, {}); }

signals:
    // Where the host reported the click, in its own (the X server's or the compositor's)
    // pixels; (0, 0) where it tells nothing.
    void activated(const QPoint& hostPoint);
    void contextMenuRequested(const QPoint& hostPoint);

    // Relayed to the bus by the adaptor.
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    const QString m_id;
    const QString m_title;
    const QDBusObjectPath m_menuPath;
    QIcon m_icon;
    StatusNotifierPixmaps m_pixmaps;
    QString m_toolTip;
    QString m_activationToken;
};
