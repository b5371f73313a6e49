// The /proc scan behind PortHolders.h.
//
// Cost: one readlink per open descriptor of every process this user may inspect, and a stat
// only for the descriptors that name something under /dev (sockets, pipes and ordinary files
// are passed over on their link text alone). Device numbers decide the match, so a port opened
// through any link or alias is still found.
#include "device/PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace kelvaro {

namespace {

// Unix98 pseudo-terminal slaves have majors 136 to 143; every master is opened through the
// multiplexer /dev/ptmx (5, 2), whose descriptor's fdinfo names the terminal's index.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;

struct Target {
    dev_t device;
    std::size_t port;
    long ptyIndex;  // -1 unless the device is a pseudo-terminal slave
};

long PtyIndex(dev_t device) {
    const unsigned major = ::major(device);
    if (major < kPtySlaveMajorFirst || major > kPtySlaveMajorLast) {
        return -1;
    }
    return static_cast<long>((major - kPtySlaveMajorFirst) * 256 + ::minor(device));
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Hands the descriptor to an owner that closes it (fdopendir).
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

class Directory {
  public:
    explicit Directory(DIR* dir) : dir_(dir) {}
    ~Directory() {
        if (dir_ != nullptr) {
            ::closedir(dir_);
        }
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    DIR* Get() const { return dir_; }

  private:
    DIR* dir_;
};

bool IsProcessNumber(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}

// The start of a small file under a process's folder (comm, fdinfo/N); empty when unreadable.
std::string ReadSmall(int processDir, const std::string& name) {
    Descriptor fd(::openat(processDir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) {
        return {};
    }
    std::array<char, 512> buffer{};
    const ssize_t n = ::read(fd.Get(), buffer.data(), buffer.size());
    return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string();
}

// The terminal index of a pseudo-terminal master descriptor, or -1.
long MasterIndex(int processDir, const char* fdName) {
    const std::string info = ReadSmall(processDir, std::string("fdinfo/") + fdName);
    const std::size_t at = info.find("tty-index:");
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtol(info.c_str() + at + std::strlen("tty-index:"), nullptr, 10);
}

std::string ProgramName(int processDir) {
    std::string name = ReadSmall(processDir, "comm");
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) {
        name.pop_back();
    }
    return name;
}

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// The targets one process holds, pseudo-terminals whose master it also holds left out.
void ScanProcess(int procDir, const char* pidName, const std::vector<Target>& targets,
                 const std::atomic<bool>* cancel, std::vector<PortHolder>& holders) {
    Descriptor processDir(::openat(procDir, pidName, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (processDir.Get() < 0) {
        return;
    }
    Descriptor fdDir(::openat(processDir.Get(), "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fdDir.Get() < 0) {
        return;  // gone, or another user's process
    }
    const int fdDirFd = fdDir.Get();
    Directory fds(::fdopendir(fdDir.Release()));
    if (fds.Get() == nullptr) {
        ::close(fdDirFd);
        return;
    }
    std::vector<const Target*> held;
    std::vector<long> masters;
    constexpr unsigned kCancelCheckEvery = 1024;
    unsigned seen = 0;
    while (const dirent* entry = ::readdir(fds.Get())) {
        if (++seen % kCancelCheckEvery == 0 && Cancelled(cancel)) {
            return;
        }
        std::array<char, 16> link{};
        const ssize_t length = ::readlinkat(fdDirFd, entry->d_name, link.data(), link.size());
        if (length < 5 || std::memcmp(link.data(), "/dev/", 5) != 0) {
            continue;
        }
        struct stat info {};
        if (::fstatat(fdDirFd, entry->d_name, &info, 0) != 0 || !S_ISCHR(info.st_mode)) {
            continue;
        }
        if (::major(info.st_rdev) == kPtmxMajor && ::minor(info.st_rdev) == kPtmxMinor) {
            masters.push_back(MasterIndex(processDir.Get(), entry->d_name));
            continue;
        }
        for (const Target& target : targets) {
            if (target.device == info.st_rdev &&
                std::find(held.begin(), held.end(), &target) == held.end()) {
                held.push_back(&target);
            }
        }
    }
    if (held.empty()) {
        return;
    }
    const std::string program = ProgramName(processDir.Get());
    for (const Target* target : held) {
        if (target->ptyIndex >= 0 &&
            std::find(masters.begin(), masters.end(), target->ptyIndex) != masters.end()) {
            continue;  // the line's other end: the (virtual) plate
        }
        holders.push_back({std::atoi(pidName), program, target->port});
    }
}

}  // namespace

std::vector<PortHolder> FindPortHolders(std::span<const std::string> devicePaths,
                                        const std::string& procRoot,
                                        const std::atomic<bool>* cancel) {
    std::vector<Target> targets;
    for (std::size_t i = 0; i < devicePaths.size(); ++i) {
        struct stat info {};
        if (!devicePaths[i].empty() && ::stat(devicePaths[i].c_str(), &info) == 0 &&
            S_ISCHR(info.st_mode)) {
            targets.push_back({info.st_rdev, i, PtyIndex(info.st_rdev)});
        }
    }
    std::vector<PortHolder> holders;
    if (targets.empty()) {
        return holders;
    }
    Directory proc(::opendir(procRoot.c_str()));
    if (proc.Get() == nullptr) {
        return holders;
    }
    const std::string self = std::to_string(::getpid());
    std::vector<bool> answered(devicePaths.size(), false);
    std::size_t unanswered = targets.size();
    while (const dirent* entry = ::readdir(proc.Get())) {
        if (Cancelled(cancel)) {
            return {};
        }
        if (!IsProcessNumber(entry->d_name) || self == entry->d_name) {
            continue;
        }
        const std::size_t before = holders.size();
        ScanProcess(::dirfd(proc.Get()), entry->d_name, targets, cancel, holders);
        for (std::size_t h = before; h < holders.size(); ++h) {
            if (!answered[holders[h].port]) {
                answered[holders[h].port] = true;
                --unanswered;
            }
        }
        if (unanswered == 0) {
            break;  // every port has its answer; the rest of the machine cannot change it
        }
    }
    return holders;
}

std::optional<PortHolder> FindPortHolder(const std::string& devicePath,
                                         const std::string& procRoot) {
    const auto holders = FindPortHolders(std::span(&devicePath, 1), procRoot);
    if (holders.empty()) {
        return std::nullopt;
    }
    return holders.front();
}

std::string HolderText(const PortHolder& holder) {
    const std::string process = "processo " + std::to_string(holder.pid);
    return holder.program.empty() ? process : holder.program + " (" + process + ")";
}

PortHolderLook::PortHolderLook(std::vector<std::string> devicePaths, std::string procRoot,
                               std::function<void()> beforeLook)
    : held_(devicePaths.size(), false) {
    thread_ = std::thread([this, paths = std::move(devicePaths), root = std::move(procRoot),
                           hook = std::move(beforeLook)] {
        if (hook) {
            hook();
        }
        for (const PortHolder& holder : FindPortHolders(paths, root, &cancel_)) {
            held_.at(holder.port) = true;
        }
        done_.store(true, std::memory_order_release);
    });
}

PortHolderLook::~PortHolderLook() {
    cancel_ = true;
    thread_.join();
}

PortHolderWatch::PortHolderWatch(std::chrono::milliseconds interval, std::string procRoot)
    : interval_(interval), procRoot_(std::move(procRoot)) {}

PortHolderWatch::~PortHolderWatch() {
    Stop();
    Join();
}

void PortHolderWatch::SetBeforeLook(std::function<void()> hook) {
    const std::lock_guard lock(mutex_);
    beforeLook_ = std::move(hook);
}

void PortHolderWatch::Start(std::vector<std::string> devicePaths, bool lookNow) {
    Stop();
    Join();
    const bool any = std::any_of(devicePaths.begin(), devicePaths.end(),
                                 [](const std::string& path) { return !path.empty(); });
    {
        const std::lock_guard lock(mutex_);
        devicePaths_ = std::move(devicePaths);
        found_.reset();
        requested_ = lookNow ? 1 : 0;
        answered_ = 0;
        stop_ = false;
    }
    if (any) {
        thread_ = std::thread([this] { Watch(); });
    }
}

void PortHolderWatch::Stop() {
    stopping_ = true;
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        devicePaths_.clear();
        found_.reset();
    }
    wake_.notify_all();
}

void PortHolderWatch::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
    if (urgent_.joinable()) {
        urgent_.join();
    }
    stopping_ = false;
}

std::optional<PortHolder> PortHolderWatch::Poll() {
    const std::lock_guard lock(mutex_);
    return std::exchange(found_, std::nullopt);
}

std::size_t PortHolderWatch::LookNow() {
    std::size_t request = 0;
    bool urgent = false;
    {
        const std::lock_guard lock(mutex_);
        request = ++requested_;
        // A look asked for at once (a plate was lost) is awaited: it gets a thread at the
        // caller's priority, which a busy machine does not keep waiting behind everything else.
        urgent = thread_.joinable() && !stop_ && !urgentBusy_;
        urgentBusy_ = urgentBusy_ || urgent;
    }
    if (urgent) {
        if (urgent_.joinable()) {
            urgent_.join();  // its look has ended
        }
        urgent_ = std::thread([this] { Look(); });
    }
    wake_.notify_all();
    return request;
}

void PortHolderWatch::Look() {
    std::unique_lock lock(mutex_);
    const std::size_t answering = requested_;
    const std::vector<std::string> paths = devicePaths_;
    lock.unlock();
    auto holders = FindPortHolders(paths, procRoot_, &stopping_);
    lock.lock();
    urgentBusy_ = false;
    if (stop_) {
        return;
    }
    if (!holders.empty()) {
        found_ = holders.front();
    }
    answered_ = std::max(answered_, answering);
}

bool PortHolderWatch::Answered(std::size_t request) const {
    const std::lock_guard lock(mutex_);
    return stop_ || !thread_.joinable() || answered_ >= request;
}

void PortHolderWatch::Watch() {
    // The walk is all system time; at the lowest priority it never keeps the plates' pass or a
    // plate simulator on this machine from the processor.
    constexpr int kLowestPriority = 19;
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kLowestPriority);
    std::unique_lock lock(mutex_);
    auto next = std::chrono::steady_clock::now() + interval_;
    for (;;) {
        wake_.wait_until(lock, next, [&] { return stop_ || requested_ > answered_; });
        if (stop_) {
            return;
        }
        if (requested_ == answered_ && std::chrono::steady_clock::now() < next) {
            continue;  // woken early for nothing
        }
        const std::size_t answering = requested_;
        const std::vector<std::string> paths = devicePaths_;
        const std::function<void()> hook = beforeLook_;
        lock.unlock();
        if (hook) {
            hook();
        }
        auto holders = FindPortHolders(paths, procRoot_, &stopping_);
        lock.lock();
        if (stop_) {
            return;
        }
        if (!holders.empty()) {
            found_ = holders.front();
        }
        answered_ = std::max(answered_, answering);
        next = std::chrono::steady_clock::now() + interval_;
    }
}

}  // namespace kelvaro
