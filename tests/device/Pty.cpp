#include "Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace kelvaro::testing {

namespace {
void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
}
}  // namespace

Pty::Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    path_ = ptsname(master_);
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        throw std::runtime_error("cannot open the pseudo-terminal's slave");
    }
    MakeRaw(slave_);
    MakeRaw(master_);
}

Pty::~Pty() {
    CloseMaster();
    if (slave_ >= 0) {
        close(slave_);
    }
}

void Pty::Write(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            throw std::runtime_error("write to the pseudo-terminal failed");
        }
        done += static_cast<std::size_t>(n);
    }
}

Bytes Pty::Read(std::size_t max, int timeoutMs) {
    Bytes out;
    while (out.size() < max) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0 || (p.revents & POLLIN) == 0) {
            break;
        }
        std::uint8_t buf[256];
        ssize_t n = read(master_, buf, std::min(sizeof buf, max - out.size()));
        if (n <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

void Pty::CloseMaster() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

Bytes MakeFrame(std::uint8_t function, const Bytes& data) {
    Bytes f;
    f.reserve(data.size() + 7);
    for (std::uint8_t b : {std::uint8_t{0x0A}, std::uint8_t{0xC0}, std::uint8_t{0xD0}, function,
                           static_cast<std::uint8_t>(data.size())}) {
        f.push_back(b);
    }
    for (std::uint8_t b : data) {
        f.push_back(b);
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < f.size(); ++i) {
        sum += f[i];
    }
    f.push_back(static_cast<std::uint8_t>(0x100u - (sum & 0xFFu)));
    f.push_back(0x0F);
    return f;
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace kelvaro::testing
