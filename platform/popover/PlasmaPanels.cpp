#include "platform/popover/PlasmaPanels.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace PlasmaPanels {

namespace {

// A click waits for this answer: long enough for a busy shell, short enough to go unnoticed.
constexpr int kAnswerTimeoutMs = 500;

// A panel's "height" is its thickness, whatever its edge.
const char kScript[] = "print(JSON.stringify(panels().map(function (p) { return { screen: "
                       "screenGeometry(p.screen), location: p.location, thickness: p.height }; })))";

} // namespace

QList<PanelPlacement::Panel> panels()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
                                       QStringLiteral("org.kde.PlasmaShell"), QStringLiteral("evaluateScript"));
    call << QString::fromLatin1(kScript);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kAnswerTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return parse(reply.arguments().constFirst().toString().toUtf8());
}

QList<PanelPlacement::Panel> parse(const QByteArray& json)
{
    static const QHash<QString, Qt::Edge> kEdges{{QStringLiteral("top"), Qt::TopEdge},
                                                 {QStringLiteral("bottom"), Qt::BottomEdge},
                                                 {QStringLiteral("left"), Qt::LeftEdge},
                                                 {QStringLiteral("right"), Qt::RightEdge}};
    QList<PanelPlacement::Panel> found;
    const QJsonArray array = QJsonDocument::fromJson(json).array();
    for (const QJsonValue& value : array) {
        const QJsonObject panel = value.toObject();
        const QJsonObject screen = panel.value(QLatin1String("screen")).toObject();
        const QRect geometry(screen.value(QLatin1String("x")).toInt(), screen.value(QLatin1String("y")).toInt(),
                             screen.value(QLatin1String("width")).toInt(),
                             screen.value(QLatin1String("height")).toInt());
        const auto edge = kEdges.constFind(panel.value(QLatin1String("location")).toString());
        const int thickness = panel.value(QLatin1String("thickness")).toInt();
        // A location other than an edge ("floating", "desktop") reserves none.
        if (edge != kEdges.cend() && geometry.isValid() && thickness > 0)
            found.append({geometry, *edge, thickness});
    }
    return found;
}

} // namespace PlasmaPanels
