#pragma once

#include <QDBusConnection>
#include <QObject>

class QDBusPendingCallWatcher;
class QDBusVariant;

// The desktop's light or dark preference as the XDG desktop portal publishes it: the
// setting color-scheme of the namespace org.freedesktop.appearance, read once and then
// followed through the portal's SettingChanged signal. GNOME and KDE write it from their
// own dark-mode switch.
class ColorSchemePortal : public QObject
{
    Q_OBJECT

public:
    // The portal's values: 0, 1 and 2.
    enum class Scheme
    {
        NoPreference,
        PreferDark,
        PreferLight,
    };
    Q_ENUM(Scheme)

    explicit ColorSchemePortal(const QDBusConnection& bus, QObject* parent = nullptr);

    // Asks the portal; schemeChanged brings an answer that differs from scheme(). Without
    // a bus or a portal the scheme stays NoPreference and nothing is reported.
    void read();
    Scheme scheme() const { return m_scheme; }

signals:
    void schemeChanged(ColorSchemePortal::Scheme scheme);

private slots:
    void settingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    void call(const QString& method);
    void answered(QDBusPendingCallWatcher* watcher, const QString& method);
    void update(Scheme scheme);

    QDBusConnection m_bus;
    Scheme m_scheme = Scheme::NoPreference;
    // A change signalled while the first read is on its way is newer than its answer.
    bool m_changeSeen = false;
};
