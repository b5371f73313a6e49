// One plate brought on line in steps that never wait: the look for other programs on its port
// (on a thread), the open, Stop and a quiet line (or a line reset), Identify, Configure and
// StartStream. A run's start-up and the calibration screen drive it from a timer and put their
// own words on each stage, so their windows keep answering while a silent plate times out.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "device/LinkError.h"
#include "device/PendingExchange.h"
#include "device/PortHolders.h"
#include "device/SerialChannel.h"

namespace kelvaro {

class PlateBringUp {
  public:
    struct Options {
        // A plate the station lost while it streamed streams on: it is sent Stop and the line
        // must go quiet before the Identify. Without it the line is only reset (DTR low,
        // purge, DTR high).
        bool stopFirst = true;
        // A channel already connected in the slot is used as it is, not opened again.
        bool keepOpenChannel = false;
        // The receive buffer is emptied between the Identify and the Configure.
        bool purgeBeforeConfigure = false;
        std::string procRoot = "/proc";
    };
    // What a step reached. Opened, Identified and Configured wait for the caller (its status
    // text, its checks) before the next stage goes on.
    enum class Event { Working, Opened, Identified, Configured, Streaming, Failed };
    // The stage a failure ended.
    enum class Stage { Connect, Identify, Configure, Start };

    // The slot must outlive the bring-up; nothing happens before the first Step.
    PlateBringUp(ChannelSlot& slot, std::string port, Options options);
    ~PlateBringUp();
    PlateBringUp(const PlateBringUp&) = delete;
    PlateBringUp& operator=(const PlateBringUp&) = delete;

    // Does what can be done now; never waits for the plate.
    Event Step();
    // After Identified: sends Configure.
    void Configure(std::int32_t frequency, std::uint8_t mode);
    // On a connected plate (after Configured, or later): purge, DTR high, StartStream.
    void StartStream();
    // How soon the next Step has something to do, in milliseconds.
    int NextStepMs() const;

    std::uint8_t Model() const { return model_; }
    Stage FailedStage() const { return failedStage_; }
    // The channel's last status when the stage failed (NotConnected without a channel).
    LinkStatus FailedStatus() const { return failedStatus_; }

  private:
    enum class Phase { Begin, Looking, Open, Reset, Quieting, Exchanging, Paused, Failed };
    Event Fail(Stage stage);
    Event BeginIdentify();

    ChannelSlot& slot_;
    std::string port_;
    Options options_;
    Phase phase_ = Phase::Begin;
    Stage stage_ = Stage::Connect;
    Stage failedStage_ = Stage::Connect;
    LinkStatus failedStatus_;
    std::unique_ptr<PortHolderWatch> look_;
    std::optional<PendingExchange> exchange_;
    std::chrono::steady_clock::time_point quietSince_;
    std::chrono::steady_clock::time_point quietGiveUp_;
    std::uint8_t model_ = 0;
};

}  // namespace kelvaro
