// Other programs holding a plate's serial device open, found by the device number across
// /proc/<pid>/fd: a program that opened the port without a lock shares the line and steals
// half the bytes, so the station refuses such a port and stops a run when one appears.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
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
// read are skipped. `procRoot` is /proc, or a fake tree in tests.
std::vector<PortHolder> FindPortHolders(std::span<const std::string> devicePaths,
                                        const std::string& procRoot = "/proc");
std::optional<PortHolder> FindPortHolder(const std::string& devicePath,
                                         const std::string& procRoot = "/proc");

// The operator's words for a holder: "cat (processo 4242)".
std::string HolderText(const PortHolder& holder);

// Looks again, at most once per interval, whether a program has opened one of the watched
// ports; the acquisition pass calls Poll on every turn and pays for a scan once a second.
class PortHolderWatch {
  public:
    explicit PortHolderWatch(std::chrono::milliseconds interval = std::chrono::seconds(1),
                             std::string procRoot = "/proc");
    // Starts watching; the first look comes one interval later. Empty paths are not watched.
    void Start(std::vector<std::string> devicePaths);
    void Stop() { devicePaths_.clear(); }
    // A holder of one of the ports when a look is due (or `now` asks for one) and finds one
    // (its `port` indexes the paths given to Start); nothing otherwise.
    std::optional<PortHolder> Poll(bool now = false);

  private:
    std::chrono::milliseconds interval_;
    std::string procRoot_;
    std::vector<std::string> devicePaths_;
    std::chrono::steady_clock::time_point next_{};
};

}  // namespace kelvaro
