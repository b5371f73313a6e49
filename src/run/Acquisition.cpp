#include "run/Acquisition.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "device/ChannelSlot.h"
#include "device/Frame.h"
#include "device/Link.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {

namespace {

// A plate's next report is waited for this long after its last valid one: several frames at
// the slowest rate, and the burst delay of a USB adapter. A plate quiet for longer no longer
// holds up the others.
constexpr auto kReportWait = std::chrono::milliseconds(kStreamTimeoutMs);
// A plate without a valid report for this long, or that sent this many reports' worth of bytes
// without one, is lost as an unplugged one is.
constexpr auto kSilenceLimit = 2 * kReportWait;
constexpr std::size_t kGarbageLimit = 6 * kSampleReplySize;
// A pass or the turn between two passes this much longer than it can take means the station was
// away (starved of the processor); that time counts as no plate's silence.
constexpr auto kAwayAllowance = std::chrono::milliseconds(50);
// How long the stop after a lost plate waits for the look for a program on its port: a look
// takes a few milliseconds on an ordinary machine. A slower one (a hundred thousand descriptors
// open, or a machine kept busy) leaves the plate named as silent rather than delay the stop.
constexpr auto kHolderAnswerWait = std::chrono::milliseconds(100);

int Plate(std::size_t index) {
    return static_cast<int>(index) + 1;
}

}  // namespace

Acquisition::Acquisition(PlateLinks& links, const StationConfig& config)
    : links_(links), config_(config) {}

void Acquisition::Begin() {
    const auto now = Clock::now();
    for (StreamWatch& watch : watch_) {
        watch = StreamWatch{now, 0};
    }
    std::vector<std::string> watched(kPlateCount);
    for (std::size_t i = 0; i < watched.size(); ++i) {
        if (config_.plateActive[i]) {
            watched[i] = SerialChannel::DevicePath(config_.platePort[i]);
        }
    }
    holderWatch_.Start(std::move(watched));
    lossLook_ = 0;
    lastPassEnd_ = now;
}

void Acquisition::End() {
    holderWatch_.Stop();
}

const PassResult& Acquisition::Poll() {
    result_.readings.fill(kMissingReading);
    result_.stop.reset();
    result_.holder.reset();
    const auto passStart = TakeReports();

    const auto end = Clock::now();
    CreditTimeAway(passStart, end, kReportWait);
    lastPassEnd_ = end;
    bool plateLost = ApplyLossRules(end);
    const bool portTaken = PortTakenByAnotherProgram(plateLost);
    if (plateLost && !portTaken && !holderWatch_.Answered(lossLook_) &&
        end - lossSeen_ < kHolderAnswerWait) {
        plateLost = false;  // the others go on until the look asked for at the loss answers
    }
    if (portTaken) {
        result_.stop = StopReason::PortTaken;
    } else if (plateLost) {
        result_.stop = StopReason::PlateLost;
    }
    return result_;
}

Acquisition::Clock::time_point Acquisition::TakeReports() {
    RawRecord& record = result_.readings;
    // The plates whose report this pass still needs; all of them are waited for together.
    std::array<SerialChannel*, kPlateCount> waiting{};
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        if (config_.plateActive[i]) {
            ChannelSlot& slot = links_.channels[i];
            if (SlotConnected(slot)) {
                links_.Streams(Plate(i));
                waiting[i] = slot.get();
            } else {
                links_.Lost(Plate(i));
            }
        } else {
            record[i] = 0;  // an idle plate's column holds zeros
        }
    }
    const auto passStart = Clock::now();
    CreditTimeAway(lastPassEnd_, passStart, {});
    bool delivered = false;  // some plate moved on in this pass
    for (;;) {
        const auto now = Clock::now();
        bool anyWaiting = false;
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            if (waiting[i] == nullptr) {
                continue;
            }
            SerialChannel& channel = *waiting[i];
            DeviceFrame frame;
            // A frame that fails validation is resynchronised on the next start byte, so a
            // lost or extra byte costs this sample only.
            const StreamTakeResult take = TakeStreamedReport(channel, frame, kSampleReplySize);
            switch (take.outcome) {
                case StreamTake::Report:
                    record[i] = DecodeReading(frame);
                    watch_[i] = StreamWatch{now, 0};
                    break;
                case StreamTake::Damaged:
                    watch_[i].garbage += take.discarded;
                    break;
                case StreamTake::Failed:
                    if (take.status.error == LinkError::Disconnected) {
                        // An unplugged adapter leaves the descriptor open but dead; releasing
                        // it makes the loss visible now.
                        channel.Release();
                        links_.Lost(Plate(i));
                    }
                    break;
                case StreamTake::Incomplete:
                    anyWaiting = true;
                    continue;
            }
            waiting[i] = nullptr;
            delivered = true;
        }
        if (!anyWaiting) {
            break;
        }
        // A plate that reported lately is waited for: its next report is on its way. One that
        // has been quiet longer is not, while the others move the run on, so it never slows
        // them; when none moves, the pass waits as long as a report may take, but no longer
        // than the moment a plate would be lost.
        auto until = passStart;
        auto lostAt = Clock::time_point::max();
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            if (waiting[i] != nullptr) {
                until = std::max(until, watch_[i].lastReport + kReportWait);
                lostAt = std::min(lostAt, watch_[i].lastReport + kSilenceLimit);
            }
        }
        if (until <= now && !delivered) {
            until = std::min(passStart + kReportWait, lostAt);
        }
        if (until <= now) {
            break;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        SerialChannel::WaitAnyReadable(waiting, static_cast<int>(wait.count()));
    }
    return passStart;
}

bool Acquisition::ApplyLossRules(Clock::time_point end) {
    bool plateLost = false;
    for (std::size_t i = 0; i < watch_.size(); ++i) {
        if (!config_.plateActive[i]) {
            continue;
        }
        if (links_.Links()[i] == PlateLink::Streaming &&
            (watch_[i].garbage > kGarbageLimit ||
             (end - watch_[i].lastReport >= kSilenceLimit && !BytesWaiting(i)))) {
            links_.Lost(Plate(i));
        }
        plateLost = plateLost || links_.Links()[i] == PlateLink::Lost;
    }
    if (plateLost) {
        // Plates that went quiet together cross the limit a few milliseconds apart; one that
        // no longer held the run up is as silent as the one that stopped it, and is named too.
        for (std::size_t i = 0; i < watch_.size(); ++i) {
            if (config_.plateActive[i] && links_.Links()[i] != PlateLink::Lost &&
                end - watch_[i].lastReport >= kReportWait) {
                links_.Lost(Plate(i));
            }
        }
    }
    return plateLost;
}

bool Acquisition::PortTakenByAnotherProgram(bool plateLost) {
    // A plate lost to a program reading its line is named as such, not as a silent plate: the
    // loss asks the watch for a look at once, and the stop waits for its answer a pass at a time.
    if (plateLost && lossLook_ == 0) {
        lossLook_ = holderWatch_.LookNow();
        lossSeen_ = Clock::now();
    }
    auto holder = holderWatch_.Poll();
    if (!holder) {
        return false;
    }
    links_.Taken(Plate(holder->port));
    result_.holder = std::move(holder);
    return true;
}

void Acquisition::CreditTimeAway(Clock::time_point from, Clock::time_point to,
                                 Clock::duration expected) {
    // A pass follows the last one at once and waits at most kReportWait: anything longer is time
    // the station was not listening (its process starved of the processor on a busy machine, the
    // event loop held up). Plates simulated on the same machine were starved with it and could
    // not send; a real plate's reports wait in the line. Neither is silence: the plates' clocks
    // move on by that time, so a plate is lost after half a second the station was there to hear.
    const auto away = to - from - expected - kAwayAllowance;
    if (away <= Clock::duration::zero()) {
        return;
    }
    for (StreamWatch& watch : watch_) {
        watch.lastReport = std::min(watch.lastReport + away, to);
    }
}

bool Acquisition::BytesWaiting(std::size_t plate) {
    ChannelSlot& slot = links_.channels[plate];
    return SlotConnected(slot) && slot->BytesWaiting() > 0;
}

}  // namespace kelvaro
