// What the calibration operations need of their screen: the reading timer, the texts of a
// plate panel's fields and buttons, and the live-reading display. The screen implements it;
// tests fake it.
#pragma once

#include <string>

namespace kelvaro {

// One refresh of a plate panel, every text already formatted.
struct ReadingDisplay {
    std::string reading;  // raw reading, "0"
    std::string tare;     // "0.000"
    std::string index;    // calibration index, "0.000"
    std::string load;     // converted load, "0.000"
    bool failed = false;  // the reading is the failure value: shown in red
};

class CalibrationView {
  public:
    virtual ~CalibrationView() = default;

    virtual void StopReadingTimer() = 0;
    virtual void StartReadingTimer() = 0;
    // Asks for CalibrationOps::ContinueReading to be called once, `milliseconds` from now.
    virtual void ScheduleReadingStep(int milliseconds) = 0;
    // Asks for CalibrationOps::ContinuePreparation to be called once, `milliseconds` from now.
    virtual void SchedulePreparationStep(int milliseconds) = 0;

    // Plate numbers are 1..4.
    virtual std::string LoadText(int plate) const = 0;  // the known load as typed
    virtual std::string UnitText(int plate) const = 0;
    virtual std::string IndexText(int plate) const = 0;
    virtual void SetIndexText(int plate, const std::string& text) = 0;
    virtual void SetTareText(int plate, const std::string& text) = 0;
    virtual void SetTareCaption(int plate, const std::string& caption) = 0;
    virtual void FocusLoadField(int plate) = 0;
    virtual void ShowReading(int plate, const ReadingDisplay& display) = 0;
};

}  // namespace kelvaro
