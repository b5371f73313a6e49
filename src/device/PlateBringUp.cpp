#include "device/PlateBringUp.h"

#include <array>
#include <utility>

#include "device/ChannelSlot.h"
#include "device/Link.h"
#include "device/PlateCommands.h"

namespace kelvaro {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReceiveQueue = 4096;
// How often a step looks again while a look, a quiet line or a reply is awaited: short against
// the 50 ms a quiet line takes and the millisecond a reply takes on the wire.
constexpr int kLookStepMs = 5;
constexpr int kQuietStepMs = 5;
constexpr int kReplyStepMs = 1;

}  // namespace

PlateBringUp::PlateBringUp(ChannelSlot& slot, std::string port, Options options)
    : slot_(slot), port_(std::move(port)), options_(std::move(options)) {}

PlateBringUp::~PlateBringUp() = default;

PlateBringUp::Event PlateBringUp::Fail(Stage stage) {
    exchange_.reset();
    look_.reset();
    failedStage_ = stage;
    failedStatus_ = slot_ ? slot_->LastStatus() : LinkStatus{LinkError::NotConnected};
    phase_ = Phase::Failed;
    return Event::Failed;
}

PlateBringUp::Event PlateBringUp::BeginIdentify() {
    stage_ = Stage::Identify;
    exchange_.emplace(*slot_, kIdentify);
    phase_ = Phase::Exchanging;
    return Event::Working;
}

PlateBringUp::Event PlateBringUp::Step() {
    switch (phase_) {
        case Phase::Begin:
            stage_ = Stage::Connect;
            if (options_.keepOpenChannel && slot_) {
                phase_ = Phase::Reset;
                return Step();
            }
            // The look walks every descriptor on the machine: it runs on the watch's thread
            // while the window goes on, and ends before anything touches the port.
            look_ = std::make_unique<PortHolderWatch>(std::chrono::hours(1), options_.procRoot);
            look_->Start({SerialChannel::DevicePath(port_)}, true);
            phase_ = Phase::Looking;
            return Event::Working;
        case Phase::Looking: {
            if (!look_->Answered(1)) {
                return Event::Working;
            }
            const auto holder = look_->Poll();
            look_.reset();
            if (holder) {
                return Fail(Stage::Connect);
            }
            phase_ = Phase::Open;
            return Step();
        }
        case Phase::Open:
            if (!OpenPlateChannel(slot_, port_, kReceiveQueue, SerialOs::System(),
                                  HolderLook::DoneBefore)) {
                return Fail(Stage::Connect);
            }
            phase_ = Phase::Reset;
            return Event::Opened;
        case Phase::Reset: {
            stage_ = Stage::Identify;
            if (!slot_ || !slot_->IsConnected()) {
                return Fail(Stage::Identify);
            }
            SerialChannel& channel = *slot_;
            channel.SetDTR(false);
            if (options_.stopFirst) {
                SendStop(channel);
                quietSince_ = Clock::now();
                quietGiveUp_ = quietSince_ + std::chrono::milliseconds(kReplyTimeoutMs);
                phase_ = Phase::Quieting;
                return Event::Working;
            }
            if (!channel.LastStatus()) {
                return Fail(Stage::Identify);
            }
            channel.Purge();
            if (!channel.LastStatus()) {
                return Fail(Stage::Identify);
            }
            channel.SetDTR(true);
            if (!channel.LastStatus()) {
                return Fail(Stage::Identify);
            }
            return BeginIdentify();
        }
        case Phase::Quieting: {
            // A plate sent Stop may still have a report on its way; one still sending a second
            // later does not listen, and its babble would stand where the reply is read.
            SerialChannel& channel = *slot_;
            std::array<std::uint8_t, 256> discarded{};
            const std::size_t n = channel.ReadBytes(discarded.data(), discarded.size(), 0);
            const LinkError error = channel.LastStatus().error;
            const auto now = Clock::now();
            std::optional<bool> quiet;
            if (n > 0 || error == LinkError::LineFault) {
                quietSince_ = now;
            } else if (error != LinkError::Timeout && error != LinkError::None) {
                quiet = false;  // the port failed
            } else if (now - quietSince_ >= std::chrono::milliseconds(kStopSettleMs)) {
                quiet = true;
            }
            if (!quiet && now >= quietGiveUp_) {
                quiet = false;
            }
            if (!quiet) {
                return Event::Working;
            }
            PurgeChannel(slot_);
            channel.SetDTR(true);
            return *quiet ? BeginIdentify() : Fail(Stage::Identify);
        }
        case Phase::Exchanging: {
            const PendingExchange::State state = exchange_->Poll();
            if (state == PendingExchange::State::Waiting) {
                return Event::Working;
            }
            if (state == PendingExchange::State::Failed) {
                return Fail(stage_);
            }
            phase_ = Phase::Paused;
            switch (stage_) {
                case Stage::Identify:
                    model_ = exchange_->Reply().Data(0);
                    exchange_.reset();
                    return Event::Identified;
                case Stage::Configure:
                    exchange_.reset();
                    return Event::Configured;
                case Stage::Start:
                case Stage::Connect:
                    break;
            }
            exchange_.reset();
            return Event::Streaming;
        }
        case Phase::Paused:
            return Event::Working;
        case Phase::Failed:
            return Event::Failed;
    }
    return Event::Failed;
}

void PlateBringUp::Configure(std::int32_t frequency, std::uint8_t mode) {
    stage_ = Stage::Configure;
    if (options_.purgeBeforeConfigure) {
        PurgeChannel(slot_);
    }
    if (!slot_) {
        Fail(Stage::Configure);
        return;
    }
    constexpr std::size_t kConfigureSize = 13;
    const DeviceFrame request = BuildConfigure(frequency, mode);
    exchange_.emplace(*slot_, std::span<const std::uint8_t>(request.bytes.data(), kConfigureSize),
                      kAckReplySize, kFnConfigure);
    phase_ = Phase::Exchanging;
}

void PlateBringUp::StartStream() {
    stage_ = Stage::Start;
    if (!slot_) {
        Fail(Stage::Start);
        return;
    }
    PurgeChannel(slot_);
    slot_->SetDTR(true);
    exchange_.emplace(*slot_, kStartStream);
    phase_ = Phase::Exchanging;
}

int PlateBringUp::NextStepMs() const {
    switch (phase_) {
        case Phase::Looking:
            return kLookStepMs;
        case Phase::Quieting:
            return kQuietStepMs;
        case Phase::Exchanging:
            return kReplyStepMs;
        default:
            return 0;
    }
}

}  // namespace kelvaro
