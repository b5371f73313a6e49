// The communication screen: the operator ticks the plates in use and watches the station find
// them on the serial ports; the ports found are remembered for the test and calibration.
#pragma once

#include <array>

#include "screens/PlateFinder.h"
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

class TfrmConfCOM : public SecondaryScreen, private PlateFinderView {
  public:
    // A modal screen over `mainWindow`, which it hides while shown and shows again on close.
    TfrmConfCOM(StationState& state, Dialogs& dialogs, QWidget* mainWindow,
                QWidget* parent = nullptr);
    ~TfrmConfCOM() override;

    void FormShow() override;
    void FormResize();
    void FormClose() override;
    void tmComunicacaoTimer();
    void btVoltarClick();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // PlateFinderView
    std::string Status1() const override;
    void ShowStatus1Now(const std::string& text) override;
    void ShowStatus2(const std::string& text) override;
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

    LoweredPanel* pnCenter = nullptr;
    QFrame* pnComunicacao = nullptr;
    QLabel* lbStatus1 = nullptr;
    QLabel* lbStatus2 = nullptr;
    std::array<QCheckBox*, kPlateCount> cbAtiva{};
    std::array<QLabel*, kPlateCount> lbStatus{};
    QListWidget* lsbPortas = nullptr;
    ButtonBar* pnBarra = nullptr;
    PictureButton* btVoltar = nullptr;
    QTimer* tmComunicacao = nullptr;
    // Single shot: the finder's pass goes on when its wait is over.
    QTimer* tmPasso = nullptr;
};

}  // namespace kelvaro
