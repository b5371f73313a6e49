#include "ui/ScreenFrame.h"

#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Panels.h"
#include "ui/PictureButton.h"
#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

void Name(QObject* object, const char* name) {
    if (name != nullptr) {
        object->setObjectName(QString::fromLatin1(name));
    }
}

}  // namespace

ScreenFrame::ScreenFrame(QDialog& screen, const ScreenFrameOptions& options, QObject* eventFilter)
    : screen_(screen), options_(options), eventFilter_(eventFilter) {
    const bool named = options_.titleLabelName != nullptr;
    if (options_.modal) {
        screen_.setModal(true);
    }
    screen_.setFont(DefaultWindowFont());
    FillBackground(&screen_, StationBackgroundColour());
    if (options_.fixedSize) {
        screen_.setFixedSize(options_.clientSize);
        screen_.setSizeGripEnabled(false);
    } else {
        screen_.resize(options_.clientSize);
    }

    layout_ = new QVBoxLayout(&screen_);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);

    top_ = new TitleBand(options_.title, &screen_);
    Name(top_, named ? "pnTopo" : nullptr);
    Name(top_->Title(), options_.titleLabelName);
    layout_->addWidget(top_);

    centre_ = new LoweredPanel(&screen_);
    Name(centre_, named ? "pnCenter" : nullptr);
    centre_->installEventFilter(eventFilter_);
    layout_->addWidget(centre_, 1);
}

void ScreenFrame::AddBottomBand() {
    const bool named = options_.titleLabelName != nullptr;
    bottom_ = new BottomBand(&screen_);
    Name(bottom_, named ? "pnBottom" : nullptr);
    bar_ = bottom_->Bar();
    Name(bar_, options_.barName);
    bar_->installEventFilter(eventFilter_);
    layout_->addWidget(bottom_);

    back_ = new PictureButton(QStringLiteral("Voltar"), ButtonPicture::Back, bar_);
    Name(back_, named ? "btVoltar" : nullptr);
    back_->move(0, kPanelMargin);
    // Not the dialog's default button: Enter in a field or on a check box must not leave the
    // screen.
    back_->setAutoDefault(false);
}

}  // namespace kelvaro
