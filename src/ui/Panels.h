// The panels every screen is built from: the top band with its title, the button bars, the
// bottom band and the lowered centre panel. Children of the bars are placed by their screen.
#pragma once

#include <QFrame>

class QLabel;

namespace kelvaro {

inline constexpr int kBandHeight = 80;
inline constexpr int kPanelMargin = 8;

// A band 80 high in the window colour with a white title label filling it inside an 8 px
// margin: the text centred both ways, "Verdana" bold 27 px, navy.
class TitleBand : public QFrame {
  public:
    TitleBand(const QString& title, QWidget* parent);
    QLabel* Title() const { return title_; }

  private:
    QLabel* title_;
};

// A bar in the band colour whose children (buttons) are placed by absolute position.
class ButtonBar : public QFrame {
  public:
    explicit ButtonBar(QWidget* parent);
};

// A band 80 high in the window colour, holding a ButtonBar that fills it inside an 8 px margin.
class BottomBand : public QFrame {
  public:
    explicit BottomBand(QWidget* parent);
    ButtonBar* Bar() const { return bar_; }

  private:
    ButtonBar* bar_;
};

// A panel in the window colour with a lowered one-pixel bevel. Its screen decides whether its
// children are laid out (inside an 8 px margin) or placed by position.
class LoweredPanel : public QFrame {
  public:
    explicit LoweredPanel(QWidget* parent);
};

// A white label with navy "Verdana" bold text, the look of titles and status lines.
QLabel* CreateNavyLabel(const QString& text, int pixelSize, Qt::Alignment alignment,
                        QWidget* parent);

}  // namespace kelvaro
