// Virtual plate: a pseudo-terminal whose master side is served by one thread. The protocol is
// handled here byte by byte on purpose, without the station's device link, so a mistake on one
// side is not mirrored on the other.
#include "plate-sim/VirtualPlate.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <optional>
#include <thread>

namespace kelvaro::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kStart = 0x0A;
constexpr std::uint8_t kEnd = 0x0F;
constexpr std::uint8_t kAddr1 = 0xC0;
constexpr std::uint8_t kAddr2 = 0xD0;
constexpr std::size_t kMaxData = 8;
constexpr std::uint8_t kFnIdentify = 1;
constexpr std::uint8_t kFnConfigure = 2;
constexpr std::uint8_t kFnStartStream = 3;
constexpr std::uint8_t kFnReadSample = 4;
constexpr std::uint8_t kFnStop = 6;
constexpr std::uint8_t kDeviceErrorBadData = 7;
constexpr std::uint32_t kMaxReading = 0xFFFFFF;
constexpr int kDefaultFrequency = 50;
constexpr int kMaxFrequency = 20000;
// What the plate's line carries at most: 115200 baud, 11 bits a byte (start, 8 data, 2 stop).
constexpr std::uint64_t kLineBytesPerSecond = 115200 / 11;
constexpr std::uint8_t kDefaultGarbage = 0x55;

// Two's complement of the sum of bytes 1 .. 4+N of a frame held in `f` (N = f[4]).
std::uint8_t Checksum(const std::vector<std::uint8_t>& f) {
    unsigned sum = 0;
    for (std::size_t i = 1; i < 5u + f[4]; ++i)
        sum += f[i];
    return static_cast<std::uint8_t>(0x100u - (sum & 0xFFu));
}

std::vector<std::uint8_t> MakeFrame(std::uint8_t function, const std::vector<std::uint8_t>& data) {
    const std::size_t n = std::min(data.size(), kMaxData);
    std::vector<std::uint8_t> f(7 + n, 0);
    f[0] = kStart;
    f[1] = kAddr1;
    f[2] = kAddr2;
    f[3] = function;
    f[4] = static_cast<std::uint8_t>(n);
    for (std::size_t i = 0; i < n; ++i)
        f[5 + i] = data[i];
    f[5 + n] = Checksum(f);
    f[6 + n] = kEnd;
    return f;
}

std::vector<std::uint8_t> ReadingData(std::uint32_t r) {
    return {static_cast<std::uint8_t>(r >> 16), static_cast<std::uint8_t>(r >> 8),
            static_cast<std::uint8_t>(r)};
}

bool IsFrameFault(FaultKind k) {
    return k == FaultKind::DropByte || k == FaultKind::InsertByte || k == FaultKind::BadChecksum ||
           k == FaultKind::BadStart || k == FaultKind::BadEnd || k == FaultKind::Garbage;
}

// Load factor of one jump cycle at phase p in [0, 1): stand, dip, push-off, flight, landing.
double JumpProfile(double p) {
    constexpr double kPi = std::numbers::pi;
    if (p < 0.30)
        return 1.0;
    if (p < 0.40)
        return 1.0 - 0.4 * std::sin(kPi * (p - 0.30) / 0.10);
    if (p < 0.50)
        return 1.0 + 1.5 * std::sin(kPi * (p - 0.40) / 0.10);
    if (p < 0.65)
        return 0.0;
    if (p < 0.72) {
        const double q = (p - 0.65) / 0.07;
        return q < 0.5 ? 3.0 * std::sin(kPi * q) : 1.0 + 2.0 * std::sin(kPi * q);
    }
    return 1.0;
}

timespec ToTimespec(Clock::duration d) {
    if (d < Clock::duration::zero())
        d = Clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    return ts;
}

}  // namespace

struct VirtualPlate::Impl {
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        std::size_t offset = 0;
        Clock::time_point release;
    };
    struct PendingFault {
        Fault fault;
        int remaining;  // -1: for ever
    };

    PlateOptions opt;
    mutable std::mutex mu;
    mutable std::condition_variable cv;

    int master = -1;
    int slave = -1;
    int wakeFd = -1;
    bool ok = false;
    std::string devicePath;
    std::vector<std::string> links;
    std::thread thread;
    bool stopRequested = false;
    bool unplugRequested = false;
    bool unplugTimed = false;
    Clock::time_point unplugAt;

    // Protocol state.
    std::uint8_t model = 101;
    int frequency = 0;
    int mode = -1;
    bool streaming = false;
    Clock::time_point streamStart;
    std::uint64_t streamK = 1;  // number of the next report since streamStart
    bool streamPaused = false;
    std::optional<Clock::time_point> floodStart;
    std::uint64_t floodSent = 0;  // bytes of the current flood
    std::vector<std::uint8_t> in;
    std::deque<Chunk> out;
    std::size_t outBytes = 0;
    std::vector<PendingFault> faults;
    PlateStats stats;

    // Reading model.
    double load = 0.0;
    LoadShape shape = LoadShape::Fixed;
    std::vector<std::uint32_t> script;
    std::size_t scriptPos = 0;
    std::uint64_t sampleIndex = 0;
    std::uint32_t rng = 1;

    explicit Impl(PlateOptions o) : opt(std::move(o)) {
        model = opt.modelCode;
        load = opt.load;
        shape = opt.shape;
        script = opt.readings;
        rng = opt.seed != 0 ? opt.seed : 0x9E3779B9u;
    }

    // ---- set-up and tear-down ------------------------------------------------------------

    bool Open() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0)
            return false;
        std::array<char, 128> name{};
        if (grantpt(master) != 0 || unlockpt(master) != 0 ||
            ptsname_r(master, name.data(), name.size()) != 0) {
            return false;
        }
        devicePath = name.data();
        slave = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            return false;
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            cfsetispeed(&t, B115200);
            cfsetospeed(&t, B115200);
            tcsetattr(slave, TCSANOW, &t);
        }
        const int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        return wakeFd >= 0;
    }

    void CloseFds() {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
        master = slave = -1;
    }

    void RemoveLinks() {
        for (const auto& l : links)
            ::unlink(l.c_str());
        links.clear();
    }

    void Wake() const {
        const std::uint64_t one = 1;
        if (wakeFd >= 0) {
            [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
        }
    }

    // Called with the lock held, on the plate thread.
    void DoUnplug() {
        CloseFds();
        out.clear();
        outBytes = 0;
        in.clear();
        streaming = false;
        stats.plugged = false;
        unplugRequested = false;
        unplugTimed = false;
        RemoveLinks();
        cv.notify_all();
    }

    // ---- readings ------------------------------------------------------------------------

    double Noise() {
        if (opt.noiseCounts <= 0.0)
            return 0.0;
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        const double u = static_cast<double>(rng) / 4294967295.0;  // 0..1
        return (2.0 * u - 1.0) * opt.noiseCounts;
    }

    std::uint32_t NextReading() {
        const std::uint64_t idx = sampleIndex++;
        stats.readingsProduced = sampleIndex;
        double factor = 1.0;
        switch (shape) {
            case LoadShape::Counter:
                return static_cast<std::uint32_t>(idx & kMaxReading);
            case LoadShape::Script:
                if (!script.empty()) {
                    const auto v = script[std::min(scriptPos, script.size() - 1)];
                    ++scriptPos;
                    return std::min(v, kMaxReading);
                }
                factor = 0.0;
                break;
            case LoadShape::Fixed:
                break;
            case LoadShape::Step:
                factor =
                    idx < static_cast<std::uint64_t>(std::max(opt.stepAtSample, 0)) ? 0.0 : 1.0;
                break;
            case LoadShape::Jump: {
                const auto period = static_cast<std::uint64_t>(std::max(opt.jumpPeriodSamples, 2));
                factor =
                    JumpProfile(static_cast<double>(idx % period) / static_cast<double>(period));
                break;
            }
        }
        const double raw = std::round(opt.zeroCounts + load * factor * opt.countsPerUnit + Noise());
        if (!(raw > 0.0))
            return 0;
        if (raw >= static_cast<double>(kMaxReading))
            return kMaxReading;
        return static_cast<std::uint32_t>(raw);
    }

    // ---- faults --------------------------------------------------------------------------

    // Takes one use of the first pending fault of `kind`; true (and the fault) if there was one.
    bool Take(FaultKind kind, Fault* taken = nullptr) {
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (it->fault.kind != kind)
                continue;
            if (taken)
                *taken = it->fault;
            ++stats.faultsApplied;
            if (it->remaining > 0 && --it->remaining == 0)
                faults.erase(it);
            return true;
        }
        return false;
    }

    bool Silenced() const {
        return std::any_of(faults.begin(), faults.end(), [](const PendingFault& p) {
            return p.fault.kind == FaultKind::Silence || p.fault.kind == FaultKind::Flood;
        });
    }

    PendingFault* PendingFlood() {
        const auto it = std::find_if(faults.begin(), faults.end(), [](const PendingFault& p) {
            return p.fault.kind == FaultKind::Flood;
        });
        return it == faults.end() ? nullptr : &*it;
    }

    // Applies the pending frame faults to one outgoing frame: value faults first, on the
    // intact layout, then dropped and inserted bytes in the order they were injected.
    void ApplyFrameFaults(std::vector<std::uint8_t>& f) {
        Fault ft;
        const std::size_t ckPos = f.size() - 2;
        if (Take(FaultKind::BadChecksum))
            f[ckPos] = static_cast<std::uint8_t>(f[ckPos] + 1);
        if (Take(FaultKind::BadStart, &ft))
            f[0] = ft.value == kStart ? 0x0B : ft.value;
        if (Take(FaultKind::BadEnd, &ft))
            f.back() = ft.value == kEnd ? 0x0E : ft.value;
        std::vector<PendingFault*> structural;
        for (auto& p : faults) {
            if (p.fault.kind == FaultKind::DropByte || p.fault.kind == FaultKind::InsertByte) {
                structural.push_back(&p);
            }
        }
        for (auto* p : structural) {
            const auto pos = static_cast<std::size_t>(std::max(p->fault.position, 0));
            if (p->fault.kind == FaultKind::DropByte) {
                if (pos < f.size())
                    f.erase(f.begin() + static_cast<std::ptrdiff_t>(pos));
            } else {
                f.insert(f.begin() + static_cast<std::ptrdiff_t>(std::min(pos, f.size())),
                         p->fault.value);
            }
            ++stats.faultsApplied;
            if (p->remaining > 0)
                --p->remaining;
        }
        std::erase_if(faults, [](const PendingFault& p) {
            return IsFrameFault(p.fault.kind) && p.remaining == 0;
        });
        if (Take(FaultKind::Garbage, &ft))
            std::fill(f.begin(), f.end(), ft.value != 0 ? ft.value : kDefaultGarbage);
    }

    // Queues one frame for the host; false when the outgoing buffer is full (frame dropped).
    bool Send(std::vector<std::uint8_t> f, Clock::time_point release) {
        ApplyFrameFaults(f);
        if (master < 0 || outBytes + f.size() > opt.maxPendingBytes)
            return false;
        outBytes += f.size();
        out.push_back(Chunk{std::move(f), 0, release});
        return true;
    }

    // ---- requests ------------------------------------------------------------------------

    void HandleRequest(std::uint8_t fn, const std::uint8_t* data, std::size_t n,
                       Clock::time_point now) {
        ++stats.requests[fn];
        if (Take(FaultKind::Silence)) {
            ++stats.ignoredRequests;
            return;
        }
        if (fn == kFnStop) {
            streaming = false;
            return;
        }
        Fault err, wrong, late;
        const bool isError = Take(FaultKind::ErrorReply, &err);
        const bool isWrong = Take(FaultKind::WrongFunction, &wrong);
        const bool isLate = Take(FaultKind::LateReply, &late);

        std::vector<std::uint8_t> reply;
        const auto errorFunction = static_cast<std::uint8_t>(std::max(0xF0 | fn, 0xF1));
        if (isError) {
            const std::size_t len =
                err.length >= 0
                    ? std::min<std::size_t>(static_cast<std::size_t>(err.length), kMaxData)
                    : (fn == kFnReadSample ? 3u : 1u);
            std::vector<std::uint8_t> d(len, 0);
            if (len > 0)
                d[0] = err.value;
            reply = MakeFrame(errorFunction, d);
        } else {
            switch (fn) {
                case kFnIdentify:
                    reply = MakeFrame(kFnIdentify, {model});
                    break;
                case kFnConfigure:
                    if (n == 6) {
                        frequency = data[3] * 256 + data[4];
                        mode = data[5];
                        reply = MakeFrame(kFnConfigure, {});
                    } else {
                        reply = MakeFrame(errorFunction, {kDeviceErrorBadData});
                    }
                    break;
                case kFnStartStream:
                    reply = MakeFrame(kFnStartStream, {});
                    if (!streaming) {
                        streaming = true;
                        streamStart = now;
                        streamK = 1;
                    }
                    break;
                case kFnReadSample:
                    reply = MakeFrame(kFnReadSample, ReadingData(NextReading()));
                    break;
                default:
                    reply = MakeFrame(errorFunction, {kDeviceErrorBadData});
                    break;
            }
            if (isWrong) {
                reply[3] = wrong.value != 0 ? wrong.value : static_cast<std::uint8_t>(fn ^ 0x40);
                reply[reply.size() - 2] = Checksum(reply);
            }
        }
        const auto release = isLate ? now + std::chrono::milliseconds(late.delayMs) : now;
        Send(std::move(reply), release);
    }

    // Parses the received bytes: complete valid requests are handled, anything else is
    // skipped one byte at a time.
    void Parse(Clock::time_point now) {
        std::size_t pos = 0;
        while (pos < in.size() && master >= 0) {
            const std::size_t avail = in.size() - pos;
            const std::uint8_t* p = in.data() + pos;
            if (p[0] != kStart) {
                ++stats.garbageBytes;
                ++pos;
                continue;
            }
            if (avail < 5)
                break;
            const std::size_t n = p[4];
            if (n > kMaxData) {
                ++stats.garbageBytes;
                ++pos;
                continue;
            }
            if (avail < 7 + n)
                break;
            unsigned sum = 0;
            for (std::size_t i = 1; i < 6 + n; ++i)
                sum += p[i];  // bytes 1..5+N add up to 0
            if ((sum & 0xFFu) != 0 || p[6 + n] != kEnd || p[1] != kAddr1 || p[2] != kAddr2) {
                ++stats.garbageBytes;
                ++pos;
                continue;
            }
            HandleRequest(p[3], p + 5, n, now);
            pos += 7 + n;
        }
        in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(std::min(pos, in.size())));
    }

    // ---- streaming and output ------------------------------------------------------------

    int Frequency() const {
        return frequency > 0 ? std::min(frequency, kMaxFrequency) : kDefaultFrequency;
    }

    Clock::time_point Deadline(std::uint64_t k) const {
        const auto ns = k * 1000000000ull / static_cast<std::uint64_t>(Frequency());
        return streamStart + std::chrono::nanoseconds(ns);
    }

    void EmitReports(Clock::time_point now) {
        if (!streaming || master < 0)
            return;
        if (Silenced()) {  // paused; the rhythm restarts when the silence ends
            streamPaused = true;
            return;
        }
        if (streamPaused) {
            streamPaused = false;
            streamStart = now;
            streamK = 1;
        }
        // A plate keeps its own time: when this process was starved or stopped, every report
        // that fell due meanwhile goes out now, in order, as a real plate's would stand in the
        // line's buffer. What the host leaves unread beyond maxPendingBytes is dropped.
        while (Deadline(streamK) <= now) {
            if (Send(MakeFrame(kFnReadSample, ReadingData(NextReading())), now)) {
                ++stats.reportsSent;
            } else {
                ++stats.reportsDropped;
            }
            ++streamK;
        }
    }

    // Queues the flood's bytes due by `now`, paced at the line's rate.
    void EmitFlood(Clock::time_point now) {
        PendingFault* flood = PendingFlood();
        if (flood == nullptr || master < 0) {
            floodStart.reset();
            return;
        }
        if (!floodStart) {
            floodStart = now;
            floodSent = 0;
        }
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(now - *floodStart).count();
        std::uint64_t due =
            static_cast<std::uint64_t>(us) * kLineBytesPerSecond / 1000000 - floodSent;
        if (flood->remaining > 0)
            due = std::min<std::uint64_t>(due, static_cast<std::uint64_t>(flood->remaining));
        if (due == 0)
            return;
        floodSent += due;
        if (outBytes + due <= opt.maxPendingBytes) {  // else dropped: the host does not read
            const std::uint8_t byte =
                flood->fault.value != 0 ? flood->fault.value : kDefaultGarbage;
            out.push_back(Chunk{std::vector<std::uint8_t>(due, byte), 0, now});
            outBytes += due;
            stats.floodBytes += due;
        }
        if (flood->remaining > 0) {
            flood->remaining -= static_cast<int>(due);
            if (flood->remaining == 0) {
                faults.erase(faults.begin() + (flood - faults.data()));
                floodStart.reset();
            }
        }
    }

    void Flush(Clock::time_point now) {
        while (!out.empty() && master >= 0 && out.front().release <= now) {
            Chunk& c = out.front();
            const ssize_t w = ::write(master, c.bytes.data() + c.offset, c.bytes.size() - c.offset);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return;  // EAGAIN: the host's queue is full; try again when writable
            }
            c.offset += static_cast<std::size_t>(w);
            outBytes -= static_cast<std::size_t>(w);
            if (c.offset < c.bytes.size())
                return;
            out.pop_front();
        }
    }

    void Run() {
        std::unique_lock lock(mu);
        bool masterQuiet = false;  // the master reported a hang-up without data: do not spin
        for (;;) {
            if (stopRequested)
                return;
            auto now = Clock::now();
            if (unplugRequested || (unplugTimed && now >= unplugAt))
                DoUnplug();
            EmitFlood(now);
            EmitReports(now);
            Flush(now);
            cv.notify_all();

            std::optional<Clock::time_point> wake;
            auto earliest = [&](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
            if (streaming && master >= 0 && !Silenced())
                earliest(Deadline(streamK));
            if (!out.empty() && out.front().release > now)
                earliest(out.front().release);
            if (unplugTimed)
                earliest(unplugAt);
            if (masterQuiet)
                earliest(now + std::chrono::milliseconds(20));
            if (floodStart)
                earliest(now + std::chrono::milliseconds(2));

            std::array<pollfd, 2> fds{};
            fds[0] = {wakeFd, POLLIN, 0};
            fds[1] = {masterQuiet ? -1 : master, POLLIN, 0};
            if (!out.empty() && out.front().release <= now)
                fds[1].events |= POLLOUT;
            timespec ts{};
            if (wake)
                ts = ToTimespec(*wake - now);
            lock.unlock();
            const int r = ppoll(fds.data(), fds.size(), wake ? &ts : nullptr, nullptr);
            lock.lock();
            if (r < 0)
                continue;
            masterQuiet = false;
            if (fds[0].revents & POLLIN) {
                std::uint64_t v = 0;
                [[maybe_unused]] auto n = ::read(wakeFd, &v, sizeof v);
            }
            if (master < 0 || fds[1].fd < 0)
                continue;
            now = Clock::now();
            if (fds[1].revents & POLLIN) {
                std::array<std::uint8_t, 4096> buf{};
                const ssize_t n = ::read(master, buf.data(), buf.size());
                if (n > 0) {
                    in.insert(in.end(), buf.begin(), buf.begin() + n);
                    Parse(now);
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    masterQuiet = true;
                }
            } else if (fds[1].revents & (POLLHUP | POLLERR)) {
                masterQuiet = true;
            }
        }
    }

    PlateStats Snapshot() const {
        PlateStats s = stats;
        s.configuredFrequency = frequency;
        s.configuredMode = mode;
        s.streaming = streaming;
        return s;
    }
};

// ---- public interface --------------------------------------------------------------------

VirtualPlate::VirtualPlate(PlateOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
    Impl& d = *impl_;
    d.ok = d.Open();
    if (!d.ok) {
        d.CloseFds();
        d.stats.plugged = false;
        return;
    }
    d.thread = std::thread([&d] { d.Run(); });
}

VirtualPlate::~VirtualPlate() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mu);
        d.stopRequested = true;
        d.Wake();
    }
    if (d.thread.joinable())
        d.thread.join();
    d.CloseFds();
    d.RemoveLinks();
    if (d.wakeFd >= 0)
        ::close(d.wakeFd);
}

bool VirtualPlate::Ok() const {
    return impl_->ok;
}

std::string VirtualPlate::DevicePath() const {
    std::lock_guard lock(impl_->mu);
    return impl_->devicePath;
}

std::string VirtualPlate::Publish(const std::string& folder, const std::string& name) {
    namespace fs = std::filesystem;
    Impl& d = *impl_;
    std::lock_guard lock(d.mu);
    if (!d.ok || d.master < 0)
        return "";
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec)
            return "";
        ::chmod(folder.c_str(), 0700);
    }
    const std::string link = (fs::path(folder) / name).string();
    ::unlink(link.c_str());
    if (::symlink(d.devicePath.c_str(), link.c_str()) != 0)
        return "";
    if (std::find(d.links.begin(), d.links.end(), link) == d.links.end())
        d.links.push_back(link);
    return link;
}

void VirtualPlate::SetLoad(double load) {
    std::lock_guard lock(impl_->mu);
    impl_->load = load;
}

void VirtualPlate::SetShape(LoadShape shape) {
    std::lock_guard lock(impl_->mu);
    impl_->shape = shape;
    impl_->sampleIndex = 0;
    impl_->scriptPos = 0;
}

void VirtualPlate::SetReadings(std::vector<std::uint32_t> readings) {
    std::lock_guard lock(impl_->mu);
    impl_->script = std::move(readings);
    impl_->scriptPos = 0;
}

void VirtualPlate::SetModelCode(std::uint8_t code) {
    std::lock_guard lock(impl_->mu);
    impl_->model = code;
}

void VirtualPlate::SetNoise(double noiseCounts) {
    std::lock_guard lock(impl_->mu);
    impl_->opt.noiseCounts = noiseCounts;
}

void VirtualPlate::SetCalibration(double zeroCounts, double countsPerUnit) {
    std::lock_guard lock(impl_->mu);
    impl_->opt.zeroCounts = zeroCounts;
    impl_->opt.countsPerUnit = countsPerUnit;
}

void VirtualPlate::Inject(const Fault& fault) {
    Impl& d = *impl_;
    if (fault.kind == FaultKind::Unplug) {
        if (fault.delayMs <= 0) {
            Unplug();
            return;
        }
        std::lock_guard lock(d.mu);
        d.unplugTimed = true;
        d.unplugAt = Clock::now() + std::chrono::milliseconds(fault.delayMs);
        d.Wake();
        return;
    }
    std::lock_guard lock(d.mu);
    d.faults.push_back({fault, fault.count > 0 ? fault.count : -1});
    d.Wake();
}

void VirtualPlate::ClearFaults() {
    std::lock_guard lock(impl_->mu);
    impl_->faults.clear();
    impl_->Wake();
}

void VirtualPlate::Unplug() {
    Impl& d = *impl_;
    std::unique_lock lock(d.mu);
    if (!d.thread.joinable() || !d.stats.plugged)
        return;
    d.unplugRequested = true;
    d.Wake();
    d.cv.wait(lock, [&d] { return !d.stats.plugged; });
}

int VirtualPlate::ConfiguredFrequency() const {
    std::lock_guard lock(impl_->mu);
    return impl_->frequency;
}

int VirtualPlate::ConfiguredMode() const {
    std::lock_guard lock(impl_->mu);
    return impl_->mode;
}

bool VirtualPlate::Streaming() const {
    std::lock_guard lock(impl_->mu);
    return impl_->streaming;
}

PlateStats VirtualPlate::Stats() const {
    std::lock_guard lock(impl_->mu);
    return impl_->Snapshot();
}

std::uint64_t VirtualPlate::ReportsSent() const {
    std::lock_guard lock(impl_->mu);
    return impl_->stats.reportsSent;
}

bool VirtualPlate::WaitForRequests(std::uint8_t function, std::uint64_t count,
                                   int timeoutMs) const {
    std::unique_lock lock(impl_->mu);
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return impl_->stats.requests[function] >= count; });
}

bool VirtualPlate::WaitForReports(std::uint64_t count, int timeoutMs) const {
    std::unique_lock lock(impl_->mu);
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return impl_->stats.reportsSent >= count; });
}

}  // namespace kelvaro::sim
