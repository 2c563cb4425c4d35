#pragma once

#include "platform/sandbox/LandlockConfinement.h"

#include <QList>
#include <QString>
#include <QStringList>

// What PortraitPerch may touch once it has confined itself: read the system (programs,
// libraries, Qt's plugins, fonts, icons, locales, /etc, /proc, /sys, the devices it uses) and
// the display's key, read only the user's Pictures and Downloads folders, read and write only
// its own folders (the defaults database, the reminder store and its attachments, the private
// temporary folder), and replace files only in the two shared folders where its features keep
// one (the Start at Login entry, the reminder timer's units). Nothing else of the home; no TCP.
// Perchlight is never confined.
class Confinement
{
public:
    // Reads where the folders are; nothing is created or restricted yet.
    Confinement();

    // The folders from which the program takes photos by itself (a drop); other photos come
    // through the chooser outside the confinement. A folder that is the home or holds it (as
    // user-dirs.dirs sets it where the user has no such folder) is not one of them.
    QStringList photoFolders() const { return m_photoFolders; }
    QList<LandlockConfinement::Rule> rules() const;

    // Creates the folders that the rules name (a rule needs the folder to exist) and confines
    // the process; before Qt's application object, while the process runs one thread. Where it
    // cannot, the program runs on and `program` says once on standard error why.
    bool apply(const QString& program);

    // What --help and --version say: the confinement that the running kernel gives.
    static QString kernelSupport();

private:
    QStringList m_photoFolders;
    QString m_xauthority;
};
