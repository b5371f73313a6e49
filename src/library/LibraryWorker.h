// The library on a thread of its own, so that no search, record or import waits on the disk
// where it was asked for: jobs are queued and run in order against one store made on that
// thread (a connection serves only the thread that opened it).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "library/LibraryStore.h"

class QThread;

namespace kelvaro {

class LibraryWorker {
  public:
    // At its end the worker runs the jobs still queued for at most `finishWithin`, drops the
    // rest, and waits for the one running.
    explicit LibraryWorker(std::chrono::milliseconds finishWithin = std::chrono::seconds(10));
    ~LibraryWorker();
    LibraryWorker(const LibraryWorker&) = delete;
    LibraryWorker& operator=(const LibraryWorker&) = delete;

    // Queues `job`; never waits for it. The first job usually opens the store.
    void Post(std::function<void(LibraryStore&)> job);

  private:
    void Serve();

    std::chrono::milliseconds finishWithin_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void(LibraryStore&)>> jobs_;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point giveUpAt_;
    // A Qt thread, not a plain one: the SQL connection's Qt objects then live on a thread Qt made
    // and ends, and nothing of them outlives the worker.
    std::unique_ptr<QThread> thread_;  // last: started once everything it uses is made
};

}  // namespace kelvaro
