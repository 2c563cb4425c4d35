#include "views/PopoverView.h"

#include "app/AppDelegate.h"
#include "app/NavigationNotifications.h"
#include "platform/NotificationCenter.h"
#include "preferences/PreferenceKeys.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QSize kFrame(250, 350);
constexpr int kWellSide = 200;
} // namespace

PopoverView::PopoverView(AppDelegate* appDelegate, QWidget* parent)
    : QWidget(parent), m_appDelegate(appDelegate), m_title(new QLabel(this)), m_well(new QLabel(this))
{
    setMinimumHeight(kFrame.height());
    auto* root = new QVBoxLayout(this);
    root->setSpacing(12);

    QFont headline = m_title->font();
    headline.setBold(true);
    m_title->setFont(headline);
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setTextFormat(Qt::PlainText);
    root->addSpacing(20);
    root->addWidget(m_title);

    m_well->setFixedSize(kWellSide, kWellSide);
    m_well->setAlignment(Qt::AlignCenter);
    root->addWidget(m_well, 0, Qt::AlignHCenter);

    auto* settings = new QPushButton(tr("Settings"), this);
    connect(settings, &QPushButton::clicked, this,
            [] { NotificationCenter::defaultCenter().post(NavigationNotifications::OpenSettings); });
    auto* exit = new QPushButton(tr("Exit"), this);
    connect(exit, &QPushButton::clicked, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    root->addWidget(settings, 0, Qt::AlignHCenter);
    root->addWidget(exit, 0, Qt::AlignHCenter);
    root->addStretch(1);

    refreshTitle();
    connect(&UserDefaults::standard(), &UserDefaults::valueChanged, this, [this](const QString& key) {
        if (key == PreferenceKeys::popoverTitle.key)
            refreshTitle();
    });
}

QString PopoverView::displayTitle(const QString& storedTitle)
{
    return storedTitle.isEmpty() ? PreferenceKeys::popoverTitle.defaultValue : storedTitle;
}

void PopoverView::refreshTitle()
{
    m_title->setText(displayTitle(Preferences::read(PreferenceKeys::popoverTitle)));
}

void PopoverView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    loadInitialPhoto();
}

void PopoverView::loadInitialPhoto()
{
    if (!m_image.isNull())
        return;
    if (const auto data = UserDefaults::standard().dataForKey(PreferenceKeys::SavedImageData)) {
        const QImage saved = QImage::fromData(*data);
        if (!saved.isNull()) {
            setImage(saved);
            return;
        }
    }
    setImage(QImage(QStringLiteral(":/museIcon.png")));
}

void PopoverView::setImage(const QImage& image)
{
    m_image = image;
    if (image.isNull()) {
        m_well->setText(tr("Drop an image here"));
        return;
    }
    const qreal dpr = devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(image.scaled(QSize(kWellSide, kWellSide) * dpr, Qt::KeepAspectRatioByExpanding,
                                                     Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(dpr);
    m_well->setPixmap(pixmap);
}
