#pragma once

#include "app/Edition.h"

#include <QWidget>

// The content of the settings popover.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsView(Edition edition, QWidget* parent = nullptr);
};
