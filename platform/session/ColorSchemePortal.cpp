#include "platform/session/ColorSchemePortal.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");
// A portal that is started on demand may take a while; the answer is not waited for.
constexpr int kTimeoutMs = 10000;

// A color-scheme value as the portal sends it, in however many variants it is wrapped.
// Anything but 0, 1 or 2 is no preference.
ColorSchemePortal::Scheme fromValue(const QVariant& value)
{
    // Read answers with the value in a second variant; a few levels are plenty.
    QVariant inner = value;
    for (int depth = 0; depth < 4 && inner.metaType() == QMetaType::fromType<QDBusVariant>(); ++depth)
        inner = inner.value<QDBusVariant>().variant();
    if (inner.metaType() != QMetaType::fromType<uint>() && inner.metaType() != QMetaType::fromType<int>())
        return ColorSchemePortal::Scheme::NoPreference;
    switch (inner.toInt()) {
    case 1:
        return ColorSchemePortal::Scheme::PreferDark;
    case 2:
        return ColorSchemePortal::Scheme::PreferLight;
    default:
        return ColorSchemePortal::Scheme::NoPreference;
    }
}

} // namespace

ColorSchemePortal::ColorSchemePortal(const QDBusConnection& bus, QObject* parent) : QObject(parent), m_bus(bus) {}

void ColorSchemePortal::read()
{
    if (!m_bus.isConnected())
        return;
    // QtDBus finds the slot's argument types by name, and Qt 6 registers a type's name only
    // once the type is first used: without this the subscription fails.
    qRegisterMetaType<QDBusVariant>();
    // Subscribed before asking, so that no change is missed between the two.
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), {kNamespace, kKey},
                  QStringLiteral("ssv"), this, SLOT(settingChanged(QString, QString, QDBusVariant)));
    call(QStringLiteral("ReadOne"));
}

void ColorSchemePortal::call(const QString& method)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message << kNamespace << kKey;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method](QDBusPendingCallWatcher* finished) { answered(finished, method); });
}

void ColorSchemePortal::answered(QDBusPendingCallWatcher* watcher, const QString& method)
{
    watcher->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *watcher;
    if (reply.isError()) {
        // ReadOne came with version 2 of the interface; older portals only have Read.
        if (method == QLatin1String("ReadOne") && reply.error().type() == QDBusError::UnknownMethod)
            call(QStringLiteral("Read"));
        return;
    }
    if (!m_changeSeen)
        update(fromValue(reply.argumentAt(0)));
}

void ColorSchemePortal::settingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value)
{
    if (nameSpace != kNamespace || key != kKey)
        return;
    m_changeSeen = true;
    update(fromValue(QVariant::fromValue(value)));
}

void ColorSchemePortal::update(Scheme scheme)
{
    if (scheme == m_scheme)
        return;
    m_scheme = scheme;
    emit schemeChanged(scheme);
}
