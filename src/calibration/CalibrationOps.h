// The calibration screen's work without its widgets: the live reading of the ticked plates,
// and per plate the zeroing, the tare, the two-point calibration and the index entry, with
// the plate preparation and averaged sampling run they share. Talks to the operator through
// Dialogs, to the progress window through ProgressView and to its screen through
// CalibrationView.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "calibration/CalibrationSettings.h"
#include "calibration/CalibrationView.h"
#include "device/PendingExchange.h"
#include "device/PlateBringUp.h"
#include "device/PortHolders.h"
#include "device/SerialChannel.h"
#include "station/Dialogs.h"
#include "station/ProgressView.h"
#include "station/StationState.h"

namespace kelvaro {

// The value a read that failed stands for; any reading at or above it ends a measurement.
inline constexpr RawReading kFailedReading = 16000000;
// What the load field shows when there is no load to show: the reading failed, or the
// calibration index cannot convert it.
inline constexpr const char* kNoLoad = "---";
// The highest sampling rate a plate offers, and so the most readings one averaged run takes.
inline constexpr int kHighestRate = 600;
// An averaged run of n readings fails when the plate has not delivered them within n times
// this: a plate that slow cannot be sampled at the rate it was configured for.
inline constexpr int kReadingAllowanceMs = 50;
// How long one step of an averaged run may keep the window system waiting.
inline constexpr int kSamplingSliceMs = 50;
// How often the live reading looks for the plates' replies.
inline constexpr int kReadingPollMs = 10;

// The load field takes Backspace, the comma and digits; every other typed character is
// dropped (there is no decimal point and no minus sign to type).
inline bool LoadFieldAccepts(char32_t typed) {
    return typed == 8 || typed == U',' || (typed >= U'0' && typed <= U'9');
}

// The Tare button's caption: what pressing it does.
inline const char* TareButtonCaption(bool tareApplied) {
    return tareApplied ? "Remover Tara" : "Tara";
}

// The six texts an operation gives its averaged sampling run.
struct SamplingTexts {
    std::string prompt, promptTitle;
    std::string failure, failureTitle;
    std::string cancelled, cancelledTitle;
};

class CalibrationOps {
  public:
    // `firstActivation` outlives the screen's visits: only the first activation of the run
    // opens the ticked plates' channels (Activate clears it); later visits leave that to the
    // reading tick.
    CalibrationOps(StationState& state, Dialogs& dialogs, ProgressView& progress,
                   CalibrationView& view, bool& firstActivation);
    // A preparation under way ends without a word, and the reading timer stays as it is.
    ~CalibrationOps();
    CalibrationOps(const CalibrationOps&) = delete;
    CalibrationOps& operator=(const CalibrationOps&) = delete;

    // Opening: reads the screen's settings (testFrequency is reloaded), keeps the ports,
    // calibration values and tares applied, and returns everything the controls show.
    CalibrationScreenSettings Open();
    // First activation of the run only: opens the channels of the ticked plates once a look for
    // other programs holding their ports (on a thread, polled by ContinueReading) has ended.
    void Activate(const std::array<bool, kPlateCount>& ticked);
    // One reading tick over the ticked plates: every plate is asked at once, and each one's
    // fields show its answer when it comes (ContinueReading) or the failure at its time-out.
    // A tick that finds a plate still answering the last one does nothing.
    void ReadingTick(const std::array<bool, kPlateCount>& ticked);
    // Goes on with the reading of the last tick once the wait it scheduled is over.
    void ContinueReading();
    // Closing: stores the plates' check boxes, loads and units, then closes all four channels.
    void Close(const std::array<PlateClosingState, kPlateCount>& plates);

    // The operations prepare their plate in timer steps (ContinuePreparation) and go on once it
    // is ready; a click while one is under way starts nothing.
    void ZeroPlate(int plate);
    void ToggleTare(int plate);
    void Calibrate(int plate);
    void EditIndex(int plate);
    // The preparation's next step, when the timer asked for by SchedulePreparationStep fires.
    void ContinuePreparation();
    bool Preparing() const { return preparation_ != nullptr; }

    const PlateCalibration& Values(int plate) const { return values_.at(Index(plate)); }
    const std::string& Port(int plate) const { return ports_.at(Index(plate)); }

    // Where the look for other programs holding the plates' ports walks (/proc, or a fake
    // tree), and what runs on the looking thread first (tests record the thread and hold it).
    void SetHolderLook(std::string procRoot, std::function<void()> beforeLook);

  private:
    static std::size_t Index(int plate) { return static_cast<std::size_t>(plate - 1); }
    PlateCalibration& ValuesOf(int plate) { return values_.at(Index(plate)); }

    // Prepares the plate's channel for the live reading and asks it; false when the tick has
    // already failed for the plate.
    bool AskReading(int plate);
    // Looks for other programs holding the plates' ports on a thread of its own; the ports are
    // opened once it has ended (TakeLook). `tell`: a port that cannot be opened is told.
    void LookAside(const std::array<bool, kPlateCount>& plates, bool tell);
    // Opens the looked-at plates' ports once the look has ended; nothing before.
    void TakeLook();
    void ShowReading(int plate, std::optional<RawReading> raw);
    // The live reading's exchanges are dropped: an operation is about to use the channels.
    void CancelReading();
    bool FrequencyUsable(const std::string& title);
    // Brings the plate on line for an operation in `mode` and calls `then` once it is ready;
    // a failure is told and ends the operation. `pause` (the live reading's) is let go after.
    void PreparePlate(int plate, std::uint8_t mode, std::shared_ptr<void> pause,
                      std::function<void()> then);
    void CalibrateWith(int plate, const std::string& title, const std::string& loadText,
                       double load);
    std::optional<double> AveragedSampling(int plate, const SamplingTexts& texts);
    // Opens the store, lets `write` fill it, closes it; a failed save is reported.
    void Store(const std::function<void(StationSettings&)>& write);
    std::string Format3(double value) const;
    void Message(const std::string& text, const std::string& title, DialogIcon icon);

    StationState& state_;
    Dialogs& dialogs_;
    ProgressView& progress_;
    CalibrationView& view_;
    bool& firstActivation_;
    std::array<PlateCalibration, kPlateCount> values_{};
    std::array<bool, kPlateCount> tareApplied_{};
    std::array<std::string, kPlateCount> ports_{};
    // The live reading of each plate still waiting for its reply.
    std::array<std::optional<PendingExchange>, kPlateCount> reading_;
    struct Preparation {
        int plate;
        std::uint8_t mode;
        std::unique_ptr<PlateBringUp> bringUp;
        std::function<void()> then;
        std::shared_ptr<void> pause;
    };
    std::unique_ptr<Preparation> preparation_;
    std::unique_ptr<PortHolderLook> look_;
    std::array<bool, kPlateCount> lookingFor_{};  // the plates whose port the look is for
    bool lookTells_ = false;
    std::string procRoot_ = "/proc";
    std::function<void()> beforeLook_;
    bool closing_ = false;
};

}  // namespace kelvaro
