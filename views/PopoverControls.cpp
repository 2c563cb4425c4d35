#include "views/PopoverControls.h"

#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include <cmath>

namespace PopoverControls {

QString themeName(Symbol symbol)
{
    switch (symbol) {
    case Symbol::ChangePhoto:
        return QStringLiteral("image-x-generic");
    case Symbol::Settings:
        return QStringLiteral("preferences-system");
    case Symbol::Exit:
        return QStringLiteral("application-exit");
    }
    return {};
}

QString fallbackPath(Symbol symbol)
{
    switch (symbol) {
    case Symbol::ChangePhoto:
        return QStringLiteral(":/icons/photo.svg");
    case Symbol::Settings:
        return QStringLiteral(":/icons/gear.svg");
    case Symbol::Exit:
        return QStringLiteral(":/icons/exit.svg");
    }
    return {};
}

QIcon tintedIcon(Symbol symbol, const QColor& colour, int pixels)
{
    // Only a symbolic icon keeps its shape when drawn in one colour; a full-colour theme
    // icon would become a blot, so the bundled glyph is taken instead.
    const QIcon source = QIcon::fromTheme(themeName(symbol) + QStringLiteral("-symbolic"), QIcon(fallbackPath(symbol)));
    QPixmap glyph = source.pixmap(QSize(pixels, pixels));
    if (glyph.isNull())
        return source;
    QPainter painter(&glyph);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(glyph.rect(), colour);
    painter.end();
    return QIcon(glyph);
}

void setIcon(QPushButton* button, Symbol symbol, const QColor& colour)
{
    const int logical = button->style()->pixelMetric(QStyle::PM_ButtonIconSize, nullptr, button);
    const int pixels = int(std::ceil(logical * button->devicePixelRatioF()));
    QIcon icon = tintedIcon(symbol, colour, pixels);
    button->setIcon(icon);
    button->setIconSize(QSize(logical, logical));
}

QColor destructiveColour(const QPalette& palette)
{
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    return dark ? QColor(255, 69, 58) : QColor(255, 59, 48);
}

void setLabelColour(QPushButton* button, const QColor& colour)
{
    QPalette palette = button->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::ButtonText, colour);
    button->setPalette(palette);
}

} // namespace PopoverControls
