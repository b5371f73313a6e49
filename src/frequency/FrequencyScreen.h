// The frequency screen: the operator picks one of the seven sampling frequencies; the choice
// is stored when the screen closes and read by the test start and the calibration screen.
#pragma once

#include <array>
#include <cstdint>

#include "station/Dialogs.h"
#include "station/StationState.h"
#include "ui/SecondaryScreen.h"

class QFrame;
class QLabel;
class QRadioButton;

namespace kelvaro {

class BottomBand;
class LoweredPanel;
class PictureButton;
class TitleBand;

class FrequencyScreen : public SecondaryScreen {
    Q_OBJECT
  public:
    static constexpr int kOptionCount = 7;

    // `mainWindow` is handed over to while the screen is open.
    FrequencyScreen(StationState& state, Dialogs& dialogs, QWidget* mainWindow);
    ~FrequencyScreen() override;

    // Event handlers.
    void OnShown() override;
    void OnOptionClicked(QRadioButton* clicked);  // the one handler of all seven options
    void OnResized();
    void OnBackClicked();
    void OnClosing() override;

    std::uint16_t SelectedFrequency() const { return selectedFrequency_; }
    // Options in the order "050" .. "600".
    QRadioButton* Option(int index) const { return options_.at(static_cast<std::size_t>(index)); }

    TitleBand* topPanel = nullptr;
    QLabel* titleLabel = nullptr;
    LoweredPanel* centrePanel = nullptr;
    QFrame* frequencyPanel = nullptr;
    QRadioButton* option50 = nullptr;
    QRadioButton* option100 = nullptr;
    QRadioButton* option150 = nullptr;
    QRadioButton* option200 = nullptr;
    QRadioButton* option300 = nullptr;
    QRadioButton* option400 = nullptr;
    QRadioButton* option600 = nullptr;
    BottomBand* bottomBand = nullptr;
    QFrame* bottomBar = nullptr;
    PictureButton* backButton = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    StationState& state_;
    Dialogs& dialogs_;
    QWidget* mainWindow_;
    std::array<QRadioButton*, kOptionCount> options_{};
    std::uint16_t selectedFrequency_ = 50;
};

}  // namespace kelvaro
