#pragma once

#include "views/Edition.h"

#include <QTime>
#include <QWidget>

class BackButton;
class NotificationMessageEditor;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTimeEdit;
class QVBoxLayout;

// The content of the settings popover: the reminder's switch, time and message, the photo
// popover's title and the preview. Every control writes its preference as it is changed,
// and the view shows any change of those preferences, whoever made it.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsView(Edition edition, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // The time shown in the picker: the stored hour and minute, or the current time (to the
    // minute) while they make no time of day. The stored values are left alone until the
    // user picks a time.
    QTime reminderTime() const;
    // Stores the hour, then the minute, then asks for the reminder to be scheduled again.
    // Seconds are dropped.
    void setReminderTime(const QTime& time);

    BackButton* backButton() const { return m_backButton; }
    QCheckBox* enableNotificationsSwitch() const { return m_enableNotifications; }
    QTimeEdit* timePicker() const { return m_timePicker; }
    NotificationMessageEditor* messageEditor() const { return m_messageEditor; }
    QLineEdit* titleField() const { return m_titleField; }
    QPushButton* previewButton() const { return m_previewButton; }

signals:
    // The reminder's time, message or on/off switch changed: the daily reminder must be
    // scheduled again. Never emitted for the values the view starts with.
    void reminderSettingsChanged();
    // "Send Preview Notification" was pressed.
    void previewRequested();

private:
    void addHeader(QVBoxLayout* root, Edition edition);
    void addTimeRow(QVBoxLayout* root);
    void addMessageSection(QVBoxLayout* root);
    void addTitleSection(QVBoxLayout* root);
    void addPreviewButton(QVBoxLayout* root);
    void connectControls();
    void setTabOrder();
    void showStoredValue(const QString& key);

    BackButton* m_backButton = nullptr;
    QCheckBox* m_enableNotifications = nullptr;
    QTimeEdit* m_timePicker = nullptr;
    NotificationMessageEditor* m_messageEditor = nullptr;
    QLineEdit* m_titleField = nullptr;
    QPushButton* m_previewButton = nullptr;
    // Set while the picker's time is being stored: between the hour and the minute the
    // store holds a time the user never picked, which must not be shown.
    bool m_storingTime = false;
};
