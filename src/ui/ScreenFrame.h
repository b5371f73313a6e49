// The frame the secondary screens are built in: a dialog in the station background with the
// title band on top, the lowered centre panel filling the middle and the bottom band whose bar
// holds "Voltar" at its right. Each screen fills the centre and places Voltar itself.
#pragma once

#include <QSize>
#include <QString>
#include <Qt>

class QDialog;
class QObject;
class QVBoxLayout;

namespace kelvaro {

class BottomBand;
class ButtonBar;
class LoweredPanel;
class PictureButton;
class TitleBand;

// The window flags of a secondary screen: a dialog with a title, a system menu and a close box.
inline constexpr Qt::WindowFlags kScreenWindowFlags =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

struct ScreenFrameOptions {
    QString title;
    QSize clientSize;
    bool modal = true;
    // A fixed size (no size grip) instead of an initial size the operator may change.
    bool fixedSize = false;
    // The title label's object name. With it the frame's widgets are named too ("pnTopo",
    // "pnCenter", "pnBottom", the bar's `barName` and "btVoltar"); without it none is named.
    const char* titleLabelName = nullptr;
    const char* barName = nullptr;
};

class ScreenFrame {
  public:
    // Dresses `screen` (modality, font, background, size), lays it out top to bottom and adds
    // the title band and the centre panel. `eventFilter` watches the centre and, once added,
    // the bar.
    ScreenFrame(QDialog& screen, const ScreenFrameOptions& options, QObject* eventFilter);

    // Adds the bottom band with Voltar. Called once the centre's children exist, so that they
    // come before Voltar in the tab order.
    void AddBottomBand();

    TitleBand* Top() const { return top_; }
    LoweredPanel* Centre() const { return centre_; }
    BottomBand* Bottom() const { return bottom_; }
    ButtonBar* Bar() const { return bar_; }
    PictureButton* Back() const { return back_; }

  private:
    QDialog& screen_;
    ScreenFrameOptions options_;
    QObject* eventFilter_;
    QVBoxLayout* layout_ = nullptr;
    TitleBand* top_ = nullptr;
    LoweredPanel* centre_ = nullptr;
    BottomBand* bottom_ = nullptr;
    ButtonBar* bar_ = nullptr;
    PictureButton* back_ = nullptr;
};

}  // namespace kelvaro
