#include "ui/Panels.h"

#include <QLabel>
#include <QVBoxLayout>

#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

QVBoxLayout* MarginLayout(QWidget* owner) {
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(kPanelMargin, kPanelMargin, kPanelMargin, kPanelMargin);
    layout->setSpacing(0);
    return layout;
}

}  // namespace

TitleBand::TitleBand(const QString& title, QWidget* parent) : QFrame(parent) {
    setFixedHeight(kBandHeight);
    FillBackground(this, StationBackgroundColour());
    title_ = CreateNavyLabel(title, 27, Qt::AlignCenter, this);
    MarginLayout(this)->addWidget(title_);
}

ButtonBar::ButtonBar(QWidget* parent) : QFrame(parent) {
    FillBackground(this, BandColour());
}

BottomBand::BottomBand(QWidget* parent) : QFrame(parent) {
    setFixedHeight(kBandHeight);
    FillBackground(this, StationBackgroundColour());
    bar_ = new ButtonBar(this);
    MarginLayout(this)->addWidget(bar_);
}

LoweredPanel::LoweredPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    FillBackground(this, StationBackgroundColour());
}

QLabel* CreateNavyLabel(const QString& text, int pixelSize, Qt::Alignment alignment,
                        QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(VerdanaFont(pixelSize, true));
    label->setAlignment(alignment);
    FillBackground(label, Qt::white);
    SetTextColour(label, NavyColour());
    return label;
}

}  // namespace kelvaro
