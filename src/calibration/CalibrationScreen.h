// The calibration screen: four plate panels with the live reading of every ticked plate and
// the buttons for zeroing, tare, two-point calibration and typing a calibration index.
#pragma once

#include <array>

#include "calibration/CalibrationOps.h"
#include "ui/SecondaryScreen.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace kelvaro {

class ButtonBar;
class LoweredPanel;
class PictureButton;

class CalibrationScreen : public SecondaryScreen, private CalibrationView {
  public:
    // The controls of one plate panel (names as on the screen, without the plate number).
    struct PlatePanel {
        QFrame* plateFrame = nullptr;
        QCheckBox* activeBox = nullptr;
        QLabel* portLabel = nullptr;
        QLineEdit* readingField = nullptr;
        QLineEdit* loadField = nullptr;
        QLineEdit* unitField = nullptr;
        QLineEdit* tareField = nullptr;
        QLineEdit* indexField = nullptr;
        QLineEdit* convertedLoadField = nullptr;
        QPushButton* calibrateButton = nullptr;
        QPushButton* tareButton = nullptr;
        QPushButton* zeroButton = nullptr;
        QPushButton* editIndexButton = nullptr;
    };

    static constexpr int kPlatePanelWidth = 318;
    static constexpr int kPlatePanelHeight = 232;
    static constexpr int kPlateGap = 8;
    static constexpr int kReadingIntervalMs = 500;

    // A modal screen over `mainWindow`, which it hides while shown and shows again on close.
    // `firstActivation` is kept across visits by the screen's owner (see CalibrationOps).
    CalibrationScreen(StationState& state, Dialogs& dialogs, ProgressView& progress,
                      bool& firstActivation, QWidget* mainWindow, QWidget* parent = nullptr);
    ~CalibrationScreen() override;

    void OnShown() override;
    void OnActivated();
    void OnResized();
    void OnClosing() override;
    void OnReadingTick();
    void OnActiveClicked(int plate);
    void OnZeroClicked(int plate);
    void OnTareClicked(int plate);
    void OnCalibrateClicked(int plate);
    void OnEditIndexClicked(int plate);
    void OnBackClicked();

    const PlatePanel& Plate(int plate) const { return panels_.at(Index(plate)); }
    QTimer* ReadingTimer() const { return readingTimer_; }
    // A plate is being prepared for an operation (its steps run on a timer).
    bool Preparing() const { return ops_.Preparing(); }

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    static std::size_t Index(int plate) { return static_cast<std::size_t>(plate - 1); }

    // CalibrationView
    void StopReadingTimer() override;
    void StartReadingTimer() override;
    void SchedulePreparationStep(int milliseconds) override;
    void ScheduleReadingStep(int milliseconds) override;
    std::string LoadText(int plate) const override;
    std::string UnitText(int plate) const override;
    std::string IndexText(int plate) const override;
    void SetIndexText(int plate, const std::string& text) override;
    void SetTareText(int plate, const std::string& text) override;
    void SetTareCaption(int plate, const std::string& caption) override;
    void FocusLoadField(int plate) override;
    void ShowReading(int plate, const ReadingDisplay& display) override;

    void BuildPlatePanel(int plate);
    std::array<bool, kPlateCount> TickedPlates() const;

    StationState& state_;
    QWidget* mainWindow_;
    CalibrationOps ops_;

    LoweredPanel* centrePanel_ = nullptr;
    QFrame* plateGrid_ = nullptr;
    std::array<PlatePanel, kPlateCount> panels_{};
    ButtonBar* buttonBar_ = nullptr;
    PictureButton* backButton_ = nullptr;
    QTimer* readingTimer_ = nullptr;
    // Single shot: the live reading looks for the plates' replies when it fires.
    QTimer* replyTimer_ = nullptr;
    QTimer* preparationTimer_ = nullptr;
};

}  // namespace kelvaro
