#pragma once

#include "platform/tray/StatusItem.h"

// A tray icon that tests can click, with a fixed place on screen.
class FakeStatusItem : public StatusItem
{
    Q_OBJECT

public:
    bool available = true;
    QIcon icon;
    QString toolTip;
    QRect bounds{600, 2, 22, 22};

    bool hasButton() const override { return available; }
    void setImage(const QIcon& newIcon) override { icon = newIcon; }
    QIcon image() const override { return icon; }
    void setToolTip(const QString& text) override { toolTip = text; }
    QRect buttonBounds() const override { return bounds; }
    void setContextMenu(QMenu*) override {}
    void click() { emit buttonClicked(); }
};

class FakeStatusBar : public StatusBar
{
public:
    FakeStatusItem* last = nullptr;
    bool available = true;

    std::unique_ptr<StatusItem> makeStatusItem() override
    {
        auto item = std::make_unique<FakeStatusItem>();
        item->available = available;
        last = item.get();
        return item;
    }
};
