#include "platform/popover/AnchoredPopover.h"

#include "platform/desktop/DesktopSession.h"
#include "platform/popover/PopoverPlacement.h"
#include "platform/popover/X11PointerGrab.h"
#include "platform/wayland/LayerShellAnchor.h"

#include <QAbstractButton>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace {

// Between requests for grabs that another client keeps: soon at first, then rarely.
constexpr int kFirstGrabRetryMs = 50;
constexpr int kLongestGrabRetryMs = 1000;

QScreen* screenAt(const QPoint& point)
{
    QScreen* screen = QGuiApplication::screenAt(point);
    return screen ? screen : QGuiApplication::primaryScreen();
}

} // namespace

AnchoredPopover::AnchoredPopover(QWidget* parent) : QWidget(parent, Qt::Tool), m_scrollArea(new QScrollArea(this))
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Keys reach the window while no control has the focus (Escape closes it), but Tab
    // only stops at the controls.
    setFocusPolicy(Qt::ClickFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1); // room for the border drawn in paintEvent
    layout->setSpacing(0);
    // The popover takes its content's size; only a screen too small for it makes it scroll.
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setAlignment(Qt::AlignCenter);
    // Tab goes from control to control; the area itself is no stop (it still scrolls the
    // control that takes the focus into view).
    m_scrollArea->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_scrollArea);
    connect(&m_grabRetry, &QTimer::timeout, this, &AnchoredPopover::retakeRefusedGrabs);
    applyWindowFlags();
}

AnchoredPopover::~AnchoredPopover() = default;

void AnchoredPopover::setContentSize(const QSize& size)
{
    m_contentSize = size;
    if (!isVisible())
        resize(fittedSize());
}

QSize AnchoredPopover::windowSizeFor(const QSize& contentSize) const
{
    // The content size is what the content gets; the border comes on top of it.
    return contentSize.grownBy(layout()->contentsMargins());
}

QSize AnchoredPopover::fittedSize() const
{
    QSize size = m_contentSize.isValid() ? m_contentSize : QSize(0, 0);
    if (const QWidget* widget = content())
        size = size.expandedTo(widget->sizeHint()).expandedTo(widget->minimumSizeHint());
    return windowSizeFor(size);
}

void AnchoredPopover::setBehavior(Behavior behavior)
{
    if (behavior == m_behavior)
        return;
    m_behavior = behavior;
    const bool wasVisible = isVisible();
    applyWindowFlags(); // hides the window, as any change of window flags does
    if (wasVisible)
        show();
}

void AnchoredPopover::setPlacementStrategy(std::unique_ptr<PopoverPlacementStrategy> strategy)
{
    m_placementStrategy = std::move(strategy);
}

const PopoverPlacementStrategy& AnchoredPopover::placementStrategy()
{
    // Chosen late: finding the layer shell asks the compositor.
    if (!m_placementStrategy)
        m_placementStrategy = PopoverPlacementStrategy::forSession(DesktopSession::current());
    return *m_placementStrategy;
}

void AnchoredPopover::applyWindowFlags()
{
    Qt::WindowFlags flags;
    switch (m_placement) {
    case PopoverSpot::Kind::Positioned:
        // Qt::Popup grabs the pointer, so a click anywhere outside closes the popover; a
        // tool window stays up until it is closed on purpose. Where no grab sees a click
        // outside the program's windows (Xwayland), nor does a popup get the keys, the
        // popover is a tool window that closes when it loses the focus.
        flags = m_behavior == Behavior::Transient && placementStrategy().seesOutsideClicks()
                    ? Qt::WindowFlags(Qt::Popup)
                    : Qt::WindowFlags(Qt::Tool) | Qt::WindowStaysOnTopHint;
        flags |= Qt::FramelessWindowHint;
        break;
    case PopoverSpot::Kind::LayerSurface:
        // Qt gives such a window's surface no role of its own; the layer shell gives it one.
        flags = Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint;
        break;
    case PopoverSpot::Kind::Window:
        flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                Qt::WindowMinimizeButtonHint;
        break;
    }
    if (flags != windowFlags())
        setWindowFlags(flags);
}

void AnchoredPopover::place(PopoverSpot::Kind kind)
{
    m_placement = kind;
    m_presentation = kind == PopoverSpot::Kind::Window ? Presentation::Window : Presentation::Anchored;
    applyWindowFlags(); // a window shown in another way is hidden, to be mapped anew
}

void AnchoredPopover::setContent(std::unique_ptr<QWidget> content)
{
    std::unique_ptr<QWidget> previous(m_scrollArea->takeWidget());
    m_scrollArea->setWidget(content.release());
    previous.reset();
}

QWidget* AnchoredPopover::content() const
{
    return m_scrollArea->widget();
}

void AnchoredPopover::showRelativeToRect(const QRect& anchor)
{
    const PopoverSpot spot = placementStrategy().spotFor(anchor, fittedSize());
    switch (spot.kind) {
    case PopoverSpot::Kind::Window:
        showAsWindow();
        return;
    case PopoverSpot::Kind::LayerSurface:
        // A layer surface keeps the place it was given when it was mapped.
        if (m_layerShell && isVisible() && !(spot.layer == m_layerPlace))
            hide();
        m_layerPlace = spot.layer;
        place(spot.kind);
        showSized(spot.geometry.isValid() ? spot.geometry.size() : fittedSize());
        return;
    case PopoverSpot::Kind::Positioned:
        place(spot.kind);
        // The window itself, not its frame: Qt keeps the frame of a window that had one,
        // and move() would put a popover that lost its title bar that much lower.
        setGeometry(spot.geometry);
        showSized(spot.geometry.size());
        return;
    }
}

void AnchoredPopover::showAsWindow(std::optional<QPoint> centre)
{
    place(PopoverSpot::Kind::Window);
    QSize size = fittedSize();
    // Wayland places windows itself; elsewhere a window already open stays where it is.
    const bool programPlacesWindows = DesktopSession::current().display() != DesktopSession::Display::Wayland;
    if (programPlacesWindows && (centre || !isVisible())) {
        if (QScreen* screen = screenAt(centre.value_or(QCursor::pos()))) {
            const QRect area = PopoverPlacement::panelFreeArea(*screen);
            size = size.boundedTo(area.size());
            QRect frame(QPoint(), size);
            frame.moveCenter(centre.value_or(area.center()));
            move(PopoverPlacement::keptInside(frame, area).topLeft());
        }
    }
    showSized(size);
}

void AnchoredPopover::showSized(const QSize& size)
{
    // A layer surface keeps the size it was given when it was mapped.
    if (m_layerShell && isVisible() && size != this->size())
        hide();
    // Fixed, so that tiling window managers float the window instead of stretching it.
    setFixedSize(size);
    show();
    raise();
    activateWindow();
}

void AnchoredPopover::setVisible(bool visible)
{
    // The layer surface must go before Qt destroys the window's surface under it.
    if (!visible)
        m_layerShell.reset();
    const bool mapping = visible && !isVisible();
    QWidget::setVisible(visible);
    m_grabRetry.stop();
    if (mapping && windowType() == Qt::Popup)
        m_grabRetry.start(0);
    if (mapping && m_placement == PopoverSpot::Kind::LayerSurface) {
        m_layerShell = LayerShellAnchor::attach(*windowHandle(), size(), m_layerPlace);
        if (m_layerShell)
            connect(m_layerShell.get(), &LayerShellAnchor::closed, this, &AnchoredPopover::performClose,
                    Qt::QueuedConnection);
    }
}

void AnchoredPopover::retakeRefusedGrabs()
{
    // Qt asks for the popup's grabs once, as it maps; another client holding the pointer or
    // keyboard at that moment (a panel finishing its click, a screen reader) refuses them, and
    // the popup would then see no click outside it and no key. Asking again is harmless
    // where the grabs are already held. It asks for as long as the popover is up (a busy
    // machine may take seconds to hand them over), less often the longer it waits. On X11
    // the pointer is asked for directly: Qt reports a refused pointer grab as taken.
    QWindow* window = windowHandle();
    const bool keyboard = window && window->setKeyboardGrabEnabled(true);
    const bool pointer = keyboard && (DesktopSession::current().speaksX11() ? X11PointerGrab::take(*window)
                                                                            : window->setMouseGrabEnabled(true));
    if (pointer)
        m_grabRetry.stop();
    else
        m_grabRetry.setInterval(std::clamp(2 * m_grabRetry.interval(), kFirstGrabRetryMs, kLongestGrabRetryMs));
}

void AnchoredPopover::performClose()
{
    if (!isVisible())
        return;
    hide();
}

void AnchoredPopover::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        performClose();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Buttons outside a dialog take only Space; a popover's controls take Return too.
        if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()); button && button->isEnabled()) {
            button->animateClick();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void AnchoredPopover::mousePressEvent(QMouseEvent* event)
{
    // A transient popover closes when a click outside it ends, not when it starts: its
    // pointer grab then holds the whole click, so a click on the tray icon cannot also
    // reach the icon and reopen it. (Qt would replay the press to an XEmbed icon, our own
    // window; a StatusNotifierItem host acts on the release it would otherwise get.)
    if (windowType() == Qt::Popup && !rect().contains(event->position().toPoint())) {
        m_outsidePress = true;
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void AnchoredPopover::mouseReleaseEvent(QMouseEvent* event)
{
    if (std::exchange(m_outsidePress, false)) {
        event->accept();
        hide();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void AnchoredPopover::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    if (isActiveWindow()) {
        m_wasActive = true;
    } else if (std::exchange(m_wasActive, false) && m_behavior == Behavior::Transient &&
               m_placement != PopoverSpot::Kind::Window && !placementStrategy().seesOutsideClicks()) {
        performClose();
    }
}

void AnchoredPopover::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Every showing starts at the top: a kept offset would put other controls under the
    // places the user remembers.
    m_scrollArea->verticalScrollBar()->setValue(0);
    emit shownChanged(true);
}

void AnchoredPopover::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_outsidePress = false;
    m_wasActive = false;
    emit shownChanged(false);
}

void AnchoredPopover::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
