// Sends the library's outbox to the lab's server in the background: its own thread, its own
// server connection and library connection, one server transaction per item, every push cut
// when it has not ended in bounded time, failures kept in the outbox and tried again later.
// Never waited for by whoever made it; its end takes a bounded time even while a push hangs.
// It keeps the library open: end it before the library is made again in the file's place (a
// connection closed after its file was replaced would remove the new file's log by its name).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "lab/LabConnection.h"
#include "lab/LabServerSettings.h"

class QThread;

namespace kelvaro {

struct LabPushOptions {
    LabServerSettings server;
    std::string libraryPath;
    std::chrono::seconds connectTimeout{5};
    // A push (one item's transaction) not ended by then is cut and tried again later.
    std::chrono::milliseconds pushTimeout{std::chrono::seconds(20)};
    std::chrono::milliseconds firstRetry{std::chrono::seconds(2)};
    std::chrono::milliseconds longestRetry{std::chrono::minutes(10)};
    // Called inside each server transaction after its rows are sent, before the commit, on the
    // pusher's thread: where the fault tests act on the server mid-push.
    std::function<void()> beforeCommit;
};

// What the pusher has to say after each try, on its own thread.
struct LabPushReport {
    int waiting = 0;   // tests in the outbox
    LabStatus last;    // the last try's outcome
    bool cut = false;  // the last try was cut for taking too long
};

class LabPusher {
  public:
    // `report` is called on the pusher's thread after each try; may be empty.
    explicit LabPusher(LabPushOptions options,
                       std::function<void(const LabPushReport&)> report = {});
    ~LabPusher();
    LabPusher(const LabPusher&) = delete;
    LabPusher& operator=(const LabPusher&) = delete;

    // Something was queued: try now rather than at the next retry.
    void Wake();

  private:
    void Serve();
    LabStatus PushItem(class LibraryStore& store, LabConnection& connection,
                       const struct OutboxItem& item);
    void Arm(int socket);
    bool Disarm();  // whether the watchdog cut the push
    void Watch(const std::stop_token& stop);
    bool SleepUntil(std::chrono::steady_clock::time_point until);  // false when stopping

    LabPushOptions options_;
    std::function<void(const LabPushReport&)> report_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable_any watch_;
    bool stopping_ = false;
    bool woken_ = false;
    int socket_ = -1;  // the push's socket while armed
    std::chrono::steady_clock::time_point deadline_;
    bool cut_ = false;
    std::jthread watchdog_;
    std::unique_ptr<QThread> thread_;  // last: started once everything it uses is made
};

}  // namespace kelvaro
