#include "views/SettingsView.h"

#include "app/NavigationNotifications.h"
#include "platform/NotificationCenter.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QSize kFrame(300, 360);
} // namespace

SettingsView::SettingsView(Edition edition, QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(kFrame.height());
    auto* root = new QVBoxLayout(this);
    root->setSpacing(15);
    auto* header = new QHBoxLayout;
    header->setSpacing(80);
    header->setContentsMargins(0, 20, 0, 0);
    if (Editions::hasBackNavigation(edition)) {
        auto* back = new QPushButton(tr("Back"), this);
        back->setFlat(true);
        connect(back, &QPushButton::clicked, this,
                [] { NotificationCenter::defaultCenter().post(NavigationNotifications::openPopoverView); });
        header->addWidget(back);
    }
    root->addLayout(header);
    root->addStretch(1);
}
