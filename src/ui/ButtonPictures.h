// The pictures on the station's buttons, drawn in code: a 32 by 32 image in two states,
// coloured while the button can be pressed and greyed while it is disabled.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kelvaro {

enum class ButtonPicture {
    Play,           // start a test
    Stop,           // stop a running test
    Frequency,      // a wave: the sampling frequency
    Communication,  // a plug: finding the plates on the serial ports
    Calibration,    // a balance: calibrating the plates
    Exit,           // an open door: closing the program
    Back,           // an arrow to the left: back to the main window
    Edit,           // a pencil: typing a value
    Open,           // an open folder: looking at an earlier test again
    Save,           // a diskette: saving the test on the chart
};

inline constexpr int kButtonPictureSize = 32;

// One state of a picture, kButtonPictureSize square in device-independent pixels.
QPixmap DrawButtonPicture(ButtonPicture picture, bool enabled);
// Both states as an icon (Normal and Disabled modes).
QIcon ButtonIcon(ButtonPicture picture);

}  // namespace kelvaro
