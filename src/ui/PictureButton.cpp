#include "ui/PictureButton.h"

#include "ui/StationStyle.h"

namespace kelvaro {

PictureButton::PictureButton(const QString& caption, ButtonPicture picture, QWidget* parent)
    : QPushButton(caption, parent), picture_(picture) {
    setFixedSize(kWidth, kHeight);
    setCursor(Qt::PointingHandCursor);
    setFont(VerdanaFont(13, true));
    setIconSize(QSize(kButtonPictureSize, kButtonPictureSize));
    setIcon(ButtonIcon(picture));
    // A style sheet keeps the face white under every widget style; the picture's disabled
    // state comes from the icon.
    setStyleSheet(QStringLiteral(
        "QPushButton { background-color: white; color: black; border: 1px solid rgb(90, 110, 140);"
        " border-radius: 3px; padding: 0 4px; }"
        "QPushButton:hover { border-color: rgb(0, 0, 128); }"
        "QPushButton:pressed { background-color: rgb(220, 232, 248); }"
        "QPushButton:focus { border: 2px solid rgb(0, 0, 128); }"
        "QPushButton:disabled { color: rgb(150, 150, 150); border-color: rgb(170, 170, 170); }"));
}

void PictureButton::SetPicture(ButtonPicture picture) {
    if (picture == picture_) {
        return;
    }
    picture_ = picture;
    setIcon(ButtonIcon(picture));
}

}  // namespace kelvaro
