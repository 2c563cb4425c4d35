#include "app/AppDelegate.h"

#include "app/StartAtLogin.h"
#include "app/StatusIconRenderer.h"
#include "app/TrayActions.h"
#include "platform/base/Console.h"
#include "platform/base/NotificationCenter.h"
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
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    m_statusItem = m_statusBar.makeStatusItem();
    // Without a tray the icon is still put in place: Qt shows it as soon as a tray appears.
    if (!m_statusItem->hasButton())
        Console::printError(QStringLiteral("no system tray is running; the icon will appear when one starts"));
    connect(m_statusItem.get(), &StatusItem::buttonClicked, this, &AppDelegate::togglePopover);
    buildContextMenu();
    loadStatusIcon();

    m_popover->setContentSize(kLaunchPopoverSize);
    m_popover->setBehavior(AnchoredPopover::Behavior::Transient);
    m_popover->setContent(makePopoverView());
    Reminders::requestNotificationAuthorization();
}

void AppDelegate::togglePopover()
{
    if (!m_statusItem || !m_statusItem->hasButton())
        return;
    if (m_settingsPopover->isShown())
        m_settingsPopover->performClose();
    if (!m_popover->isShown())
        showAtButton(*m_popover);
    else
        m_popover->performClose();
}

void AppDelegate::openSettings()
{
    if (!m_statusItem || !m_statusItem->hasButton())
        return;
    if (m_popover->isShown())
        m_popover->performClose();
    m_settingsPopover->setContentSize(Editions::settingsContentSize(m_edition));
    m_settingsPopover->setBehavior(AnchoredPopover::Behavior::Semitransient);
    auto settings = std::make_unique<SettingsView>(m_edition);
    connect(settings.get(), &SettingsView::reminderSettingsChanged, this, [] { Reminders::scheduleDailyReminder(); });
    connect(settings.get(), &SettingsView::previewRequested, this, [] { Reminders::sendPreviewNotification(); });
    m_settingsPopover->setContent(std::move(settings));
    showAtButton(*m_settingsPopover);
}

void AppDelegate::openPopoverView()
{
    if (!Editions::hasBackNavigation(m_edition) || !m_statusItem || !m_statusItem->hasButton())
        return;
    if (m_settingsPopover->isShown())
        m_settingsPopover->performClose();
    m_popover->setContentSize(kNavigatedPopoverSize);
    m_popover->setBehavior(AnchoredPopover::Behavior::Semitransient);
    m_popover->setContent(makePopoverView());
    showAtButton(*m_popover);
}

void AppDelegate::presentPopover()
{
    if (!m_statusItem || m_popover->isShown())
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
    popover.showRelativeToRect(m_statusItem->buttonBounds());
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

void AppDelegate::loadStatusIcon()
{
    if (const auto data = UserDefaults::standard().dataForKey(PreferenceKeys::SavedImageData)) {
        const QImage saved = ImageDecoder::decode(*data);
        if (!saved.isNull()) {
            updateStatusIcon(saved);
            return;
        }
    }
    const QImage fallback(QStringLiteral(":/museIcon.png"));
    if (!fallback.isNull())
        updateStatusIcon(fallback);
}

void AppDelegate::savePhoto(const QImage& square)
{
    m_savedPhotoWriter.write(square);
}

void AppDelegate::updateStatusIcon(const QImage& source)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QIcon icon = StatusIconRenderer::render(source, screen ? screen->devicePixelRatio() : 1.0);
    if (m_statusItem)
        m_statusItem->setImage(icon);
}
