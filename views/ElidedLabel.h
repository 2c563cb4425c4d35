#pragma once

#include <QLabel>

// A one-line plain-text label that shows as much of its text as fits and ends it with "…".
// text() stays the whole text, and so does the accessible name a screen reader reads; the
// shortening happens only where it is painted, so it follows every resize and font change.
// It never asks its layout for the width of the whole text.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The text and its tooltip: the whole text, which may be shortened on screen.
    void setFullText(const QString& text);
    // What is painted at the current width and font.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
