#include "views/SettingsView.h"

#include "platform/base/NotificationCenter.h"
#include "preferences/PreferenceKeys.h"
#include "views/BackButton.h"
#include "views/NavigationNotifications.h"
#include "views/NotificationMessageEditor.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpacerItem>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {
const QSize kFrame(300, 360);
constexpr int kColumnSpacing = 15;
constexpr int kHeaderSpacing = 80;
constexpr int kHeaderTopPadding = 20;
constexpr int kMessageSpacing = 10;
constexpr int kMessageTopPadding = 8;
constexpr int kTitleSpacing = 6;
constexpr int kTitleTrailingPadding = 2;
constexpr int kPreviewTopPadding = 8;

QLabel* headline(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// A column with its own spacing and padding, as one child of the view's column.
QVBoxLayout* section(int spacing, const QMargins& padding)
{
    auto* layout = new QVBoxLayout;
    layout->setSpacing(spacing);
    layout->setContentsMargins(padding);
    return layout;
}

bool isTimeKey(const QString& key)
{
    return key == PreferenceKeys::notificationHour.key || key == PreferenceKeys::notificationMinute.key;
}
} // namespace

SettingsView::SettingsView(Edition edition, QWidget* parent) : QWidget(parent)
{
    // The popover takes the view's own size, at least the frame's, so nothing scrolls.
    setMinimumHeight(kFrame.height());
    auto* root = new QVBoxLayout(this);
    root->setSpacing(kColumnSpacing); // the margins are the style's own, its default padding
    addHeader(root, edition);
    addTimeRow(root);
    addMessageSection(root);
    addTitleSection(root);
    addPreviewButton(root);
    root->addStretch(1);

    for (const auto key : {PreferenceKeys::notificationsEnabled.key, PreferenceKeys::notificationHour.key,
                           PreferenceKeys::notificationMessage.key, PreferenceKeys::popoverTitle.key})
        showStoredValue(key);
    connectControls();
    setTabOrder();
}

QSize SettingsView::sizeHint() const
{
    // Large fonts need more than the frame; the controls then keep their sizes.
    return kFrame.expandedTo(minimumSizeHint());
}

void SettingsView::addHeader(QVBoxLayout* root, Edition edition)
{
    m_enableNotifications = new QCheckBox(tr("Enable Notifications"), this);
    m_enableNotifications->setAccessibleName(m_enableNotifications->text());
    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, kHeaderTopPadding, 0, 0);
    header->setSpacing(0);
    header->addStretch(1);
    if (Editions::hasBackNavigation(edition)) {
        m_backButton = new BackButton(this);
        connect(m_backButton, &QToolButton::clicked, this,
                [] { NotificationCenter::defaultCenter().post(NavigationNotifications::openPopoverView); });
        header->addWidget(m_backButton);
        // The gap gives way before the labels do when a large font leaves no room for it.
        header->addSpacerItem(new QSpacerItem(kHeaderSpacing, 0, QSizePolicy::Preferred, QSizePolicy::Minimum));
    }
    header->addWidget(m_enableNotifications);
    header->addStretch(1);
    root->addLayout(header);
}

void SettingsView::addTimeRow(QVBoxLayout* root)
{
    //: Before the time of day at which the reminder comes
    auto* label = new QLabel(tr("Send Daily At:"), this);
    m_timePicker = new QTimeEdit(this);
    m_timePicker->setAccessibleName(label->text());
    m_timePicker->setWrapping(true);
    // A typed time counts once complete (Return, or the focus leaving the field): each
    // keystroke on the way would store and reschedule a time nobody chose. Arrows, the wheel
    // and the mouse still take effect at once.
    m_timePicker->setKeyboardTracking(false);
    // Hours and minutes in the user's 12- or 24-hour habit; the seconds are not ours to set.
    const bool twelveHour =
        locale().timeFormat(QLocale::ShortFormat).contains(QLatin1String("ap"), Qt::CaseInsensitive);
    m_timePicker->setDisplayFormat(twelveHour ? QStringLiteral("h:mm AP") : QStringLiteral("HH:mm"));
    label->setBuddy(m_timePicker);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(label);
    row->addWidget(m_timePicker);
    row->addStretch(1);
    root->addLayout(row);
}

void SettingsView::addMessageSection(QVBoxLayout* root)
{
    QLabel* label = headline(tr("Notification Message:"), this);
    m_messageEditor = new NotificationMessageEditor(this);
    m_messageEditor->textArea()->setAccessibleName(label->text());
    label->setBuddy(m_messageEditor->textArea());
    QVBoxLayout* layout = section(kMessageSpacing, QMargins(0, kMessageTopPadding, 0, 0));
    layout->addWidget(label);
    layout->addWidget(m_messageEditor);
    root->addLayout(layout);
}

void SettingsView::addTitleSection(QVBoxLayout* root)
{
    //: The title shown above the photo in the popover that the tray icon opens
    QLabel* label = headline(tr("Popover Title:"), this);
    m_titleField = new QLineEdit(this);
    m_titleField->setPlaceholderText(tr("Enter a title"));
    m_titleField->setAccessibleName(label->text());
    label->setBuddy(m_titleField);
    QVBoxLayout* layout = section(kTitleSpacing, QMargins(0, 0, kTitleTrailingPadding, 0));
    layout->addWidget(label);
    layout->addWidget(m_titleField);
    root->addLayout(layout);
}

void SettingsView::addPreviewButton(QVBoxLayout* root)
{
    m_previewButton = new QPushButton(tr("Send Preview Notification"), this);
    m_previewButton->setAccessibleName(m_previewButton->text());
    QVBoxLayout* layout = section(0, QMargins(0, kPreviewTopPadding, 0, 0));
    layout->addWidget(m_previewButton, 0, Qt::AlignHCenter);
    root->addLayout(layout);
}

void SettingsView::connectControls()
{
    // Every change of a control that the view did not make itself is the user's.
    connect(m_enableNotifications, &QCheckBox::toggled, this, [this](bool enabled) {
        Preferences::write(PreferenceKeys::notificationsEnabled, enabled);
        emit reminderSettingsChanged();
    });
    connect(m_timePicker, &QTimeEdit::timeChanged, this, &SettingsView::setReminderTime);
    connect(m_messageEditor, &NotificationMessageEditor::textEdited, this, [this](const QString& text) {
        Preferences::write(PreferenceKeys::notificationMessage, text);
        emit reminderSettingsChanged();
    });
    connect(m_titleField, &QLineEdit::textChanged, this,
            [](const QString& text) { Preferences::write(PreferenceKeys::popoverTitle, text); });
    connect(m_previewButton, &QPushButton::clicked, this, &SettingsView::previewRequested);
    connect(&UserDefaults::standard(), &UserDefaults::valueChanged, this, &SettingsView::showStoredValue);
}

void SettingsView::setTabOrder()
{
    QList<QWidget*> order;
    if (m_backButton)
        order << m_backButton;
    order << m_enableNotifications << m_timePicker << m_messageEditor->textArea() << m_titleField << m_previewButton;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

QTime SettingsView::reminderTime() const
{
    const qint64 hour = Preferences::read(PreferenceKeys::notificationHour);
    const qint64 minute = Preferences::read(PreferenceKeys::notificationMinute);
    if (hour >= 0 && hour < 24 && minute >= 0 && minute < 60)
        return QTime(int(hour), int(minute));
    const QTime now = QTime::currentTime();
    return QTime(now.hour(), now.minute());
}

void SettingsView::setReminderTime(const QTime& time)
{
    if (!time.isValid())
        return;
    m_storingTime = true;
    Preferences::write(PreferenceKeys::notificationHour, time.hour());
    Preferences::write(PreferenceKeys::notificationMinute, time.minute());
    m_storingTime = false;
    emit reminderSettingsChanged();
}

void SettingsView::showStoredValue(const QString& key)
{
    if (key == PreferenceKeys::notificationsEnabled.key) {
        const QSignalBlocker blocker(m_enableNotifications);
        m_enableNotifications->setChecked(Preferences::read(PreferenceKeys::notificationsEnabled));
    } else if (isTimeKey(key) && !m_storingTime) {
        const QSignalBlocker blocker(m_timePicker);
        m_timePicker->setTime(reminderTime());
    } else if (key == PreferenceKeys::notificationMessage.key) {
        m_messageEditor->setText(Preferences::read(PreferenceKeys::notificationMessage));
    } else if (key == PreferenceKeys::popoverTitle.key) {
        const QString title = Preferences::read(PreferenceKeys::popoverTitle);
        if (title != m_titleField->text()) {
            const QSignalBlocker blocker(m_titleField);
            const int cursor = m_titleField->cursorPosition();
            m_titleField->setText(title);
            // Another writer's title replaces the one being edited, whose next keystroke then
            // adds to it where the cursor was. setText leaves the cursor at the end, which
            // shows only the tail of a long title: it reads from its beginning until edited.
            if (m_titleField->hasFocus())
                m_titleField->setCursorPosition(cursor);
            else
                m_titleField->home(false);
        }
    }
}
