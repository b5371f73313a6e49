// The communication screen: the operator ticks the plates in use and watches the station find
// them on the serial ports; the ports found are remembered for the test and calibration.
#pragma once

#include <array>

#include "discovery/PlateFinder.h"
#include "ui/SecondaryScreen.h"

class QCheckBox;
class QFrame;
class QLabel;
class QListWidget;
class QTimer;

namespace kelvaro {

class ButtonBar;
class LoweredPanel;
class PictureButton;

class CommunicationScreen : public SecondaryScreen, private PlateFinderView {
  public:
    // A modal screen over `mainWindow`, which it hides while shown and shows again on close.
    CommunicationScreen(StationState& state, Dialogs& dialogs, QWidget* mainWindow,
                        QWidget* parent = nullptr);
    ~CommunicationScreen() override;

    void OnShown() override;
    void OnResized();
    void OnClosing() override;
    void OnScanTick();
    void OnBackClicked();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // PlateFinderView
    void ShowSearchStatusNow(const std::string& text) override;
    void ShowHint(const std::string& text) override;
    void ShowPlateStatus(int plate, const std::string& text) override;
    bool PlateTicked(int plate) const override;
    void ShowPorts(const std::vector<std::string>& ports) override;
    void SetRefreshInterval(int milliseconds) override;
    void ScheduleStep(int milliseconds) override;

    void BuildCommunicationPanel();

    StationState& state_;
    Dialogs& dialogs_;
    QWidget* mainWindow_;
    PlateFinder finder_;

    LoweredPanel* centrePanel_ = nullptr;
    QFrame* communicationPanel_ = nullptr;
    QLabel* searchStatusLabel_ = nullptr;
    QLabel* hintLabel_ = nullptr;
    std::array<QCheckBox*, kPlateCount> activeBox_{};
    std::array<QLabel*, kPlateCount> plateStatusLabels_{};
    QListWidget* portListBox_ = nullptr;
    ButtonBar* buttonBar_ = nullptr;
    PictureButton* backButton_ = nullptr;
    QTimer* scanTimer_ = nullptr;
    // Single shot: the finder's pass goes on when its wait is over.
    QTimer* stepTimer_ = nullptr;
};

}  // namespace kelvaro
