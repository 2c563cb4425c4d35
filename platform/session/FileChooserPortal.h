#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>

// The XDG desktop portal's file chooser (org.freedesktop.portal.FileChooser), which shows
// the desktop's own dialog in a process of the desktop's. Waits for the user's answer in an
// event loop of its own, so the program's other work goes on meanwhile.
namespace FileChooserPortal {

struct Choice
{
    enum class Result
    {
        Chosen,
        Cancelled,
        // No portal with a file chooser answers on the bus.
        Unavailable,
    };
    Result result = Result::Unavailable;
    // The chosen file's path (a local file; the portal may hand out a path of its own).
    QString path;
};

// Asks for one existing file of the `mimeTypes`, offered together as `filterName`,
// starting in `folder` where the portal can be told.
Choice openFile(QDBusConnection bus, const QString& title, const QString& filterName, const QStringList& mimeTypes,
                const QString& folder);

} // namespace FileChooserPortal
