#pragma once

#include <QString>

// A program's entry in the user's XDG autostart folder, which desktop sessions read at
// login. The file is the only record of the choice: whether the program starts at login
// is read from it each time it is asked, so a file that the user removed or switched off
// by hand is honoured.
class AutostartEntry
{
public:
    // What the session shows and runs.
    struct Launcher
    {
        QString name;
        QString comment;
        QString icon;
        // An executable name looked up on PATH, or an absolute path; started without arguments.
        QString program;
    };

    // `desktopId` names the file, "<desktopId>.desktop" (the executable's name, as since the first
    // release: entries that users already have keep working).
    explicit AutostartEntry(const QString& desktopId);

    QString filePath() const { return m_filePath; }

    // Whether the session would start the program: the file is there and has not been
    // switched off by hand with Hidden=true or X-GNOME-Autostart-enabled=false.
    bool isEnabled() const;

    // Writes a fresh entry, replacing one edited by hand. On failure `error` says why.
    bool enable(const Launcher& launcher, QString* error) const;
    // Removes the entry; an absent one is not an error.
    bool disable(QString* error) const;

    // The Exec value that runs `program`, quoted and escaped as desktop entries require.
    static QString execValue(const QString& program);

private:
    QString m_filePath;
};
