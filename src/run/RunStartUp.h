// A run's plate start-up: each active plate in turn brought on line (Stop, a quiet line, purge,
// Identify, the model check, the frequency check, Configure) and, once the start question is
// answered, each one's stream started. It goes on in the view's timer steps, so the window keeps
// answering while a plate answers or times out, and ends in a typed failure the run puts in words.
#pragma once

#include <cstdint>
#include <memory>

#include "device/LinkError.h"
#include "device/PlateBringUp.h"
#include "run/TestRunView.h"
#include "station/StationState.h"

namespace kelvaro {

// The step a start-up failed at.
enum class StartUpStep { Connect, Identify, Model, Frequency, Configure, Start };

struct StartUpFailure {
    int plate = 0;
    StartUpStep step = StartUpStep::Connect;
    LinkStatus status;       // the link's last status when the plate itself failed
    std::uint8_t model = 0;  // with Model: the code the device answered
};

// DTR low, Stop and close for every active plate's channel.
void StopActivePlates(StationState& state);

class RunStartUp {
  public:
    enum class Outcome { Working, Done, Failed };

    // Both must outlive the start-up.
    RunStartUp(StationState& state, TestRunView& view);
    ~RunStartUp();
    RunStartUp(const RunStartUp&) = delete;
    RunStartUp& operator=(const RunStartUp&) = delete;

    // Begins with the first active plate: bringing the plates on line or, with `streams`,
    // starting their streams. Done at once when no plate is active.
    Outcome Begin(bool streams);
    // The next step, when the view's timer fires. Nothing (Working) when no start-up goes on.
    Outcome Step();
    // Forgets the plate being brought on line; its channel stays as it is.
    void Cancel();
    // The streams were being started (the start question was answered).
    bool Streams() const { return streams_; }
    const StartUpFailure& Failure() const { return failure_; }

  private:
    // Brings the next active plate on line (or starts its stream); Done after the last one.
    Outcome NextPlate();
    Outcome Fail(StartUpStep step, LinkStatus status = {});
    // After Identify: the model and frequency checks, then Configure.
    Outcome Identified();

    StationState& state_;
    TestRunView& view_;
    std::unique_ptr<PlateBringUp> bringUp_;  // the plate being brought on line
    int plate_ = 0;
    bool streams_ = false;
    StartUpFailure failure_;
};

}  // namespace kelvaro
