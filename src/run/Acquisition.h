// The acquisition pass of a run: one report from every active plate, waited for together, and
// the rules that call a plate lost or its port taken by another program. It knows no view,
// dialog or journal: the run hands each pass's result on.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>

#include "device/PortHolders.h"
#include "plate/Plate.h"
#include "station/StationState.h"

namespace kelvaro {

// Why a run ends.
enum class StopReason {
    Operator,    // " Parar", the close box, or Cancel at the start question
    EscapeHeld,  // the operator's other way to stop
    StoreFull,   // kMaxSamples samples taken
    PlateLost,   // unplugged, silent, or sending nothing but garbage
    PortTaken,   // another program opened an active plate's port
};

// What one pass gives. Each plate's health is its link in PlateLinks: Lost and Taken are the
// plates this pass lost.
struct PassResult {
    // Every reading starts missing: a plate that delivers no valid report for this sample
    // (silent, lost, or a damaged report) leaves it so, never as a load. An idle plate's
    // column holds zeros.
    RawRecord readings{};
    // PlateLost or PortTaken; nothing while the run may go on.
    std::optional<StopReason> stop;
    // With PortTaken: the program, its `port` the plate's index.
    std::optional<PortHolder> holder;
};

class Acquisition {
  public:
    // Both must outlive the acquisition; the active plates and their ports are read at Begin.
    Acquisition(PlateLinks& links, const StationConfig& config);

    // Every active plate streams: the silence clocks and the holder watch begin.
    void Begin();
    // The pass itself. The result stays valid until the next Poll.
    const PassResult& Poll();
    // The holder watch ends.
    void End();

  private:
    using Clock = std::chrono::steady_clock;
    // What the pass remembers of each plate's stream from one pass to the next.
    struct StreamWatch {
        Clock::time_point lastReport;  // the last valid report, or the start of the run
        std::size_t garbage = 0;       // bytes discarded since then
    };
    // Waits for and takes the reports of this pass; gives the moment the waiting began.
    Clock::time_point TakeReports();
    // The loss rules at the end of the pass; true when a plate was lost.
    bool ApplyLossRules(Clock::time_point end);
    // Once a second, and at once when a plate was lost: has another program opened an active
    // plate's port? Such a plate counts as lost, and the stop names the plate and the program.
    bool PortTakenByAnotherProgram(bool plateLost);
    // Bytes a plate sent stand unread in its port: a station starved of the processor must
    // read them before it may call the plate silent.
    bool BytesWaiting(std::size_t plate);
    // Time the station was not listening, the part of `from`..`to` beyond what it may take
    // (`expected`), moves the plates' silence clocks on.
    void CreditTimeAway(Clock::time_point from, Clock::time_point to, Clock::duration expected);

    PlateLinks& links_;
    const StationConfig& config_;
    PassResult result_;
    std::array<StreamWatch, kPlateCount> watch_{};
    PortHolderWatch holderWatch_;
    std::size_t lossLook_ = 0;  // the look asked for when a plate was lost
    Clock::time_point lossSeen_;
    Clock::time_point lastPassEnd_;  // when the last pass ended
};

}  // namespace kelvaro
