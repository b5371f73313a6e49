#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace kelvaro {

namespace {

constexpr std::array<int, 3> kSignals{SIGTERM, SIGHUP, SIGINT};

// Read by the handler: a lock-free atomic is safe to touch from a signal handler.
std::atomic<int> gWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    const int fd = gWriteFd.load();
    if (fd >= 0) {
        // A full pipe already holds a request; losing this byte loses nothing.
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

struct TerminationSignals::Previous {
    std::array<struct sigaction, kSignals.size()> actions{};
    std::array<bool, kSignals.size()> replaced{};
};

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent), previous_(std::make_unique<Previous>()) {
    int fds[2] = {-1, -1};
    if (gWriteFd.load() >= 0 || pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
    gWriteFd.store(writeFd_);

    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kSignals) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        previous_->replaced[i] = sigaction(kSignals[i], &action, &previous_->actions[i]) == 0;
    }
    notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { ReadPipe(); });
}

TerminationSignals::~TerminationSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (previous_->replaced[i]) {
            sigaction(kSignals[i], &previous_->actions[i], nullptr);
        }
    }
    if (writeFd_ >= 0) {
        gWriteFd.store(-1);
        close(writeFd_);
        close(readFd_);
    }
}

void TerminationSignals::ReadPipe() {
    unsigned char bytes[16];
    ssize_t count = 0;
    while ((count = read(readFd_, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            emit Received(bytes[i]);
        }
    }
}

}  // namespace kelvaro
