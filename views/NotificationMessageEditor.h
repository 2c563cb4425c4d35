#pragma once

#include <QWidget>

class QPlainTextEdit;

// The box in which the reminder's message is written: a plain-text area inset by 8 points
// in a rounded, bordered field of fixed height that takes the width of its parent. Text
// taller than the box scrolls inside it. The editor knows nothing of where the text is
// kept: it shows what it is given and reports every edit at once.
class NotificationMessageEditor : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kHeight = 110;
    static constexpr int kInnerMargin = 8;
    static constexpr qreal kCornerRadius = 10;
    // In logical pixels, like every other length here: Qt's points would make the message
    // half again as large as the rest of the popover.
    static constexpr int kFontPixelSize = 14;

    explicit NotificationMessageEditor(QWidget* parent = nullptr);

    QString text() const;
    // Shows `text` without reporting it as an edit; the cursor stays where it is when the
    // text is already the one shown.
    void setText(const QString& text);

    QPlainTextEdit* textArea() const { return m_textArea; }

signals:
    // Every change made in the box (typing, deleting, paste, cut, undo, or an assistive
    // technology replacing the text), one signal per change.
    void textEdited(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPlainTextEdit* m_textArea;
    bool m_showingText = false;
};
