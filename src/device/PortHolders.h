// Other programs holding a plate's serial device open, found by the device number across
// /proc/<pid>/fd: a program that opened the port without a lock shares the line and steals
// half the bytes, so the station refuses such a port and stops a run when one appears.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace kelvaro {

struct PortHolder {
    int pid = 0;
    std::string program;   // its command name (/proc/<pid>/comm), empty when unreadable
    std::size_t port = 0;  // index of the held device in the list asked about
};

// Every process other than this one that holds one of `devicePaths` open (a path may be a
// link to the device). A pseudo-terminal's other end, the process holding its master, is the
// (virtual) plate itself and does not count. Processes whose descriptors this user cannot
// read are skipped. `procRoot` is /proc, or a fake tree in tests. The walk ends once every
// port has a holder, and gives nothing as soon as `cancel` is set.
std::vector<PortHolder> FindPortHolders(std::span<const std::string> devicePaths,
                                        const std::string& procRoot = "/proc",
                                        const std::atomic<bool>* cancel = nullptr);
std::optional<PortHolder> FindPortHolder(const std::string& devicePath,
                                         const std::string& procRoot = "/proc");

// The operator's words for a holder: "cat (processo 4242)".
std::string HolderText(const PortHolder& holder);

// One look for other holders of a list of ports, begun at once on a thread of its own: a
// screen polls it from its timer and then opens only the ports found free, without looking
// again. Dropping it cuts a look in progress short and waits for its thread to see that.
class PortHolderLook {
  public:
    // `beforeLook` runs on the looking thread first (tests record the thread and hold it).
    explicit PortHolderLook(std::vector<std::string> devicePaths, std::string procRoot = "/proc",
                            std::function<void()> beforeLook = {});
    ~PortHolderLook();
    PortHolderLook(const PortHolderLook&) = delete;
    PortHolderLook& operator=(const PortHolderLook&) = delete;

    // True once the look has ended. Never waits.
    bool Done() const { return done_.load(std::memory_order_acquire); }
    // Once Done: per path given, whether another program holds it.
    const std::vector<bool>& Held() const { return held_; }

  private:
    std::atomic<bool> cancel_{false};
    std::atomic<bool> done_{false};
    std::vector<bool> held_;  // written by the looking thread before done_
    std::thread thread_;
};

// Looks again, once per interval, whether a program has opened one of the watched ports. The
// look walks every descriptor on the machine (seconds with a hundred thousand of them), so it
// runs on a thread of the watch's own; the acquisition pass and the start-up only read the
// latest answer and never wait for one.
class PortHolderWatch {
  public:
    explicit PortHolderWatch(std::chrono::milliseconds interval = std::chrono::seconds(1),
                             std::string procRoot = "/proc");
    ~PortHolderWatch();
    PortHolderWatch(const PortHolderWatch&) = delete;
    PortHolderWatch& operator=(const PortHolderWatch&) = delete;

    // Starts watching (a watch already on is stopped first); the first look comes one interval
    // later, or at once with `lookNow`. Empty paths are not watched.
    void Start(std::vector<std::string> devicePaths, bool lookNow = false);
    // Ends the watching at once; answers not yet taken go. A look in progress is cut short on
    // its own thread, which the next Start or the destructor waits for, so Stop never waits on
    // a thread the machine keeps from the processor.
    void Stop();
    // The holder the latest finished look found, told once (its `port` indexes the paths given
    // to Start); nothing otherwise. Never waits for a look.
    std::optional<PortHolder> Poll();
    // Asks for a look at once (a plate was lost); its answer comes with a later Poll, once
    // Answered gives true for the number returned.
    std::size_t LookNow();
    // True once a look begun after LookNow gave `request` has ended (or nothing is watched).
    bool Answered(std::size_t request) const;

    // Called on the looking thread before each look (tests record the thread and hold it).
    void SetBeforeLook(std::function<void()> hook);

  private:
    void Watch();
    // The look asked for by LookNow, on a thread of its own.
    void Look();
    void Join();

    std::chrono::milliseconds interval_;
    std::string procRoot_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::string> devicePaths_;
    std::optional<PortHolder> found_;
    std::size_t requested_ = 0;  // LookNow calls since Start
    std::size_t answered_ = 0;   // of those, the ones a finished look has answered
    bool stop_ = false;
    std::function<void()> beforeLook_;
    std::atomic<bool> stopping_{false};  // cuts a look in progress short
    std::thread thread_;
    std::thread urgent_;       // the look LookNow asked for
    bool urgentBusy_ = false;  // that look has not ended
};

}  // namespace kelvaro
