#pragma once

#include <QIcon>
#include <QObject>
#include <QRect>

#include <memory>

class QMenu;

// The program's item in the desktop's system tray. Its "button" is the icon in the tray:
// it exists while a tray hosts the item.
class StatusItem : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool hasButton() const = 0;
    virtual void setImage(const QIcon& icon) = 0;
    virtual QIcon image() const = 0;
    // The text shown when the pointer rests on the button.
    virtual void setToolTip(const QString& text) = 0;
    // The button's place on screen, in global coordinates. Where the tray host tells
    // nothing about it, the point of the last click on the item, as a 1 × 1 rectangle; an
    // empty rectangle where nothing true is known.
    virtual QRect buttonBounds() const = 0;
    virtual void setContextMenu(QMenu* menu) = 0;

signals:
    // The button was clicked (its action).
    void buttonClicked();
};

// Makes status items; the system's own is the desktop tray.
class StatusBar
{
public:
    virtual ~StatusBar() = default;
    virtual std::unique_ptr<StatusItem> makeStatusItem() = 0;

    static StatusBar& systemStatusBar();
};
