#pragma once

#include <QImage>

class QThreadPool;

// What the photo popover asks of the program around it: somewhere to decode photos, and
// somewhere to send an accepted one (the tray icon and the store). The delegate outlives
// every view that refers to it.
class PopoverViewDelegate
{
public:
    // Decodes photos off the GUI thread.
    virtual QThreadPool& photoDecodingPool() = 0;
    virtual void updateStatusIcon(const QImage& source) = 0;
    // Stores the accepted square as the saved photo; returns at once.
    virtual void savePhoto(const QImage& square) = 0;

protected:
    ~PopoverViewDelegate() = default;
};
