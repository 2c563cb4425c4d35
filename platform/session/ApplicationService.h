#pragma once

#include <QDBusContext>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QStringList>
#include <QVariant>

// The freedesktop application interface (org.freedesktop.Application) of the running copy, as
// desktops that start programs over D-Bus and later starts of the program call it: Activate
// asks the program to show itself, ActivateAction runs one of its named actions with an
// optional parameter. Open has no files to open here and shows the program, as Activate does.
class ApplicationService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    static QString interfaceName() { return QStringLiteral("org.freedesktop.Application"); }
    // The object path that freedesktop desktop entries derive from a well-known name.
    static QString objectPath(const QString& applicationId);

    // The actions that ActivateAction accepts, each with the type of its optional parameter
    // (QMetaType::UnknownType: it takes none). Any other call is answered with an error.
    using Actions = QMap<QString, QMetaType::Type>;
    explicit ApplicationService(const Actions& actions, QObject* parent = nullptr);

public slots:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameter, const QVariantMap& platformData);

signals:
    void activated();
    void actionActivated(const QString& name, const QVariant& parameter);

private:
    Actions m_actions;
};
