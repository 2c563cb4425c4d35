#include "platform/session/DesktopAppearance.h"

#include <QApplication>

namespace DesktopAppearance {

bool prefersDark(const QString& gtkTheme)
{
    const QString theme = gtkTheme.trimmed().toLower();
    return theme.endsWith(QLatin1String(":dark")) || theme.endsWith(QLatin1String("-dark"));
}

QPalette darkPalette()
{
    const QColor window(50, 50, 52);
    const QColor base(30, 30, 32);
    const QColor text(232, 232, 232);
    const QColor dimText(128, 128, 130);
    QPalette palette(window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(64, 64, 66));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, QColor(90, 90, 92));
    palette.setColor(QPalette::Midlight, QColor(74, 74, 76));
    palette.setColor(QPalette::Mid, QColor(100, 100, 102));
    palette.setColor(QPalette::Dark, QColor(24, 24, 26));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(90, 160, 240));
    palette.setColor(QPalette::PlaceholderText, dimText);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, dimText);
    palette.setColor(QPalette::Disabled, QPalette::Base, window);
    return palette;
}

void apply()
{
    if (!prefersDark(qEnvironmentVariable("GTK_THEME")))
        return;
    // A theme plugin that already follows the desktop has given a dark palette: keep it.
    if (QApplication::palette().color(QPalette::Window).lightness() < 128)
        return;
    QApplication::setPalette(darkPalette());
}

} // namespace DesktopAppearance
