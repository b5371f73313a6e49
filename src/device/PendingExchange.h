// One request and its reply, collected without ever waiting longer than the caller allows, so a
// screen can talk to several plates at once and keep its windows answering while they reply.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/Frame.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {

class PendingExchange {
  public:
    enum class State { Waiting, Valid, Failed };

    // Sends `request` on `channel` at once (Failed when the send fails) and starts the reply's
    // time-out. The channel must outlive the exchange, and carry nothing else until it ends.
    PendingExchange(SerialChannel& channel, const PlateRequest& request,
                    int timeoutMs = kReplyTimeoutMs);
    // A request with data (Configure): its bytes, and the reply's size and function.
    PendingExchange(SerialChannel& channel, std::span<const std::uint8_t> request,
                    std::size_t replySize, std::uint8_t replyFunction,
                    int timeoutMs = kReplyTimeoutMs);

    // Takes the bytes that have arrived, waiting at most `waitMs` (and never past the time-out)
    // for more. A complete reply is validated as ReceiveReply validates it; a channel that went
    // away, or a time-out without a complete reply, fails the exchange.
    State Poll(int waitMs = 0);
    State Current() const { return state_; }
    // The reply once Valid.
    const DeviceFrame& Reply() const { return frame_; }
    // Milliseconds until the time-out, 0 once it has passed.
    int MillisecondsLeft() const;

  private:
    using Clock = std::chrono::steady_clock;

    SerialChannel& channel_;
    std::size_t size_;
    std::uint8_t expectedFunction_;
    Clock::time_point deadline_;
    DeviceFrame frame_;
    std::size_t received_ = 0;
    State state_ = State::Waiting;
};

}  // namespace kelvaro
