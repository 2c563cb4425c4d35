#include "platform/session/FileChooserPortal.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.FileChooser");
// A portal started on demand may take a while to answer its first call.
constexpr int kAnswerTimeoutMs = 25000;
// The version of the interface that takes current_folder.
constexpr uint kCurrentFolderVersion = 4;

// A filter of OpenFile, (sa(us)): its name and its patterns, each a glob (0) or a MIME type (1).
struct FilterPattern
{
    uint kind;
    QString pattern;
};
struct Filter
{
    QString name;
    QList<FilterPattern> patterns;
};

} // namespace

Q_DECLARE_METATYPE(FilterPattern)
Q_DECLARE_METATYPE(Filter)

static QDBusArgument& operator<<(QDBusArgument& out, const FilterPattern& pattern)
{
    out.beginStructure();
    out << pattern.kind << pattern.pattern;
    out.endStructure();
    return out;
}
static const QDBusArgument& operator>>(const QDBusArgument& in, FilterPattern& pattern)
{
    in.beginStructure();
    in >> pattern.kind >> pattern.pattern;
    in.endStructure();
    return in;
}
static QDBusArgument& operator<<(QDBusArgument& out, const Filter& filter)
{
    out.beginStructure();
    out << filter.name << filter.patterns;
    out.endStructure();
    return out;
}
static const QDBusArgument& operator>>(const QDBusArgument& in, Filter& filter)
{
    in.beginStructure();
    in >> filter.name >> filter.patterns;
    in.endStructure();
    return in;
}

namespace FileChooserPortal {
namespace {

// Waits for the answer of one request: the Response signal of its request object, or the
// portal leaving the bus.
class Request : public QObject
{
    Q_OBJECT

public:
    QEventLoop loop;
    Choice choice; // Unavailable until an answer comes
    bool answered = false;

public slots:
    void response(uint code, const QVariantMap& results)
    {
        // 0: chosen, 1: cancelled by the user, 2: the dialog could not be shown.
        const QStringList uris = results.value(QStringLiteral("uris")).toStringList();
        const QUrl chosen = uris.isEmpty() ? QUrl() : QUrl(uris.constFirst());
        if (code == 0 && chosen.isLocalFile())
            choice = {Choice::Result::Chosen, chosen.toLocalFile()};
        else
            choice.result = code == 2 ? Choice::Result::Unavailable : Choice::Result::Cancelled;
        answered = true;
        loop.quit();
    }
};

// Calls and waits for the answer in `loop`, without blocking the thread's other work.
QDBusMessage callAndWait(QDBusConnection& bus, const QDBusMessage& call)
{
    QEventLoop loop;
    QDBusPendingCallWatcher watcher(bus.asyncCall(call, kAnswerTimeoutMs));
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!watcher.isFinished())
        loop.exec();
    return watcher.reply();
}

} // namespace

Choice openFile(QDBusConnection bus, const QString& title, const QString& filterName, const QStringList& mimeTypes,
                const QString& folder)
{
    if (!bus.isConnected())
        return {};
    QDBusMessage versionCall = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    versionCall << kInterface << QStringLiteral("version");
    const QDBusMessage version = callAndWait(bus, versionCall);
    if (version.type() != QDBusMessage::ReplyMessage || version.arguments().isEmpty())
        return {};

    qDBusRegisterMetaType<FilterPattern>();
    qDBusRegisterMetaType<QList<FilterPattern>>();
    qDBusRegisterMetaType<Filter>();
    qDBusRegisterMetaType<QList<Filter>>();
    Filter photos{filterName, {}};
    for (const QString& type : mimeTypes)
        photos.patterns.append({1, type});

    // Subscribed before asking, at the request's path that the portal's rules give: an
    // answer may come before the call's reply.
    const QString token = QStringLiteral("perch%1").arg(QRandomGenerator::global()->generate());
    const QString sender = bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    QString requestPath = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    Request request;
    const auto subscribe = [&](const QString& path, bool on) {
        const QString interface = QStringLiteral("org.freedesktop.portal.Request");
        const QString signal = QStringLiteral("Response");
        const char* slot = SLOT(response(uint, QVariantMap));
        return on ? bus.connect(kService, path, interface, signal, &request, slot)
                  : bus.disconnect(kService, path, interface, signal, &request, slot);
    };
    subscribe(requestPath, true);
    QDBusServiceWatcher gone(kService, bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&gone, &QDBusServiceWatcher::serviceUnregistered, &request, [&request] {
        request.answered = true; // with the portal gone, no answer comes
        request.loop.quit();
    });

    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("modal"), true},
                        {QStringLiteral("filters"), QVariant::fromValue(QList<Filter>{photos})},
                        {QStringLiteral("current_filter"), QVariant::fromValue(photos)}};
    const uint interfaceVersion = version.arguments().constFirst().value<QDBusVariant>().variant().toUInt();
    if (interfaceVersion >= kCurrentFolderVersion && QDir(folder).exists())
        options.insert(QStringLiteral("current_folder"), QFile::encodeName(folder) + '\0');
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("OpenFile"));
    call << QString() << title << options;
    const QDBusMessage reply = callAndWait(bus, call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        subscribe(requestPath, false);
        return {};
    }
    // Portals before version 0.9 choose the request's path themselves.
    const QString handle = reply.arguments().constFirst().value<QDBusObjectPath>().path();
    if (handle != requestPath && !handle.isEmpty()) {
        subscribe(requestPath, false);
        subscribe(requestPath = handle, true);
    }
    if (!request.answered)
        request.loop.exec();
    subscribe(requestPath, false);
    return request.choice;
}

} // namespace FileChooserPortal

#include "FileChooserPortal.moc"
