#include "platform/popover/AnchoredPopover.h"

#include "platform/popover/PopoverPlacement.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <utility>

AnchoredPopover::AnchoredPopover(QWidget* parent) : QWidget(parent, Qt::Tool), m_scrollArea(new QScrollArea(this))
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Keys reach the window while no control has the focus (Escape closes it), but Tab
    // only stops at the controls.
    setFocusPolicy(Qt::ClickFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1); // room for the border drawn in paintEvent
    layout->setSpacing(0);
    // Content larger than the popover scrolls instead of being cut off.
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setAlignment(Qt::AlignCenter);
    // Tab goes from control to control; the area itself is no stop (it still scrolls the
    // control that takes the focus into view).
    m_scrollArea->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_scrollArea);
    applyWindowFlags();
}

AnchoredPopover::~AnchoredPopover() = default;

void AnchoredPopover::setContentSize(const QSize& size)
{
    m_contentSize = size;
    resize(windowSizeFor(size));
}

QSize AnchoredPopover::windowSizeFor(const QSize& contentSize) const
{
    // The content size is what the content gets; the border comes on top of it, or the
    // content would be cut short and scroll by the border's width.
    const QMargins border = layout()->contentsMargins();
    return contentSize.grownBy(border);
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

void AnchoredPopover::applyWindowFlags()
{
    // Qt::Popup grabs the pointer, so a click anywhere outside closes the popover;
    // a tool window stays up until it is closed on purpose.
    const Qt::WindowFlags kind = m_behavior == Behavior::Transient
                                     ? Qt::WindowFlags(Qt::Popup)
                                     : Qt::WindowFlags(Qt::Tool) | Qt::WindowStaysOnTopHint;
    setWindowFlags(kind | Qt::FramelessWindowHint);
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
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QSize size = m_contentSize.isValid() ? windowSizeFor(m_contentSize) : sizeHint();
    if (screen)
        move(PopoverPlacement::popoverPosition(anchor, size, screen->geometry(), screen->availableGeometry()));
    resize(size);
    show();
    raise();
    activateWindow();
}

void AnchoredPopover::performClose()
{
    if (!isVisible())
        return;
    hide();
}

void AnchoredPopover::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        performClose();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AnchoredPopover::mousePressEvent(QMouseEvent* event)
{
    // A transient popover closes when a click outside it ends, not when it starts: its
    // pointer grab then holds the whole click, so a click on the tray icon cannot also
    // reach the icon and reopen it. (Qt would replay the press to an XEmbed icon, our own
    // window; a StatusNotifierItem host acts on the release it would otherwise get.)
    if (m_behavior == Behavior::Transient && !rect().contains(event->position().toPoint())) {
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

void AnchoredPopover::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    emit shownChanged(true);
}

void AnchoredPopover::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_outsidePress = false;
    emit shownChanged(false);
}

void AnchoredPopover::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
