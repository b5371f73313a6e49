// Fuzzes the reply validation and the streamed-report resynchronisation with arbitrary bytes.
// A SerialChannel runs over an in-memory SerialOs that hands the bytes out in chunks, so the
// real read path (look-ahead bytes, time-outs, hang-up) is exercised at full speed.
//
// Input: byte 0 picks the reply size (7..15), byte 1 the expected function, byte 2 the
// chunking and whether the line hangs up at the end, byte 3 the mode; the rest is the line.
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "device/Frame.h"
#include "device/Link.h"
#include "device/SerialChannel.h"

namespace {

using kelvaro::DeviceFrame;
using kelvaro::SerialChannel;

class MemoryOs final : public kelvaro::SerialOs {
  public:
    MemoryOs(const std::uint8_t* data, std::size_t size, std::uint8_t chunkSeed, bool hangUp)
        : data_(data), size_(size), seed_(chunkSeed | 1u), hangUp_(hangUp) {}

    std::size_t Taken() const { return pos_; }
    bool Exhausted() const { return pos_ >= size_; }

    int Open(const char*, int) override { return 3; }
    int Close(int) override { return 0; }
    int Ioctl(int, unsigned long request, void* arg) override {
        if (request == TIOCOUTQ) {
            *static_cast<int*>(arg) = 0;
            return 0;
        }
        errno = ENOTTY;
        return -1;
    }
    int Flush(int, int) override { return 0; }  // keep the bytes: they are the test input
    long Read(int, void* buffer, std::size_t count) override {
        if (pos_ >= visible_) {
            if (Exhausted() && hangUp_) {
                return 0;
            }
            errno = EAGAIN;
            return -1;
        }
        std::size_t n = std::min(count, visible_ - pos_);
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return static_cast<long>(n);
    }
    long Write(int, const void*, std::size_t count) override { return static_cast<long>(count); }
    int Poll(int, short, short* revents, int) override {
        if (visible_ > pos_) {
            *revents = POLLIN_;
            return 1;
        }
        if (visible_ < size_) {  // the next chunk "arrives"
            seed_ = seed_ * 1103515245u + 12345u;
            visible_ = std::min(size_, visible_ + 1 + ((seed_ >> 16) % 24));
            *revents = POLLIN_;
            return 1;
        }
        if (hangUp_) {
            *revents = POLLHUP_;
            return 1;
        }
        return 0;  // the time-out, at once
    }
    int Lock(int, int) override { return 0; }
    int GetAttr(int, termios* attr) override {
        *attr = termios{};
        return 0;
    }
    int SetAttr(int, const termios*) override { return 0; }
    int Drain(int) override { return 0; }
    kelvaro::TtyKind Kind(int) override { return kelvaro::TtyKind::Serial; }

  private:
    static constexpr short POLLIN_ = 0x001;
    static constexpr short POLLHUP_ = 0x010;
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::size_t visible_ = 0;
    std::uint32_t seed_;
    bool hangUp_;
};

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// What a valid record must satisfy, computed independently of ValidateReply.
bool LooksValid(const DeviceFrame& f) {
    const std::size_t n = f.bytes[4];
    if (n > 8 || f.bytes[0] != 0x0A || f.bytes[6 + n] != 0x0F || f.bytes[3] >= 241) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i <= 5 + n; ++i) {
        sum += f.bytes[i];
    }
    return (sum & 0xFF) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::size_t replySize = 7 + data[0] % 9;
    const std::uint8_t expected = data[1];
    const std::uint8_t chunking = data[2];
    const std::uint8_t mode = data[3];
    data += 4;
    size -= 4;

    // The pure validation on the first record's worth of bytes.
    {
        DeviceFrame f;
        f.bytes.fill(0xFF);
        std::memcpy(f.bytes.data(), data, std::min(size, f.bytes.size()));
        const kelvaro::LinkStatus read = (mode & 1) != 0
                                             ? kelvaro::LinkStatus{}
                                             : kelvaro::LinkStatus{kelvaro::LinkError::Timeout};
        const kelvaro::LinkStatus status = kelvaro::ValidateReply(f, read, expected);
        if (status) {
            Check(LooksValid(f));
            Check(expected == 0 || f.Function() == expected);
        }
        if (!read && expected != 0) {
            Check(status == read);
        }
        Check(status.error == kelvaro::LinkError::Device ? status.code == f.Data(0)
                                                         : status.code == 0);
    }

    // The channel path: read until the line is exhausted, every call must make progress.
    MemoryOs os(data, size, chunking, (mode & 2) != 0);
    SerialChannel channel("fuzz", os);
    Check(channel.Connect());
    kelvaro::LineSettings settings;
    Check(channel.Configure(settings));
    const bool streamed = (mode & 4) != 0;
    std::size_t consumed = 0;
    for (std::size_t calls = 0;; ++calls) {
        Check(calls <= size + 2);
        const kelvaro::LinkResult<DeviceFrame> reply =
            streamed ? kelvaro::ReceiveStreamedReply(channel, replySize, 250)
                     : kelvaro::ReceiveReply(channel, replySize, 250, expected);
        if (reply) {
            Check(LooksValid(reply.value));
        }
        const std::size_t now = os.Taken() - channel.LookAheadSize();
        Check(now >= consumed);
        if (now == consumed) {
            // Nothing consumed: only when nothing is left to read.
            Check(os.Exhausted() && channel.LookAheadSize() == 0);
            break;
        }
        consumed = now;
    }
    return 0;
}
