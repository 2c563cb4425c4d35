#pragma once

#include <QImage>
#include <QList>
#include <QUrl>
#include <QWidget>

#include <functional>

// The rounded tile that shows the photo, filling it and clipped at its corners (never
// letterboxed), or "Drop an image here" when there is nothing to show. It is also the drop
// target for files: a drag whose first URL is a local file is accepted as a copy, and the
// dropped URLs go to the drop handler, whose answer says whether the drop was taken.
class PhotoWell : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSide = 200;
    static constexpr qreal kCornerRadius = 12;
    static constexpr qreal kShadowRadius = 2;
    static constexpr qreal kFillOpacity = 0.1;

    explicit PhotoWell(QWidget* parent = nullptr);

    // `photo` fills the well; a copy at the well's pixel size is all that is kept.
    void setPhoto(const QImage& photo);
    QImage photo() const { return m_photo; }
    // Whether the placeholder text shows while there is no photo; off while one is loading.
    void setPlaceholderShown(bool shown);
    bool placeholderShown() const { return m_photo.isNull() && m_placeholderShown; }

    using DropHandler = std::function<bool(const QList<QUrl>&)>;
    void setDropHandler(DropHandler handler) { m_dropHandler = std::move(handler); }

    // `photo` scaled to cover a `pixels` square, centred and cropped: what the well draws.
    static QImage filledSquare(const QImage& photo, int pixels);

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QImage m_photo;
    bool m_placeholderShown = false;
    DropHandler m_dropHandler;
};
