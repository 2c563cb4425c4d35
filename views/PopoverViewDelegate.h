#pragma once

#include <QImage>

class ConfinedPhotoAccess;
class PhotoIntake;

// What the photo popover asks of the program around it: where photos are taken in (the
// intake sends accepted photos on to the tray icon and the store), and the newest accepted
// photo while its write to the store is still under way. The delegate outlives every view
// that refers to it.
class PopoverViewDelegate
{
public:
    virtual PhotoIntake& photoIntake() = 0;
    // The newest accepted photo whose write has not ended; null when the store holds it.
    virtual QImage pendingPhoto() const = 0;
    // How photos from elsewhere reach the program where it has confined itself; null where
    // it reads every file of the user.
    virtual const ConfinedPhotoAccess* confinedPhotoAccess() const { return nullptr; }

protected:
    ~PopoverViewDelegate() = default;
};
