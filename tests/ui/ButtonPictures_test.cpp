#include <gtest/gtest.h>

#include <QImage>

#include "ui/ButtonPictures.h"

namespace kelvaro {

void PrintTo(ButtonPicture picture, std::ostream* out) {
    static constexpr const char* kNames[] = {"Play",        "Stop", "Frequency", "Communication",
                                             "Calibration", "Exit", "Back",      "Edit",
                                             "Open",        "Save"};
    *out << kNames[static_cast<int>(picture)];
}

namespace {

struct Ink {
    int painted = 0;
    int coloured = 0;  // pixels whose red, green and blue differ
};

Ink Inspect(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    Ink ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 128) {
                continue;
            }
            ++ink.painted;
            if (c.red() != c.green() || c.green() != c.blue()) {
                ++ink.coloured;
            }
        }
    }
    return ink;
}

class ButtonPictureTest : public ::testing::TestWithParam<ButtonPicture> {};

TEST_P(ButtonPictureTest, IsA32PixelPictureWithAColouredAndAGreyState) {
    const QPixmap enabled = DrawButtonPicture(GetParam(), true);
    const QPixmap disabled = DrawButtonPicture(GetParam(), false);

    EXPECT_EQ(enabled.deviceIndependentSize().toSize(), QSize(32, 32));
    EXPECT_EQ(disabled.deviceIndependentSize().toSize(), QSize(32, 32));
    const Ink normal = Inspect(enabled);
    const Ink greyed = Inspect(disabled);
    // Something recognisable is drawn, not a speck.
    EXPECT_GT(normal.painted, enabled.width() * enabled.height() / 20);
    EXPECT_GT(normal.coloured, 0);
    EXPECT_GT(greyed.painted, 0);
    EXPECT_EQ(greyed.coloured, 0);
}

INSTANTIATE_TEST_SUITE_P(All, ButtonPictureTest,
                         ::testing::Values(ButtonPicture::Play, ButtonPicture::Stop,
                                           ButtonPicture::Frequency, ButtonPicture::Communication,
                                           ButtonPicture::Calibration, ButtonPicture::Exit,
                                           ButtonPicture::Back, ButtonPicture::Edit,
                                           ButtonPicture::Open, ButtonPicture::Save));

TEST(ButtonIconTest, CarriesBothStates) {
    const QIcon icon = ButtonIcon(ButtonPicture::Play);
    const QImage normal = icon.pixmap(QSize(32, 32), QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(32, 32), QIcon::Disabled).toImage();
    EXPECT_NE(normal, disabled);
    EXPECT_EQ(Inspect(icon.pixmap(QSize(32, 32), QIcon::Disabled)).coloured, 0);
}

}  // namespace
}  // namespace kelvaro
