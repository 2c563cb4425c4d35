#include "platform/session/ApplicationService.h"

#include <QDBusError>
#include <QDBusVariant>

QString ApplicationService::objectPath(const QString& applicationId)
{
    QString path = QLatin1Char('/') + applicationId;
    path.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

ApplicationService::ApplicationService(const QStringList& actionNames, QObject* parent)
    : QObject(parent), m_actionNames(actionNames)
{
}

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
    if (!m_actionNames.contains(name)) {
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
    emit actionActivated(name, value);
}
