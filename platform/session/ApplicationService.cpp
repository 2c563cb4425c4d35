#include "platform/session/ApplicationService.h"

#include <QDBusError>
#include <QDBusVariant>

QString ApplicationService::objectPath(const QString& applicationId)
{
    QString path = QLatin1Char('/') + applicationId;
    path.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

ApplicationService::ApplicationService(const Actions& actions, QObject* parent) : QObject(parent), m_actions(actions) {}

void ApplicationService::Activate(const QVariantMap&)
{
    emit activated();
}

void ApplicationService::Open(const QStringList&, const QVariantMap&)
{
    emit activated();
}

void ApplicationService::ActivateAction(const QString& name, const QVariantList& parameter, const QVariantMap&)
{
    if (!m_actions.contains(name)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("there is no action named \"%1\"").arg(name));
        return;
    }
    // The parameter is a maybe-type: an empty list for none, else one value.
    if (parameter.size() > 1) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("an action takes at most one parameter"));
        return;
    }
    QVariant value = parameter.value(0);
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    const QMetaType::Type type = m_actions.value(name);
    if (!parameter.isEmpty() && value.typeId() != type) {
        sendErrorReply(QDBusError::InvalidArgs,
                       type == QMetaType::UnknownType
                           ? QStringLiteral("the action \"%1\" takes no parameter").arg(name)
                           : QStringLiteral("the action \"%1\" takes a parameter of type %2, not %3")
                                 .arg(name, QLatin1String(QMetaType(type).name()), QLatin1String(value.typeName())));
        return;
    }
    emit actionActivated(name, value);
}
