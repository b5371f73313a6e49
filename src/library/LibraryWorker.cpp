#include "library/LibraryWorker.h"

#include <QThread>
#include <utility>

namespace kelvaro {

LibraryWorker::LibraryWorker(std::chrono::milliseconds finishWithin)
    : finishWithin_(finishWithin), thread_(QThread::create([this] { Serve(); })) {
    thread_->start();
}

LibraryWorker::~LibraryWorker() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        giveUpAt_ = std::chrono::steady_clock::now() + finishWithin_;
    }
    wake_.notify_one();
    thread_->wait();
}

void LibraryWorker::Post(std::function<void(LibraryStore&)> job) {
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void LibraryWorker::Serve() {
    LibraryStore store;  // made, used and closed on this thread only
    for (;;) {
        std::function<void(LibraryStore&)> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty() || (stopping_ && std::chrono::steady_clock::now() > giveUpAt_)) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        // A job that throws must not take the thread (and the jobs after it) with it.
        try {
            job(store);
        } catch (...) {  // NOLINT(bugprone-empty-catch)
        }
    }
}

}  // namespace kelvaro
