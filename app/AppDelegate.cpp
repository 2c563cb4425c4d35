#include "app/AppDelegate.h"

#include "app/StartAtLogin.h"
#include "app/StatusIconRenderer.h"
#include "app/TrayActions.h"
#include "platform/base/Console.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/ProcessMemory.h"
#include "platform/image/ImageDecoder.h"
#include "preferences/PreferenceKeys.h"
#include "reminders/PreviewNotification.h"
#include "reminders/ReminderScheduling.h"
#include "views/NavigationNotifications.h"
#include "views/PopoverView.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QtConcurrent>

#include <utility>

namespace {
const QSize kLaunchPopoverSize(250, 300);
const QSize kNavigatedPopoverSize(250, 350);
} // namespace

AppDelegate::AppDelegate(Edition edition, StatusBar& statusBar, QObject* parent)
    : QObject(parent), m_edition(edition), m_statusBar(statusBar), m_popover(std::make_unique<AnchoredPopover>()),
      m_settingsPopover(std::make_unique<AnchoredPopover>())
{
    m_popover->setObjectName(QStringLiteral("popover"));
    m_popover->setWindowTitle(Editions::displayName(edition));
    m_settingsPopover->setObjectName(QStringLiteral("settingsPopover"));
    m_settingsPopover->setWindowTitle(Editions::displayName(edition));

    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(this, NavigationNotifications::OpenSettings, [this](const auto&) { openSettings(); });
    if (Editions::hasBackNavigation(edition))
        center.addObserver(this, NavigationNotifications::openPopoverView, [this](const auto&) { openPopoverView(); });
    takeInPhotos();
}

AppDelegate::~AppDelegate()
{
    finishPendingWork();
}

void AppDelegate::finishPendingWork()
{
    m_photoIntake.finish();
    m_savedPhotoWriter.waitForDone();
}

// The intake's results reach the icon and the store here, whatever became of the view that
// started the load.
void AppDelegate::takeInPhotos()
{
    connect(&m_photoIntake, &PhotoIntake::previewShown, this, &AppDelegate::updateStatusIcon);
    connect(&m_savedPhotoWriter, &SavedPhotoWriter::replacedElsewhere, this, &AppDelegate::loadStatusIcon);
    connect(&m_photoIntake, &PhotoIntake::previewWithdrawn, this, [this] {
        if (m_statusItem)
            m_statusItem->setImage(m_confirmedIcon);
    });
    connect(&m_photoIntake, &PhotoIntake::photoAccepted, this,
            [this](const QImage& shown, const QImage& square, const QFuture<QByteArray>& png) {
                ++m_photosAccepted;
                setConfirmedIcon(statusIconFor(shown)); // a later photo's preview stays on show
                savePhoto(square, png);
            });
}

void AppDelegate::applicationDidFinishLaunching()
{
    // The photo decodes while the tray item and its menu are made.
    loadStatusIcon();
    m_statusItem = m_statusBar.makeStatusItem();
    connect(m_statusItem.get(), &StatusItem::buttonClicked, this, &AppDelegate::togglePopover);
    buildContextMenu();
    refreshToolTip();
    connect(&UserDefaults::standard(), &UserDefaults::valueChanged, this, [this](const QString& key) {
        if (key == PreferenceKeys::popoverTitle.key)
            refreshToolTip();
    });

    m_popover->setContentSize(kLaunchPopoverSize);
    m_popover->setBehavior(AnchoredPopover::Behavior::Transient);
    // Without a tray the icon is still put in place (Qt shows it as soon as a tray appears),
    // and until then the photo popover is a window of its own, or the program could not be
    // seen at all.
    if (!m_statusItem->hasButton()) {
        Console::printError(QStringLiteral("no system tray is running; the photo opens in a window until one starts"));
        showAtButton(*m_popover);
    }
    // Queued behind the icon's own delivery, so that the GUI thread is free when the icon comes.
    connect(this, &AppDelegate::statusIconLoaded, this, &AppDelegate::finishLaunching,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
}

void AppDelegate::finishLaunching()
{
    Reminders::requestNotificationAuthorization();
    // A reminder missing from the pending requests comes at its usual time: it is added long
    // before that time, just not ahead of the icon.
    Reminders::scheduleDailyReminderIfMissing();
    // Adding it may have decoded and written the photo.
    ProcessMemory::releaseFreedMemory();
}

void AppDelegate::togglePopover()
{
    if (!m_statusItem || !m_statusItem->hasButton())
        return;
    if (m_settingsPopover->isShown())
        m_settingsPopover->performClose();
    // A window opened while there was no tray moves to the icon that has now come.
    if (m_popover->isShown() && m_popover->presentation() == AnchoredPopover::Presentation::Anchored)
        m_popover->performClose();
    else
        showAtButton(*m_popover);
}

void AppDelegate::openSettings()
{
    if (!m_statusItem)
        return;
    m_windowCentre = centreOfWindow(*m_popover);
    if (m_popover->isShown())
        m_popover->performClose();
    m_settingsPopover->setContentSize(Editions::settingsContentSize(m_edition));
    m_settingsPopover->setBehavior(AnchoredPopover::Behavior::Semitransient);
    auto settings = std::make_unique<SettingsView>(m_edition);
    // A notification carries the stored photo: while a newer one is on its way to the store,
    // it waits for it rather than go out with the previous photo.
    connect(settings.get(), &SettingsView::reminderSettingsChanged, this,
            [this] { m_savedPhotoWriter.whenStored(this, [] { Reminders::scheduleDailyReminder(); }); });
    connect(settings.get(), &SettingsView::previewRequested, this,
            [this] { m_savedPhotoWriter.whenStored(this, [] { Reminders::sendPreviewNotification(); }); });
    m_settingsPopover->setContent(std::move(settings));
    showAtButton(*m_settingsPopover);
}

void AppDelegate::openPopoverView()
{
    if (!Editions::hasBackNavigation(m_edition) || !m_statusItem)
        return;
    m_windowCentre = centreOfWindow(*m_settingsPopover);
    if (m_settingsPopover->isShown())
        m_settingsPopover->performClose();
    m_popover->setContentSize(kNavigatedPopoverSize);
    m_popover->setBehavior(AnchoredPopover::Behavior::Semitransient);
    m_popover->setContent(makePopoverView());
    showAtButton(*m_popover);
}

void AppDelegate::presentPopover()
{
    if (!m_statusItem)
        return;
    // Without a tray, the window that is open comes to the front.
    if (!m_statusItem->hasButton()) {
        showAtButton(m_settingsPopover->isShown() ? *m_settingsPopover : *m_popover);
        return;
    }
    if (m_popover->isShown())
        return;
    if (m_settingsPopover->isShown())
        m_settingsPopover->performClose();
    showAtButton(*m_popover);
}

std::unique_ptr<QWidget> AppDelegate::makePopoverView()
{
    return std::make_unique<PopoverView>(this);
}

void AppDelegate::showAtButton(AnchoredPopover& popover)
{
    // The photo's view is made when it first opens: its widgets, fonts and icons would
    // otherwise hold a few megabytes from the start on, for a popover that may never open.
    if (&popover == m_popover.get() && !popover.content())
        popover.setContent(makePopoverView());
    if (m_statusItem->hasButton())
        popover.showRelativeToRect(m_statusItem->buttonBounds());
    else
        popover.showAsWindow(std::exchange(m_windowCentre, std::nullopt));
}

std::optional<QPoint> AppDelegate::centreOfWindow(const AnchoredPopover& popover)
{
    // The window that takes another's place opens where the user left the other one.
    if (popover.isShown() && popover.presentation() == AnchoredPopover::Presentation::Window)
        return popover.frameGeometry().center();
    return std::nullopt;
}

void AppDelegate::refreshToolTip()
{
    if (m_statusItem)
        m_statusItem->setToolTip(Editions::displayName(m_edition) + QLatin1Char('\n') +
                                 PopoverView::displayTitle(Preferences::read(PreferenceKeys::popoverTitle)));
}

void AppDelegate::buildContextMenu()
{
    // Some tray hosts only ever show a menu, so the same three ways in are offered there.
    m_contextMenu = std::make_unique<QMenu>();
    m_contextMenu->addAction(tr("Open Photo"), this, &AppDelegate::presentPopover)
        ->setObjectName(TrayActions::OpenPhoto);
    m_contextMenu
        ->addAction(tr("Settings"), this,
                    [] { NotificationCenter::defaultCenter().post(NavigationNotifications::OpenSettings); })
        ->setObjectName(TrayActions::Settings);
    auto* startAtLogin = // owned by the menu
        new StartAtLogin(m_edition, QCoreApplication::applicationFilePath(), m_contextMenu.get());
    startAtLogin->action()->setObjectName(TrayActions::StartAtLogin);
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(tr("Exit"), qApp, &QCoreApplication::quit)->setObjectName(TrayActions::Exit);
    m_statusItem->setContextMenu(m_contextMenu.get());
}

QImage AppDelegate::reducedStoredPhoto()
{
    // All the icon is drawn from: a PNG or JPEG decodes straight down to it, in about half the
    // time of the whole photo and without ever holding it.
    QImage reduced;
    if (const auto data = UserDefaults::standard().dataForKey(PreferenceKeys::SavedImageData))
        reduced = ImageDecoder::decodeStretched(*data, StatusIconRenderer::kReducedSide);
    if (reduced.isNull())
        reduced = QImage(QStringLiteral(":/museIcon.png"));
    reduced = StatusIconRenderer::reduce(reduced);
    // The store's bytes and the decoder's buffers are freed by now, on this thread: their pages
    // go back to the system rather than stay in this thread's heap.
    ProcessMemory::releaseFreedMemory();
    return reduced;
}

void AppDelegate::loadStatusIcon()
{
    const quint64 load = ++m_iconLoads;
    QtConcurrent::run(&m_photoIntake.pool(), &AppDelegate::reducedStoredPhoto)
        .then(this, [this, load, accepted = m_photosAccepted](const QImage& reduced) {
            // A photo accepted since, or one still on its way to the store, is newer than what
            // was read; so is what a later read finds.
            const bool overtaken =
                load != m_iconLoads || accepted != m_photosAccepted || !m_savedPhotoWriter.pendingPhoto().isNull();
            if (!overtaken && !reduced.isNull())
                setConfirmedIcon(statusIconFor(reduced));
            emit statusIconLoaded();
        });
}

void AppDelegate::savePhoto(const QImage& square, const QFuture<QByteArray>& png)
{
    m_savedPhotoWriter.write(square, png);
}

QIcon AppDelegate::statusIconFor(const QImage& source) const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return StatusIconRenderer::render(source, screen ? screen->devicePixelRatio() : 1.0);
}

void AppDelegate::updateStatusIcon(const QImage& source)
{
    const QIcon icon = statusIconFor(source);
    if (!m_photoIntake.preview().isNull()) {
        if (m_statusItem)
            m_statusItem->setImage(icon); // a preview's icon is provisional
        return;
    }
    setConfirmedIcon(icon);
}

void AppDelegate::setConfirmedIcon(const QIcon& icon)
{
    m_confirmedIcon = icon;
    // A preview on show stays until its photo ends; then the confirmed icon takes its place.
    if (m_statusItem && m_photoIntake.preview().isNull())
        m_statusItem->setImage(icon);
}
