#pragma once

#include <QToolButton>

// The settings' way back to the photo popover: a grey chevron followed by "Back", drawn
// flat like a link rather than as a push button.
class BackButton : public QToolButton
{
    Q_OBJECT

public:
    explicit BackButton(QWidget* parent = nullptr);

    // The theme's "go-previous" arrow in the given colour, or a chevron drawn here when
    // the theme has none.
    static QIcon chevronIcon(const QColor& color);
};
