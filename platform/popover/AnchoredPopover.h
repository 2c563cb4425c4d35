#pragma once

#include <QPointer>
#include <QSize>
#include <QWidget>

#include <memory>

class QScrollArea;

// A frameless window that hangs from a tray icon and hosts one content widget.
class AnchoredPopover : public QWidget
{
    Q_OBJECT

public:
    enum class Behavior
    {
        ApplicationDefined = 0,
        // Closes as soon as the user clicks anywhere outside it.
        Transient = 1,
        // Stays open until the tray icon is clicked (or Escape is pressed).
        Semitransient = 2,
    };

    explicit AnchoredPopover(QWidget* parent = nullptr);
    ~AnchoredPopover() override;

    QSize contentSize() const { return m_contentSize; }
    void setContentSize(const QSize& size);
    Behavior behavior() const { return m_behavior; }
    void setBehavior(Behavior behavior);

    // Takes the content; the previous content is deleted.
    void setContent(std::unique_ptr<QWidget> content);
    QWidget* content() const;

    bool isShown() const { return isVisible(); }
    // `anchor` is in global coordinates; the popover opens below it unless the panel
    // is at the bottom of the screen.
    void showRelativeToRect(const QRect& anchor);
    void performClose();

signals:
    void shownChanged(bool shown);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void applyWindowFlags();
    QSize windowSizeFor(const QSize& contentSize) const;

    QSize m_contentSize;
    Behavior m_behavior = Behavior::ApplicationDefined;
    QScrollArea* m_scrollArea;
    bool m_outsidePress = false;
};
