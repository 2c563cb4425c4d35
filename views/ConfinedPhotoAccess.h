#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class OutsideFileChooser;

// How photos from elsewhere reach a program that has confined itself: a chosen photo through
// the chooser outside the confinement, as a descriptor; a dropped one only from the folders
// that the program reads by itself. A drop cannot be told from a path that another program
// hands over, so it grants nothing.
class ConfinedPhotoAccess
{
public:
    // Without a chooser (it could not be started), photos are chosen in the program's own
    // dialog, which reaches no more than the program does.
    ConfinedPhotoAccess(std::unique_ptr<OutsideFileChooser> chooser, const QStringList& readableFolders);
    ~ConfinedPhotoAccess();

    OutsideFileChooser* chooser() const { return m_chooser.get(); }
    // Whether `path`, links followed, lies in one of the folders that the program reads.
    bool readsByItself(const QString& path) const;

private:
    std::unique_ptr<OutsideFileChooser> m_chooser;
    QStringList m_readableFolders; // canonical
};
