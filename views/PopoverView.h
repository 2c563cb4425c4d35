#pragma once

#include "views/PopoverViewDelegate.h"

#include <QImage>
#include <QList>
#include <QUrl>
#include <QWidget>

class ElidedLabel;
class PhotoWell;
class QPushButton;
class QThreadPool;

// The content of the photo popover: the title, the photo well and the controls Change
// Photo, Settings and Exit; and the photo intake, by file dialog or by a drop on the well.
class PopoverView : public QWidget
{
    Q_OBJECT

public:
    // `appDelegate` outlives every view; the view does not own it. Without one, photos are
    // decoded on Qt's global pool and go nowhere but the view.
    explicit PopoverView(PopoverViewDelegate* appDelegate, QWidget* parent = nullptr);
    ~PopoverView() override;

    QSize sizeHint() const override;

    // The title shown: the stored title, or "Your MenuBar Photo" while that is empty.
    static QString displayTitle(const QString& storedTitle);

    // The photo on display, at the well's pixel size.
    QImage image() const;
    PhotoWell* photoWell() const { return m_well; }

    // The centred square of `image`: the longer side is trimmed by equal amounts at both
    // ends. An odd difference leaves an offset of a half pixel, which is rounded down, so
    // the extra column (or row) is dropped from the right (or bottom) edge.
    static QImage cropToSquare(const QImage& image);

    // Runs the file dialog and loads the chosen photo.
    void selectNewPhoto();
    // Takes the first dropped URL if it names a local file, and loads it once control is
    // back in the event loop. Returns whether a load was started.
    bool handlePhotoDrop(const QList<QUrl>& urls);
    // Reads and crops the photo off the GUI thread, then shows it, updates the tray icon
    // and stores it. A file that is not a readable image changes nothing.
    void loadPhoto(const QUrl& url);

signals:
    // A load of loadPhoto has ended: `accepted` when its photo is now shown and on its way
    // to the store, false when the file was not a readable image or a later photo won.
    void photoIntakeFinished(bool accepted);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct PreparedPhoto;
    void loadInitialPhoto();
    void applyPhoto(quint64 ticket, const PreparedPhoto& prepared);
    void savePhoto(const QImage& square);
    QThreadPool* decodingPool() const;
    void refreshTitle();
    void applyPalette();

    PopoverViewDelegate* m_appDelegate;
    ElidedLabel* m_title;
    PhotoWell* m_well;
    QPushButton* m_changePhoto;
    QPushButton* m_settings;
    QPushButton* m_exit;
    // Every load takes a ticket; a result is applied only if no later load was applied,
    // so the last photo accepted decides what is shown whatever order decoding ends in.
    quint64 m_issuedTicket = 0;
    quint64 m_appliedTicket = 0;
    bool m_initialLoadStarted = false;
};
