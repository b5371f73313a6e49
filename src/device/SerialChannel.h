// One open serial port on termios: exclusive open of serial devices only, raw line settings
// (the ones found are put back at release), modem lines, purge, reads with a restarting
// time-out and look-ahead bytes, writes with a bounded completion wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/LinkError.h"

struct termios;
struct pollfd;

namespace kelvaro {

// What a terminal device is: a port with a serial driver behind it, the slave side of a
// pseudo-terminal (a virtual plate, or a terminal window), or anything else (the console,
// /dev/tty, virtual consoles).
enum class TtyKind { Serial, PseudoTerminal, Other };

// The kind of the character device major:minor, from sysfs under `sysRoot`: a serial port is
// one whose <sysRoot>/dev/char/<major>:<minor>/device/driver exists.
TtyKind ClassifyTty(unsigned major, unsigned minor, const std::string& sysRoot = "/sys");

// Pseudo-terminals are opened as ports only while this is on: when the station is started
// for virtual plates (and in the test suite, whose plates are all virtual). Off by default,
// so a port name that leads to a terminal window never gets a plate's traffic.
void AllowPseudoTerminalPorts(bool allowed);
bool PseudoTerminalPortsAllowed();

// The operating-system calls the channel makes, behind a thin seam so tests can record the
// modem-line and purge sequences (and the fuzz target can feed bytes from memory). The four
// pure calls must be provided; the others default to the real system calls, so a recorder
// that forwards Open/Close/Ioctl/Flush to System() needs nothing more.
// Return values follow the system calls: -1 with errno set on failure.
class SerialOs {
  public:
    virtual ~SerialOs() = default;
    virtual int Open(const char* path, int flags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int Flush(int fd, int queueSelector) = 0;  // tcflush
    virtual long Read(int fd, void* buffer, std::size_t count);
    virtual long Write(int fd, const void* data, std::size_t count);
    // poll() on one descriptor; `revents` receives the returned events.
    virtual int Poll(int fd, short events, short* revents, int timeoutMs);
    // poll() on several descriptors at once.
    virtual int PollAll(struct pollfd* fds, std::size_t count, int timeoutMs);
    virtual int Lock(int fd, int operation);                  // flock
    virtual int GetAttr(int fd, struct termios* attr);        // tcgetattr
    virtual int SetAttr(int fd, const struct termios* attr);  // tcsetattr(TCSANOW)
    virtual int Drain(int fd);                                // tcdrain
    // The kind of the terminal open on `fd` (fstat and sysfs); Other when it is not one.
    virtual TtyKind Kind(int fd);
    static SerialOs& System();
};

struct LineSettings {
    int baudRate = 115200;
    int dataBits = 8;
    char parity = 'n';  // N/O/E/M/S in either case; anything else leaves parity unchanged
    int stopBits = 2;   // 0 = one, 1 = one and a half, 2 = two
    bool softwareFlow = false;
    bool hardwareFlow = false;
};

// Whether the open looks for other programs holding the port itself, or the caller has just
// looked (off its own thread) and found none.
enum class HolderLook { AtOpen, DoneBefore };

class SerialChannel {
  public:
    static constexpr int kWriteTimeoutMs = 30000;

    explicit SerialChannel(std::string portName, SerialOs& os = SerialOs::System());
    ~SerialChannel();  // releases the port: purge, RTS and DTR low, close
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    // Opens the port read/write and exclusively (advisory lock plus TIOCEXCL), keeps its line
    // settings, raises RTS and DTR and purges. Only a serial port is opened (a pseudo-terminal
    // too while PseudoTerminalPortsAllowed()); anything else is closed again untouched. On
    // failure the channel stays disconnected with the reason (NotSerialPort, or the failed
    // call's errno) in LastStatus.
    bool Connect(HolderLook look = HolderLook::AtOpen);
    // Applies the line settings to the open port (raw mode).
    bool Configure(const LineSettings& settings);
    // Releases the port (purge, RTS low, DTR low, the line settings found at open put back,
    // close); safe when not connected.
    void Release();

    bool IsConnected() const { return fd_ >= 0; }
    void SetDTR(bool high);
    void Purge();
    std::size_t WriteBytes(const std::uint8_t* data, std::size_t count);
    std::size_t ReadBytes(std::uint8_t* buffer, std::size_t count, int timeoutMs);
    // How the last call on the channel ended.
    LinkStatus LastStatus() const { return lastStatus_; }

    // Streamed input, read without blocking: TakeAvailable adds whatever the port has received
    // to the look-ahead bytes (false, with LastStatus set, once the port has failed; bytes
    // taken earlier stay), LookAhead shows them and Consume drops the first `count`.
    bool TakeAvailable();
    std::span<const std::uint8_t> LookAhead() const;
    void Consume(std::size_t count);
    // Waits up to `timeoutMs` for the port to receive something or hang up; false on time-out
    // (LastStatus Timeout) or failure.
    bool WaitReadable(int timeoutMs);
    // Bytes the port has received that nobody has read yet (0 when it cannot tell).
    std::size_t BytesWaiting();
    // One wait over several open channels: returns as soon as any of them receives something
    // or hangs up, or after `timeoutMs`. Null and closed channels are skipped; at most 16 are
    // watched. The channels must share one OS seam (the first one's is used).
    static void WaitAnyReadable(std::span<SerialChannel* const> channels, int timeoutMs);

    // The device path the port name maps to ("COM3" -> /dev/ttyS2, anything else unchanged).
    static std::string DevicePath(const std::string& portName);
    std::size_t LookAheadSize() const { return lookAhead_.size() - lookAheadPos_; }

  private:
    // Line-error counters at the last check, when the driver reports them (TIOCGICOUNT).
    struct Counters {
        int frame = 0, overrun = 0, parity = 0, bufOverrun = 0;
    };
    enum class Fill { Ok, Failed };
    // Takes whatever the port has received into the look-ahead bytes, waiting up to
    // `timeoutMs` for the first byte when nothing is there. Sets lastStatus_ on failure.
    Fill FillLookAhead(int timeoutMs);
    // Reads every byte available now (non-blocking); returns the count, or -1 with
    // lastStatus_ set when the device is gone or the read failed and nothing was taken.
    long DrainAvailable();
    bool WaitWriteComplete(long long deadlineMs);
    // Drives modem lines; ENOTTY/EINVAL (pseudo-terminals) are not errors.
    LinkStatus ModemLines(int bits, bool high);
    void FlushQueues(int queueSelector);
    bool CheckLineErrors();
    bool ReadCounters(Counters& out);

    std::string portName_;
    SerialOs& os_;
    int fd_ = -1;
    LinkStatus lastStatus_;
    // The line settings the port had when it was opened.
    std::unique_ptr<struct termios> foundLine_;
    std::vector<std::uint8_t> lookAhead_;
    std::size_t lookAheadPos_ = 0;
    Counters counters_;
    bool countersAvailable_ = false;
};

// A channel slot: empty, or owning one channel that may or may not be connected.
using ChannelSlot = std::unique_ptr<SerialChannel>;

}  // namespace kelvaro
