// The station's button: white, hand cursor, "Verdana" bold 13 px, with a two-state picture
// beside its caption.
#pragma once

#include <QPushButton>

#include "ui/ButtonPictures.h"

namespace kelvaro {

class PictureButton : public QPushButton {
  public:
    // Buttons are 150 by 48 unless a screen says otherwise.
    static constexpr int kWidth = 150;
    static constexpr int kHeight = 48;

    PictureButton(const QString& caption, ButtonPicture picture, QWidget* parent);

    void SetPicture(ButtonPicture picture);
    ButtonPicture Picture() const { return picture_; }

  private:
    ButtonPicture picture_;
};

}  // namespace kelvaro
