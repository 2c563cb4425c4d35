#include "views/PopoverView.h"

#include "platform/base/Console.h"
#include "platform/base/NotificationCenter.h"
#include "platform/image/ImageDecoder.h"
#include "platform/sandbox/OutsideFileChooser.h"
#include "platform/session/FileChooserPortal.h"
#include "preferences/PreferenceKeys.h"
#include "views/ConfinedPhotoAccess.h"
#include "views/ElidedLabel.h"
#include "views/NavigationNotifications.h"
#include "views/PhotoIntake.h"
#include "views/PhotoWell.h"
#include "views/PopoverControls.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>

namespace {

const QSize kFrame(250, 350);
// The padding around a popover's content on every side.
constexpr int kDefaultPadding = 16;
constexpr int kRootSpacing = 12;
constexpr int kTitleTopPadding = 20;
constexpr int kControlSpacing = 8;
constexpr int kControlsTopPadding = 4;

const QStringList kPhotoMimeTypes{QStringLiteral("image/png"), QStringLiteral("image/jpeg"),
                                  QStringLiteral("image/heic"), QStringLiteral("image/heif")};

} // namespace

PopoverView::PopoverView(PopoverViewDelegate* appDelegate, QWidget* parent)
    : QWidget(parent), m_appDelegate(appDelegate), m_title(new ElidedLabel(this)), m_well(new PhotoWell(this)),
      m_changePhoto(new QPushButton(tr("Change Photo"), this)), m_settings(new QPushButton(tr("Settings"), this)),
      m_exit(new QPushButton(tr("Exit"), this))
{
    // With common fonts and button styles the title, the well and the three buttons with
    // their spacings and paddings are a little taller than the 350-pixel frame. The empty
    // space around the content gives way first, so that every control stays in view: the
    // outer padding and the title's top padding shrink (they never grow), the content
    // itself never overlaps, and only what still does not fit scrolls.
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(kDefaultPadding, 0, kDefaultPadding, 0);
    root->setSpacing(kRootSpacing);
    root->addSpacerItem(
        new QSpacerItem(0, kDefaultPadding + kTitleTopPadding, QSizePolicy::Minimum, QSizePolicy::Maximum));

    QFont headline = m_title->font();
    headline.setBold(true);
    m_title->setFont(headline);
    m_title->setAlignment(Qt::AlignCenter);
    // The title is the user's own text: shown verbatim (plain text, never a translation
    // key), shortened with "…" when longer than the popover is wide.
    root->addWidget(m_title);

    root->addWidget(m_well, 0, Qt::AlignHCenter);
    m_well->setDropHandler([this](const QList<QUrl>& urls) { return handlePhotoDrop(urls); });

    auto* controls = new QVBoxLayout;
    controls->setSpacing(kControlSpacing);
    controls->setContentsMargins(0, kControlsTopPadding, 0, 0);
    for (QPushButton* button : {m_changePhoto, m_settings, m_exit})
        controls->addWidget(button, 0, Qt::AlignHCenter);
    root->addLayout(controls);
    root->addStretch(1);
    root->addSpacerItem(new QSpacerItem(0, kDefaultPadding, QSizePolicy::Minimum, QSizePolicy::Maximum));

    connect(m_changePhoto, &QPushButton::clicked, this, &PopoverView::selectNewPhoto);
    connect(m_settings, &QPushButton::clicked, this,
            [] { NotificationCenter::defaultCenter().post(NavigationNotifications::OpenSettings); });
    connect(m_exit, &QPushButton::clicked, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    m_changePhoto->setObjectName(QStringLiteral("changePhoto"));
    m_settings->setObjectName(QStringLiteral("settings"));
    m_exit->setObjectName(QStringLiteral("exit"));

    // The intake is the delegate's and outlives this view: what it decodes reaches whichever
    // view is on screen then.
    if (!m_appDelegate)
        m_ownIntake = std::make_unique<PhotoIntake>();
    connect(&intake(), &PhotoIntake::previewShown, this, [this](const QImage& preview) { m_well->setPhoto(preview); });
    connect(&intake(), &PhotoIntake::previewWithdrawn, this, [this] { showConfirmed(m_confirmed); });
    connect(&intake(), &PhotoIntake::photoAccepted, this, [this](const QImage& shown) {
        m_photoAccepted = true;
        showConfirmed(shown);
    });
    connect(&intake(), &PhotoIntake::loadFinished, this,
            [this](quint64, bool accepted) { emit photoIntakeFinished(accepted); });

    applyPalette();
    refreshTitle();
    connect(&UserDefaults::standard(), &UserDefaults::valueChanged, this, [this](const QString& key) {
        if (key == PreferenceKeys::popoverTitle.key)
            refreshTitle();
    });
}

PopoverView::~PopoverView()
{
    // An intake of our own delivers its last results as it goes, after our members.
    if (m_ownIntake)
        disconnect(m_ownIntake.get(), nullptr, this, nullptr);
}

QSize PopoverView::sizeHint() const
{
    // The popover takes this size, so the padding keeps its full length: it gives way only
    // where a screen is too small for the whole view.
    return kFrame.expandedTo(layout()->sizeHint());
}

QString PopoverView::displayTitle(const QString& storedTitle)
{
    return storedTitle.isEmpty() ? PreferenceKeys::popoverTitle.defaultValue : storedTitle;
}

PhotoIntake& PopoverView::intake() const
{
    return m_appDelegate ? m_appDelegate->photoIntake() : *m_ownIntake;
}

int PopoverView::shownPixels() const
{
    return int(std::ceil(PhotoWell::kSide * m_well->devicePixelRatioF()));
}

void PopoverView::showConfirmed(const QImage& photo)
{
    m_confirmed = photo;
    // A later photo's preview stays until that photo's own end.
    if (!intake().preview().isNull())
        return;
    m_well->setPhoto(photo);
    m_well->setPlaceholderShown(photo.isNull());
}

QImage PopoverView::image() const
{
    return m_well->photo();
}

void PopoverView::refreshTitle()
{
    m_title->setFullText(displayTitle(Preferences::read(PreferenceKeys::popoverTitle)));
}

void PopoverView::applyPalette()
{
    // The view's own palette: a palette change reaches the view before its buttons.
    const QColor text = palette().color(QPalette::ButtonText);
    PopoverControls::setIcon(m_changePhoto, PopoverControls::Symbol::ChangePhoto, text);
    PopoverControls::setIcon(m_settings, PopoverControls::Symbol::Settings, text);
    const QColor red = PopoverControls::destructiveColour(palette());
    PopoverControls::setLabelColour(m_exit, red);
    PopoverControls::setIcon(m_exit, PopoverControls::Symbol::Exit, red);
}

void PopoverView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyPalette();
}

void PopoverView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    loadInitialPhoto();
}

void PopoverView::loadInitialPhoto()
{
    // Acts once per view: later showings keep the photo already held.
    if (!image().isNull() || m_initialLoadStarted)
        return;
    m_initialLoadStarted = true;
    if (!intake().preview().isNull())
        m_well->setPhoto(intake().preview()); // a photo chosen before this view is still decoding
    // The newest accepted photo, even while its write is under way; else the stored one, a
    // big PNG perhaps, read and decoded off the GUI thread.
    const QImage pending = m_appDelegate ? m_appDelegate->pendingPhoto() : QImage();
    const int pixels = shownPixels();
    QtConcurrent::run(&intake().pool(), [pending, pixels] {
        QImage photo = pending;
        if (photo.isNull()) {
            if (const auto data = UserDefaults::standard().dataForKey(PreferenceKeys::SavedImageData))
                photo = ImageDecoder::decode(*data);
        }
        if (photo.isNull())
            photo = QImage(QStringLiteral(":/museIcon.png"));
        return PhotoWell::filledSquare(photo, pixels);
    }).then(this, [this](const QImage& shown) {
        if (!m_photoAccepted)
            showConfirmed(shown);
    });
}

QImage PopoverView::cropToSquare(const QImage& image)
{
    if (image.isNull() || image.width() == image.height())
        return image;
    return image.copy(ImageDecoder::centredSquare(image.size()));
}

QStringList PopoverView::photoNameFilters()
{
    // The four types together first, so that every photo shows at once, then each type on
    // its own. image/heic is an alias of image/heif in the MIME database: one entry for both.
    const QMimeDatabase mimeDatabase;
    QStringList patterns;
    QStringList types;
    QStringList filters;
    for (const QString& name : kPhotoMimeTypes) {
        const QMimeType type = mimeDatabase.mimeTypeForName(name);
        if (!type.isValid() || types.contains(type.name()))
            continue;
        types << type.name();
        patterns << type.globPatterns();
        filters << type.filterString();
    }
    patterns.removeDuplicates();
    if (!patterns.isEmpty())
        //: A file type filter of the file dialog; %1 is the list of patterns, such as *.png *.jpg
        filters.prepend(tr("Photos (%1)").arg(patterns.join(QLatin1Char(' '))));
    return filters;
}

QString PopoverView::chooserTitle()
{
    return tr("Select a new photo");
}

QStringList PopoverView::photoMimeTypes()
{
    return kPhotoMimeTypes;
}

std::optional<QUrl> PopoverView::askForPhoto()
{
    // Start where photos live, not in whatever folder the program was started from.
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString folder = QDir(pictures).exists() ? pictures : QDir::homePath();
    // The desktop's own dialog where its portal runs, Qt's elsewhere.
    const auto portal = FileChooserPortal::openFile(QDBusConnection::sessionBus(), chooserTitle(),
                                                    photoNameFilters().value(0), photoMimeTypes(), folder);
    if (portal.result == FileChooserPortal::Choice::Result::Chosen)
        return QUrl::fromLocalFile(portal.path);
    if (portal.result == FileChooserPortal::Choice::Result::Cancelled)
        return std::nullopt;
    QFileDialog dialog(nullptr, chooserTitle());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDirectory(folder);
    dialog.setNameFilters(photoNameFilters());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty())
        return std::nullopt;
    return dialog.selectedUrls().constFirst();
}

void PopoverView::selectNewPhoto()
{
    const ConfinedPhotoAccess* confined = m_appDelegate ? m_appDelegate->confinedPhotoAccess() : nullptr;
    if (confined && confined->chooser()) {
        // The intake outlives this view, which may be gone by the time the user has chosen.
        confined->chooser()->choose(
            [&intake = intake(), pixels = shownPixels()](int descriptor) { intake.load(descriptor, pixels); });
        // A popup holds pointer and keyboard, which the chooser's window in its own process
        // needs; the program's own dialog would close it likewise.
        if (window()->windowType() == Qt::Popup)
            window()->close();
        return;
    }
    // The portal's dialog is another program's, which gets no input while the popup holds it.
    if (window()->windowType() == Qt::Popup)
        window()->close();
    if (const auto chosen = askForPhoto())
        loadPhoto(*chosen);
}

bool PopoverView::handlePhotoDrop(const QList<QUrl>& urls)
{
    // Only the first item counts; the others of the same drop are ignored.
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return false;
    const QString path = urls.first().toLocalFile();
    const ConfinedPhotoAccess* confined = m_appDelegate ? m_appDelegate->confinedPhotoAccess() : nullptr;
    if (confined && !confined->readsByItself(path)) {
        Console::printError(QStringLiteral("%1 was dropped from outside the Pictures and Downloads folders, the only "
                                           "ones this program reads by itself: choose it with Change Photo instead")
                                .arg(path));
        return false;
    }
    if (!ImageDecoder::isPhotoFile(path))
        return false;
    const QUrl url = urls.first();
    QMetaObject::invokeMethod(
        this, [this, url] { loadPhoto(url); }, Qt::QueuedConnection);
    return true;
}

void PopoverView::loadPhoto(const QUrl& url)
{
    if (!url.isLocalFile()) {
        emit photoIntakeFinished(false);
        return;
    }
    intake().load(url.toLocalFile(), shownPixels());
}
