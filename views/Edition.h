#pragma once

#include <QSize>
#include <QString>

// The two programs built from these sources. The edition is fixed in each main().
enum class Edition
{
    Perchlight,
    // The earlier revision: no way back from the settings to the photo popover, and a
    // smaller settings popover.
    PortraitPerch,
};

namespace Editions {

inline QString displayName(Edition edition)
{
    return edition == Edition::Perchlight ? QStringLiteral("Perchlight") : QStringLiteral("PortraitPerch");
}

inline QString executableName(Edition edition)
{
    return edition == Edition::Perchlight ? QStringLiteral("perchlight") : QStringLiteral("portraitperch");
}

// The name on the session bus, which also names the menu entry and the AppStream component.
inline QString applicationId(Edition edition)
{
    return edition == Edition::Perchlight ? QStringLiteral("io.github.perchlight.Perchlight")
                                          : QStringLiteral("io.github.perchlight.PortraitPerch");
}

// Whether the settings lead back to the photo popover ("openPopoverView").
inline bool hasBackNavigation(Edition edition)
{
    return edition == Edition::Perchlight;
}

inline QSize settingsContentSize(Edition edition)
{
    return edition == Edition::Perchlight ? QSize(300, 360) : QSize(300, 180);
}

} // namespace Editions
