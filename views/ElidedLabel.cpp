#include "views/ElidedLabel.h"

#include <QPainter>
#include <QStyle>

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

void ElidedLabel::setFullText(const QString& text)
{
    setText(text);
    setToolTip(text);
    setAccessibleName(text);
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const
{
    // The width is whatever the layout gives: asking for the whole text's width would
    // widen the window that holds a long title beyond its frame.
    return minimumSizeHint();
}

QSize ElidedLabel::minimumSizeHint() const
{
    // One line, however many the text holds: it is painted on one.
    const QMargins margins = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("…")) + margins.left() + margins.right(),
                 fontMetrics().height() + margins.top() + margins.bottom());
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int flags = QStyle::visualAlignment(layoutDirection(), alignment()) | Qt::TextSingleLine;
    style()->drawItemText(&painter, contentsRect(), flags, palette(), isEnabled(), shownText(), foregroundRole());
}
