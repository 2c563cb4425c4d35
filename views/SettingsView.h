#pragma once

#include "app/Edition.h"

#include <QWidget>

// The content of the settings popover.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsView(Edition edition, QWidget* parent = nullptr);

signals:
    // The reminder's time, message or on/off switch changed: the daily reminder must be
    // scheduled again. Never emitted for the values the view starts with.
    void reminderSettingsChanged();
    // "Send Preview Notification" was pressed.
    void previewRequested();
};
