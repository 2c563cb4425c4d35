#include "platform/session/DesktopAppearance.h"

#include "platform/desktop/DesktopSession.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace {

bool isDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

} // namespace

DesktopAppearance::DesktopAppearance(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_portal(bus), m_qtPalette(QApplication::palette()),
      m_qtPaletteIsDark(isDarkPalette(m_qtPalette)), m_dark(m_qtPaletteIsDark)
{
    connect(&m_portal, &ColorSchemePortal::schemeChanged, this, &DesktopAppearance::follow);
}

void DesktopAppearance::start()
{
    follow();
    m_portal.read();
}

void DesktopAppearance::follow()
{
    const bool dark = m_qtPaletteIsDark || wantsDark(m_portal.scheme(), qEnvironmentVariable("GTK_THEME"));
    const QString style = desktopStyle(DesktopSession::desktopNamesFromEnvironment(),
                                       qEnvironmentVariable("QT_STYLE_OVERRIDE"), QStyleFactory::keys(), dark);
    if (!style.isEmpty()) {
        if (m_styled && dark == m_dark)
            return;
        m_styled = true;
        m_dark = dark;
        // The style's own colours: Adwaita's light and dark variants each come with theirs.
        QApplication::setStyle(style);
        QApplication::setPalette(QApplication::style()->standardPalette());
        return;
    }
    if (m_qtPaletteIsDark || dark == m_dark)
        return;
    m_dark = dark;
    // Every widget that has not set a colour of its own repaints in the new one.
    QApplication::setPalette(dark ? darkPalette() : m_qtPalette);
}

bool DesktopAppearance::prefersDark(const QString& gtkTheme)
{
    const QString theme = gtkTheme.trimmed().toLower();
    return theme.endsWith(QLatin1String(":dark")) || theme.endsWith(QLatin1String("-dark"));
}

bool DesktopAppearance::wantsDark(ColorSchemePortal::Scheme portal, const QString& gtkTheme)
{
    switch (portal) {
    case ColorSchemePortal::Scheme::PreferDark:
        return true;
    case ColorSchemePortal::Scheme::PreferLight:
        return false;
    case ColorSchemePortal::Scheme::NoPreference:
        break;
    }
    return prefersDark(gtkTheme);
}

QString DesktopAppearance::desktopStyle(const QStringList& desktopNames, const QString& styleOverride,
                                        const QStringList& installed, bool dark)
{
    const QString adwaita = dark ? QStringLiteral("Adwaita-Dark") : QStringLiteral("Adwaita");
    const bool gnome = desktopNames.contains(QLatin1String("GNOME"), Qt::CaseInsensitive);
    if (!gnome || !styleOverride.isEmpty() || !installed.contains(adwaita, Qt::CaseInsensitive))
        return {};
    return adwaita;
}

QPalette DesktopAppearance::darkPalette()
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
