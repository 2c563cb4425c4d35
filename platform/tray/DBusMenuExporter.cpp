#include "platform/tray/DBusMenuExporter.h"

#include "dbusmenuadaptor.h"

#include <QActionGroup>
#include <QDBusMetaType>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>

DBusMenuExporter::DBusMenuExporter(QObject* parent) : QObject(parent)
{
    qDBusRegisterMetaType<DBusMenuLayoutItem>();
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<DBusMenuItems>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<DBusMenuEvents>();
    qDBusRegisterMetaType<QList<int>>();
    // The adaptor's slots name the lists by these names, which QtDBus looks up.
    qRegisterMetaType<DBusMenuItems>("DBusMenuItems");
    qRegisterMetaType<DBusMenuEvents>("DBusMenuEvents");
    new DbusmenuAdaptor(this); // owned by the exporter
    // One update for a burst of changes, as when a menu is built.
    m_layoutUpdate.setSingleShot(true);
    m_layoutUpdate.setInterval(0);
    connect(&m_layoutUpdate, &QTimer::timeout, this, [this] { emit LayoutUpdated(m_revision, 0); });
}

DBusMenuExporter::~DBusMenuExporter() = default;

void DBusMenuExporter::setMenu(QMenu* menu)
{
    m_menu = menu;
    watch(menu);
    changed();
}

QString DBusMenuExporter::textDirection() const
{
    return QGuiApplication::isRightToLeft() ? QStringLiteral("rtl") : QStringLiteral("ltr");
}

QString DBusMenuExporter::labelOf(const QString& text)
{
    QString label;
    label.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('_'))
            label += QLatin1String("__");
        else if (c == QLatin1Char('&') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&'))
            label += text.at(++i); // "&&" is a literal "&"
        else if (c == QLatin1Char('&') && i + 1 < text.size())
            label += QLatin1Char('_');
        else
            label += c;
    }
    return label;
}

int DBusMenuExporter::idOf(QAction* action)
{
    auto found = m_ids.constFind(action);
    if (found != m_ids.constEnd())
        return *found;
    const int id = m_nextId++;
    m_ids.insert(action, id);
    m_actions.insert(id, action);
    if (QMenu* submenu = action->menu())
        watch(submenu);
    connect(action, &QObject::destroyed, this, [this, action, id] {
        m_ids.remove(action);
        m_actions.remove(id);
        changed();
    });
    return id;
}

QAction* DBusMenuExporter::actionOf(int id) const
{
    return m_actions.value(id);
}

QMenu* DBusMenuExporter::submenuOf(int id) const
{
    if (id == 0)
        return m_menu;
    QAction* action = actionOf(id);
    return action ? action->menu() : nullptr;
}

QVariantMap DBusMenuExporter::propertiesOf(int id, const QStringList& names) const
{
    QVariantMap properties;
    if (id == 0) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (const QAction* action = actionOf(id)) {
        // Only what differs from dbusmenu's defaults (a visible, enabled, standard entry).
        if (action->isSeparator()) {
            properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            properties.insert(QStringLiteral("label"), labelOf(action->text()));
            if (action->isCheckable()) {
                const bool radio = action->actionGroup() && action->actionGroup()->isExclusive();
                properties.insert(QStringLiteral("toggle-type"),
                                  radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
                properties.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
            }
            if (action->menu())
                properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        }
        if (!action->isEnabled())
            properties.insert(QStringLiteral("enabled"), false);
        if (!action->isVisible())
            properties.insert(QStringLiteral("visible"), false);
    }
    if (!names.isEmpty()) {
        for (auto it = properties.begin(); it != properties.end();)
            it = names.contains(it.key()) ? std::next(it) : properties.erase(it);
    }
    return properties;
}

DBusMenuLayoutItem DBusMenuExporter::layoutOf(int id, int depth, const QStringList& names)
{
    DBusMenuLayoutItem item{id, propertiesOf(id, names), {}};
    if (depth == 0)
        return item;
    if (QMenu* submenu = submenuOf(id)) {
        for (QAction* action : submenu->actions())
            item.children.append(layoutOf(idOf(action), depth < 0 ? depth : depth - 1, names));
    }
    return item;
}

void DBusMenuExporter::refuseUnknown(int id)
{
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no menu entry %1").arg(id));
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout)
{
    if (!knows(parentId)) {
        refuseUnknown(parentId);
        return m_revision;
    }
    layout = layoutOf(parentId, recursionDepth, propertyNames);
    return m_revision;
}

DBusMenuItems DBusMenuExporter::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    DBusMenuItems items;
    for (int id : ids) {
        if (knows(id))
            items.append({id, propertiesOf(id, propertyNames)});
    }
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name)
{
    if (!knows(id))
        refuseUnknown(id);
    return QDBusVariant(propertiesOf(id, {name}).value(name));
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    QAction* action = actionOf(id);
    if (!action) {
        refuseUnknown(id);
        return;
    }
    // After the reply: an action may end the program (Exit), and the host waits for it.
    if (eventId == QLatin1String("clicked") && action->isEnabled() && !action->menu()) {
        emit entryClicked();
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEvents& events)
{
    QList<int> unknown;
    for (const DBusMenuEvent& event : events) {
        if (actionOf(event.id))
            Event(event.id, event.eventId, event.data, event.timestamp);
        else
            unknown.append(event.id);
    }
    return unknown;
}

bool DBusMenuExporter::AboutToShow(int id)
{
    QMenu* submenu = submenuOf(id);
    if (!submenu)
        return false;
    // The menu's own preparations (a check mark brought up to date) run as before showing it.
    const uint before = m_revision;
    emit submenu->aboutToShow();
    return m_revision != before;
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    QList<int> updatesNeeded;
    for (int id : ids) {
        if (!knows(id))
            idErrors.append(id);
        else if (AboutToShow(id))
            updatesNeeded.append(id);
    }
    return updatesNeeded;
}

void DBusMenuExporter::watch(QMenu* menu)
{
    if (menu)
        menu->installEventFilter(this);
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionChanged:
    case QEvent::ActionRemoved:
        changed();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void DBusMenuExporter::changed()
{
    ++m_revision;
    m_layoutUpdate.start();
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    item.children.clear();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children.append(qdbus_cast<DBusMenuLayoutItem>(child.variant()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event)
{
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event)
{
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}
