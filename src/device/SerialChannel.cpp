// The serial layer on POSIX termios. See SerialChannel.h.
//
// Linux notes:
// - The descriptor stays O_NONBLOCK; every wait is a poll() with a millisecond time-out
//   (never VTIME). VMIN is 1 so that a read with nothing queued fails with EAGAIN, and a read
//   returning 0 therefore always means the device hung up.
// - Linux has no per-port input queue size to request: the tty layer always buffers 4096 bytes
//   in the line discipline plus up to 64 KiB in the driver's flip buffers, more than the 8192
//   bytes the plates need, and the XON/XOFF thresholds are fixed by the kernel.
// - Only serial devices are opened: a tty whose sysfs node has a driver behind it. A terminal
//   window, /dev/tty or the console reached through a stored name would otherwise be switched
//   to raw 115200 and sent plate requests.
// - Line errors come from the TIOCGICOUNT counters (framing, overrun, parity, buffer overrun)
//   where the driver keeps them; pseudo-terminals do not, and then nothing is reported.
#include "device/SerialChannel.h"

#include "device/PortHolders.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace kelvaro {

namespace {
// A purge discards what was received and not yet read. Nothing of ours is ever left queued for
// sending: every WriteBytes waits until its bytes are out. Flushing the output side as well
// would gain nothing on a real line, and on a pseudo-terminal it throws away bytes the other end
// has not read yet, such as the Stop that closed the port a moment before it was reopened.
constexpr int kPurgeQueues = TCIFLUSH;

// The most one read takes from the port into the look-ahead bytes before handing them out,
// in reads of up to kReadChunk bytes.
constexpr std::size_t kMaxTakenAtOnce = 8192;
constexpr std::size_t kReadChunk = 4096;
// Room for the look-ahead bytes, reserved at connect so that no read ever allocates (and so
// none can throw): a take starts with fewer than kMaxTakenAtOnce bytes kept and adds less
// than kMaxTakenAtOnce + kReadChunk.
constexpr std::size_t kLookAheadRoom = 2 * kMaxTakenAtOnce + kReadChunk;

// Unix98 pseudo-terminal slaves: majors 136 to 143 (UNIX98_PTY_SLAVE_MAJOR and its range).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

std::atomic<bool> pseudoTerminalPorts{false};

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int ErrnoOr(int fallback) {
    return errno != 0 ? errno : fallback;
}

LinkStatus SystemError(int error) {
    return {LinkError::System, error};
}

bool IsNoModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

bool IsGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

speed_t SpeedFor(int baud) {
    switch (baud) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        case 1152000:
            return B1152000;
        case 1500000:
            return B1500000;
        case 2000000:
            return B2000000;
        case 2500000:
            return B2500000;
        case 3000000:
            return B3000000;
        case 3500000:
            return B3500000;
        case 4000000:
            return B4000000;
        default:
            return B0;
    }
}

class SystemSerialOs final : public SerialOs {
  public:
    int Open(const char* path, int flags) override { return ::open(path, flags); }
    int Close(int fd) override { return ::close(fd); }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        return ::ioctl(fd, request, arg);
    }
    int Flush(int fd, int queueSelector) override { return ::tcflush(fd, queueSelector); }
};

}  // namespace

TtyKind ClassifyTty(unsigned major, unsigned minor, const std::string& sysRoot) {
    if (major >= kFirstPtySlaveMajor && major <= kLastPtySlaveMajor) {
        return TtyKind::PseudoTerminal;
    }
    const std::string node =
        sysRoot + "/dev/char/" + std::to_string(major) + ":" + std::to_string(minor);
    std::error_code ec;
    return std::filesystem::exists(node + "/device/driver", ec) ? TtyKind::Serial : TtyKind::Other;
}

void AllowPseudoTerminalPorts(bool allowed) {
    pseudoTerminalPorts = allowed;
}

bool PseudoTerminalPortsAllowed() {
    return pseudoTerminalPorts;
}

// ---- SerialOs defaults: the real system calls ---------------------------------------------

long SerialOs::Read(int fd, void* buffer, std::size_t count) {
    return ::read(fd, buffer, count);
}
long SerialOs::Write(int fd, const void* data, std::size_t count) {
    return ::write(fd, data, count);
}
int SerialOs::Poll(int fd, short events, short* revents, int timeoutMs) {
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, timeoutMs);
    *revents = p.revents;
    return r;
}
int SerialOs::PollAll(pollfd* fds, std::size_t count, int timeoutMs) {
    return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
}
int SerialOs::Lock(int fd, int operation) {
    return ::flock(fd, operation);
}
int SerialOs::GetAttr(int fd, struct termios* attr) {
    return ::tcgetattr(fd, attr);
}
int SerialOs::SetAttr(int fd, const struct termios* attr) {
    return ::tcsetattr(fd, TCSANOW, attr);
}
int SerialOs::Drain(int fd) {
    return ::tcdrain(fd);
}
TtyKind SerialOs::Kind(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return TtyKind::Other;
    }
    return ClassifyTty(major(st.st_rdev), minor(st.st_rdev));
}
SerialOs& SerialOs::System() {
    static SystemSerialOs os;
    return os;
}

// ---- SerialChannel ------------------------------------------------------------------------

SerialChannel::SerialChannel(std::string portName, SerialOs& os)
    : portName_(std::move(portName)), os_(os) {}

SerialChannel::~SerialChannel() {
    Release();
}

std::string SerialChannel::DevicePath(const std::string& portName) {
    // "COM" + a decimal number n >= 1, letters in any case -> the n-th built-in UART.
    if (portName.size() > 3 && portName.size() <= 9 &&
        std::toupper(static_cast<unsigned char>(portName[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(portName[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(portName[2])) == 'M') {
        long n = 0;
        bool digits = true;
        for (std::size_t i = 3; i < portName.size(); ++i) {
            char c = portName[i];
            if (c < '0' || c > '9') {
                digits = false;
                break;
            }
            n = n * 10 + (c - '0');
        }
        if (digits && n >= 1) {
            return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    return portName;
}

bool SerialChannel::Connect(HolderLook look) {
    lastStatus_ = {};
    if (fd_ >= 0) {
        return true;
    }
    lookAhead_.reserve(kLookAheadRoom);  // before the open: a failure leaves nothing open
    const std::string path = DevicePath(portName_);
    // A program that opened the port without a lock (a terminal program, a modem manager)
    // shares the line and reads half of every reply: the port counts as held. Looked for
    // before the open, which could already disturb its line.
    if (look == HolderLook::AtOpen && FindPortHolder(path)) {
        lastStatus_ = SystemError(EBUSY);
        return false;
    }
    errno = 0;
    int fd = os_.Open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastStatus_ = SystemError(ErrnoOr(ENODEV));
        return false;
    }
    // Exclusive: the advisory lock stops a second open by anyone (root included) that plays
    // by the same rule; TIOCEXCL additionally stops non-root opens of the tty.
    if (os_.Lock(fd, LOCK_EX | LOCK_NB) != 0) {
        lastStatus_ = SystemError(ErrnoOr(EBUSY));
        os_.Close(fd);
        return false;
    }
    auto found = std::make_unique<struct termios>();
    if (os_.GetAttr(fd, found.get()) != 0) {  // not a terminal
        lastStatus_ = SystemError(ErrnoOr(ENOTTY));
        os_.Close(fd);
        return false;
    }
    const TtyKind kind = os_.Kind(fd);
    if (kind == TtyKind::Other ||
        (kind == TtyKind::PseudoTerminal && !PseudoTerminalPortsAllowed())) {
        lastStatus_ = {LinkError::NotSerialPort};
        os_.Close(fd);
        return false;
    }
    os_.Ioctl(fd, TIOCEXCL, nullptr);
    fd_ = fd;
    foundLine_ = std::move(found);
    countersAvailable_ = ReadCounters(counters_);
    const LinkStatus lines = ModemLines(TIOCM_DTR | TIOCM_RTS, true);
    FlushQueues(kPurgeQueues);
    lookAhead_.clear();
    lookAheadPos_ = 0;
    if (!lines) {
        lastStatus_ = lines;
    }
    return lastStatus_.Ok();
}

bool SerialChannel::Configure(const LineSettings& settings) {
    lastStatus_ = {};
    if (fd_ < 0) {
        lastStatus_ = {LinkError::NotConnected};
        return false;
    }
    struct termios t {};
    if (os_.GetAttr(fd_, &t) != 0) {
        lastStatus_ = SystemError(ErrnoOr(EIO));
        return false;
    }
    // Raw, binary: no translation, no echo, no signals; receiver on, modem status ignored.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    switch (settings.dataBits) {
        case 5:
            t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS5;
            break;
        case 6:
            t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS6;
            break;
        case 7:
            t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7;
            break;
        case 8:
            t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS8;
            break;
        default:
            break;
    }
    const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
    auto setParity = [&](tcflag_t bits) {
        t.c_cflag = (t.c_cflag & ~parityBits) | bits;
        if (bits == 0) {
            t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
        } else {
            t.c_iflag |= INPCK;
        }
    };
    switch (std::toupper(static_cast<unsigned char>(settings.parity))) {
        case 'N':
            setParity(0);
            break;
        case 'O':
            setParity(PARENB | PARODD);
            break;
        case 'E':
            setParity(PARENB);
            break;
        case 'M':
            setParity(PARENB | PARODD | CMSPAR);
            break;
        case 'S':
            setParity(PARENB | CMSPAR);
            break;
        default:
            break;  // any other letter: parity unchanged
    }
    switch (settings.stopBits) {
        case 0:
            t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
            break;
        case 1:  // one and a half: the nearest a termios port offers is two
        case 2:
            t.c_cflag |= CSTOPB;
            break;
        default:
            break;
    }
    if (settings.softwareFlow) {
        t.c_iflag |= IXON | IXOFF;
    }
    if (settings.hardwareFlow) {
        t.c_cflag |= CRTSCTS;
    } else {
        t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    }
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    speed_t speed = SpeedFor(settings.baudRate);
    if (speed == B0) {
        lastStatus_ = SystemError(EINVAL);
        return false;
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (os_.SetAttr(fd_, &t) != 0) {
        lastStatus_ = SystemError(ErrnoOr(EIO));
        return false;
    }
    // DTR high; RTS high unless it serves the handshake.
    lastStatus_ = ModemLines(settings.hardwareFlow ? TIOCM_DTR : (TIOCM_DTR | TIOCM_RTS), true);
    return lastStatus_.Ok();
}

void SerialChannel::Release() {
    lastStatus_ = {};
    lookAhead_.clear();
    lookAheadPos_ = 0;
    if (fd_ < 0) {
        return;
    }
    // Only the input side is discarded here: a completed WriteBytes has already drained the
    // output, and on a pseudo-terminal an output flush would discard bytes the other end has
    // not read yet (such as the Stop request that CloseChannel has just sent).
    FlushQueues(TCIFLUSH);
    (void)ModemLines(TIOCM_RTS, false);  // nothing to be done about a failure at release
    (void)ModemLines(TIOCM_DTR, false);
    if (foundLine_) {
        os_.SetAttr(fd_, foundLine_.get());
        foundLine_.reset();
    }
    os_.Ioctl(fd_, TIOCNXCL, nullptr);
    os_.Close(fd_);  // also drops the flock
    fd_ = -1;
    countersAvailable_ = false;
}

void SerialChannel::SetDTR(bool high) {
    lastStatus_ = {};
    if (fd_ < 0) {
        return;
    }
    lastStatus_ = ModemLines(TIOCM_DTR, high);
}

void SerialChannel::Purge() {
    lastStatus_ = {};
    if (fd_ < 0) {
        return;
    }
    lookAhead_.clear();
    lookAheadPos_ = 0;
    FlushQueues(kPurgeQueues);
}

void SerialChannel::FlushQueues(int queueSelector) {
    if (os_.Flush(fd_, queueSelector) != 0 && lastStatus_.Ok()) {
        lastStatus_ = SystemError(ErrnoOr(EIO));
    }
}

LinkStatus SerialChannel::ModemLines(int bits, bool high) {
    int arg = bits;
    if (os_.Ioctl(fd_, high ? TIOCMBIS : TIOCMBIC, &arg) != 0) {
        const int e = ErrnoOr(EIO);
        return IsNoModemLines(e) ? LinkStatus{} : SystemError(e);
    }
    return {};
}

bool SerialChannel::ReadCounters(Counters& out) {
    serial_icounter_struct ic{};
    if (os_.Ioctl(fd_, TIOCGICOUNT, &ic) != 0) {
        return false;
    }
    out.frame = ic.frame;
    out.overrun = ic.overrun;
    out.parity = ic.parity;
    out.bufOverrun = ic.buf_overrun;
    return true;
}

bool SerialChannel::CheckLineErrors() {
    if (!countersAvailable_ || fd_ < 0) {
        return false;
    }
    Counters now;
    if (!ReadCounters(now)) {
        return false;
    }
    bool fault = now.frame != counters_.frame || now.overrun != counters_.overrun ||
                 now.parity != counters_.parity || now.bufOverrun != counters_.bufOverrun;
    counters_ = now;
    return fault;
}

std::size_t SerialChannel::WriteBytes(const std::uint8_t* data, std::size_t count) {
    lastStatus_ = {};
    if (fd_ < 0) {
        lastStatus_ = {LinkError::NotConnected};
        return 0;
    }
    const long long deadline = NowMs() + kWriteTimeoutMs;
    std::size_t written = 0;
    while (written < count) {
        errno = 0;
        long n = os_.Write(fd_, data + written, count - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        int e = n < 0 ? ErrnoOr(EIO) : EAGAIN;
        if (e == EINTR) {
            continue;
        }
        if (e == EAGAIN || e == EWOULDBLOCK) {
            long long remaining = deadline - NowMs();
            if (remaining <= 0) {
                lastStatus_ = {LinkError::Timeout};
                break;
            }
            short rev = 0;
            int r = os_.Poll(fd_, POLLOUT, &rev, static_cast<int>(remaining));
            if (r < 0 && errno != EINTR) {
                lastStatus_ = SystemError(ErrnoOr(EIO));
                break;
            }
            if (r > 0 && (rev & POLLOUT) == 0 && (rev & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                lastStatus_ = {LinkError::Disconnected};
                break;
            }
            continue;
        }
        lastStatus_ = IsGone(e) ? LinkStatus{LinkError::Disconnected} : SystemError(e);
        break;
    }
    if (lastStatus_.Ok() && !WaitWriteComplete(deadline)) {
        lastStatus_ = {LinkError::Timeout};
    }
    if (lastStatus_.error == LinkError::Timeout) {
        os_.Flush(fd_, TCOFLUSH);  // abort the pending write, transmit side only
    }
    if (CheckLineErrors() && lastStatus_.Ok()) {
        lastStatus_ = {LinkError::LineFault};
    }
    return written;
}

bool SerialChannel::WaitWriteComplete(long long deadlineMs) {
    // tcdrain() cannot be bounded, so wait for the driver's output queue to empty first and
    // call it only then, when all that is left is the UART's own FIFO.
    for (;;) {
        int queued = 0;
        if (os_.Ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) {
            while (os_.Drain(fd_) != 0 && errno == EINTR) {
            }
            return true;
        }
        long long remaining = deadlineMs - NowMs();
        if (remaining <= 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(remaining, 2LL)));
    }
}

long SerialChannel::DrainAvailable() {
    // The bytes already handed out go first, so the ones kept and this take fit the room.
    lookAhead_.erase(lookAhead_.begin(),
                     lookAhead_.begin() + static_cast<std::ptrdiff_t>(lookAheadPos_));
    lookAheadPos_ = 0;
    std::uint8_t chunk[kReadChunk];
    long total = 0;
    while (static_cast<std::size_t>(total) < kMaxTakenAtOnce) {
        const std::size_t room = std::min(sizeof chunk, lookAhead_.capacity() - lookAhead_.size());
        if (room == 0) {
            break;  // unreachable while the bound above holds; the rest waits in the port
        }
        errno = 0;
        long n = os_.Read(fd_, chunk, room);
        if (n > 0) {
            lookAhead_.insert(lookAhead_.end(), chunk, chunk + n);
            total += n;
            continue;
        }
        int e = n == 0 ? EIO : ErrnoOr(EIO);
        if (e == EINTR) {
            continue;
        }
        if (e == EAGAIN || e == EWOULDBLOCK) {
            break;
        }
        // Hang-up (read returns 0 or EIO) or another failure: bytes already taken are handed
        // out first; the next attempt meets the same condition and fails.
        if (total == 0) {
            lastStatus_ = IsGone(e) ? LinkStatus{LinkError::Disconnected} : SystemError(e);
            return -1;
        }
        break;
    }
    return total;
}

SerialChannel::Fill SerialChannel::FillLookAhead(int timeoutMs) {
    long n = DrainAvailable();
    if (n < 0) {
        return Fill::Failed;
    }
    if (n > 0) {
        return Fill::Ok;
    }
    const long long start = NowMs();
    const long long limit = std::max(timeoutMs, 0);
    for (;;) {
        long long remaining = std::max(0LL, limit - (NowMs() - start));
        short rev = 0;
        errno = 0;
        int r = os_.Poll(fd_, POLLIN, &rev, static_cast<int>(remaining));
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            lastStatus_ = SystemError(ErrnoOr(EIO));
            return Fill::Failed;
        }
        if (r == 0) {
            lastStatus_ = {LinkError::Timeout};
            return Fill::Failed;
        }
        if (rev & POLLNVAL) {
            lastStatus_ = {LinkError::Disconnected};
            return Fill::Failed;
        }
        n = DrainAvailable();
        if (n < 0) {
            return Fill::Failed;
        }
        if (n > 0) {
            return Fill::Ok;
        }
        if (rev & (POLLHUP | POLLERR)) {
            lastStatus_ = {LinkError::Disconnected};
            return Fill::Failed;
        }
        if (remaining == 0) {  // woken with nothing to read and no time left
            lastStatus_ = {LinkError::Timeout};
            return Fill::Failed;
        }
    }
}

std::size_t SerialChannel::ReadBytes(std::uint8_t* buffer, std::size_t count, int timeoutMs) {
    lastStatus_ = {};
    if (fd_ < 0) {
        lastStatus_ = {LinkError::NotConnected};
        return 0;
    }
    std::size_t delivered = 0;
    while (delivered < count) {
        std::size_t available = LookAheadSize();
        if (available > 0) {
            std::size_t take = std::min(available, count - delivered);
            std::memcpy(buffer + delivered, lookAhead_.data() + lookAheadPos_, take);
            lookAheadPos_ += take;
            delivered += take;
            continue;
        }
        if (FillLookAhead(timeoutMs) != Fill::Ok) {
            break;
        }
        if (CheckLineErrors()) {
            lastStatus_ = {LinkError::LineFault};
            break;
        }
    }
    if (lookAheadPos_ >= lookAhead_.size()) {
        lookAhead_.clear();
        lookAheadPos_ = 0;
    }
    return delivered;
}

bool SerialChannel::TakeAvailable() {
    lastStatus_ = {};
    if (fd_ < 0) {
        lastStatus_ = {LinkError::NotConnected};
        return false;
    }
    // With a full read's worth at hand, the rest waits in the port, as it would for any slow
    // reader: the look-ahead never grows without bound under a flood.
    if (LookAheadSize() >= kMaxTakenAtOnce) {
        return true;
    }
    if (DrainAvailable() < 0) {
        return false;
    }
    // The frame checks judge these bytes; the counters are only brought up to date so that a
    // later ReadBytes does not report a line error that belongs to the stream.
    CheckLineErrors();
    return true;
}

std::span<const std::uint8_t> SerialChannel::LookAhead() const {
    return {lookAhead_.data() + lookAheadPos_, LookAheadSize()};
}

void SerialChannel::Consume(std::size_t count) {
    lookAheadPos_ += std::min(count, LookAheadSize());
    if (lookAheadPos_ >= lookAhead_.size()) {
        lookAhead_.clear();
        lookAheadPos_ = 0;
    } else if (lookAheadPos_ >= 4096) {
        // A stream that always keeps some bytes at hand never empties the look-ahead: drop the
        // consumed front now and then so it does not grow for the whole run.
        lookAhead_.erase(lookAhead_.begin(),
                         lookAhead_.begin() + static_cast<std::ptrdiff_t>(lookAheadPos_));
        lookAheadPos_ = 0;
    }
}

std::size_t SerialChannel::BytesWaiting() {
    int count = 0;
    if (fd_ < 0 || os_.Ioctl(fd_, FIONREAD, &count) != 0 || count < 0) {
        return 0;
    }
    return static_cast<std::size_t>(count);
}

bool SerialChannel::WaitReadable(int timeoutMs) {
    lastStatus_ = {};
    if (fd_ < 0) {
        lastStatus_ = {LinkError::NotConnected};
        return false;
    }
    const long long deadline = NowMs() + std::max(timeoutMs, 0);
    for (;;) {
        short rev = 0;
        errno = 0;
        const int r =
            os_.Poll(fd_, POLLIN, &rev, static_cast<int>(std::max(0LL, deadline - NowMs())));
        if (r > 0) {
            return true;  // bytes, or a hang-up that the next take reports
        }
        if (r == 0) {
            lastStatus_ = {LinkError::Timeout};
            return false;
        }
        if (errno != EINTR) {
            lastStatus_ = SystemError(ErrnoOr(EIO));
            return false;
        }
    }
}

void SerialChannel::WaitAnyReadable(std::span<SerialChannel* const> channels, int timeoutMs) {
    std::array<pollfd, 16> fds{};
    std::size_t count = 0;
    SerialOs* os = nullptr;
    for (SerialChannel* channel : channels) {
        if (channel != nullptr && channel->fd_ >= 0 && count < fds.size()) {
            fds[count++] = pollfd{channel->fd_, POLLIN, 0};
            os = os != nullptr ? os : &channel->os_;
        }
    }
    if (os == nullptr) {
        return;
    }
    const long long deadline = NowMs() + std::max(timeoutMs, 0);
    for (;;) {
        errno = 0;
        const int r =
            os->PollAll(fds.data(), count, static_cast<int>(std::max(0LL, deadline - NowMs())));
        if (r >= 0 || errno != EINTR) {
            return;
        }
    }
}

}  // namespace kelvaro
