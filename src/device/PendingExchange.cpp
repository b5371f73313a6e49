#include "device/PendingExchange.h"

#include <algorithm>
#include <tuple>

#include "device/Frame.h"
#include "device/Link.h"
#include "device/SerialChannel.h"

namespace kelvaro {

namespace {
constexpr std::size_t kMaxFrameSize = std::tuple_size_v<decltype(DeviceFrame::bytes)>;
}  // namespace

PendingExchange::PendingExchange(SerialChannel& channel, const PlateRequest& request, int timeoutMs)
    : PendingExchange(channel, request.bytes, request.replySize, request.replyFunction, timeoutMs) {
}

PendingExchange::PendingExchange(SerialChannel& channel, std::span<const std::uint8_t> request,
                                 std::size_t replySize, std::uint8_t replyFunction, int timeoutMs)
    : channel_(channel),
      size_(std::min(replySize, kMaxFrameSize)),
      expectedFunction_(replyFunction),
      deadline_(Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0))) {
    // Bytes never received read as 0xFF, exactly as in a blocking receive.
    frame_.bytes.fill(0xFF);
    if (!SendRequest(channel_, request)) {
        state_ = State::Failed;
    }
}

int PendingExchange::MillisecondsLeft() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

PendingExchange::State PendingExchange::Poll(int waitMs) {
    if (state_ != State::Waiting) {
        return state_;
    }
    const int wait = std::clamp(waitMs, 0, MillisecondsLeft());
    received_ += channel_.ReadBytes(frame_.bytes.data() + received_, size_ - received_, wait);
    const LinkStatus read = channel_.LastStatus();
    if (received_ == size_) {
        state_ = ValidateReply(frame_, read, expectedFunction_) ? State::Valid : State::Failed;
    } else if ((!read && read.error != LinkError::Timeout) || MillisecondsLeft() == 0) {
        state_ = State::Failed;
    }
    return state_;
}

}  // namespace kelvaro
