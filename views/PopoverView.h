#pragma once

#include <QImage>
#include <QWidget>

class AppDelegate;
class QLabel;

// The content of the photo popover: the title, the photo well and the controls.
class PopoverView : public QWidget
{
    Q_OBJECT

public:
    // `appDelegate` outlives every view; the view does not own it.
    explicit PopoverView(AppDelegate* appDelegate, QWidget* parent = nullptr);

    // The title shown: the stored title, or "Your MenuBar Photo" while that is empty.
    static QString displayTitle(const QString& storedTitle);

    QImage image() const { return m_image; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void loadInitialPhoto();
    void setImage(const QImage& image);
    void refreshTitle();

    QImage m_image;
    AppDelegate* m_appDelegate;
    QLabel* m_title;
    QLabel* m_well;
};
