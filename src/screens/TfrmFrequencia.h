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

class TfrmFrequencia : public SecondaryScreen {
    Q_OBJECT
  public:
    static constexpr int kOptionCount = 7;

    // `mainWindow` is handed over to while the screen is open.
    TfrmFrequencia(StationState& state, Dialogs& dialogs, QWidget* mainWindow);
    ~TfrmFrequencia() override;

    // Event handlers.
    void FormShow() override;
    void cbF600Click(QRadioButton* clicked);  // the one handler of all seven options
    void FormResize();
    void btVoltarClick();
    void FormClose() override;

    std::uint16_t FrequenciaSelecionada() const { return frequenciaSelecionada_; }
    // Options in the order "050" .. "600".
    QRadioButton* Option(int index) const { return options_.at(static_cast<std::size_t>(index)); }

    TitleBand* pnTopo = nullptr;
    QLabel* lbComunicacao = nullptr;
    LoweredPanel* pnCenter = nullptr;
    QFrame* pnFrequencia = nullptr;
    QRadioButton* cbF050 = nullptr;
    QRadioButton* cbF100 = nullptr;
    QRadioButton* cbF150 = nullptr;
    QRadioButton* cbF200 = nullptr;
    QRadioButton* cbF300 = nullptr;
    QRadioButton* cbF400 = nullptr;
    QRadioButton* cbF600 = nullptr;
    BottomBand* pnBottom = nullptr;
    QFrame* pnBarra1 = nullptr;
    PictureButton* btVoltar = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    StationState& state_;
    Dialogs& dialogs_;
    QWidget* mainWindow_;
    std::array<QRadioButton*, kOptionCount> options_{};
    std::uint16_t frequenciaSelecionada_ = 50;
};

}  // namespace kelvaro
