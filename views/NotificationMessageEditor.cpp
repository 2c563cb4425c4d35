#include "views/NotificationMessageEditor.h"

#include "views/SystemGray.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const QColor kBorderColor(kSystemGray.red(), kSystemGray.green(), kSystemGray.blue(), qRound(0.3 * 255));
} // namespace

NotificationMessageEditor::NotificationMessageEditor(QWidget* parent)
    : QWidget(parent), m_textArea(new QPlainTextEdit(this))
{
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kInnerMargin, kInnerMargin, kInnerMargin, kInnerMargin);
    layout->addWidget(m_textArea);

    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(kFontPixelSize);
    m_textArea->setFont(font);
    // The rounded field drawn behind is the background; the area itself stays flat.
    m_textArea->setFrameShape(QFrame::NoFrame);
    m_textArea->viewport()->setAutoFillBackground(false);
    m_textArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_textArea->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_textArea->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    // Tab must lead on to the next control, or keyboard users would be caught in here.
    m_textArea->setTabChangesFocus(true);
    setFocusProxy(m_textArea);

    connect(m_textArea, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showingText)
            emit textEdited(m_textArea->toPlainText());
    });
}

QString NotificationMessageEditor::text() const
{
    return m_textArea->toPlainText();
}

void NotificationMessageEditor::setText(const QString& text)
{
    if (text == m_textArea->toPlainText())
        return;
    // Another writer's message replaces the one being edited; the cursor stays where it was,
    // as far as the new text reaches.
    QTextCursor cursor = m_textArea->textCursor();
    const int position = cursor.position();
    m_showingText = true;
    m_textArea->setPlainText(text);
    m_showingText = false;
    cursor = m_textArea->textCursor();
    cursor.setPosition(std::min(position, m_textArea->document()->characterCount() - 1));
    m_textArea->setTextCursor(cursor);
}

void NotificationMessageEditor::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Half a pixel in, so that the 1-pixel border falls on whole pixels.
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, kCornerRadius, kCornerRadius);
    painter.fillPath(shape, palette().brush(QPalette::Base));
    // The text area sits inside the margins, so the border drawn here lies above it.
    painter.strokePath(shape, QPen(kBorderColor, 1));
}
