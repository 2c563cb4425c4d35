#include "views/BackButton.h"

#include "views/SystemGray.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int kIconSide = 14;

QPixmap drawnChevron(const QColor& color, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(kIconSide, kIconSide) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, 2);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    QPainterPath chevron;
    chevron.moveTo(9, 2.5);
    chevron.lineTo(4.5, 7);
    chevron.lineTo(9, 11.5);
    painter.drawPath(chevron);
    return pixmap;
}

// Theme icons come in the theme's own colour, which may vanish on a dark background; only
// their shape is kept.
QPixmap tinted(const QPixmap& shape, const QColor& color)
{
    QPixmap result = shape;
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRect(QPoint(0, 0), result.size()), color);
    return result;
}
} // namespace

BackButton::BackButton(QWidget* parent) : QToolButton(parent)
{
    setText(tr("Back"));
    setAccessibleName(text());
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setAutoRaise(true);
    setIconSize(QSize(kIconSide, kIconSide));
    setCursor(Qt::PointingHandCursor);
    QPalette grey = palette();
    grey.setColor(QPalette::ButtonText, kSystemGray);
    grey.setColor(QPalette::WindowText, kSystemGray);
    setPalette(grey);
    setIcon(chevronIcon(kSystemGray));
}

QIcon BackButton::chevronIcon(const QColor& color)
{
    const QIcon theme = QIcon::fromTheme(QStringLiteral("go-previous"));
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        const QPixmap shape = theme.isNull() ? QPixmap() : theme.pixmap(QSize(kIconSide, kIconSide), ratio);
        if (!shape.isNull()) {
            icon.addPixmap(tinted(shape, color));
        } else {
            icon.addPixmap(drawnChevron(color, ratio));
        }
    }
    return icon;
}
