#pragma once

#include "platform/popover/AnchoredPopover.h"
#include "platform/tray/StatusItem.h"
#include "preferences/SavedPhotoWriter.h"
#include "views/Edition.h"
#include "views/PhotoIntake.h"
#include "views/PopoverViewDelegate.h"

#include <QIcon>
#include <QImage>
#include <QObject>

#include <memory>
#include <optional>

class QMenu;

// Owns the tray icon and the two popovers that hang from it, the photo popover and the
// settings popover, and switches between them when a view posts "OpenSettings" or
// "openPopoverView". Lives from start-up to the end of the process.
class AppDelegate : public QObject, public PopoverViewDelegate
{
    Q_OBJECT

public:
    explicit AppDelegate(Edition edition, StatusBar& statusBar = StatusBar::systemStatusBar(),
                         QObject* parent = nullptr);
    // Lets a photo still decoding or being stored land first.
    ~AppDelegate() override;

    // Delivers the photos still being decoded and waits until every photo handed over has
    // been stored: how the program ends, however it is ended.
    void finishPendingWork();

    Edition edition() const { return m_edition; }
    StatusItem* statusItem() const { return m_statusItem.get(); }
    // The tray icon's menu, once launching has finished; its entries are named after TrayActions.
    QMenu* contextMenu() const { return m_contextMenu.get(); }
    AnchoredPopover& popover() const { return *m_popover; }
    AnchoredPopover& settingsPopover() const { return *m_settingsPopover; }

    // Runs once, when the event loop is ready: the tray icon and the photo popover; once the
    // icon is set, the notification permission and the daily reminder if it is missing.
    void applicationDidFinishLaunching();

    // The tray icon's action.
    void togglePopover();
    // Observes "OpenSettings".
    void openSettings();
    // Observes "openPopoverView" (Perchlight only; PortraitPerch never leaves the settings
    // this way).
    void openPopoverView();
    // Opens the photo popover if it is not open yet: asked for by a second start or the
    // desktop's launcher. Without a tray, brings the open window to the front.
    void presentPopover();

    // The tray icon from the saved photo, else from the built-in picture. The photo is read
    // and decoded off the GUI thread, and only what the icon is drawn from is kept; the icon
    // is set when that ends (statusIconLoaded), unless a photo of this program's or a later
    // read of the store came first.
    void loadStatusIcon();
    void updateStatusIcon(const QImage& source);

    // Hands the photo to the writer, which stores accepted photos in order and finishes its
    // queued writes before the delegate goes.
    void savePhoto(const QImage& square, const QFuture<QByteArray>& png = {});
    SavedPhotoWriter& savedPhotoWriter() { return m_savedPhotoWriter; }
    // Its decoding pool is kept apart from Qt's global pool, which Qt's own image conversions
    // on the GUI thread wait for.
    PhotoIntake& photoIntake() override { return m_photoIntake; }
    QImage pendingPhoto() const override { return m_savedPhotoWriter.pendingPhoto(); }
    // Set where the program has confined itself; `access` outlives the delegate's views.
    void setConfinedPhotoAccess(const ConfinedPhotoAccess* access) { m_confinedPhotoAccess = access; }
    const ConfinedPhotoAccess* confinedPhotoAccess() const override { return m_confinedPhotoAccess; }

signals:
    // A load of the stored photo's icon has ended, its icon set or overtaken.
    void statusIconLoaded();

private:
    // What the launch does once the icon is in place: the icon does not wait for it.
    void finishLaunching();
    std::unique_ptr<QWidget> makePopoverView();
    // Beside the tray icon, or as a window while there is no tray.
    void showAtButton(AnchoredPopover& popover);
    static std::optional<QPoint> centreOfWindow(const AnchoredPopover& popover);
    void buildContextMenu();
    void takeInPhotos();
    QIcon statusIconFor(const QImage& source) const;
    // An icon that is no preview: on show unless a preview is.
    void setConfirmedIcon(const QIcon& icon);
    static QImage reducedStoredPhoto();
    // The tray icon's tooltip: the program's name and the popover's title.
    void refreshToolTip();

    const Edition m_edition;
    StatusBar& m_statusBar;
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<AnchoredPopover> m_popover;
    std::unique_ptr<AnchoredPopover> m_settingsPopover;
    std::unique_ptr<QMenu> m_contextMenu;
    std::optional<QPoint> m_windowCentre;
    SavedPhotoWriter m_savedPhotoWriter;
    PhotoIntake m_photoIntake;
    const ConfinedPhotoAccess* m_confinedPhotoAccess = nullptr;
    // The icon of the last photo accepted (or of the launch), which a withdrawn preview's
    // icon gives way to.
    QIcon m_confirmedIcon;
    // Reads of the stored photo for the icon, and photos accepted: a read's icon is set only
    // while it is the latest and no photo was accepted since it began.
    quint64 m_iconLoads = 0;
    quint64 m_photosAccepted = 0;
};
