#include "views/PopoverView.h"

#include "platform/base/NotificationCenter.h"
#include "platform/image/ImageDecoder.h"
#include "preferences/PreferenceKeys.h"
#include "views/ElidedLabel.h"
#include "views/NavigationNotifications.h"
#include "views/PhotoWell.h"
#include "views/PopoverControls.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFutureWatcher>
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

// What the worker hands back to the GUI thread: the full-size square, to be stored, and
// the copy at the well's pixel size, which is all the view and the tray icon keep.
struct PopoverView::PreparedPhoto
{
    QImage square;
    QImage shown;
};

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

    applyPalette();
    refreshTitle();
    connect(&UserDefaults::standard(), &UserDefaults::valueChanged, this, [this](const QString& key) {
        if (key == PreferenceKeys::popoverTitle.key)
            refreshTitle();
    });
}

PopoverView::~PopoverView() = default;

QSize PopoverView::sizeHint() const
{
    return kFrame.expandedTo(minimumSizeHint());
}

QString PopoverView::displayTitle(const QString& storedTitle)
{
    return storedTitle.isEmpty() ? PreferenceKeys::popoverTitle.defaultValue : storedTitle;
}

QThreadPool* PopoverView::decodingPool() const
{
    return m_appDelegate ? &m_appDelegate->photoDecodingPool() : QThreadPool::globalInstance();
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
    const quint64 ticket = ++m_issuedTicket;
    const int pixels = int(std::ceil(PhotoWell::kSide * m_well->devicePixelRatioF()));
    // The stored photo may be a big PNG: it is read and decoded off the GUI thread.
    QtConcurrent::run(decodingPool(), [pixels] {
        QImage photo;
        if (const auto data = UserDefaults::standard().dataForKey(PreferenceKeys::SavedImageData))
            photo = ImageDecoder::decode(*data);
        if (photo.isNull())
            photo = QImage(QStringLiteral(":/museIcon.png"));
        return PreparedPhoto{QImage(), PhotoWell::filledSquare(photo, pixels)};
    }).then(this, [this, ticket](const PreparedPhoto& prepared) {
        if (ticket <= m_appliedTicket)
            return;
        m_appliedTicket = ticket;
        m_well->setPhoto(prepared.shown);
        m_well->setPlaceholderShown(prepared.shown.isNull());
    });
}

QImage PopoverView::cropToSquare(const QImage& image)
{
    if (image.isNull())
        return {};
    const int w = image.width();
    const int h = image.height();
    const int side = h < w ? h : w;
    if (w == h)
        return image;
    // Integer division rounds the half-pixel offset of an odd difference down.
    return image.copy((w - side) / 2, (h - side) / 2, side, side);
}

void PopoverView::selectNewPhoto()
{
    QFileDialog dialog(nullptr, tr("Select a new photo"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Start where photos live, not in whatever folder the program was started from.
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    dialog.setDirectory(QDir(pictures).exists() ? pictures : QDir::homePath());
    dialog.setMimeTypeFilters(kPhotoMimeTypes);
    // The four types are also offered together, first, so that every photo shows at once.
    QStringList patterns;
    const QMimeDatabase mimeDatabase;
    for (const QString& name : kPhotoMimeTypes)
        patterns += mimeDatabase.mimeTypeForName(name).globPatterns();
    patterns.removeDuplicates();
    if (!patterns.isEmpty()) {
        QStringList filters = dialog.nameFilters();
        //: A file type filter of the file dialog; %1 is the list of patterns, such as *.png *.jpg
        filters.prepend(tr("Photos (%1)").arg(patterns.join(QLatin1Char(' '))));
        dialog.setNameFilters(filters);
    }
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QList<QUrl> chosen = dialog.selectedUrls();
    if (chosen.isEmpty())
        return;
    loadPhoto(chosen.first());
}

bool PopoverView::handlePhotoDrop(const QList<QUrl>& urls)
{
    // Only the first item counts; the others of the same drop are ignored.
    if (urls.isEmpty() || !urls.first().isLocalFile())
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
    const QString path = url.toLocalFile();
    const quint64 ticket = ++m_issuedTicket;
    const int pixels = int(std::ceil(PhotoWell::kSide * m_well->devicePixelRatioF()));
    QtConcurrent::run(decodingPool(), [path, pixels] {
        const QImage square = cropToSquare(ImageDecoder::decodeFile(path));
        return PreparedPhoto{square, PhotoWell::filledSquare(square, pixels)};
    }).then(this, [this, ticket](const PreparedPhoto& prepared) { applyPhoto(ticket, prepared); });
}

void PopoverView::applyPhoto(quint64 ticket, const PreparedPhoto& prepared)
{
    if (prepared.square.isNull() || ticket <= m_appliedTicket) {
        emit photoIntakeFinished(false);
        return;
    }
    m_appliedTicket = ticket;
    m_well->setPhoto(prepared.shown);
    if (m_appDelegate)
        m_appDelegate->updateStatusIcon(prepared.shown);
    savePhoto(prepared.square);
    emit photoIntakeFinished(true);
}

void PopoverView::savePhoto(const QImage& square)
{
    if (m_appDelegate)
        m_appDelegate->savePhoto(square);
}
