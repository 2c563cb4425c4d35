#pragma once

#include <QPointer>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

#include "platform/popover/PopoverPlacementStrategy.h"

class LayerShellAnchor;
class QScrollArea;

// A window that hangs from a tray icon and hosts one content widget. It takes its content's
// own size (at least the content size set), within the free area of the screen, so that
// nothing scrolls unless the screen is too small.
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

    enum class Presentation
    {
        // Frameless, beside the panel that holds the tray icon, where the desktop's
        // placement strategy puts it.
        Anchored,
        // An ordinary framed window of the popover's size (title, taskbar entry, closable):
        // where there is no tray, or no way to put a popover beside it.
        Window,
    };

    explicit AnchoredPopover(QWidget* parent = nullptr);
    ~AnchoredPopover() override;

    QSize contentSize() const { return m_contentSize; }
    void setContentSize(const QSize& size);
    Behavior behavior() const { return m_behavior; }
    void setBehavior(Behavior behavior);
    Presentation presentation() const { return m_presentation; }

    // Takes the content; the previous content is deleted.
    void setContent(std::unique_ptr<QWidget> content);
    QWidget* content() const;
    // The size the popover takes: the content's own size, at least the content size set,
    // with the border.
    QSize fittedSize() const;

    bool isShown() const { return isVisible(); }
    // `anchor` is the tray icon in global coordinates (a 1 × 1 rectangle where only the
    // click point is known, an empty one where nothing is). Opens the popover beside it, on the free side of its panel;
    // where the desktop gives no way to do that, as a small window the desktop places.
    void showRelativeToRect(const QRect& anchor);
    // Opens (or raises) the popover as an ordinary window, centred at `centre`, else on the
    // screen under the pointer.
    void showAsWindow(std::optional<QPoint> centre = std::nullopt);
    void performClose();

    void setVisible(bool visible) override;

    // Replaces the strategy chosen for the running desktop (which is chosen on first use).
    void setPlacementStrategy(std::unique_ptr<PopoverPlacementStrategy> strategy);

signals:
    void shownChanged(bool shown);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    const PopoverPlacementStrategy& placementStrategy();
    void place(PopoverSpot::Kind kind);
    void applyWindowFlags();
    void showSized(const QSize& size);
    QSize windowSizeFor(const QSize& contentSize) const;
    void retakeRefusedGrabs();

    QSize m_contentSize;
    Behavior m_behavior = Behavior::ApplicationDefined;
    Presentation m_presentation = Presentation::Anchored;
    PopoverSpot::Kind m_placement = PopoverSpot::Kind::Positioned;
    LayerSurfacePlace m_layerPlace;
    std::unique_ptr<PopoverPlacementStrategy> m_placementStrategy;
    QScrollArea* m_scrollArea;
    std::unique_ptr<LayerShellAnchor> m_layerShell;
    bool m_outsidePress = false;
    bool m_wasActive = false;
    QTimer m_grabRetry;
};
