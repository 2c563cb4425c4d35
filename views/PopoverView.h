#pragma once

#include "views/PopoverViewDelegate.h"

#include <QImage>
#include <QList>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>

class ElidedLabel;
class PhotoIntake;
class PhotoWell;
class QPushButton;

// The content of the photo popover: the title, the photo well and the controls Change
// Photo, Settings and Exit; and the photo intake, by file dialog or by a drop on the well.
class PopoverView : public QWidget
{
    Q_OBJECT

public:
    // `appDelegate` outlives every view; the view does not own it. Without one, the view
    // takes photos in through an intake of its own, and they go nowhere but the view.
    explicit PopoverView(PopoverViewDelegate* appDelegate, QWidget* parent = nullptr);
    ~PopoverView() override;

    QSize sizeHint() const override;

    // The title shown: the stored title, or "Your MenuBar Photo" while that is empty.
    static QString displayTitle(const QString& storedTitle);

    // The photo on display, at the well's pixel size.
    QImage image() const;
    PhotoWell* photoWell() const { return m_well; }

    // The centred square of `image` (ImageDecoder::centredSquare).
    static QImage cropToSquare(const QImage& image);

    // The file dialog's filters: all photos together first, then each type once.
    static QStringList photoNameFilters();

    // The file chooser's title, and the types of photo it offers.
    static QString chooserTitle();
    static QStringList photoMimeTypes();
    // Runs Qt's file dialog in this process; the chosen file.
    static std::optional<QUrl> askForPhoto();

    // Lets the user choose a photo and loads it: in the file dialog, or where the program has
    // confined itself, in the chooser outside the confinement.
    void selectNewPhoto();
    // Takes the first dropped URL if it names a local file that looks like a photo, and loads
    // it once control is back in the event loop. Returns whether a load was started: a
    // folder, a FIFO or a file of another kind is refused here, not accepted and then lost;
    // so is, with a line on standard error, a file outside the folders that a confined
    // program reads.
    bool handlePhotoDrop(const QList<QUrl>& urls);
    // Has the intake read and crop the photo off the GUI thread; it is then shown here,
    // becomes the tray icon and is stored. A file that is not a readable image changes nothing.
    void loadPhoto(const QUrl& url);

signals:
    // A load of the intake has ended: `accepted` when its photo is now shown and on its way
    // to the store, false when the file was not a readable image or a later photo won.
    void photoIntakeFinished(bool accepted);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    PhotoIntake& intake() const;
    int shownPixels() const;
    void loadInitialPhoto();
    void showConfirmed(const QImage& photo);
    void refreshTitle();
    void applyPalette();

    PopoverViewDelegate* m_appDelegate;
    ElidedLabel* m_title;
    PhotoWell* m_well;
    QPushButton* m_changePhoto;
    QPushButton* m_settings;
    QPushButton* m_exit;
    std::unique_ptr<PhotoIntake> m_ownIntake; // only without a delegate
    // The photo to show when no preview is: the stored photo first, then each accepted one.
    QImage m_confirmed;
    bool m_initialLoadStarted = false;
    bool m_photoAccepted = false; // since then the stored photo, read late, is older
};
