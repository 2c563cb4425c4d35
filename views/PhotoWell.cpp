#include "views/PhotoWell.h"

#include "views/SystemGray.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGraphicsDropShadowEffect>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

QPainterPath tilePath(const QRectF& rect)
{
    QPainterPath path;
    path.addRoundedRect(rect, PhotoWell::kCornerRadius, PhotoWell::kCornerRadius);
    return path;
}

} // namespace

PhotoWell::PhotoWell(QWidget* parent) : QWidget(parent)
{
    setFixedSize(kSide, kSide);
    setAcceptDrops(true);
    //: What a screen reader calls the photo tile
    setAccessibleName(tr("Photo"));
    auto* shadow = new QGraphicsDropShadowEffect(this);
    // A blur radius of twice the shadow's radius approximates its Gaussian spread.
    shadow->setBlurRadius(2 * kShadowRadius);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor(0, 0, 0, int(std::lround(0.33 * 255))));
    setGraphicsEffect(shadow);
}

QImage PhotoWell::filledSquare(const QImage& photo, int pixels)
{
    if (photo.isNull() || pixels <= 0)
        return {};
    const QImage covering = photo.scaled(pixels, pixels, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    return covering.copy((covering.width() - pixels) / 2, (covering.height() - pixels) / 2, pixels, pixels);
}

void PhotoWell::setPhoto(const QImage& photo)
{
    const int pixels = int(std::ceil(kSide * devicePixelRatioF()));
    m_photo = photo.width() == pixels && photo.height() == pixels ? photo : filledSquare(photo, pixels);
    update();
}

void PhotoWell::setPlaceholderShown(bool shown)
{
    m_placeholderShown = shown;
    update();
}

void PhotoWell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile = rect();
    const QPainterPath path = tilePath(tile);
    QColor fill = kSystemGray;
    fill.setAlphaF(kFillOpacity);
    painter.fillPath(path, fill);

    if (!m_photo.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setClipPath(path);
        painter.drawImage(tile, m_photo);
    } else if (m_placeholderShown) {
        QFont caption = font();
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
        painter.setFont(caption);
        painter.setPen(kSystemGray);
        painter.drawText(tile, Qt::AlignCenter, tr("Drop an image here"));
    }
}

namespace {

// Only a drag whose first URL is a local file is taken (the drop handler looks at no other),
// and only as a copy: a move would have the source delete the user's original.
bool offersLocalFileCopy(const QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->hasUrls() ? event->mimeData()->urls() : QList<QUrl>();
    return !urls.isEmpty() && urls.first().isLocalFile() && (event->possibleActions() & Qt::CopyAction);
}

} // namespace

void PhotoWell::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void PhotoWell::dragMoveEvent(QDragMoveEvent* event)
{
    if (offersLocalFileCopy(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void PhotoWell::dropEvent(QDropEvent* event)
{
    if (offersLocalFileCopy(event) && m_dropHandler && m_dropHandler(event->mimeData()->urls())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}
